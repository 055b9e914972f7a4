#include "shared/library.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "shared/fields.h"
#include "shared/number_text.h"
#include "shared/system_reason.h"
#include "shared/tool_error.h"
#include "shared/utf.h"

namespace rvx {

namespace {

// Largest text field of the header (the comment, 292 units) with room to
// spare; the unit query refuses a buffer smaller than the stored unit.
constexpr uint16_t kTextCapacity = 320;

std::string fromBuffer(const std::u16string& buffer) {
  return toUtf8(std::u16string_view(buffer.c_str()));
}

// A zero-terminated text of a reader's struct.
template <size_t N>
std::string fromField(const KDRVX_CHAR (&field)[N]) {
  const auto* units = reinterpret_cast<const char16_t*>(field);
  size_t length = 0;
  while (length < N && units[length] != 0) ++length;
  return toUtf8(std::u16string_view(units, length));
}

// The module-wide calls that the tool makes from its threads (the error
// texts, which set the last error) take turns.
std::mutex moduleTurn;

// A reader's failure: the library's text, without the system reason that
// only the read context's traces give.
void requireOfReader(uint32_t status, const std::string& file) {
  if (status != 0) throw ToolError(file + ": " + statusText(status));
}

bool isFailure(uint32_t result) { return result >= 0xE1000000u; }

// The system error behind the library's latest failure, from its error
// trace lines: a failure the system caused is traced as "KDrvxLibrary:
// Error 0x%08X" with the error, any other by its name ("KDrvxLibrary:
// ERR_..."). 0 when the latest failure had another cause.
uint32_t latestSystemError = 0;

void followFailure(const KDRVX_CHAR* line, void*) {
  const std::u16string_view text(reinterpret_cast<const char16_t*>(line));
  constexpr std::u16string_view kSystem = u"KDrvxLibrary: Error 0x";
  constexpr std::u16string_view kNamed = u"KDrvxLibrary: ERR_";
  if (text.substr(0, kNamed.size()) == kNamed) latestSystemError = 0;
  if (text.substr(0, kSystem.size()) != kSystem) return;
  const std::string digits = toUtf8(text.substr(kSystem.size()));
  uint32_t error = 0;
  const auto [end, failure] =
      std::from_chars(digits.data(), digits.data() + digits.size(), error, 16);
  if (failure == std::errc() && end == digits.data() + digits.size()) latestSystemError = error;
}

// The system's reason for the latest failure, once.
std::string takeSystemReason(const std::string& file) {
  const uint32_t error = latestSystemError;
  latestSystemError = 0;
  return error == 0 ? std::string() : windowsErrorReason(error, file);
}

}  // namespace

void followLibraryFailures() {
  KDRVX_SetTraceSink(followFailure, nullptr);
  KDRVX_SetDebugMask(KDRVX_DEBUG_ERRORS);
}

std::string libraryVersion() {
  std::u16string buffer(200, u'\0');
  KDRVX_LibVersion(chars(buffer), 200);
  return fromBuffer(buffer);
}

std::string statusText(uint32_t status) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", status);
  std::u16string buffer(kTextCapacity, u'\0');
  uint32_t lookup = 0;
  {
    const std::lock_guard<std::mutex> turn(moduleTurn);
    lookup = KDRVX_GetErrorString(chars(buffer), kTextCapacity, status);
  }
  if (lookup != 0) return std::string("status ") + code;
  return fromBuffer(buffer) + " (" + code + ")";
}

std::string failureText(uint32_t status, const std::string& file) {
  const std::string reason = takeSystemReason(file);
  return statusText(status) + (reason.empty() ? "" : ": " + reason);
}

void require(uint32_t status, const std::string& file) {
  if (status != 0) throw ToolError(file + ": " + failureText(status, file));
}

std::u16string wide(const std::string& utf8) { return toUtf16(utf8); }

std::u16string widePath(const std::string& utf8) {
  return toPath(utf8).make_preferred().u16string();
}

size_t wideLength(const std::string& utf8) { return toUtf16(utf8).size(); }

