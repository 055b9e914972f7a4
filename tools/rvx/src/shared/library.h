// The tool's view of the library's C interface: texts in UTF-8, failures as
// ToolError naming the file and the library's own error text, the three
// module-wide contexts as scoped objects, and independent readers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "files/output_file.h"
#include "kdrvx/kdrvx.h"

namespace rvx {

std::string libraryVersion();
// The library's text for a status, with the code: "No RVX-file is open for
// read. (0xE1000005)"; codes without a text of their own show the code only.
std::string statusText(uint32_t status);
// The library's text for a failure and, when the system caused it, the
// system's reason: "Open file for write (0xE100001B): disk full".
std::string failureText(uint32_t status, const std::string& file);
// Throws ToolError "FILE: " and the failure's text unless `status` is 0.
void require(uint32_t status, const std::string& file);

// Has the library tell the tool the system errors behind its failures (its
// error trace lines, through a trace sink), for require(). Once, at start.
void followLibraryFailures();

// A text for the library, UTF-16 with its terminator.
std::u16string wide(const std::string& utf8);
// A path for the library, with the platform's separators: the create path
// turns '/' into '_' on Windows, where it cannot be part of a name.
std::u16string widePath(const std::string& utf8);
inline const KDRVX_CHAR* chars(const std::u16string& text) {
  return reinterpret_cast<const KDRVX_CHAR*>(text.c_str());
}
inline KDRVX_CHAR* chars(std::u16string& text) {
  return reinterpret_cast<KDRVX_CHAR*>(text.data());
}

struct ChannelInfo {
  int index = 0;
  std::string variable, unit, name, number, signalType, calParameter, zeroPoint, filter, lintab;
  // The name it goes by in exported data, as the library gives it: its
  // variable, or "ch_N" for channel N without one; unique in the recording.
  std::string label;
  uint32_t indRate = 0;
  bool isds = false, linearisation = false;
  int32_t multiChannelBits = 0;  // 0: an ordinary channel
  float minimum = 0, maximum = 0, mean = 0, rms = 0;

  // The label with the unit, as CSV headings carry it: "p1 [bar]", or "p1"
  // without a unit.
  std::string heading() const;
};

struct RecordingInfo {
  uint32_t version = 0;  // as found on disk
  bool original = true;
  std::string date, time;  // as the library formats them
  // Which parts of the start the header knows (KDRVX_START_...), and the
  // start as wall-clock seconds from 1970-01-01 00:00:00 in no zone.
  uint32_t startKnown = 0;
  int64_t startSeconds = 0;
  int64_t scanInterval = 0;  // microseconds
  uint64_t records = 0;      // the header's count, unless a subcommand reads all records held
  uint32_t triggerRecord = 0, flagStatistics = 0;
  std::string comment, company, instrument, serialNumber, nameMeasurement, triggerSetting;
  std::vector<ChannelInfo> channels;

  // Whether startSeconds holds the start: date and time are known.
  bool startIsKnown() const {
    return (startKnown & (KDRVX_START_DATE | KDRVX_START_TIME)) ==
           (KDRVX_START_DATE | KDRVX_START_TIME);
  }
  bool minMaxValid() const { return flagStatistics == 1 || flagStatistics == 3; }
  bool meanRmsValid() const { return flagStatistics == 3; }
  // How finely the header keeps the start, in seconds: 1, or 60 where it
  // keeps whole minutes.
  int64_t startResolutionSeconds() const { return (startKnown & KDRVX_START_SECONDS) ? 1 : 60; }
  // The time the records span: one scan interval for each.
  double durationSeconds() const;
  // Channel index by variable, by label or by "#index"; -1 when there is none.
  int findChannel(const std::string& variable) const;
};

// A recording open in an independent reader of its own, from construction to
// destruction: any number may be open at once, each used by one thread at a
// time. Opening fails with the library's text and the system's reason. A
// reader delivers a DOS record that the library refuses as NaN in every
// channel and reads on.
class Reader {
 public:
  explicit Reader(const std::string& file);
  // The reader of `file`, or null with the reason it was refused in `why`.
  static std::unique_ptr<Reader> tryOpen(const std::string& file, std::string& why);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  const std::string& file() const { return file_; }

  // What the reader tells about the file's header and channels.
  RecordingInfo info() const;
  uint32_t channelCount() const { return header_.noChannels; }
  // What the library found when it measured the file's claims against
  // what it holds.
  KDRVX_Findings findings() const;
  uint32_t headerRecords() const { return header_.noRecords; }  // the header's count
  // Up to `count` records from record `first` into `out`, every kind as
  // floats; fewer where the data end. A read the system fails throws
  // ToolError with the library's text and the system's reason.
  size_t read(uint64_t first, size_t count, float* out);
  // The library's statistics (KDRVX_ReaderStatistics) of records
  // [first, first + count), clipped to the data, one entry per channel of
  // the recording; `progress` (may be null) hears how far it has read.
  std::vector<KDRVX_WindowStatistics> statistics(uint64_t first, uint64_t count,
                                                 KDRVX_Progress progress = nullptr,
                                                 void* context = nullptr);

