// The harnesses' files on disk, for the replay of the test suite through
// the library of the operating system's platform layer.
#include <fstream>
#include <random>
#include <system_error>
#include <vector>

#include "harness.h"
#include "harness_support.h"

namespace kdrvx::fuzz {
namespace {

class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    do {
      path_ = base / ("kdrvx-fuzz-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace

const std::filesystem::path& scratchDirectory() {
  static const ScratchDirectory directory;
  return directory.path();
}

void startInput() { finishInput(); }

void finishInput() {
  std::error_code ignored;
  std::vector<std::filesystem::path> left;
  for (const auto& entry : std::filesystem::directory_iterator(scratchDirectory(), ignored))
    left.push_back(entry.path());
  for (const auto& path : left) std::filesystem::remove_all(path, ignored);
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  check(static_cast<bool>(out), "the harness could not write its input file");
}

void makeDirectory(const std::filesystem::path& path) {
  std::error_code ignored;
  std::filesystem::create_directory(path, ignored);
}

bool fileExists(const std::filesystem::path& path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

uint64_t storedLength(const std::filesystem::path& path) {
  std::error_code error;
  const uintmax_t length = std::filesystem::file_size(path, error);
  return error ? 0 : length;
}

bool armFault(uint32_t, uint8_t) { return false; }

void disarmFault() {}

}  // namespace kdrvx::fuzz
