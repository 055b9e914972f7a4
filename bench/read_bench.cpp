// The read path against plain read() calls of the same bytes: blocks of
// records, single records, and opening and closing a file; the independent
// readers' blocks against read() and, for the DOS kind, against the
// one-by-one readers.
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "benches.h"
#include "comparison.h"
#include "kdrvx/kdrvx.h"
#include "recordings.h"

namespace kdrvx::bench {
namespace {

constexpr uint64_t kBigDataBytes = 256ull << 20;
constexpr uint32_t kBigChannels = 48;
constexpr uint64_t kSmallDataBytes = 16ull << 20;
// What KDRVX_OpenRead reads of every file: the header with room for 48
// channels.
constexpr size_t kHeaderRead = 68700;

// 256 MiB of 48-channel records, written once per run.
const Recording& bigRecording() {
  static const Recording recording =
      writeRecording("big.rvx", kBigChannels, kBigDataBytes / (4 * kBigChannels));
  return recording;
}

// The same records in memory, for the copy baseline.
const MemoryImage& bigImage() {
  static const MemoryImage image(bigRecording());
  return image;
}

// 16 MiB of records with `channels` channels, or the big file for 48.
const Recording& recordingOf(uint32_t channels) {
  if (channels == kBigChannels) return bigRecording();
  static std::map<uint32_t, std::unique_ptr<Recording>> recordings;
  auto& recording = recordings[channels];
  if (!recording) {
    recording = std::make_unique<Recording>(writeRecording(
        "records" + std::to_string(channels) + ".rvx", channels, kSmallDataBytes / (4 * channels)));
  }
  return *recording;
}

// The library's read context on a recording. `position` counts the records
// read; the file is opened again when a batch would run past its end.
class LibraryReader {
 public:
  explicit LibraryReader(const Recording& recording) : recording_(recording) { open(); }
  ~LibraryReader() { KDRVX_CloseRead(); }
  LibraryReader(const LibraryReader&) = delete;
  LibraryReader& operator=(const LibraryReader&) = delete;

  void reserve(uint64_t records) {
    if (position + records > recording_.records) {
      KDRVX_CloseRead();
      open();
    }
  }
  // Starts record by record reading: the first record is read with
  // KDRVX_ReadFirstRecord, outside any measured batch.
  void startRecordByRecord(float* record) {
    if (position == 0) {
      check(KDRVX_ReadFirstRecord(record) == 0, "KDRVX_ReadFirstRecord");
      position = 1;
    }
  }

  uint64_t position = 0;

 private:
  void open() {
    check(KDRVX_OpenRead(recording_.widePath.c_str()) == KDRVX_OK, "KDRVX_OpenRead");
    position = 0;
  }
  const Recording& recording_;
};

// The same records through a descriptor of its own. It starts at record
// `start`, away from where the library reads, so that neither side finds
// the other's data still in the processor's caches (the file is in the page
// cache, not in the caches), and goes back to the first record at the end.
class PlainReader {
 public:
  PlainReader(const Recording& recording, uint64_t start)
      : recording_(recording), file_(recording.path, O_RDONLY) {
    seek(start);
  }
  int fd() const { return file_.fd(); }
  void reserve(uint64_t records) {
    if (position + records > recording_.records) seek(0);
  }
  // Times `count` reads of `block` records each into `buffer`.
  double timeBlocks(uint64_t count, uint32_t block, void* buffer) {
    reserve(count * block);
    const size_t bytes = size_t{block} * recording_.recordSize();
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) {
      if (::read(fd(), buffer, bytes) != static_cast<ssize_t>(bytes)) fail("read()");
      position += block;
    }
    return secondsSince(start);
  }
  uint64_t position = 0;

