#include "recordings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "format/layout.h"
#include "format/raw_layouts.h"

namespace kdrvx::bench {
namespace {

std::filesystem::path& scratchPath() {
  static std::filesystem::path path;
  return path;
}

void writeAll(int fd, const void* data, size_t size, const std::filesystem::path& path) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    check(written > 0, "writing " + path.string());
    bytes += written;
    size -= static_cast<size_t>(written);
  }
}

}  // namespace

const std::filesystem::path& scratchDir() {
  std::filesystem::path& path = scratchPath();
  if (path.empty()) {
    const char* parent = std::getenv("KDRVX_BENCH_DIR");
    const std::filesystem::path base =
        parent != nullptr && *parent != '\0' ? std::filesystem::path(parent)
                                             : std::filesystem::temp_directory_path();
    std::random_device random;
    for (;;) {
      path = base / ("kdrvx-bench-" + std::to_string(random()));
      if (std::filesystem::create_directories(path)) break;
    }
  }
  return path;
}

void removeScratchDir() {
  std::filesystem::path& path = scratchPath();
  if (path.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
  path.clear();
}

void fail(const std::string& what) {
  std::fprintf(stderr, "kdrvx_bench: %s failed\n", what.c_str());
  removeScratchDir();
  std::exit(1);
}

std::u16string libraryPath(const std::filesystem::path& path) { return path.u16string(); }

float sampleValue(uint32_t channel, uint64_t record) {
  // A cheap hash of (channel, record) as noise around a level per channel.
  uint64_t x = (record + 1) * 0x9E3779B97F4A7C15ull ^ (channel + 1) * 0xC2B2AE3D27D4EB4Full;
  x ^= x >> 29;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 32;
  const float noise = static_cast<float>(x & 0xFFFFFF) / static_cast<float>(0x1000000) - 0.5f;
  const float level = 1.5f + 23.75f * static_cast<float>(channel % 7);
  return level + noise * (0.25f + 0.5f * static_cast<float>(channel % 3));
}

Recording writeRecording(const std::string& name, uint32_t channels, uint64_t records) {
  Recording recording;
  recording.path = scratchDir() / name;
  recording.widePath = libraryPath(recording.path);
  recording.channels = channels;
  recording.records = records;
  recording.dataOffset = format::headerLength(channels);

  auto header = std::make_unique<format::RVX_HEADER>();
  header->Version = format::kCurrentVersion;
  header->OriginalFlag = format::kOriginalRecording;
  header->HeaderSize = format::headerSizeField(channels);
  header->Year = 2024;
  header->Month = 5;
  header->Day = 17;
  header->Hour = 10;
  header->Minute = 30;
  header->Second = 0;
  header->Reserved12 = 0xFFFF;
  header->NoRecords = static_cast<uint32_t>(records);
  header->ScanRate = 1;
  header->NoChannels = static_cast<uint8_t>(channels);
  for (uint32_t k = 0; k < channels; ++k) {
    format::MGR_DEF& channel = header->Channel[k];
    channel.ChannelIndRate = 1;
    channel.VariableLetter = u'p';
    channel.VariableIndex = static_cast<int8_t>(k + 1);
    std::memcpy(channel.ChannelUnit, u"bar", sizeof u"bar");
  }

  const int fd = ::open(recording.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  check(fd >= 0, "creating " + recording.path.string());
  writeAll(fd, header.get(), recording.dataOffset, recording.path);

  // Records in chunks of about 1 MiB.
  const uint64_t perChunk = std::max<uint64_t>(1, (1u << 20) / recording.recordSize());
  std::vector<float> chunk(perChunk * channels);
  for (uint64_t first = 0; first < records; first += perChunk) {
    const uint64_t count = std::min(perChunk, records - first);
    for (uint64_t r = 0; r < count; ++r)
      for (uint32_t k = 0; k < channels; ++k) chunk[r * channels + k] = sampleValue(k, first + r);
    writeAll(fd, chunk.data(), count * recording.recordSize(), recording.path);
  }
  check(::fsync(fd) == 0, "flushing " + recording.path.string());
  ::close(fd);
  return recording;
}

Recording writeDosRecording(const std::string& name, uint32_t channels, uint64_t records) {
  namespace dosQ = format::raw::dosQ;
  constexpr uint16_t kDecimals = 2;
  Recording recording;
  recording.path = scratchDir() / name;
  recording.widePath = libraryPath(recording.path);
  recording.channels = channels;
  recording.records = records;
  recording.dataOffset = dosQ::kUsed;

  std::vector<uint8_t> header(dosQ::kUsed, 0);
  const auto put = [&](uint32_t at, uint64_t value, uint32_t bytes) {
    for (uint32_t i = 0; i < bytes; ++i) header[at + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  put(4, 'Q', 1);  // the version byte of kind Q
  put(dosQ::kDataOffset.offset, dosQ::kUsed, 2);
  put(dosQ::kNoRecords.offset, records, 4);
  put(dosQ::kNoChannels.offset, channels, 1);

  const int fd = ::open(recording.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  check(fd >= 0, "creating " + recording.path.string());
  writeAll(fd, header.data(), header.size(), recording.path);
  const uint64_t perChunk = std::max<uint64_t>(1, (1u << 20) / recording.recordSize());
  std::vector<uint8_t> chunk(perChunk * recording.recordSize());
  for (uint64_t first = 0; first < records; first += perChunk) {
    const uint64_t count = std::min(perChunk, records - first);
    uint8_t* entry = chunk.data();
    for (uint64_t r = 0; r < count; ++r)
      for (uint32_t k = 0; k < channels; ++k, entry += 4) {
        const auto mantissa = static_cast<int16_t>(sampleValue(k, first + r) * 100.0f);
        const auto bits = static_cast<uint16_t>(mantissa);
        entry[0] = static_cast<uint8_t>(bits), entry[1] = static_cast<uint8_t>(bits >> 8);
        entry[2] = static_cast<uint8_t>(kDecimals), entry[3] = 0;
      }
    writeAll(fd, chunk.data(), count * recording.recordSize(), recording.path);
  }
  check(::fsync(fd) == 0, "flushing " + recording.path.string());
  ::close(fd);
  return recording;
}

PlainFile::PlainFile(const std::filesystem::path& path, int flags)
    : fd_(::open(path.c_str(), flags | O_CLOEXEC, 0644)) {
  check(fd_ >= 0, "opening " + path.string());
}

PlainFile::~PlainFile() { ::close(fd_); }

MemoryImage::MemoryImage(const Recording& recording)
    : length_(recording.records * recording.recordSize()) {
  void* data = ::mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  check(data != MAP_FAILED, "allocating memory for the records");
  ::madvise(data, length_, MADV_HUGEPAGE);  // a wish; small pages do as well
  data_ = static_cast<unsigned char*>(data);
  PlainFile file(recording.path, O_RDONLY);
  check(::pread(file.fd(), data_, length_, static_cast<off_t>(recording.dataOffset)) ==
            static_cast<ssize_t>(length_),
        "reading " + recording.path.string());
}

MemoryImage::~MemoryImage() { ::munmap(data_, length_); }

}  // namespace kdrvx::bench
