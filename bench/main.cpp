// kdrvx_bench: the library's hot paths against their physical limit, each
// case the library and its baseline measured alternately in one run. Takes
// Google Benchmark's options (--benchmark_filter, --benchmark_repetitions,
// ...); the files live below $KDRVX_BENCH_DIR or the temporary directory and
// are removed at the end.
#include <benchmark/benchmark.h>

#include "benches.h"
#include "comparison.h"
#include "recordings.h"

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  kdrvx::bench::registerReadCases();
  kdrvx::bench::registerWriteCases();
  kdrvx::bench::registerExportCases();
  kdrvx::bench::registerFromCsvCases();

  kdrvx::bench::SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  kdrvx::bench::removeScratchDir();
  return 0;
}
