#include "shared/terminal.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "shared/tool_error.h"
#include "shared/utf.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace rvx {

bool stderrIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

#if defined(_WIN32)
namespace {
UINT consoleCodePage = 0;
void restoreConsoleCodePage() { SetConsoleOutputCP(consoleCodePage); }
}  // namespace
#endif

void prepareStandardStreams() {
#if defined(_WIN32)
  // Lines end in LF on both streams, as everywhere else; a text-mode stream
  // would make CR LF of them.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // The console keeps its code page after the program ends: put it back.
  consoleCodePage = GetConsoleOutputCP();
  if (consoleCodePage != 0 && SetConsoleOutputCP(CP_UTF8)) std::atexit(restoreConsoleCodePage);
#endif
}

void refuseSameFile(const std::string& input, const std::string& output) {
  std::error_code error;
  if (!output.empty() && output != "-" &&
      std::filesystem::equivalent(toPath(input), toPath(output), error)) {
    throw usageError(output + " is the input file; give another output");
  }
}

namespace {

constexpr int kBarWidth = 30;
// Below this much work a bar would only flicker.
constexpr uint64_t kWorthABar = 200000;

}  // namespace

Progress::Progress(std::string label, uint64_t total)
    : label_(std::move(label)),
      total_(total),
      enabled_(total >= kWorthABar && stderrIsTerminal()) {}

Progress::~Progress() { finish(); }

void Progress::draw(uint64_t done) {
  next_ = done + total_ / 200 + 1;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < std::chrono::milliseconds(100) && done < total_) return;
  last_ = now;
  const double part =
      total_ ? std::min(1.0, static_cast<double>(done) / static_cast<double>(total_)) : 1.0;
  const int filled = static_cast<int>(part * kBarWidth);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarWidth - filled), '.');
  std::fprintf(stderr, "\r%s [%s] %3d%%", label_.c_str(), bar.c_str(),
               static_cast<int>(part * 100));
  std::fflush(stderr);
}

void Progress::finish() {
  if (!enabled_) return;
  enabled_ = false;
  // Clear the line so that messages after it start clean.
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + kBarWidth + 8, "");
  std::fflush(stderr);
}

}  // namespace rvx
