// Recording against a plain write() per record, blocks of records against
// one write() of the same bytes, and opening a file of the
// compact legacy layout with its RVI file, which the library itself writes.
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "benches.h"
#include "comparison.h"
#include "format/layout.h"
#include "format/statistics.h"
#include "kdrvx/kdrvx.h"
#include "recordings.h"

namespace kdrvx::bench {
namespace {

// Each side starts its file anew once it holds this much, so that the disk
// use stays small.
constexpr uint64_t kRestartBytes = 64ull << 20;
// Records cycled through by both sides.
constexpr uint32_t kDistinctRecords = 1024;

std::vector<float> sampleRecords(uint32_t channels) {
  std::vector<float> records(static_cast<size_t>(kDistinctRecords) * channels);
  for (uint32_t r = 0; r < kDistinctRecords; ++r)
    for (uint32_t k = 0; k < channels; ++k) records[r * channels + k] = sampleValue(k, r);
  return records;
}

// The variable of channel k: p1, p2, ...
std::u16string variable(uint32_t channel) {
  const std::string digits = std::to_string(channel + 1);
  return u"p" + std::u16string(digits.begin(), digits.end());
}

// The create context recording into `path`.
class LibraryRecorder {
 public:
  LibraryRecorder(std::filesystem::path path, uint32_t channels)
      : path_(std::move(path)), channels_(channels) {}
  ~LibraryRecorder() { KDRVX_CloseCreateSimple(); }
  LibraryRecorder(const LibraryRecorder&) = delete;
  LibraryRecorder& operator=(const LibraryRecorder&) = delete;

  // Starts a new file, with its first record (which also writes the
  // header) already added, when none is open or the current one is full.
  void reserve(uint64_t records, const float* first) {
    if (open_ && written_ + records * 4 * channels_ <= kRestartBytes) return;
    if (open_) KDRVX_CloseCreateSimple();
    std::u16string path = libraryPath(path_);
    check(KDRVX_CreateExt(path.data(), 1, 1, 0, 1) == KDRVX_OK, "KDRVX_CreateExt");
    for (uint32_t k = 0; k < channels_; ++k)
      check(KDRVX_AddChannel(variable(k).c_str()) == k, "KDRVX_AddChannel");
    check(KDRVX_AddRecord(first) == KDRVX_OK, "KDRVX_AddRecord");
    open_ = true;
    written_ = format::headerLength(channels_) + 4 * channels_;
  }
  void wrote(uint64_t records) { written_ += records * 4 * channels_; }

 private:
  std::filesystem::path path_;
  uint32_t channels_;
  bool open_ = false;
  uint64_t written_ = 0;
};

// The same bytes with plain write() calls: a header of the same length,
// then one write per record.
class PlainRecorder {
 public:
  PlainRecorder(std::filesystem::path path, uint32_t channels)
      : path_(std::move(path)), channels_(channels) {}
  ~PlainRecorder() {
    if (fd_ >= 0) ::close(fd_);
  }
  PlainRecorder(const PlainRecorder&) = delete;
  PlainRecorder& operator=(const PlainRecorder&) = delete;

  void reserve(uint64_t records) {
    if (fd_ >= 0 && written_ + records * 4 * channels_ <= kRestartBytes) return;
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    check(fd_ >= 0, "creating " + path_.string());
    const std::vector<unsigned char> header(format::headerLength(channels_), 0);
    check(::write(fd_, header.data(), header.size()) == static_cast<ssize_t>(header.size()),
          "write()");
    written_ = header.size();
  }
  int fd() const { return fd_; }
  void wrote(uint64_t records) { written_ += records * 4 * channels_; }

