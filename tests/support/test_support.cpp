#include "test_support.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <random>

namespace kdrvx::test {

std::u16string widen(const std::string& text) {
  std::u16string out;
  for (unsigned char byte : text) out += static_cast<char16_t>(byte);
  return out;
}

std::string narrow(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) out += unit < 0x80 ? static_cast<char>(unit) : '?';
  return out;
}

TraceCapture::TraceCapture() {
  KDRVX_SetTraceSink(&TraceCapture::sink, this);
  KDRVX_SetDebugMask(0);
  lines_.clear();
}

TraceCapture::~TraceCapture() {
  KDRVX_SetDebugMask(0);
  KDRVX_SetTraceSink(nullptr, nullptr);
}

std::vector<std::string> TraceCapture::narrowLines() const {
  std::vector<std::string> out;
  for (const auto& line : lines_) out.push_back(narrow(line));
  return out;
}

void TraceCapture::sink(const KDRVX_CHAR* line, void* context) {
  auto* self = static_cast<TraceCapture*>(context);
  self->lines_.emplace_back(reinterpret_cast<const char16_t*>(line));
}

void setMaskQuietly(TraceCapture& capture, int16_t mask) {
  KDRVX_SetDebugMask(mask);
  capture.clear();
}

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = base / ("kdrvx-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(path_)) break;
  }
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  // Give back write permission that a test may have taken away.
  for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored))
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::u16string ScratchDir::wide(const std::string& name) const { return widePath(file(name)); }

std::u16string widePath(const std::filesystem::path& path) { return path.u16string(); }

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kdrvx::test