namespace {

// Why a reader's open refused `file`. A reader traces nothing: the status
// names a sharing violation, and looking at the file tells why else the
// system refused it.
std::string refusalText(uint32_t status, const std::string& file) {
  constexpr uint32_t kSharingViolation = 32;  // the Windows error number
  std::string why = statusText(status);
  if (status == KDRVX_ERR_RVX_SHARING_VIOLATION)
    why += ": " + windowsErrorReason(kSharingViolation);
  if (status == KDRVX_ERR_RVX_OPEN_READ) why += ": " + unreadableReason(file);
  return why;
}

// Opens `file` in a new reader; null with the library's text and, where the
// system refused the file, the system's reason in `why`.
KDRVX_Reader* openReader(const std::string& file, std::string& why) {
  KDRVX_Reader* reader = nullptr;
  const uint32_t status = KDRVX_ReaderOpen(chars(widePath(file)), &reader);
  if (status == 0) return reader;
  why = refusalText(status, file);
  return nullptr;
}

KDRVX_Reader* openReaderOrThrow(const std::string& file) {
  std::string why;
  KDRVX_Reader* reader = openReader(file, why);
  if (reader == nullptr) throw ToolError(file + ": " + why);
  return reader;
}

}  // namespace

Reader::Reader(const std::string& file, KDRVX_Reader* reader) : file_(file), reader_(reader) {
  header_.size = sizeof header_;
  const uint32_t described = KDRVX_ReaderInfo(reader_, &header_);
  if (described != 0) KDRVX_ReaderClose(reader_);
  requireOfReader(described, file_);
}

Reader::Reader(const std::string& file) : Reader(file, openReaderOrThrow(file)) {}

std::unique_ptr<Reader> Reader::tryOpen(const std::string& file, std::string& why) {
  KDRVX_Reader* reader = openReader(file, why);
  return reader == nullptr ? nullptr : std::unique_ptr<Reader>(new Reader(file, reader));
}

std::unique_ptr<Reader> Reader::openLive(const std::string& file, uint32_t milliseconds,
                                         std::string& waitingFor) {
  KDRVX_Reader* reader = nullptr;
  KDRVX_LiveState state{};
  state.size = sizeof state;
  const uint32_t status =
      KDRVX_ReaderOpenLive(chars(widePath(file)), milliseconds, &reader, &state);
  if (status == 0) return std::unique_ptr<Reader>(new Reader(file, reader));
  // The library says whether what it waited for may still come.
  switch (state.state) {
    case KDRVX_LIVE_MISSING: waitingFor = "the file does not exist"; return nullptr;
    case KDRVX_LIVE_HELD:
      waitingFor = "a writer holds the file without sharing it";
      return nullptr;
    case KDRVX_LIVE_RECORDING: waitingFor = "the recording has no record yet"; return nullptr;
    default: break;
  }
  throw ToolError(file + ": " + refusalText(status, file));
}

KDRVX_LiveState Reader::wait(uint64_t known, uint32_t milliseconds) {
  KDRVX_LiveState state{};
  state.size = sizeof state;
  state.state = UINT32_MAX;  // none, unless the library tells one
  const uint32_t status = KDRVX_ReaderWait(reader_, known, milliseconds, &state);
  const bool waitable = state.state == KDRVX_LIVE_MISSING || state.state == KDRVX_LIVE_HELD;
  if (status != 0 && !waitable) requireOfReader(status, file_);
  return state;
}

Reader::~Reader() { KDRVX_ReaderClose(reader_); }