 private:
  void seek(uint64_t record) {
    const auto offset = static_cast<off_t>(recording_.dataOffset + record * recording_.recordSize());
    check(::lseek(file_.fd(), offset, SEEK_SET) == offset, "lseek");
    position = record;
  }
  const Recording& recording_;
  PlainFile file_;
};

void readRecordsCase(benchmark::State& state, uint32_t block, uint64_t batch) {
  const Recording& recording = bigRecording();
  const MemoryImage& image = bigImage();
  const size_t bytes = static_cast<size_t>(block) * recording.recordSize();
  std::vector<unsigned char> buffer(bytes, 0);
  benchmark::DoNotOptimize(buffer.data());
  // The three sides read a third of the file apart.
  LibraryReader library(recording);
  PlainReader plain(recording, recording.records / 3);
  uint64_t copied = recording.records / 3 * 2;

  const Side libraryBlocks = [&](uint64_t count) {
    library.reserve(count * block);
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) {
      const int64_t got =
          KDRVX_ReadRecords(static_cast<int64_t>(library.position), block, buffer.data());
      if (got != block) fail("KDRVX_ReadRecords");
      library.position += block;
    }
    return secondsSince(start);
  };
  const Side plainReads = [&](uint64_t count) {
    return plain.timeBlocks(count, block, buffer.data());
  };
  const Side copies = [&](uint64_t count) {
    if (copied + count * block > recording.records) copied = 0;
    const unsigned char* records = image.data();
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) {
      std::memcpy(buffer.data(), records + copied * recording.recordSize(), bytes);
      benchmark::ClobberMemory();
      copied += block;
    }
    return secondsSince(start);
  };
  compare(state, batch, {libraryBlocks, plainReads, copies}, {static_cast<double>(bytes)});
}

void readNextRecordCase(benchmark::State& state, uint32_t channels, uint64_t batch) {
  const Recording& recording = recordingOf(channels);
  const uint32_t bytes = recording.recordSize();
  std::vector<float> record(channels, 0.0f);
  benchmark::DoNotOptimize(record.data());
  LibraryReader library(recording);
  PlainReader plain(recording, recording.records / 2);

  const Side libraryRecords = [&](uint64_t count) {
    library.reserve(count + 1);
    library.startRecordByRecord(record.data());
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i)
      if (KDRVX_ReadNextRecord(record.data()) != 0) fail("KDRVX_ReadNextRecord");
    const double taken = secondsSince(start);
    library.position += count;
    return taken;
  };
  const Side plainReads = [&](uint64_t count) {
    plain.reserve(count);
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i)
      if (::read(plain.fd(), record.data(), bytes) != static_cast<ssize_t>(bytes)) fail("read()");
    const double taken = secondsSince(start);
    plain.position += count;
    return taken;
  };
  compare(state, batch, {libraryRecords, plainReads}, {static_cast<double>(bytes)});
}

// An independent reader on a recording, closed at the end.
class OwnReader {
 public:
  explicit OwnReader(const Recording& recording) : recording_(recording) {
    check(KDRVX_ReaderOpen(recording.widePath.c_str(), &reader) == KDRVX_OK, "KDRVX_ReaderOpen");
  }
  ~OwnReader() { KDRVX_ReaderClose(reader); }
  OwnReader(const OwnReader&) = delete;
  OwnReader& operator=(const OwnReader&) = delete;

  // Times `count` reads of `block` records each into `buffer`, on from where
  // the last read stopped, or from the first record when they would run
  // past the last; `failure` names a read that fails.
  double timeBlocks(uint64_t count, uint32_t block, float* buffer, const char* failure) {
    if (position_ + count * block > recording_.records) position_ = 0;
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) {
      const auto first = static_cast<int64_t>(position_);
      if (KDRVX_ReaderRead(reader, first, block, buffer) != block) fail(failure);
      position_ += block;
    }
    return secondsSince(start);
  }

  KDRVX_Reader* reader = nullptr;

 private:
  const Recording& recording_;
  uint64_t position_ = 0;
};

