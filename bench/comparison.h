// Comparisons of the library with a baseline that does the same work with
// plain system calls (or plain memory copies), measured in one run.
//
// A case runs one short batch of the library's operation and one of each
// baseline's in every benchmark iteration, in an order that changes from one
// iteration to the next, so that all sides meet the same state of a shared,
// noisy machine. The median of the iterations' time ratios is what the case
// reports.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kdrvx::bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// One side of a comparison: performs `count` operations and returns the
// seconds they took. What a side must do between batches (rewinding a file,
// starting a new one) stays outside the time it returns.
using Side = std::function<double(uint64_t count)>;

// How the summary shows a case.
enum class Measure {
  TimePerOperation,  // time per operation; the ratio is library time / baseline time
  Throughput,        // MB/s; the ratio is the library's speed / the baseline's for
                     // the same work (baseline time / library time)
};

struct Goal {
  enum Kind { None, AtMost, AtLeast } kind = None;
  double ratio = 0;  // against the first baseline, in the case's own sense
};

struct CaseInfo {
  std::string library;                 // what the library side does
  std::vector<std::string> baselines;  // what each baseline does
  Measure measure = Measure::TimePerOperation;
  Goal goal;
};

// Registers a benchmark named `name` whose body builds its sides and calls
// compare(). It runs with manual time (the sum of all sides' batches), for
// at least `minSeconds` when that is given.
void registerCase(const std::string& name, CaseInfo info,
                  std::function<void(benchmark::State&)> body, double minSeconds = 0);

// Runs the sides (the library, then the baselines) in batches of `batch`
// operations, one batch of each per benchmark iteration, and sets the
// counters from the medians over the iterations: lib_ns, base_ns, base2_ns
// (per operation), ratio and ratio2 (library time / baseline time, the
// median of the iterations' ratios), and with `bytesPerOperation` (one
// figure for all sides, or one per side) the MB/s of each side.
void compare(benchmark::State& state, uint64_t batch, const std::vector<Side>& sides,
             const std::vector<double>& bytesPerOperation = {});

// The console output of Google Benchmark, followed by a summary of every case
// in the run: the library's figure, the baselines', their ratios and whether
// the ratio meets its goal. With repetitions it summarises the medians.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& reports) override;
  void Finalize() override;

 private:
  struct Row {
    std::string name;
    benchmark::UserCounters counters;
  };
  std::vector<Row> rows_;
};

}  // namespace kdrvx::bench
