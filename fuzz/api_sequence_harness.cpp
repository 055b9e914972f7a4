// The create, channel, record, update, close and modify exports called in
// any order with any arguments. The harness keeps a model of what must be
// on disk and checks after every step:
// - every status is 0 or one of the library's codes; a new channel's index
//   is the next one;
// - while a file is recorded in the current layout and nothing but the
//   library's own appending has touched it, its length is the header length
//   plus the records times the record size;
// - a finished file opens through the read path and reads back exactly the
//   records written, and a modification leaves them as they were;
// - no export reads a record beyond the channels or writes beyond a caller's
//   buffer (every buffer is a heap block of exactly the size passed).
// An input may also make a later file call fail (over the memory layer).
// From then on the files may hold whatever the failed calls left, so only
// the statuses and the library's state are checked; when the input ends,
// with the fault gone, nothing is left open and a new file is recorded and
// read back.
//
// Input: a sequence of operations, each an operation byte followed by the
// bytes of its arguments (see the switch in runApiSequence).
#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "format/layout.h"
#include "harness.h"
#include "harness_support.h"
#include "kdrvx/kdrvx.h"

namespace kdrvx::fuzz {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kMaxChannels = 48;
constexpr uint32_t kMaxCompactChannels = 24;
constexpr size_t kMaxRecordValues = 1 << 16;  // values the model keeps per file
constexpr int kPaths = 4;
constexpr int kTooLongPath = 3;

// A zero-terminated heap block of exactly the text's length + 1 units.
std::unique_ptr<KDRVX_CHAR[]> heapCopy(const std::u16string& text) {
  auto units = std::make_unique<KDRVX_CHAR[]>(text.size() + 1);
  std::copy(text.c_str(), text.c_str() + text.size() + 1, units.get());
  return units;
}

// A caller's text from the input: null, long texts around the limits of the
// fields, or units one by one (0x01 escapes any UTF-16 unit).
std::unique_ptr<KDRVX_CHAR[]> callerText(Input& input) {
  const uint8_t length = input.u8();
  if (length == 0xFF) return nullptr;
  if (length >= 0xC0) {
    const auto letter = static_cast<char16_t>(u'a' + input.u8() % 26);
    return heapCopy(std::u16string(size_t{length - 0xC0u} * 5 + 9, letter));
  }
  std::u16string units;
  for (uint8_t i = 0; i < length; ++i) {
    uint16_t unit = input.u8();
    if (unit == 0x01) unit = input.u16();
    units.push_back(unit == 0 ? u'0' : static_cast<char16_t>(unit));
  }
  return heapCopy(units);
}

// What a file that the library finished holds, as far as the model knows.
struct FinishedFile {
  uint32_t channels = 0;
  bool legacy = false;
  std::vector<float> values;  // the records, channel by channel
};

struct Model {
  bool createOpen = false;
  int createPath = 0;
  bool legacy = false;
  uint32_t channels = 0;
  bool recordAdded = false;
  bool headerOnDisk = false;  // a header write of the library reached the file
  bool pristine = false;      // nothing but appending has touched the data area
  std::vector<float> values;  // records appended to the file under creation
  bool modifyOpen = false;
  int modifyPath = 0;
  std::optional<FinishedFile> modified;  // the modified file, when known
  std::map<int, FinishedFile> finished;  // by path
  bool faulty = false;                   // a fault was armed: contents unknown
};

// After a fault is armed the model no longer knows what any file holds.
void forgetContents(Model& m) {
  m.faulty = true;
  m.pristine = false;
  m.modified.reset();
  m.finished.clear();
}

// The paths the calls name, worked out once: the scratch directory stays.
struct Paths {
  fs::path folder;  // holds the long path
  fs::path rvx[kPaths];
  std::u16string text[kPaths];
};

const Paths& paths() {
  static const Paths known = [] {
    Paths p;
    const fs::path& dir = scratchDirectory();
    p.folder = dir / std::string(150, 'd');
    p.rvx[0] = dir / "a.rvx";
    p.rvx[1] = dir / "b.RVX";
    p.rvx[2] = dir / "c";
    p.rvx[kTooLongPath] = p.folder / (std::string(150, 'x') + ".rvx");  // 300 units or more
    for (int k = 0; k < kPaths; ++k) p.text[k] = p.rvx[k].u16string();
    return p;
  }();
  return known;
}

const fs::path& pathFor(int which) { return paths().rvx[which]; }

// A caller's copy of a path (KDRVX_CreateExt cleans it in place).
std::unique_ptr<KDRVX_CHAR[]> pathText(int which) { return heapCopy(paths().text[which]); }

void checkExportStatus(uint32_t status) {
  check(status == KDRVX_OK ||
            (status >= KDRVX_ERR_RVX_NEWER_VERSION && status <= KDRVX_ERR_RVX_UNIT_LENGTH),
        "an export returns 0 or one of the library's status codes");
}

// Header and records of a file in the current or the compact layout.
uint64_t fileLength(uint32_t channels, bool legacy, const std::vector<float>& values) {
  return (legacy ? format::compactHeaderLength(channels) : format::headerLength(channels)) +
         values.size() / channels * format::recordSize(channels);
}

uint64_t lengthOf(int path) { return storedLength(pathFor(path)); }

// The file under creation: header plus records, while only the library's
// appending has touched it.
void checkLengthWhileRecording(const Model& m) {
  if (!m.createOpen || !m.pristine || !m.headerOnDisk || m.channels == 0) return;
  check(lengthOf(m.createPath) == fileLength(m.channels, m.legacy, m.values),
        "the file under creation is its header and its records");
}

// Opens a finished file through the read path and compares its records.
void checkReadBackAt(const KDRVX_CHAR* path, const FinishedFile& file) {
  const uint32_t status = KDRVX_OpenRead(path);
  if (file.channels == 0) {
    check(status == KDRVX_ERR_RVX_INVALID_HEADER || status == KDRVX_OK,
          "a finished file without channels opens or is refused as invalid");
    KDRVX_CloseRead();
    return;
  }
  check(status == KDRVX_OK, "a finished file opens through the read path");
  if (status != KDRVX_OK) return;
  check(KDRVX_GetNoChannels() == file.channels, "a finished file has its channels");
  auto record = std::make_unique<float[]>(file.channels);
  const size_t records = file.values.size() / file.channels;
  uint32_t result = KDRVX_ReadFirstRecord(record.get());
  for (size_t r = 0; r < records; ++r) {
    check(result == 0, "every record written is read back");
    if (result != 0) break;
    check(std::memcmp(record.get(), &file.values[r * file.channels],
                      file.channels * sizeof(float)) == 0,
          "a record reads back as it was written");
    result = KDRVX_ReadNextRecord(record.get());
  }
  check(result == 1, "nothing follows the records written");
  KDRVX_CloseRead();
}

void checkReadBack(int path, const FinishedFile& file) {
  checkReadBackAt(pathText(path).get(), file);
}

bool terminatedIn(const KDRVX_CHAR* text, size_t units) {
  return std::find(text, text + units, KDRVX_CHAR{0}) != text + units;
}

// Records the library took, to the file under creation or the modified one.
void appended(Model& m, bool toCreate, const std::vector<float>& records) {
  check(toCreate || m.modifyOpen, "records need a file under creation or modification");
  if (!toCreate && !m.modified) return;
  std::vector<float>& values = toCreate ? m.values : m.modified->values;
  if (values.size() + records.size() > kMaxRecordValues) {
    if (toCreate)
      m.pristine = false;
    else
      m.modified.reset();
    return;
  }
  values.insert(values.end(), records.begin(), records.end());
  m.recordAdded = m.recordAdded || toCreate;
  m.headerOnDisk = m.headerOnDisk || toCreate;
}

// A block of records, to the file under creation or the modified one: all
// of them or none.
void addRecords(Model& m, Input& input) {
  const uint8_t shape = input.u8();
  const uint32_t count = shape % 8;
  const bool toCreate = m.createOpen;
  const uint32_t channels = toCreate     ? m.channels
                            : m.modified ? m.modified->channels
                                         : kMaxChannels;
  std::vector<float> block(size_t{count} * channels);
  for (float& value : block) value = std::bit_cast<float>(input.u32());
  // A heap block of exactly the records' size, or none at all.
  std::unique_ptr<float[]> records;
  if (shape < 0x80 && !block.empty()) {
    records = std::make_unique<float[]>(block.size());
    std::copy(block.begin(), block.end(), records.get());
  }
  const uint32_t status = KDRVX_AddRecords(records.get(), count);
  checkExportStatus(status);
  if (status == KDRVX_OK && count > 0) appended(m, toCreate, block);
}

// The version text and error texts, with any room and any code.
void libraryTexts(Input& input) {
  const uint16_t capacity = input.u8();
  const uint32_t code =
      input.u8() % 4 == 0 ? input.u32() : KDRVX_ERR_RVX_NEWER_VERSION + input.u8() % 40;
  auto text = std::make_unique<KDRVX_CHAR[]>(capacity + size_t{1});
  const uint32_t version = KDRVX_LibVersion(text.get(), capacity);
  checkExportStatus(version);
  check(version != KDRVX_OK || capacity == 0 || terminatedIn(text.get(), capacity),
        "the version text is terminated inside its room");
  const uint32_t error = KDRVX_GetErrorString(text.get(), capacity, code);
  checkExportStatus(error);
  check(error != KDRVX_OK || capacity == 0 || terminatedIn(text.get(), capacity),
        "an error text is terminated inside its room");
  uint64_t offset = 0;
  uint32_t size = 0;
  uint32_t kind = 0;
  const uint32_t layout = KDRVX_GetDataLayout(&offset, &size, &kind);
  check(layout == KDRVX_OK || layout == KDRVX_ERR_RVX_NOT_OPEN_READ,
        "the data layout is known exactly while a file is open for reading");
}

// With the fault gone, the library is as good as new: nothing is left open,
// and a file is recorded and read back.
void checkUsableAfterFault() {
  check(KDRVX_CloseCreateSimple() == KDRVX_ERR_RVX_NOT_OPEN_WRITE &&
            KDRVX_CloseModify() == KDRVX_ERR_RVX_NOT_OPEN_MODIFY &&
            KDRVX_CloseRead() == KDRVX_ERR_RVX_NOT_OPEN_READ,
        "after a fault, closing leaves nothing open");
  auto name = heapCopy((scratchDirectory() / "after.rvx").u16string());
  const float record[2] = {1.5f, -2.0f};
  const bool recorded = KDRVX_CreateExt(name.get(), 1, 1, 0, 0) == KDRVX_OK &&
                        KDRVX_AddChannel(heapCopy(u"p1").get()) == 0 &&
                        KDRVX_AddChannel(heapCopy(u"p2").get()) == 1 &&
                        KDRVX_AddRecord(record) == KDRVX_OK && KDRVX_CloseCreate() == KDRVX_OK;
  check(recorded, "after a fault, a new file is recorded");
  checkReadBackAt(name.get(), FinishedFile{2, false, {record[0], record[1]}});
}

}  // namespace

