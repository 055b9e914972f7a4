// Helpers shared by the tests: captured trace lines, UTF-16 literals as
// std::u16string, and a scratch directory per test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"

namespace kdrvx::test {

// Narrow ASCII/Latin-1 text widened to UTF-16, for readable expectations.
std::u16string widen(const std::string& text);
std::string narrow(const std::u16string& text);  // for failure messages

// Collects every trace line while it exists, and sets the debug mask to 0
// (silently) when it starts and ends.
class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  const std::vector<std::u16string>& lines() const { return lines_; }
  std::vector<std::string> narrowLines() const;
  void clear() { lines_.clear(); }

 private:
  static void sink(const KDRVX_CHAR* line, void* context);
  std::vector<std::u16string> lines_;
};

// Sets the debug mask without leaving its trace lines in `capture`.
void setMaskQuietly(TraceCapture& capture, int16_t mask);

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the test.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path file(const std::string& name) const { return path_ / name; }
  // A path below this directory as UTF-16 for the library.
  std::u16string wide(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

std::u16string widePath(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::string& bytes);
std::string readBytes(const std::filesystem::path& path);

inline const KDRVX_CHAR* c(const std::u16string& text) {
  return reinterpret_cast<const KDRVX_CHAR*>(text.c_str());
}

}  // namespace kdrvx::test
