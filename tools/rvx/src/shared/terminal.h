// The little that the tool needs from the console: whether stderr is a
// terminal (for the progress bar), raw bytes on stdout, and a progress bar.
// Outputs are in output_file.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace rvx {

bool stderrIsTerminal();
// stdout takes bytes as they are (no CR inserted before LF on Windows), and
// text in UTF-8 shows as such in a Windows console.
void prepareStandardStreams();

// A usage error when `output` names the same file as `input`, which writing
// it would destroy before it is read.
void refuseSameFile(const std::string& input, const std::string& output);

// A progress bar on stderr, drawn only when stderr is a terminal and the
// work is large enough to take a moment. Redraws at most ten times a second.
class Progress {
 public:
  Progress(std::string label, uint64_t total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void update(uint64_t done) {
    if (enabled_ && done >= next_) draw(done);
  }
  void finish();

 private:
  void draw(uint64_t done);

  std::string label_;
  uint64_t total_;
  bool enabled_;
  uint64_t next_ = 0;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace rvx