void runApiSequence(const uint8_t* data, size_t size) {
  startInput();
  makeDirectory(paths().folder);
  Input input(data, size);
  Model m;
  KDRVX_SetTraceSink(
      [](const KDRVX_CHAR* line, void*) {
        size_t length = 0;
        while (line[length] != 0) ++length;
        check(length > 0, "a trace line is not empty");
      },
      nullptr);
  KDRVX_SetDebugMask(static_cast<int16_t>(input.u8() & 1 ? 0x800C : 0));

  for (int step = 0; step < 400 && !input.empty(); ++step) {
    const uint8_t op = input.u8();
    switch (op % 24) {
      case 0:
      case 1: {  // create
        const int path = input.u8() % kPaths;
        const uint8_t flags = input.u8();
        const bool legacy = (flags & 4) != 0;
        const int32_t language = static_cast<int32_t>(input.u8()) - 1;
        auto name = pathText(path);
        const uint32_t status =
            op % 24 == 0 ? KDRVX_CreateExt(name.get(), flags & 1, flags & 2, legacy, language)
                         : KDRVX_Create(name.get(), flags & 1, flags & 2);
        checkExportStatus(status);
        check(path != kTooLongPath || status != KDRVX_OK, "a path of 260 units or more is refused");
        if (status == KDRVX_OK) {
          check(!m.createOpen, "a second create is refused while one is open");
          m.createOpen = true;
          m.createPath = path;
          m.legacy = op % 24 == 0 && legacy;
          m.channels = 0;
          m.recordAdded = false;
          m.headerOnDisk = false;
          m.pristine = !m.faulty;
          m.values.clear();
          m.finished.erase(path);
          check(lengthOf(path) == 0, "a new file is empty");
        }
        break;
      }
      case 2:
        checkExportStatus(KDRVX_Reset());
        if (m.createOpen) {
          m.channels = 0;
          m.recordAdded = false;
          m.pristine = m.pristine && !m.headerOnDisk;
          m.values.clear();
        }
        break;
      case 3: {  // header texts
        const auto text = callerText(input);
        using Setter = uint32_t (*)(const KDRVX_CHAR*);
        const Setter setters[] = {KDRVX_SetCompany,        KDRVX_SetInstrument,
                                  KDRVX_SetSnrInstrument,  KDRVX_SetNameMeasurement,
                                  KDRVX_SetTriggerSetting, KDRVX_SetComment,
                                  KDRVX_SetDate,           KDRVX_SetTime};
        checkExportStatus(setters[op / 24 % std::size(setters)](text.get()));
        break;
      }
      case 4:
        checkExportStatus(KDRVX_SetScanRate(static_cast<int64_t>(input.u64())));
        checkExportStatus(KDRVX_SetNoTriggerRecord(input.u32()));
        break;
      case 5:
      case 6: {  // channels
        const auto variable = callerText(input);
        const uint32_t result = KDRVX_AddChannel(variable.get());
        if (result < kMaxChannels) {
          check(m.createOpen && !m.recordAdded && result == m.channels,
                "a new channel gets the next index");
          check(!m.legacy || result < kMaxCompactChannels, "the compact layout has 24 channels");
          m.channels = result + 1;
          m.headerOnDisk = true;
        } else {
          checkExportStatus(result);
        }
        break;
      }
      case 7: {  // channel texts
        const auto channel = static_cast<int16_t>(input.u16());
        const auto text = callerText(input);
        using Setter = uint32_t (*)(int16_t, const KDRVX_CHAR*);
        const Setter setters[] = {
            KDRVX_SetChannelVariable,     KDRVX_SetChannelUnit,       KDRVX_SetChannelName,
            KDRVX_SetChannelNumber,       KDRVX_SetChannelSignalType, KDRVX_SetChannelZeroPoint,
            KDRVX_SetChannelCalParameter, KDRVX_SetChannelFilter,     KDRVX_SetChannelLintab};
        checkExportStatus(setters[op / 24 % std::size(setters)](channel % 52, text.get()));
        break;
      }
      case 8: {  // channel numbers
        const auto channel = static_cast<int16_t>(static_cast<int16_t>(input.u16()) % 52);
        const uint32_t value = input.u32();
        const auto small = static_cast<int16_t>(value);
        switch (op / 24 % 5) {
          case 0:
            checkExportStatus(KDRVX_SetChannelIndRate(channel, value));
            break;
          case 1:
            checkExportStatus(KDRVX_SetChannelISDS(channel, small));
            break;
          case 2:
            checkExportStatus(KDRVX_SetChannelLinearisation(channel, small));
            break;
          case 3:
            checkExportStatus(KDRVX_SetChannelMultiChannel(channel, uint16_t(value)));
            break;
          default:
            KDRVX_ConvertMultiChannelValue(std::bit_cast<float>(value));
        }
        break;
      }
      case 9:
      case 10:
      case 11:
      case 12: {  // records, to the file under creation or the modified one
        const bool toCreate = m.createOpen;
        const uint32_t channels = toCreate     ? m.channels
                                  : m.modified ? m.modified->channels
                                               : kMaxChannels;
        std::vector<float> record(channels);
        for (float& value : record) value = std::bit_cast<float>(input.u32());
        // A heap block of exactly one record.
        auto passed = std::make_unique<float[]>(channels);
        std::copy(record.begin(), record.end(), passed.get());
        const uint32_t status = KDRVX_AddRecord(op % 24 == 12 ? nullptr : passed.get());
        checkExportStatus(status);
        if (status == KDRVX_OK) appended(m, toCreate, record);
        break;
      }
      case 13:
        checkExportStatus(KDRVX_Update());
        if (m.createOpen) m.headerOnDisk = true;
        break;
      case 14: {  // raw bytes anywhere
        const auto offset = static_cast<int32_t>(input.u32() % 70000) - 100;
        const uint16_t count = input.u8();
        auto block = std::make_unique<uint8_t[]>(count);
        const std::string bytes = input.bytes(count);
        std::copy(bytes.begin(), bytes.end(), block.get());
        const uint32_t status = KDRVX_WriteDataBlock(block.get(), offset, count);
        checkExportStatus(status);
        // Even an empty block moves the position where the next record
        // goes.
        if (m.createOpen && (status == KDRVX_OK || count > 0)) m.pristine = false;
        break;
      }
      case 15:
      case 16: {  // closing
        const bool full = op % 24 == 15;
        const uint32_t status = full ? KDRVX_CloseCreate() : KDRVX_CloseCreateSimple();
        checkExportStatus(status);
        if (!m.createOpen) {
          check(status == KDRVX_ERR_RVX_NOT_OPEN_WRITE, "closing needs a file under creation");
          break;
        }
        m.createOpen = false;
        // The compact layout's summary may fail after the file is complete.
        const bool complete =
            status == KDRVX_OK ||
            (m.legacy && (status == KDRVX_ERR_RVI_FILE_NAME || status == KDRVX_ERR_RVI_CREATE));
        if (!m.pristine || !complete) break;
        if (full || m.headerOnDisk) {
          if (full && m.channels > 0)
            check(lengthOf(m.createPath) == fileLength(m.channels, m.legacy, m.values),
                  "a finished file is its header and its records");
          m.finished[m.createPath] = FinishedFile{m.channels, m.legacy, m.values};
          checkReadBack(m.createPath, m.finished[m.createPath]);
        }
        break;
      }
      case 17: {  // modification
        const int path = input.u8() % kPaths;
        const uint32_t status = KDRVX_OpenModify(pathText(path).get());
        checkExportStatus(status);
        if (status == KDRVX_OK) {
          check(!m.modifyOpen, "a second modification is refused while one is open");
          m.modifyOpen = true;
          m.modifyPath = path;
          const auto known = m.finished.find(path);
          m.modified.reset();
          if (known != m.finished.end() && !known->second.legacy) m.modified = known->second;
          m.finished.erase(path);
        }
        break;
      }
      case 18:
      case 19: {
        const auto text = callerText(input);
        const bool comment = op % 24 == 18;
        const size_t room = comment ? 292 : 24;
        auto current = std::make_unique<KDRVX_CHAR[]>(room);
        const uint32_t status = comment ? KDRVX_ModifyComment(current.get(), text.get())
                                        : KDRVX_ModifyNameMeasurement(current.get(), text.get());
        checkExportStatus(status);
        if (status == KDRVX_OK || status == KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH) {
          bool terminated = false;
          for (size_t i = 0; i < room && !terminated; ++i) terminated = current[i] == 0;
          check(terminated, "the current text is terminated inside its room");
        }
        break;
      }
      case 20: {
        const uint32_t status = KDRVX_CloseModify();
        checkExportStatus(status);
        if (!m.modifyOpen) break;
        m.modifyOpen = false;
        if (status == KDRVX_OK && m.modified) {
          const FinishedFile& file = *m.modified;
          check(lengthOf(m.modifyPath) == fileLength(file.channels, false, file.values),
                "a modified file is its header and its records");
          checkReadBack(m.modifyPath, file);
          m.finished[m.modifyPath] = file;
        }
        m.modified.reset();
        break;
      }
      case 21: {  // reading while nothing is open elsewhere (no retry pause)
        if (m.createOpen || m.modifyOpen) break;
        const int path = input.u8() % kPaths;
        const auto known = m.finished.find(path);
        if (known != m.finished.end()) checkReadBack(path, known->second);
        break;
      }
      case 22: {
        const int path = input.u8() % kPaths;
        KDRVX_DeleteFile(pathText(path).get());
        if (!fileExists(pathFor(path))) m.finished.erase(path);
        break;
      }
      default:
        switch (op / 24 % 4) {
          case 0:
            checkExportStatus(KDRVX_GetLastError());
            break;
          case 1: {  // a later file call fails
            const uint32_t nth = 1 + input.u8() % 32;
            if (armFault(nth, input.u8())) forgetContents(m);
            break;
          }
          case 2:
            addRecords(m, input);
            break;
          default:
            libraryTexts(input);
            break;
        }
        break;
    }
    checkLengthWhileRecording(m);
  }

  // Leave nothing open or stored for the next input.
  disarmFault();
  KDRVX_CloseCreateSimple();
  KDRVX_CloseModify();
  KDRVX_CloseRead();
  if (m.faulty) checkUsableAfterFault();
  KDRVX_SetDebugMask(0);
  KDRVX_SetTraceSink(nullptr, nullptr);
  finishInput();
}

}  // namespace kdrvx::fuzz
