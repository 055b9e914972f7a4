// Opening an arbitrary file with an arbitrary RVI file beside it, then
// every query for the channels -1 to 49 and the record readers until the
// end, and the same file once more through an independent reader. Every caller buffer is a heap
// block of exactly the size the call is given, so that a write beyond it is caught by the address
// sanitizer.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "format/layout.h"
#include "harness.h"
#include "harness_support.h"
#include "kdrvx/kdrvx.h"

namespace kdrvx::fuzz {
namespace {

constexpr uint8_t kModeWithRvi = 0x01;
constexpr uint8_t kModeBlockReads = 0x02;
// Text queries run with no room, with a small room that the input
// chooses, and with more room than any field needs.
constexpr uint16_t kNoRoom = 0;
constexpr uint16_t kAmpleRoom = 401;
// The sparse record kind may hold no value at all in up to 65534 records
// after each stored one, so its data have no end the file could tell. Such
// a file is followed for this many records: enough for the second stored
// value of every channel sampled at least every 4095 records; rarer
// channels only repeat the same paths with larger counts.
constexpr uint64_t kSparseRecordLimit = uint64_t{1} << 12;

using Text = std::unique_ptr<KDRVX_CHAR[]>;

Text buffer(size_t units) { return std::make_unique<KDRVX_CHAR[]>(units); }

bool terminatedWithin(const KDRVX_CHAR* text, size_t units) {
  for (size_t i = 0; i < units; ++i) {
    if (text[i] == 0) return true;
  }
  return false;
}

void traceSink(const KDRVX_CHAR* line, void*) {
  size_t length = 0;
  while (line[length] != 0) ++length;
  check(length > 0 && length < 500, "a trace line is not empty and fits its buffer");
}

using HeaderText = uint32_t (*)(KDRVX_CHAR*, uint16_t);
using ChannelText = uint32_t (*)(KDRVX_CHAR*, int16_t, uint16_t);
using ChannelValue = float (*)(int16_t);
using ChannelAnswer = int32_t (*)(int16_t);

// Which queries check for an open file or a channel index differs from
// query to query; none reports anything else but the unit query's refusal
// of a unit longer than the capacity.
void checkQueryStatus(uint32_t status) {
  check(status == KDRVX_OK || status == KDRVX_ERR_RVX_NOT_OPEN_READ ||
            status == KDRVX_ERR_RVX_CHN_UNKNOWN || status == KDRVX_ERR_RVX_UNIT_LENGTH,
        "a query reports success, an unknown channel, no open file or a long unit");
}

// The channels to ask: -1, those the header holds, the first one beyond,
// and 48 and 49. The channels between are refused as the first beyond is.
// `held` counts the channels the header holds.
struct ChannelsToAsk {
  std::vector<int16_t> channels{-1};
  int16_t held = 0;
  bool refused(int16_t channel) const { return channel < 0 || channel >= held; }
};

ChannelsToAsk channelsToAsk() {
  ChannelsToAsk ask;
  Text name = buffer(kAmpleRoom);
  for (int16_t k = 0; k <= 49; ++k) {
    ask.channels.push_back(k);
    if (ask.held == k &&
        KDRVX_GetChannelName(name.get(), k, kAmpleRoom) != KDRVX_ERR_RVX_CHN_UNKNOWN)
      ask.held = static_cast<int16_t>(k + 1);
    else if (k < 47)
      k = 47;
  }
  return ask;
}

void queryEverything(uint16_t smallRoom) {
  const ChannelsToAsk ask = channelsToAsk();
  uint8_t original = 7;
  const uint32_t flagStatus = KDRVX_CheckOriginalFlag(&original);
  checkQueryStatus(flagStatus);
  check(flagStatus != KDRVX_OK || original <= 1, "the original flag is 0 or 1");
  KDRVX_CheckOriginalFlag(nullptr);

  Text date = buffer(KDRVX_DATE_CAPACITY);
  Text time = buffer(KDRVX_TIME_CAPACITY);
  const uint32_t dateStatus = KDRVX_GetDate(date.get());
  const uint32_t timeStatus = KDRVX_GetTime(time.get());
  checkQueryStatus(dateStatus);
  checkQueryStatus(timeStatus);
  check((dateStatus != KDRVX_OK || terminatedWithin(date.get(), KDRVX_DATE_CAPACITY)) &&
            (timeStatus != KDRVX_OK || terminatedWithin(time.get(), KDRVX_TIME_CAPACITY)),
        "date and time are terminated inside their buffers");

  for (const uint16_t capacity : {kNoRoom, smallRoom, kAmpleRoom}) {
    Text text = buffer(capacity);
    for (const HeaderText query :
         {KDRVX_GetComment, KDRVX_GetCompany, KDRVX_GetInstrument, KDRVX_GetSnrInstrument,
          KDRVX_GetNameMeasurement, KDRVX_GetTriggerSetting}) {
      const uint32_t status = query(text.get(), capacity);
      checkQueryStatus(status);
      check(status != KDRVX_OK || capacity == 0 || terminatedWithin(text.get(), capacity),
            "a header text is terminated inside the caller's capacity");
    }
    for (const int16_t channel : ask.channels) {
      // A refused channel is refused whatever the room.
      if (ask.refused(channel) && capacity != kAmpleRoom) continue;
      for (const ChannelText query :
           {KDRVX_GetChannelUnit, KDRVX_GetChannelName, KDRVX_GetChannelNumber,
            KDRVX_GetChannelSignalType, KDRVX_GetChannelZeroPoint, KDRVX_GetChannelCalParameter,
            KDRVX_GetChannelFilter, KDRVX_GetChannelLintab}) {
        const uint32_t status = query(text.get(), channel, capacity);
        checkQueryStatus(status);
        check(status != KDRVX_OK || capacity == 0 || terminatedWithin(text.get(), capacity),
              "a channel text is terminated inside the caller's capacity");
      }
      // The variable comes without a terminator and never longer than the
      // capacity.
      checkQueryStatus(KDRVX_GetChannelVariable(text.get(), channel, capacity));
    }
  }

  KDRVX_GetVersion();
  KDRVX_GetNoRecords();
  KDRVX_GetScanRate();
  KDRVX_GetNoTriggerRecord();
  KDRVX_GetFlagStatistics();
  KDRVX_IsAnyMultiChannelinRVX();
  for (const int16_t channel : ask.channels) {
    KDRVX_GetChannelIndRate(channel);
    for (const ChannelValue query :
         {KDRVX_GetChannelMinValue, KDRVX_GetChannelMaxValue, KDRVX_GetChannelMeanValue,
          KDRVX_GetChannelRMSValue, KDRVX_GetChannelSDevValue})
      query(channel);
    for (const ChannelAnswer query : {KDRVX_GetNumberMultiChannelBits, KDRVX_IsChannelISDS,
                                      KDRVX_IsChannelLinearisation, KDRVX_IsChannelMultiChannel})
      query(channel);
  }
}

// Reads record after record until a reader says there are no more; each
// whole record takes at least 4 bytes of the file, except in the sparse
// kind and without channels, where records of 0 bytes are read whole for
// ever.
void readOneByOne(uint32_t channels, uint64_t fileBytes, bool sparse) {
  auto record = std::make_unique<float[]>(channels);
  const bool endless = sparse || channels == 0;
  const uint64_t limit = endless ? kSparseRecordLimit : fileBytes / 4 + 1;
  uint64_t records = 0;
  uint32_t status = KDRVX_ReadFirstRecord(record.get());
  for (; status == 0 && records <= limit; ++records) status = KDRVX_ReadNextRecord(record.get());
  check(endless || records <= limit, "the record readers come to an end");
  check(status <= 2 || status == KDRVX_ERR_RVX_NOT_OPEN_READ || (endless && status == 0),
        "a record reader returns 0, 1, 2 or not open");
  KDRVX_ReadFirstRecord(nullptr);
  KDRVX_ReadNextRecord(nullptr);
}

void readBlocks(uint32_t channels, uint64_t fileBytes, uint8_t blockSize) {
  auto block = std::make_unique<float[]>(size_t{channels} * blockSize);
  const int64_t oldFormat = static_cast<int32_t>(KDRVX_ERR_RVX_OLD_FORMAT);
  const int64_t notOpen = static_cast<int32_t>(KDRVX_ERR_RVX_NOT_OPEN_READ);
  int64_t first = 0;
  for (uint64_t calls = 0;; ++calls) {
    check(calls <= fileBytes / 4 + 1, "the block reader comes to an end");
    const int64_t got = KDRVX_ReadRecords(first, blockSize, block.get());
    check(got == oldFormat || got == notOpen || (got >= 0 && got <= blockSize),
          "the block reader returns a count up to the block size or a status");
    if (got < blockSize || got <= 0) break;
    first += got;
  }
  KDRVX_ReadRecords(INT64_MAX, blockSize, block.get());
  KDRVX_ReadRecords(0, 3, nullptr);
}

// The same file through an independent reader: the open gives the read
// context's status and channel count; every channel's entry is filled and
// the one beyond is refused; the blocks come to an end, each within the
// block size, and records past the end are none. The second block is read
// first, before anything else: a reader delivers the same records from
// any start (it finds the end marks and carried values before it).
void readThroughAReader(const KDRVX_CHAR* path, uint32_t openStatus, uint32_t channels,
                        uint64_t fileBytes, bool sparse, uint8_t blockSize) {
  KDRVX_Reader* reader = nullptr;
  check(KDRVX_ReaderOpen(path, &reader) == openStatus, "a reader opens as the read context");
  check((reader != nullptr) == (openStatus == KDRVX_OK), "a reader exists exactly when it opened");
  if (reader == nullptr) return;
  KDRVX_RecordingInfo info{};
  info.size = sizeof info;
  check(KDRVX_ReaderInfo(reader, &info) == KDRVX_OK && info.noChannels == channels,
        "a reader reports the read context's channels");
  KDRVX_ChannelInfo channel{};
  channel.size = sizeof channel;
  for (uint32_t k = 0; k < channels; ++k) {
    check(KDRVX_ReaderChannel(reader, static_cast<int16_t>(k), &channel) == KDRVX_OK,
          "a reader describes every channel");
  }
  check(KDRVX_ReaderChannel(reader, static_cast<int16_t>(channels), &channel) ==
            KDRVX_ERR_RVX_CHN_UNKNOWN,
        "a reader refuses the channel beyond");
  KDRVX_Findings findings{};
  findings.size = sizeof findings;
  check(KDRVX_ReaderFindings(reader, &findings) == KDRVX_OK &&
            findings.fileLength == fileBytes && findings.layout >= KDRVX_LAYOUT_DOS_BEFORE_50 &&
            findings.layout <= KDRVX_LAYOUT_CURRENT,
        "a reader measures the file it opened");
  KDRVX_CHAR words[128];
  for (uint32_t bit = 1; bit != 0; bit <<= 1) {
    if ((findings.findings & bit) == 0) continue;
    check(KDRVX_GetFindingText(&findings, bit, words, 128) == KDRVX_OK,
          "every finding has its words");
  }
  const uint32_t count = blockSize == 0 ? 1 : blockSize;
  const size_t blockValues = size_t{channels} * count + 1;
  auto block = std::make_unique<float[]>(blockValues);
  auto second = std::make_unique<float[]>(blockValues);
  const int64_t secondGot = KDRVX_ReaderRead(reader, count, count, second.get());
  const bool endless = sparse || channels == 0;
  const uint64_t limit = endless ? kSparseRecordLimit : fileBytes / 4 + 1;
  int64_t first = 0;
  for (;;) {
    const int64_t got = KDRVX_ReaderRead(reader, first, count, block.get());
    check(got <= count, "a reader delivers at most the records asked for");
    if (first == count) {
      check(got == std::max<int64_t>(secondGot, 0) &&
                std::memcmp(
                    block.get(), second.get(),
                    sizeof(float) * channels * static_cast<size_t>(std::max<int64_t>(got, 0))) == 0,
            "a reader delivers the same records from any start");
    }
    if (got <= 0) break;
    first += got;
    check(static_cast<uint64_t>(first) <= limit || endless, "a reader comes to an end");
    if (static_cast<uint64_t>(first) > limit) break;
  }
  check(KDRVX_ReaderRead(reader, INT64_MAX / 2, count, block.get()) <= 0,
        "a reader delivers nothing far past the end");
  KDRVX_ReaderClose(reader);
}

// The check of the same file finds at least what the reader's open found,
// and reads no more records than the data holds. A sparse file is left
// out: its records that store no channel take no bytes, so a check may
// have as many to read as its header counts.
void checkTheFile(const KDRVX_CHAR* path, uint32_t openStatus, bool sparse) {
  if (sparse) return;
  KDRVX_CheckReport report{};
  report.size = sizeof report;
  KDRVX_CheckChannel channels[format::kMaxChannels] = {};
  for (KDRVX_CheckChannel& channel : channels) channel.size = sizeof channel;
  check(KDRVX_Check(path, &report, channels, format::kMaxChannels, nullptr, nullptr) == KDRVX_OK,
        "a check runs on any file");
  check(report.openStatus == openStatus, "a check opens as a reader");
  check(openStatus != KDRVX_OK || report.recordsRead <= report.claims.heldRecords,
        "a check reads no more records than the data holds");
}

// The file name: short, or padded so that the whole path is `units` long
// (near the 255 units up to which the RVI name can be built).
std::filesystem::path rvxPath(uint8_t mode) {
  const std::filesystem::path& dir = scratchDirectory();
  const size_t padding = mode >> 2;
  if (padding == 0) return dir / "f.rvx";
  const size_t units = 250 + padding % 10;
  const size_t dirUnits = (dir / "").u16string().size();
  const size_t stem = units > dirUnits + 4 ? units - dirUnits - 4 : 1;
  return dir / (std::string(stem, 'n') + ".rvx");
}

}  // namespace

void runOpenRead(const uint8_t* data, size_t size) {
  startInput();
  Input input(data, size);
  const uint8_t mode = input.u8();
  const uint32_t rvxBytes = input.u32();
  const uint8_t blockSize = input.u8();
  const std::string rvx = input.bytes(rvxBytes);
  const std::string rvi = input.rest();

  const std::filesystem::path path = rvxPath(mode);
  std::filesystem::path rviPath = path;
  rviPath.replace_extension(".RVI");
  writeFile(path, rvx);
  if (mode & kModeWithRvi) writeFile(rviPath, rvi);

  KDRVX_SetTraceSink(traceSink, nullptr);
  KDRVX_SetDebugMask(
      static_cast<int16_t>(KDRVX_DEBUG_ERRORS | KDRVX_DEBUG_CALLS | KDRVX_DEBUG_DETAILS));
  const std::u16string wide = path.u16string();
  const uint32_t status = KDRVX_OpenRead(reinterpret_cast<const KDRVX_CHAR*>(wide.c_str()));
  check(status == KDRVX_OK || status == KDRVX_ERR_RVX_INVALID_HEADER ||
            status == KDRVX_ERR_RVX_NEWER_VERSION || status == KDRVX_ERR_RVX_DEVELOPER_VERSION,
        "the open succeeds or refuses the header");
  const bool open = status == KDRVX_OK;

  // A refused header stays in the read context for the queries that need
  // no open file.
  queryEverything(static_cast<uint16_t>(1 + blockSize % 24));
  // A refused header may claim any number of channels.
  const uint32_t channels = open ? KDRVX_GetNoChannels() : 0;
  check(channels <= format::kMaxChannels, "an open file has at most 48 channels");
  uint64_t dataOffset = 0;  // any value
  uint32_t recordSize = 0;
  uint32_t recordKind = 0;
  const uint32_t layoutStatus = KDRVX_GetDataLayout(&dataOffset, &recordSize, &recordKind);
  check(layoutStatus == (open ? KDRVX_OK : KDRVX_ERR_RVX_NOT_OPEN_READ),
        "the data layout is known exactly while a file is open");
  // The data offset may lie beyond the end of a file shorter than its
  // header claims: such a file has no records.
  check(!open || (recordKind <= KDRVX_RECORD_KIND_SPARSE &&
                  (recordKind != KDRVX_RECORD_KIND_FLOATS || recordSize == 4 * channels)),
        "an open file's records are one float per channel or of an older kind");
  KDRVX_GetDataLayout(nullptr, nullptr, nullptr);
  uint8_t original = 0;
  KDRVX_CheckOriginalFlag(&original);
  const bool sparse = open && KDRVX_GetVersion() == 'R' && original == 1;
  if (mode & kModeBlockReads)
    readBlocks(channels, rvx.size(), blockSize);
  else
    readOneByOne(channels, rvx.size(), sparse);

  check(KDRVX_CloseRead() == (open ? KDRVX_OK : KDRVX_ERR_RVX_NOT_OPEN_READ),
        "closing succeeds exactly when the open did");
  readThroughAReader(reinterpret_cast<const KDRVX_CHAR*>(wide.c_str()), status, channels,
                     rvx.size(), sparse, blockSize);
  checkTheFile(reinterpret_cast<const KDRVX_CHAR*>(wide.c_str()), status, sparse);
  KDRVX_SetDebugMask(0);
  KDRVX_SetTraceSink(nullptr, nullptr);
  finishInput();
}

}  // namespace kdrvx::fuzz
