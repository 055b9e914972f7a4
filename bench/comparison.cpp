#include "comparison.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <map>

namespace kdrvx::bench {
namespace {

std::map<std::string, CaseInfo>& cases() {
  static std::map<std::string, CaseInfo> registered;
  return registered;
}

// Counter names of side i: 0 is the library, 1 and 2 the baselines.
const char* const kTimeCounters[] = {"lib_ns", "base_ns", "base2_ns"};
const char* const kSpeedCounters[] = {"lib_MBps", "base_MBps", "base2_MBps"};
const char* const kRatioCounters[] = {"", "ratio", "ratio2"};
constexpr size_t kMaxSides = 3;

std::string timeText(double nanoseconds) {
  char text[32];
  if (nanoseconds < 1e3)
    std::snprintf(text, sizeof text, "%.1f ns", nanoseconds);
  else if (nanoseconds < 1e6)
    std::snprintf(text, sizeof text, "%.2f us", nanoseconds / 1e3);
  else
    std::snprintf(text, sizeof text, "%.2f ms", nanoseconds / 1e6);
  return text;
}

std::string speedText(double megabytesPerSecond) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f MB/s", megabytesPerSecond);
  return text;
}

double median(std::vector<double> values) {
  const size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                   values.end());
  return values[middle];
}

double counter(const benchmark::UserCounters& counters, const char* name) {
  auto found = counters.find(name);
  return found == counters.end() ? 0.0 : found->second.value;
}

}  // namespace

void registerCase(const std::string& name, CaseInfo info,
                  std::function<void(benchmark::State&)> body, double minSeconds) {
  cases()[name] = std::move(info);
  auto* registered =
      benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State& state) { body(state); });
  registered->UseManualTime()->Unit(benchmark::kMicrosecond);
  if (minSeconds > 0) registered->MinTime(minSeconds);
}

void compare(benchmark::State& state, uint64_t batch, const std::vector<Side>& sides,
             const std::vector<double>& bytesPerOperation) {
  if (sides.size() < 2 || sides.size() > kMaxSides ||
      (bytesPerOperation.size() > 1 && bytesPerOperation.size() != sides.size())) {
    state.SkipWithError("a comparison needs the library and one or two baselines");
    return;
  }
  // Seconds of each side in each round.
  std::vector<std::vector<double>> seconds(sides.size());
  // The rounds go through every order of the sides in turn, so that each
  // runs as often first and last, and after each of the others.
  std::vector<size_t> order(sides.size());
  std::iota(order.begin(), order.end(), size_t{0});
  for (auto _ : state) {
    double round = 0;
    for (size_t i : order) {
      const double taken = sides[i](batch);
      seconds[i].push_back(taken);
      round += taken;
    }
    state.SetIterationTime(round);
    std::next_permutation(order.begin(), order.end());
  }
  const size_t rounds = seconds[0].size();
  if (rounds == 0) return;

  // Medians over the rounds: a round in which another process took the
  // processor from one side moves a median little, a sum a lot. The ratio
  // is the median of the rounds' ratios, each taken between batches that
  // ran next to each other.
  const double perOperation = 1.0 / static_cast<double>(batch);
  for (size_t i = 0; i < sides.size(); ++i) {
    const double side = median(seconds[i]);
    state.counters[kTimeCounters[i]] = side * perOperation * 1e9;
    if (!bytesPerOperation.empty()) {
      const double bytes = bytesPerOperation[bytesPerOperation.size() == 1 ? 0 : i];
      state.counters[kSpeedCounters[i]] = bytes / (side * perOperation) / 1e6;
    }
    if (i == 0) continue;
    std::vector<double> ratios(rounds);
    for (size_t r = 0; r < rounds; ++r) ratios[r] = seconds[0][r] / seconds[i][r];
    state.counters[kRatioCounters[i]] = median(ratios);
  }
}

void SummaryReporter::ReportRuns(const std::vector<Run>& reports) {
  ConsoleReporter::ReportRuns(reports);
  for (const Run& run : reports) {
    if (run.error_occurred) continue;
    // With repetitions, the median of each counter; without, the one run.
    const bool summarised = run.repetitions > 1
                                ? run.run_type == Run::RT_Aggregate && run.aggregate_name == "median"
                                : run.run_type == Run::RT_Iteration;
    if (summarised) rows_.push_back({run.run_name.function_name, run.counters});
  }
}

void SummaryReporter::Finalize() {
  ConsoleReporter::Finalize();
  std::FILE* out = stdout;
  std::fprintf(out, "\nSummary: library against baseline, measured alternately in the same run\n");
  std::fprintf(out, "(ratio of times for per-operation cases; for throughput cases the ratio of"
                    " speeds for the same work; 1 MB = 10^6 bytes)\n\n");
  for (const Row& row : rows_) {
    auto found = cases().find(row.name);
    if (found == cases().end()) continue;
    const CaseInfo& info = found->second;
    const bool speed = info.measure == Measure::Throughput;
    auto figure = [&](size_t side) {
      return speed ? speedText(counter(row.counters, kSpeedCounters[side]))
                   : timeText(counter(row.counters, kTimeCounters[side]));
    };
    std::fprintf(out, "%s\n  %-44s %12s\n", row.name.c_str(), info.library.c_str(),
                 figure(0).c_str());
    for (size_t b = 0; b < info.baselines.size() && b + 1 < kMaxSides; ++b) {
      const double timeRatio = counter(row.counters, kRatioCounters[b + 1]);
      const double ratio = speed ? (timeRatio > 0 ? 1.0 / timeRatio : 0.0) : timeRatio;
      std::fprintf(out, "  %-44s %12s   ratio %6.3f", info.baselines[b].c_str(),
                   figure(b + 1).c_str(), ratio);
      if (b == 0 && info.goal.kind != Goal::None) {
        const bool atMost = info.goal.kind == Goal::AtMost;
        const bool met = atMost ? ratio <= info.goal.ratio : ratio >= info.goal.ratio;
        std::fprintf(out, "   goal %s %.2f: %s", atMost ? "<=" : ">=", info.goal.ratio,
                     met ? "met" : "MISSED");
      }
      std::fprintf(out, "\n");
    }
  }
  std::fflush(out);
}

}  // namespace kdrvx::bench