RecordingInfo Reader::info() const {
  const KDRVX_RecordingInfo& h = header_;
  RecordingInfo info;
  info.version = h.version;
  info.original = h.original != 0;
  info.date = fromField(h.date);
  info.time = fromField(h.time);
  info.startKnown = h.startKnown;
  info.startSeconds = h.startSeconds;
  info.scanInterval = h.scanRate;
  info.records = h.noRecords;
  info.triggerRecord = h.noTriggerRecord;
  info.flagStatistics = h.flagStatistics;
  for (const HeaderField& field : headerFields()) info.*field.text = field.read(h);
  for (uint32_t k = 0; k < h.noChannels; ++k) {
    KDRVX_ChannelInfo c{};
    c.size = sizeof c;
    requireOfReader(KDRVX_ReaderChannel(reader_, static_cast<int16_t>(k), &c), file_);
    ChannelInfo channel;
    channel.index = static_cast<int>(k);
    channel.label = fromField(c.label);
    for (const ChannelField& field : channelFields()) channel.*field.text = field.read(c);
    channel.indRate = c.indRate;
    channel.isds = c.isds != 0;
    channel.linearisation = c.linearisation != 0;
    // The bit count is stored in one byte; the library reads it signed.
    channel.multiChannelBits = c.multiChannel ? (c.multiChannelBits & 0xFF) : 0;
    channel.minimum = c.minValue;
    channel.maximum = c.maxValue;
    channel.mean = c.meanValue;
    channel.rms = c.rmsValue;
    info.channels.push_back(std::move(channel));
  }
  return info;
}

KDRVX_Findings Reader::findings() const {
  KDRVX_Findings findings{};
  findings.size = sizeof findings;
  requireOfReader(KDRVX_ReaderFindings(reader_, &findings), file_);
  return findings;
}

void Reader::requireRead(uint32_t status) const {
  if (status == 0) return;
  uint32_t error = 0;
  if (status == KDRVX_ERR_RVX_OPEN_READ) KDRVX_ReaderSystemError(reader_, &error);
  const std::string reason = error == 0 ? "" : ": " + windowsErrorReason(error, file_);
  throw ToolError(file_ + ": reading the records failed: " + statusText(status) + reason);
}

size_t Reader::read(uint64_t first, size_t count, float* out) {
  const auto most = static_cast<uint32_t>(std::min<size_t>(count, UINT32_MAX));
  const int64_t got = KDRVX_ReaderRead(reader_, static_cast<int64_t>(first), most, out);
  if (got < 0) requireRead(static_cast<uint32_t>(got));
  return static_cast<size_t>(got);
}

std::vector<KDRVX_WindowStatistics> Reader::statistics(uint64_t first, uint64_t count,
                                                       KDRVX_Progress progress, void* context) {
  KDRVX_WindowStatistics sized{};
  sized.size = sizeof sized;
  std::vector<KDRVX_WindowStatistics> channels(header_.noChannels, sized);
  requireRead(KDRVX_ReaderStatistics(reader_, first, count, channels.data(),
                                     static_cast<uint32_t>(channels.size()), progress, context));
  return channels;
}

std::string ChannelInfo::heading() const {
  return unit.empty() ? label : label + " [" + unit + "]";
}

double RecordingInfo::durationSeconds() const {
  return static_cast<double>(records) * static_cast<double>(scanInterval) / 1e6;
}

int RecordingInfo::findChannel(const std::string& variable) const {
  // "#3" is the fourth channel, whatever its variable.
  uint64_t index = 0;
  if (variable.size() > 1 && variable[0] == '#' &&
      variable.find_first_not_of("0123456789", 1) == std::string::npos) {
    return parseUnsigned(variable.substr(1), index) && index < channels.size()
               ? static_cast<int>(index)
               : -1;
  }
  for (const ChannelInfo& channel : channels) {
    if (channel.variable == variable) return channel.index;
  }
  for (const ChannelInfo& channel : channels) {
    if (channel.label == variable) return channel.index;
  }
  return -1;
}

RecordReader::RecordReader(Reader& reader, uint64_t first, uint64_t limit)
    : reader_(reader), channels_(reader.channelCount()), limit_(limit), delivered_(first) {}

size_t RecordReader::blockRecords(size_t channels) {
  constexpr size_t kBlockBytes = 256 * 1024;
  return std::max<size_t>(1, kBlockBytes / (4 * std::max<size_t>(1, channels)));
}

size_t RecordReader::read(float* out, size_t max) {
  if (endedEarly_ || delivered_ >= limit_ || channels_ == 0) return 0;
  max = static_cast<size_t>(std::min<uint64_t>(max, limit_ - delivered_));
  const size_t got = reader_.read(delivered_, max, out);
  delivered_ += got;
  if (got < max) endedEarly_ = true;
  return got;
}

