// Replays inputs through rvx's fuzz harnesses with files on disk: the
// committed corpus and the regression inputs of csv_import and
// csv_round_trip, on every build of the test suite.
//   rvx_fuzz_replay TARGET FOLDER...
// Fails when an input breaks a promise or when the folders hold no input.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "harness.h"
#include "rvx_harness.h"

namespace {

int broken = 0;
std::string current;

void report(const char* description) {
  std::fprintf(stderr, "%s: broken promise: %s\n", current.c_str(), description);
  ++broken;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: rvx_fuzz_replay csv_import|csv_round_trip FOLDER...\n");
    return 2;
  }
  const std::string target = argv[1];
  void (*const run)(const uint8_t*, size_t) = target == "csv_import" ? rvx::fuzz::runCsvImport
                                              : target == "csv_round_trip"
                                                  ? rvx::fuzz::runCsvRoundTrip
                                                  : nullptr;
  if (!run) {
    std::fprintf(stderr, "rvx_fuzz_replay: no target %s\n", target.c_str());
    return 2;
  }
  kdrvx::fuzz::setFailureHandler(report);
  size_t inputs = 0;
  for (int i = 2; i < argc; ++i) {
    if (!std::filesystem::is_directory(argv[i])) continue;
    for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
      if (!entry.is_regular_file()) continue;
      current = entry.path().string();
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
      run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++inputs;
    }
  }
  std::printf("%s: %zu inputs replayed, %d broken promises\n", target.c_str(), inputs, broken);
  return inputs > 0 && broken == 0 ? 0 : 1;
}