 private:
  std::filesystem::path path_;
  uint32_t channels_;
  int fd_ = -1;
  uint64_t written_ = 0;
};

void addRecordCase(benchmark::State& state, uint32_t channels, uint64_t batch) {
  const std::vector<float> records = sampleRecords(channels);
  // Both files in the scratch directory, on the same file system.
  LibraryRecorder library(scratchDir() / "recording.rvx", channels);
  PlainRecorder plain(scratchDir() / "plain.rvx", channels);
  const size_t bytes = 4 * channels;
  uint64_t libraryNext = 0;
  uint64_t plainNext = 0;

  const Side libraryRecords = [&](uint64_t count) {
    library.reserve(count, records.data());
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) {
      const float* record = &records[(libraryNext++ % kDistinctRecords) * channels];
      if (KDRVX_AddRecord(record) != KDRVX_OK) fail("KDRVX_AddRecord");
    }
    const double taken = secondsSince(start);
    library.wrote(count);
    return taken;
  };
  const Side plainWrites = [&](uint64_t count) {
    plain.reserve(count);
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) {
      const float* record = &records[(plainNext++ % kDistinctRecords) * channels];
      if (::write(plain.fd(), record, bytes) != static_cast<ssize_t>(bytes)) fail("write()");
    }
    const double taken = secondsSince(start);
    plain.wrote(count);
    return taken;
  };
  compare(state, batch, {libraryRecords, plainWrites}, {static_cast<double>(bytes)});
}

// Blocks of `block` records through KDRVX_AddRecords against one write() of
// the same bytes per block.
void addRecordsCase(benchmark::State& state, uint32_t channels, uint32_t block, uint64_t batch) {
  std::vector<float> records(static_cast<size_t>(block) * channels);
  for (uint32_t r = 0; r < block; ++r)
    for (uint32_t k = 0; k < channels; ++k) records[r * channels + k] = sampleValue(k, r);
  LibraryRecorder library(scratchDir() / "recording.rvx", channels);
  PlainRecorder plain(scratchDir() / "plain.rvx", channels);
  const size_t bytes = records.size() * 4;

  const Side libraryBlocks = [&](uint64_t count) {
    library.reserve(count * block, records.data());
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i)
      if (KDRVX_AddRecords(records.data(), block) != KDRVX_OK) fail("KDRVX_AddRecords");
    const double taken = secondsSince(start);
    library.wrote(count * block);
    return taken;
  };
  const Side plainBlocks = [&](uint64_t count) {
    plain.reserve(count * block);
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i)
      if (::write(plain.fd(), records.data(), bytes) != static_cast<ssize_t>(bytes))
        fail("write()");
    const double taken = secondsSince(start);
    plain.wrote(count * block);
    return taken;
  };
  compare(state, batch, {libraryBlocks, plainBlocks}, {static_cast<double>(bytes)});
}

// The statistics of a block of records alone, as KDRVX_AddRecords follows
// them after its write(), in the AVX2 tiles against the baseline (SSE2)
// tiles. Where the processor has no AVX2 both sides take the baseline.
void statisticsCase(benchmark::State& state, uint32_t channels, uint32_t block, uint64_t batch) {
  namespace statistics = format::statistics;
  std::vector<float> records(static_cast<size_t>(block) * channels);
  for (uint32_t r = 0; r < block; ++r)
    for (uint32_t k = 0; k < channels; ++k) records[r * channels + k] = sampleValue(k, r);
  statistics::Running running{};
  statistics::start(running, records.data(), channels);
  const auto side = [&](statistics::Vectors vectors) {
    return [&running, &records, block, channels, vectors](uint64_t count) {
      const auto start = Clock::now();
      for (uint64_t i = 0; i < count; ++i)
        statistics::followRecords(running, records.data(), block, channels, vectors);
      return secondsSince(start);
    };
  };
  compare(state, batch, {side(statistics::fastestVectors()), side(statistics::Vectors::baseline)},
          {static_cast<double>(records.size() * 4)});
}

// A compact-layout recording of 24 channels with its RVI file, made by the
// library.
struct LegacyRecording {
  std::filesystem::path path;
  std::filesystem::path summary;
};

