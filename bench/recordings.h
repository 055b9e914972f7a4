// The files the benchmarks work on: a scratch directory that is removed at
// the end, recordings of the current layout written byte by byte, and plain
// POSIX file access for the baselines.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace kdrvx::bench {

// The directory for every file of this run: below $KDRVX_BENCH_DIR, or below
// the system's temporary directory. Created on first use.
const std::filesystem::path& scratchDir();
// Removes the scratch directory with everything in it.
void removeScratchDir();

// Prints what failed and ends the program: a benchmark whose library side
// fails measures nothing worth reporting.
[[noreturn]] void fail(const std::string& what);
inline void check(bool ok, const std::string& what) {
  if (!ok) fail(what);
}

// A path as the library takes it.
std::u16string libraryPath(const std::filesystem::path& path);

// A plausible measured value of `channel` in record `record`: a level per
// channel with noise, so that its text has as many digits as real data.
float sampleValue(uint32_t channel, uint64_t record);

struct Recording {
  std::filesystem::path path;
  std::u16string widePath;
  uint32_t channels = 0;
  uint64_t records = 0;
  uint64_t dataOffset = 0;  // header length
  uint32_t recordSize() const { return 4 * channels; }
};

// Writes a current-layout recording of `channels` channels and `records`
// records of sampleValue(), flushed to the disk so that no write-back
// disturbs the measurements; it stays in the page cache.
Recording writeRecording(const std::string& name, uint32_t channels, uint64_t records);

// Writes a recording of the DOS decimal kind (a DOS 5.0/5.1 kind Q header):
// `channels` channels of sampleValue() as mantissas with two decimals.
Recording writeDosRecording(const std::string& name, uint32_t channels, uint64_t records);

// A file descriptor for the baselines, closed on destruction.
class PlainFile {
 public:
  PlainFile(const std::filesystem::path& path, int flags);
  ~PlainFile();
  PlainFile(const PlainFile&) = delete;
  PlainFile& operator=(const PlainFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// The records of a recording copied into memory of their own (huge pages
// where the system grants them), so that copying from it measures memory
// bandwidth without page-cache or page-table overheads.
class MemoryImage {
 public:
  explicit MemoryImage(const Recording& recording);
  ~MemoryImage();
  MemoryImage(const MemoryImage&) = delete;
  MemoryImage& operator=(const MemoryImage&) = delete;
  const unsigned char* data() const { return data_; }

 private:
  unsigned char* data_ = nullptr;
  size_t length_ = 0;
};

}  // namespace kdrvx::bench