// KDRVX_ReaderRead of the current kind in blocks against read() into the
// same buffer; the reader reads on from where it stopped, as read() does.
void readerReadCase(benchmark::State& state, uint32_t block, uint64_t batch) {
  const Recording& recording = bigRecording();
  const size_t bytes = static_cast<size_t>(block) * recording.recordSize();
  std::vector<float> buffer(bytes / sizeof(float), 0.0f);
  benchmark::DoNotOptimize(buffer.data());
  OwnReader own(recording);
  PlainReader plain(recording, recording.records / 2);

  const Side readerBlocks = [&](uint64_t count) {
    return own.timeBlocks(count, block, buffer.data(), "KDRVX_ReaderRead");
  };
  const Side plainReads = [&](uint64_t count) {
    return plain.timeBlocks(count, block, buffer.data());
  };
  compare(state, batch, {readerBlocks, plainReads}, {static_cast<double>(bytes)});
}

// KDRVX_ReaderStatistics over windows of `block` records against read() of
// the same bytes: what the figures cost beyond reading the records.
void readerStatisticsCase(benchmark::State& state, uint32_t block, uint64_t batch) {
  const Recording& recording = bigRecording();
  const size_t bytes = static_cast<size_t>(block) * recording.recordSize();
  std::vector<float> buffer(bytes / sizeof(float), 0.0f);
  benchmark::DoNotOptimize(buffer.data());
  std::vector<KDRVX_WindowStatistics> found(kBigChannels);
  for (auto& channel : found) channel.size = sizeof channel;
  OwnReader own(recording);
  PlainReader plain(recording, recording.records / 2);
  uint64_t position = 0;

  const Side windows = [&](uint64_t count) {
    if (position + count * block > recording.records) position = 0;
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i, position += block) {
      if (KDRVX_ReaderStatistics(own.reader, position, block, found.data(), kBigChannels,
                                 nullptr, nullptr) != KDRVX_OK)
        fail("KDRVX_ReaderStatistics");
    }
    benchmark::DoNotOptimize(found.data());
    return secondsSince(start);
  };
  const Side plainReads = [&](uint64_t count) {
    return plain.timeBlocks(count, block, buffer.data());
  };
  compare(state, batch, {windows, plainReads}, {static_cast<double>(bytes)});
}

// The DOS kind: KDRVX_ReaderRead in blocks against the read context's
// one-by-one readers, called from C for the same number of records.
void readerDosCase(benchmark::State& state, uint32_t block, uint64_t batch) {
  constexpr uint32_t kDosChannels = 8;
  static const Recording recording =
      writeDosRecording("dos.rvx", kDosChannels, kSmallDataBytes / (4 * kDosChannels));
  std::vector<float> buffer(size_t{block} * kDosChannels, 0.0f);
  benchmark::DoNotOptimize(buffer.data());
  OwnReader own(recording);
  LibraryReader library(recording);

  const Side readerBlocks = [&](uint64_t count) {
    return own.timeBlocks(count, block, buffer.data(), "KDRVX_ReaderRead of the DOS kind");
  };
  const Side oneByOne = [&](uint64_t count) {
    library.reserve(count * block + 1);
    library.startRecordByRecord(buffer.data());
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) {
      float* record = buffer.data();
      for (uint32_t r = 0; r < block; ++r, record += kDosChannels)
        if (KDRVX_ReadNextRecord(record) != 0) fail("KDRVX_ReadNextRecord of the DOS kind");
    }
    const double taken = secondsSince(start);
    library.position += count * block;
    return taken;
  };
  const double bytes = static_cast<double>(block) * kDosChannels * sizeof(float);
  compare(state, batch, {readerBlocks, oneByOne}, {bytes});
}

