// Another process that holds a file open with a flock() of its own, as a
// foreign program that opened it without sharing (LOCK_EX) or with sharing
// (LOCK_SH) would. POSIX only.
#pragma once

#include <filesystem>
#include <functional>

namespace kdrvx::test {

class HolderProcess {
 public:
  enum class Lock { Exclusive, Shared };
  HolderProcess(const std::filesystem::path& path, Lock lock);
  ~HolderProcess();  // releases the file and reaps the process
  HolderProcess(const HolderProcess&) = delete;
  HolderProcess& operator=(const HolderProcess&) = delete;

  bool holding() const { return holding_; }
  // Lets the process close the file after `milliseconds`, without waiting.
  void releaseAfter(unsigned milliseconds);
  void release();

 private:
  int pid_ = -1;
  int control_ = -1;  // write end: one byte tells the process to let go
  bool holding_ = false;
};

// Runs `body` in a child process (which may, for instance, limit its own
// file sizes) and returns the child's exit status, or -1 when it did not
// exit normally.
int exitStatusOfChild(const std::function<int()>& body);

}  // namespace kdrvx::test
