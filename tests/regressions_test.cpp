// Replays every input under tests/data/regressions/<target>/ through the
// harness of that fuzz target: inputs that once broke the library (or an
// assumption about it) and stay in the suite for good.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "harness.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

const std::filesystem::path kRegressions = KDRVX_REGRESSION_DIR;

void failTest(const char* description) { ADD_FAILURE() << description; }

// Every file of each target's folder through its harness; each folder
// holds at least one.
TEST(RegressionInputs, ReplayThroughTheirHarnesses) {
  fuzz::setFailureHandler(failTest);
  const std::pair<const char*, void (*)(const uint8_t*, size_t)> targets[] = {
      {"import", fuzz::runImport},
      {"summary_parser", fuzz::runSummaryParser},
      {"open_read", fuzz::runOpenRead},
      {"api_sequence", fuzz::runApiSequence}};
  for (const auto& [target, run] : targets) {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kRegressions / target)) {
      if (!entry.is_regular_file()) continue;
      SCOPED_TRACE(entry.path().string());
      const std::string bytes = readBytes(entry.path());
      run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++count;
    }
    EXPECT_GT(count, 0u) << target;
  }
  fuzz::setFailureHandler(nullptr);
}

}  // namespace
}  // namespace kdrvx::test
