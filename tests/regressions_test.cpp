// Replays every input under tests/data/regressions/<target>/ through the
// harness of that fuzz target: inputs that once broke the library (or an
// assumption about it) and stay in the suite for good; and the fuzzing
// corpus kept under fuzz/corpus/<target>/.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "harness.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

const std::filesystem::path kRegressions = KDRVX_REGRESSION_DIR;
const std::filesystem::path kCorpus = KDRVX_FUZZ_CORPUS_DIR;

void failTest(const char* description) { ADD_FAILURE() << description; }

using Harness = void (*)(const uint8_t*, size_t);

// Every file of `folder` through `run`; returns how many there were.
size_t replay(const std::filesystem::path& folder, Harness run) {
  size_t count = 0;
  if (!std::filesystem::is_directory(folder)) return count;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    SCOPED_TRACE(entry.path().string());
    const std::string bytes = readBytes(entry.path());
    run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++count;
  }
  return count;
}

const std::pair<const char*, Harness> kTargets[] = {{"import", fuzz::runImport},
                                                    {"summary_parser", fuzz::runSummaryParser},
                                                    {"open_read", fuzz::runOpenRead},
                                                    {"api_sequence", fuzz::runApiSequence}};

// Every file of each target's folder through its harness; each folder
// holds at least one.
TEST(RegressionInputs, ReplayThroughTheirHarnesses) {
  fuzz::setFailureHandler(failTest);
  for (const auto& [target, run] : kTargets)
    EXPECT_GT(replay(kRegressions / target, run), 0u) << target;
  fuzz::setFailureHandler(nullptr);
}

// The corpus the fuzzing campaigns keep (scripts/fuzz-campaign), which
// reaches more of the library than the seeds do.
TEST(RegressionInputs, ReplayTheFuzzingCorpus) {
  fuzz::setFailureHandler(failTest);
  for (const auto& [target, run] : kTargets)
    EXPECT_GT(replay(kCorpus / target, run), 0u) << target;
  fuzz::setFailureHandler(nullptr);
}

}  // namespace
}  // namespace kdrvx::test