void openCloseCase(benchmark::State& state, uint64_t batch) {
  static const Recording recording = writeRecording("open.rvx", kBigChannels, 1000);
  std::vector<unsigned char> header(kHeaderRead);

  const Side libraryOpens = [&](uint64_t count) {
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) {
      if (KDRVX_OpenRead(recording.widePath.c_str()) != KDRVX_OK) fail("KDRVX_OpenRead");
      KDRVX_CloseRead();
    }
    return secondsSince(start);
  };
  const Side plainOpens = [&](uint64_t count) {
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) {
      const int fd = ::open(recording.path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0 || ::read(fd, header.data(), kHeaderRead) != static_cast<ssize_t>(kHeaderRead))
        fail("open() and read()");
      ::close(fd);
    }
    return secondsSince(start);
  };
  // What the POSIX stand-in for the Windows sharing modes adds to the plain
  // calls: the status (a directory is refused, the length is taken) and
  // the shared lock.
  const Side sharedOpens = [&](uint64_t count) {
    struct stat status;
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) {
      const int fd = ::open(recording.path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0 || ::fstat(fd, &status) != 0 || ::flock(fd, LOCK_SH | LOCK_NB) != 0 ||
          ::read(fd, header.data(), kHeaderRead) != static_cast<ssize_t>(kHeaderRead))
        fail("open(), fstat(), flock() and read()");
      ::close(fd);
    }
    return secondsSince(start);
  };
  compare(state, batch, {libraryOpens, plainOpens, sharedOpens});
}

}  // namespace

void registerReadCases() {
  const Goal readGoal{Goal::AtLeast, 0.95};
  for (const auto& [block, batch] : {std::pair<uint32_t, uint64_t>{1, 4096}, {64, 256}, {4096, 8}}) {
    CaseInfo info;
    info.library = "KDRVX_ReadRecords, " + std::to_string(block) + " x 48 channels";
    info.baselines = {"read() into the same buffer", "memcpy from memory into the buffer"};
    info.measure = Measure::Throughput;
    if (block == 4096) info.goal = readGoal;
    registerCase("ReadRecords/block:" + std::to_string(block), info,
                 [block, batch](benchmark::State& state) { readRecordsCase(state, block, batch); });
  }
  for (uint32_t channels : {1u, 8u, 48u}) {
    CaseInfo info;
    info.library = "KDRVX_ReadNextRecord, " + std::to_string(channels) + " channels";
    info.baselines = {"read() per record"};
    info.goal = {Goal::AtMost, 1.10};
    registerCase("ReadNextRecord/channels:" + std::to_string(channels), info,
                 [channels](benchmark::State& state) { readNextRecordCase(state, channels, 4096); });
  }
  CaseInfo reader;
  reader.library = "KDRVX_ReaderRead, 4096 x 48 channels";
  reader.baselines = {"read() into the same buffer"};
  reader.measure = Measure::Throughput;
  reader.goal = readGoal;
  registerCase("ReaderRead/block:4096", reader,
               [](benchmark::State& state) { readerReadCase(state, 4096, 8); });
  CaseInfo statistics;
  statistics.library = "KDRVX_ReaderStatistics, windows of 16384 x 48 channels";
  statistics.baselines = {"read() of the same bytes"};
  statistics.measure = Measure::Throughput;
  statistics.goal = {Goal::None, 0};
  registerCase("ReaderStatistics/window:16384", statistics,
               [](benchmark::State& state) { readerStatisticsCase(state, 16384, 4); });
  CaseInfo dos;
  dos.library = "KDRVX_ReaderRead of the DOS kind, 4096 x 8 channels";
  dos.baselines = {"KDRVX_ReadNextRecord per record"};
  dos.measure = Measure::Throughput;
  dos.goal = {Goal::AtLeast, 10.0};
  registerCase("ReaderRead/dos", dos,
               [](benchmark::State& state) { readerDosCase(state, 4096, 4); });
  CaseInfo open;
  open.library = "KDRVX_OpenRead + KDRVX_CloseRead, 48 channels";
  open.baselines = {"open() + read() of 68700 bytes + close()",
                    "the same + fstat() + flock(LOCK_SH)"};
  open.goal = {Goal::AtMost, 1.35};
  registerCase("OpenClose/current", open,
               [](benchmark::State& state) { openCloseCase(state, 128); });
}

}  // namespace kdrvx::bench