const LegacyRecording& legacyRecording() {
  static const LegacyRecording recording = [] {
    constexpr uint32_t kChannels = format::kCompactMaxChannels;
    LegacyRecording made{scratchDir() / "legacy.rvx", scratchDir() / "legacy.RVI"};
    std::u16string path = libraryPath(made.path);
    check(KDRVX_CreateExt(path.data(), 1, 1, 1, 1) == KDRVX_OK, "KDRVX_CreateExt (legacy)");
    KDRVX_SetCompany(u"Test bench company");
    KDRVX_SetInstrument(u"Recorder 4000");
    KDRVX_SetSnrInstrument(u"SN 1234567");
    KDRVX_SetNameMeasurement(u"Pump test");
    KDRVX_SetComment(u"Start-up of pump 3 at full load");
    for (uint32_t k = 0; k < kChannels; ++k) {
      check(KDRVX_AddChannel(variable(k).c_str()) == k, "KDRVX_AddChannel");
      const auto channel = static_cast<int16_t>(k);
      KDRVX_SetChannelUnit(channel, u"bar");
      KDRVX_SetChannelName(channel, (u"Pressure " + variable(k)).c_str());
      KDRVX_SetChannelSignalType(channel, u"4-20 mA");
      KDRVX_SetChannelCalParameter(channel, u"0..250 bar");
    }
    const std::vector<float> records = sampleRecords(kChannels);
    for (uint32_t r = 0; r < kDistinctRecords; ++r)
      check(KDRVX_AddRecord(&records[r * kChannels]) == KDRVX_OK, "KDRVX_AddRecord");
    check(KDRVX_CloseCreate() == KDRVX_OK, "KDRVX_CloseCreate (legacy)");
    check(std::filesystem::exists(made.summary), "writing the RVI file");
    return made;
  }();
  return recording;
}

void legacyOpenCloseCase(benchmark::State& state, uint64_t batch) {
  const LegacyRecording& recording = legacyRecording();
  const std::u16string path = libraryPath(recording.path);
  std::vector<unsigned char> buffer(sizeof(format::RVX_HEADER));
  constexpr size_t kSummaryRead = 10000;

  const auto readPlainly = [&](const std::filesystem::path& file, size_t count) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::read(fd, buffer.data(), count) <= 0) fail("open() and read()");
    ::close(fd);
  };
  const Side libraryOpens = [&](uint64_t count) {
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) {
      if (KDRVX_OpenRead(path.c_str()) != KDRVX_OK) fail("KDRVX_OpenRead (legacy)");
      KDRVX_CloseRead();
    }
    return secondsSince(start);
  };
  const Side plainOpens = [&](uint64_t count) {
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) {
      readPlainly(recording.path, buffer.size());
      readPlainly(recording.summary, kSummaryRead);
    }
    return secondsSince(start);
  };
  compare(state, batch, {libraryOpens, plainOpens});
}

}  // namespace

void registerWriteCases() {
  for (uint32_t channels : {1u, 8u, 48u}) {
    CaseInfo info;
    info.library = "KDRVX_AddRecord, " + std::to_string(channels) + " channels";
    info.baselines = {"write() per record"};
    if (channels == 8) info.goal = {Goal::AtMost, 1.05};
    if (channels == 48) info.goal = {Goal::AtMost, 1.10};
    registerCase("AddRecord/channels:" + std::to_string(channels), info,
                 [channels](benchmark::State& state) { addRecordCase(state, channels, 1024); });
  }
  constexpr uint32_t kBlock = 4096;
  for (uint32_t channels : {8u, 48u}) {
    CaseInfo info;
    info.library = "KDRVX_AddRecords, " + std::to_string(kBlock) + " x " +
                   std::to_string(channels) + " channels";
    info.baselines = {"one write() of the same bytes"};
    info.measure = Measure::Throughput;
    info.goal = {Goal::AtLeast, 0.67};
    // About a millisecond of writing per batch.
    const uint64_t batch = 192 / channels;
    registerCase("AddRecords/channels:" + std::to_string(channels), info,
                 [channels, batch](benchmark::State& state) {
                   addRecordsCase(state, channels, kBlock, batch);
                 });
  }
  for (uint32_t channels : {8u, 48u}) {
    CaseInfo info;
    info.library = "statistics of " + std::to_string(kBlock) + " x " + std::to_string(channels) +
                   " channels, " + (format::statistics::hasAvx2() ? "AVX2" : "no AVX2 here: SSE2");
    info.baselines = {"the same in SSE2"};
    info.measure = Measure::Throughput;
    const uint64_t batch = 768 / channels;
    registerCase("Statistics/channels:" + std::to_string(channels), info,
                 [channels, batch](benchmark::State& state) {
                   statisticsCase(state, channels, kBlock, batch);
                 });
  }
  CaseInfo legacy;
  legacy.library = "KDRVX_OpenRead + KDRVX_CloseRead, compact + RVI";
  legacy.baselines = {"open/read/close of the RVX and of the RVI"};
  registerCase("OpenClose/legacy", legacy,
               [](benchmark::State& state) { legacyOpenCloseCase(state, 128); });
}

}  // namespace kdrvx::bench