std::string shortfallText(const RecordReader& reader, uint64_t expected) {
  if (!reader.endedEarly()) return "";
  return "the data ends after " + std::to_string(reader.delivered()) + " of " +
         std::to_string(expected) + " records";
}

CreateSession::CreateSession(const std::string& file, Existing existing, bool original, bool legacy,
                             int32_t language)
    : staged_(std::make_unique<StagedRecording>(file, existing,
                                                legacy && language != kNoSummaryLanguage)),
      file_(file) {
  std::u16string path = widePath(staged_->createPath());
  const uint32_t status =
      KDRVX_CreateExt(chars(path), 0, original ? 1 : 0, legacy ? 1 : 0, language);
  require(status, file_);
  staged_->created();
  file_ = staged_->name();
  open_ = true;
}

CreateSession::~CreateSession() {
  if (open_) KDRVX_CloseCreateSimple();
}

uint32_t CreateSession::set(HeaderSetter setter, const std::string& text) {
  return setter(chars(wide(text)));
}

uint32_t CreateSession::set(ChannelSetter setter, int channel, const std::string& text) {
  return setter(static_cast<int16_t>(channel), chars(wide(text)));
}

void CreateSession::check(uint32_t status, const std::string& what) {
  if (status != 0) throw ToolError(file_ + ": " + what + ": " + failureText(status, file_));
}

int CreateSession::addChannel(const std::string& variable) {
  const uint32_t result = KDRVX_AddChannel(chars(wide(variable)));
  if (isFailure(result)) check(result, "channel " + variable);
  return static_cast<int>(result);
}

void CreateSession::addRecord(const float* record) {
  check(KDRVX_AddRecord(record), "adding a record");
}

void CreateSession::addRecords(const float* records, uint32_t count) {
  check(KDRVX_AddRecords(records, count), "adding records");
}

void CreateSession::close() {
  open_ = false;
  latestSystemError = 0;  // the RVI file's failures are not traced
  require(KDRVX_CloseCreate(), file_);
  staged_->commit();
}

void CreateSession::closeWithPatch(int32_t offset, const std::vector<uint8_t>& bytes) {
  check(KDRVX_Update(), "final header");
  check(KDRVX_WriteDataBlock(bytes.data(), offset, static_cast<uint16_t>(bytes.size())),
        "header bytes");
  open_ = false;
  require(KDRVX_CloseCreateSimple(), file_);
  staged_->commit();
}

ModifySession::ModifySession(const std::string& path, const std::string& file) : file_(file) {
  const uint32_t status = KDRVX_OpenModify(chars(widePath(path)));
  if (status == KDRVX_ERR_RVX_MODIFY_NOT_POSSIBLE) {
    const std::string hint = "rvx convert " + file + " -o NEW.rvx";
    throw ToolError(file + ": " + statusText(status) +
                    ": modify changes files of the current layout only; convert it first (" + hint +
                    ")");
  }
  require(status, file);
}

ModifySession::~ModifySession() = default;

std::string ModifySession::comment(const std::string& text) {
  std::u16string current(292, u'\0');
  require(KDRVX_ModifyComment(chars(current), chars(wide(text))), file_);
  return fromBuffer(current);
}

std::string ModifySession::comment() {
  std::u16string current(292, u'\0');
  require(KDRVX_ModifyComment(chars(current), nullptr), file_);
  return fromBuffer(current);
}

std::string ModifySession::nameMeasurement(const std::string& text) {
  std::u16string current(24, u'\0');
  require(KDRVX_ModifyNameMeasurement(chars(current), chars(wide(text))), file_);
  return fromBuffer(current);
}

std::string ModifySession::nameMeasurement() {
  std::u16string current(24, u'\0');
  require(KDRVX_ModifyNameMeasurement(chars(current), nullptr), file_);
  return fromBuffer(current);
}

void ModifySession::close() { require(KDRVX_CloseModify(), file_); }

}  // namespace rvx
