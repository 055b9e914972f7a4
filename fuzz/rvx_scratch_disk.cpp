// The round trip's recordings on disk, where the test suite replays the
// inputs: a directory of the process's own under the temporary directory,
// emptied for every input and removed when the process ends.
#include <unistd.h>

#include <filesystem>
#include <string>

#include "rvx_harness.h"

namespace rvx::fuzz {

namespace {

struct ScratchDirectory {
  std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("rvx-fuzz-" + std::to_string(::getpid()));
  ScratchDirectory() { std::filesystem::create_directories(path); }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

const std::filesystem::path& directory() {
  static const ScratchDirectory scratch;
  return scratch.path;
}

}  // namespace

std::string scratchRecording() { return (directory() / "round-trip.rvx").string(); }

void clearScratch() {
  for (const auto& entry : std::filesystem::directory_iterator(directory()))
    std::filesystem::remove_all(entry.path());
}

}  // namespace rvx::fuzz
