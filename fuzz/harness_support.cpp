#include "harness_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <system_error>

#include "harness.h"

namespace kdrvx::fuzz {
namespace {

void abortWith(const char* description) {
  std::fprintf(stderr, "broken promise: %s\n", description);
  std::abort();
}

FailureHandler failureHandler = abortWith;

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

void setFailureHandler(FailureHandler handler) {
  failureHandler = handler != nullptr ? handler : abortWith;
}

void check(bool condition, const char* description) {
  if (!condition) failureHandler(description);
}

const std::filesystem::path& scratchDirectory() {
  static const ScratchDirectory directory;
  return directory.path();
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  check(static_cast<bool>(out), "the harness could not write its input file");
}

}  // namespace kdrvx::fuzz