  // Following a recording while its writer makes it (KDRVX_CreateLive).
  // The reader of `file` once it can be followed: waits up to
  // `milliseconds` while nothing is at the path, while a writer holds it
  // without sharing and while it has no record yet. Null when that
  // time passed, with what it waited for in `waitingFor`; throws ToolError
  // for a file that is there and does not open.
  static std::unique_ptr<Reader> openLive(const std::string& file, uint32_t milliseconds,
                                          std::string& waitingFor);
  // Waits up to `milliseconds` for more than `known` whole records or for
  // the writer to let go (KDRVX_ReaderWait). A file that went missing or is
  // held without sharing is a state to wait through; other failures throw.
  KDRVX_LiveState wait(uint64_t known, uint32_t milliseconds);

 private:
  Reader(const std::string& file, KDRVX_Reader* reader);
  // Throws ToolError for a failed read or statistics call: the library's
  // text and, for a read that failed, the reason the library gives.
  void requireRead(uint32_t status) const;

  std::string file_;
  KDRVX_Reader* reader_ = nullptr;
  KDRVX_RecordingInfo header_{};
};

// Reads the records of a Reader block by block, every kind as floats, from
// record `first` up to `limit` (the header's count, or the records held).
class RecordReader {
 public:
  RecordReader(Reader& reader, uint64_t limit) : RecordReader(reader, 0, limit) {}
  // delivered() counts from record 0 all the same.
  RecordReader(Reader& reader, uint64_t first, uint64_t limit);
  // Up to `max` records into `out`, `channels` floats each; 0 at the end.
  size_t read(float* out, size_t max);
  uint64_t delivered() const { return delivered_; }
  size_t channels() const { return channels_; }
  uint64_t limit() const { return limit_; }
  // Whether the data ended before `limit`.
  bool endedEarly() const { return endedEarly_; }
  // Records per block that fit the tool's buffers for this channel count.
  static size_t blockRecords(size_t channels);

 private:
  Reader& reader_;
  size_t channels_;
  uint64_t limit_;
  uint64_t delivered_;
  bool endedEarly_ = false;
};

// Describes why a RecordReader stopped early, or "" when it did not.
std::string shortfallText(const RecordReader& reader, uint64_t expected);

// The language of a file that gets no RVI file.
inline constexpr int32_t kNoSummaryLanguage = 255;

// A file in the create context from construction until close() or
// destruction (which abandons it with KDRVX_CloseCreateSimple). The library
// makes it, and the RVI file of the compact layout, as a StagedRecording:
// the target (and its RVI file) is touched only when close() succeeds.
class CreateSession {
 public:
  CreateSession(const std::string& file, Existing existing, bool original, bool legacy,
                int32_t language);
  ~CreateSession();
  CreateSession(const CreateSession&) = delete;
  CreateSession& operator=(const CreateSession&) = delete;

  // The name of the recording: the one given, with the characters that no
  // file name may hold replaced as the library's create replaces them.
  const std::string& file() const { return file_; }

  using HeaderSetter = uint32_t (*)(const KDRVX_CHAR*);
  using ChannelSetter = uint32_t (*)(int16_t, const KDRVX_CHAR*);
  // Status of the call; the caller decides what a refusal means.
  uint32_t set(HeaderSetter setter, const std::string& text);
  uint32_t set(ChannelSetter setter, int channel, const std::string& text);
  void check(uint32_t status, const std::string& what);

  int addChannel(const std::string& variable);
  void addRecord(const float* record);
  // `count` records of the recording's channels, one after the other, in one
  // KDRVX_AddRecords call (all or nothing): the one place where the tool
  // hands the library records in blocks.
  void addRecords(const float* records, uint32_t count);
  // KDRVX_CloseCreate: statistics, final header and, for the compact
  // layout, the RVI file; then both files go into place.
  void close();
  // KDRVX_Update, then raw bytes over the header, then close without a
  // further header write: for header bytes that no setter can express.
  void closeWithPatch(int32_t offset, const std::vector<uint8_t>& bytes);

 private:
  std::unique_ptr<StagedRecording> staged_;
  std::string file_;
  bool open_ = false;
};

// The file in the modify context: `path` is opened, `file` named in
// messages.
class ModifySession {
 public:
  ModifySession(const std::string& path, const std::string& file);
  // Without close() nothing is written: the file is closed when the
  // process ends, and the header on disk stays as it was.
  ~ModifySession();
  ModifySession(const ModifySession&) = delete;
  ModifySession& operator=(const ModifySession&) = delete;

  // Sets a text and returns the one it replaces.
  std::string comment(const std::string& text);
  std::string nameMeasurement(const std::string& text);
  std::string comment();
  std::string nameMeasurement();
  void close();

 private:
  std::string file_;
};

// Text lengths as the library counts them: UTF-16 units.
size_t wideLength(const std::string& utf8);

}  // namespace rvx
