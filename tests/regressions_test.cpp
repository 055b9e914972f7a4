// Replays every input under tests/data/regressions/<target>/ through the
// harness of that fuzz target: inputs that once broke the library (or an
// assumption about it) and stay in the suite for good.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "harness.h"

namespace kdrvx::test {
namespace {

const std::filesystem::path kRegressions = KDRVX_REGRESSION_DIR;

void failTest(const char* description) { ADD_FAILURE() << description; }

class RegressionInputs : public ::testing::Test {
 protected:
  void SetUp() override { fuzz::setFailureHandler(failTest); }
  void TearDown() override { fuzz::setFailureHandler(nullptr); }

  // Runs every file of the target's folder; returns how many there were.
  static size_t replay(const std::string& target, void (*run)(const uint8_t*, size_t)) {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kRegressions / target)) {
      if (!entry.is_regular_file()) continue;
      SCOPED_TRACE(entry.path().string());
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
      run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++count;
    }
    return count;
  }
};

TEST_F(RegressionInputs, Import) { EXPECT_GT(replay("import", fuzz::runImport), 0u); }

TEST_F(RegressionInputs, SummaryParser) {
  EXPECT_GT(replay("summary_parser", fuzz::runSummaryParser), 0u);
}

TEST_F(RegressionInputs, OpenRead) { EXPECT_GT(replay("open_read", fuzz::runOpenRead), 0u); }

TEST_F(RegressionInputs, ApiSequence) {
  EXPECT_GT(replay("api_sequence", fuzz::runApiSequence), 0u);
}

}  // namespace
}  // namespace kdrvx::test
