// Failing I/O at every point. Each scenario (create, modify, read, delete)
// runs over the in-memory platform layer once per fallible call it makes,
// with that call failing: plainly, short (half of a read or write is done),
// or from that call on. After every run:
// - every record the library acknowledged is on disk where it belongs;
// - the file opens through the read path, or a failure was reported and
//   nothing was acknowledged;
// - what the readers delivered as read is what the file holds, and inputs
//   are byte for byte as before;
// - no file is left open and every context takes a new file.
// The sanitizer build runs the same program. Also here: the memory layer's
// own rules, and the fuzz corpora replayed through it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "format/layout.h"
#include "harness.h"
#include "kdrvx/kdrvx.h"
#include "platform/memory_control.h"
#include "platform/platform.h"
#include "recordings.h"
#include "support/sharing_rules.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

namespace memory = platform::memory;
using memory::Fault;
using Records = std::vector<std::vector<float>>;

const std::u16string kFolder = u"/f";
const std::u16string kRvx = u"/f/a.rvx";
const std::u16string kRvi = u"/f/a.RVI";
constexpr uint32_t kChannels = 3;
constexpr uint32_t kRunLimit = 5000;  // calls of one scenario, far above any

Records rows(size_t count, size_t channels, float base) {
  Records out(count, std::vector<float>(channels));
  for (size_t r = 0; r < count; ++r)
    for (size_t k = 0; k < channels; ++k) out[r][k] = base + static_cast<float>(r * 10 + k);
  return out;
}

// A writable copy of a path: the create exports clean theirs in place.
std::vector<KDRVX_CHAR> pathCopy(const std::u16string& path) {
  return std::vector<KDRVX_CHAR>(path.c_str(), path.c_str() + path.size() + 1);
}

// The records the read context delivers one by one until a reader says no.
Records readOneByOne(uint32_t channels) {
  Records out;
  std::vector<float> record(channels == 0 ? 1 : channels);
  for (uint32_t s = KDRVX_ReadFirstRecord(record.data()); s == 0 && out.size() < 100000;
       s = KDRVX_ReadNextRecord(record.data()))
    out.emplace_back(record.begin(), record.begin() + channels);
  return out;
}

// What the read path finds in `path`: whether it opens, and its records.
struct ReadBack {
  uint32_t status = 0;
  uint32_t channels = 0;
  Records records;
  std::u16string comment;
  std::vector<std::u16string> variables;
};
ReadBack readBack(const std::u16string& path) {
  ReadBack back;
  back.status = KDRVX_OpenRead(c(path));
  if (back.status != KDRVX_OK) return back;
  back.channels = KDRVX_GetNoChannels();
  KDRVX_CHAR comment[KDRVX_COMMENT_CAPACITY] = {};
  KDRVX_GetComment(comment, KDRVX_COMMENT_CAPACITY);
  back.comment = reinterpret_cast<const char16_t*>(comment);
  for (uint32_t k = 0; k < back.channels; ++k) {
    KDRVX_CHAR variable[KDRVX_CHANNEL_VARIABLE_CAPACITY + 1] = {};
    KDRVX_GetChannelVariable(variable, static_cast<int16_t>(k), KDRVX_CHANNEL_VARIABLE_CAPACITY);
    back.variables.emplace_back(reinterpret_cast<const char16_t*>(variable));
  }
  back.records = readOneByOne(back.channels);
  KDRVX_CloseRead();
  return back;
}

// The records stored from `offset` on, as far as the bytes go.
Records storedRecords(const std::string& bytes, uint64_t offset, uint32_t channels) {
  Records out;
  const size_t size = channels * sizeof(float);
  if (size == 0) return out;
  for (uint64_t at = offset; at + size <= bytes.size(); at += size) {
    std::vector<float> record(channels);
    std::memcpy(record.data(), bytes.data() + at, size);
    out.push_back(record);
  }
  return out;
}

bool isPrefix(const Records& part, const Records& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// Every context is free and the layer holds no file: a host goes on.
void expectNothingStuck() {
  EXPECT_EQ(memory::openFiles(), 0u) << "a file was left open";
  EXPECT_EQ(KDRVX_CloseRead(), KDRVX_ERR_RVX_NOT_OPEN_READ);
  EXPECT_EQ(KDRVX_CloseCreateSimple(), KDRVX_ERR_RVX_NOT_OPEN_WRITE);
  EXPECT_EQ(KDRVX_CloseModify(), KDRVX_ERR_RVX_NOT_OPEN_MODIFY);
  auto next = pathCopy(u"/f/next.rvx");
  ASSERT_EQ(KDRVX_Create(next.data(), 1, 1), KDRVX_OK);
  ASSERT_EQ(KDRVX_AddChannel(c(u"p1")), 0u);
  const float value = 1.5f;
  ASSERT_EQ(KDRVX_AddRecord(&value), KDRVX_OK);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  ASSERT_EQ(KDRVX_OpenModify(c(u"/f/next.rvx")), KDRVX_OK);
  ASSERT_EQ(KDRVX_CloseModify(), KDRVX_OK);
  const ReadBack back = readBack(u"/f/next.rvx");
  EXPECT_EQ(back.status, KDRVX_OK);
  EXPECT_EQ(back.records, Records{{value}});
  EXPECT_EQ(memory::openFiles(), 0u);
}

// A sequence of calls and what must hold after it, whichever call failed.
class Scenario {
 public:
  virtual ~Scenario() = default;
  virtual void setUp() {}  // the files before the run, made without faults
  virtual void run() = 0;
  virtual void check(Fault fault) = 0;
};

void startEmpty() {
  memory::reset();
  ASSERT_TRUE(memory::makeDirectory(kFolder));
}

// Runs `scenario` with its first, second, ... fallible call failing as
// `fault` until a run makes fewer calls than the one that would fail.
// Returns how many runs it took.
uint32_t failEveryCall(Scenario& scenario, Fault fault) {
  for (uint32_t n = 1; n <= kRunLimit; ++n) {
    SCOPED_TRACE("fault " + std::to_string(static_cast<int>(fault)) + " at call " +
                 std::to_string(n));
    startEmpty();
    scenario.setUp();
    memory::armFault(memory::calls() + n, fault);
    scenario.run();
    const bool struck = memory::faultStruck();
    memory::armFault(0, fault);
    scenario.check(fault);
    expectNothingStuck();
    if (::testing::Test::HasFatalFailure() || !struck) return n;
  }
  ADD_FAILURE() << "the scenario never ran to its end";
  return kRunLimit;
}

void failEveryCallEveryWay(Scenario& scenario) {
  for (const Fault fault : {Fault::Error, Fault::Short, Fault::Persistent}) {
    const uint32_t runs = failEveryCall(scenario, fault);
    EXPECT_GT(runs, 1u) << "the scenario makes no fallible call";
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// Create, three channels, a record, a block of records, an update, one more
// record, close; in the current layout or in the compact one with its
// summary file.
class Create : public Scenario {
 public:
  explicit Create(bool compact, bool live = false) : compact_(compact), live_(live) {}

  void run() override {
    acknowledged_.clear();
    failures_ = 0;
    closed_ = false;
    auto path = pathCopy(kRvx);
    const auto create = live_ ? KDRVX_CreateLive : KDRVX_CreateExt;
    note(create(path.data(), 1, 1, compact_, compact_ ? 0 : -1));
    note(KDRVX_SetComment(c(u"under faults")));
    channels_ = 0;
    for (const char16_t* variable : {u"p1", u"p2", u"T3"}) {
      // A channel that could not be added is left out; the records are as
      // long as the channels that were.
      if (KDRVX_AddChannel(c(variable)) == channels_)
        ++channels_;
      else
        ++failures_;
    }
    const Records records = rows(7, kChannels, 0.5f);
    add(records, 0, 1);
    add(records, 1, 1);
    add(records, 2, 4);
    note(KDRVX_Update());
    add(records, 6, 1);
    closed_ = note(KDRVX_CloseCreate());
    KDRVX_CloseCreateSimple();  // a host's cleanup after a failed close
  }

  void check(Fault fault) override {
    const auto bytes = memory::fileBytes(kRvx);
    const uint64_t headerLength =
        compact_ ? format::compactHeaderLength(channels_) : format::headerLength(channels_);
    if (acknowledged_.empty()) {
      EXPECT_GT(failures_, 0u) << "no record acknowledged, yet no failure reported";
      // Nothing acknowledged: the file holds nothing, or a whole header.
      if (!bytes || bytes->size() < headerLength) {
        EXPECT_TRUE(!bytes || bytes->empty() || fault == Fault::Persistent)
            << "a part of a header was left";
        return;
      }
    }
    ASSERT_TRUE(bytes.has_value()) << "records were acknowledged but there is no file";
    const Records stored = storedRecords(*bytes, headerLength, channels_);
    EXPECT_TRUE(isPrefix(acknowledged_, stored)) << "an acknowledged record is not intact";
    const ReadBack back = readBack(kRvx);
    ASSERT_EQ(back.status, KDRVX_OK) << "the file does not open through the read path";
    EXPECT_TRUE(isPrefix(back.records, acknowledged_) || isPrefix(acknowledged_, back.records))
        << "the read path delivers other records than those acknowledged";
    if (closed_) {
      EXPECT_EQ(back.records, acknowledged_);
      EXPECT_EQ(back.comment, u"under faults");
      EXPECT_EQ(memory::exists(kRvi), compact_);
    }
  }

 private:
  uint32_t note(uint32_t status) {
    if (status != KDRVX_OK) ++failures_;
    return status == KDRVX_OK;
  }
  void add(const Records& records, size_t first, uint32_t count) {
    std::vector<float> block;
    for (size_t r = first; r < first + count; ++r)
      block.insert(block.end(), records[r].begin(), records[r].begin() + channels_);
    block.push_back(0);  // room for a record of no channels
    const uint32_t status =
        count == 1 ? KDRVX_AddRecord(block.data()) : KDRVX_AddRecords(block.data(), count);
    if (!note(status) || channels_ == 0) return;
    for (size_t r = first; r < first + count; ++r)
      acknowledged_.emplace_back(records[r].begin(), records[r].begin() + channels_);
  }

  bool compact_;
  bool live_;
  uint32_t channels_ = 0;
  Records acknowledged_;
  uint32_t failures_ = 0;
  bool closed_ = false;
};

// A finished file made without faults, as the modify and delete scenarios
// find it.
void putFinishedFile(const Records& records) {
  auto path = pathCopy(kRvx);
  ASSERT_EQ(KDRVX_Create(path.data(), 1, 1), KDRVX_OK);
  KDRVX_SetComment(c(u"before"));
  for (const char16_t* variable : {u"p1", u"p2", u"T3"}) KDRVX_AddChannel(c(variable));
  for (const auto& record : records) ASSERT_EQ(KDRVX_AddRecord(record.data()), KDRVX_OK);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
}

// Open for modification, change the comment and the name, append records,
// close.
class Modify : public Scenario {
 public:
  void setUp() override { putFinishedFile(original_); }

  void run() override {
    appended_.clear();
    closed_ = false;
    if (KDRVX_OpenModify(c(kRvx)) != KDRVX_OK) return;
    KDRVX_CHAR current[KDRVX_COMMENT_CAPACITY];
    KDRVX_ModifyComment(current, c(u"after"));
    KDRVX_CHAR name[KDRVX_NAME_MEASUREMENT_CAPACITY];
    KDRVX_ModifyNameMeasurement(name, c(u"renamed"));
    const Records more = rows(3, kChannels, 100.0f);
    std::vector<float> block;
    for (const auto& record : more) block.insert(block.end(), record.begin(), record.end());
    if (KDRVX_AddRecords(block.data(), 3) == KDRVX_OK) appended_ = more;
    closed_ = KDRVX_CloseModify() == KDRVX_OK;
  }

  void check(Fault) override {
    Records acknowledged = original_;
    acknowledged.insert(acknowledged.end(), appended_.begin(), appended_.end());
    const auto bytes = memory::fileBytes(kRvx);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_TRUE(
        isPrefix(acknowledged, storedRecords(*bytes, format::headerLength(kChannels), kChannels)))
        << "a record is not intact";
    const ReadBack back = readBack(kRvx);
    ASSERT_EQ(back.status, KDRVX_OK) << "the modified file does not open";
    EXPECT_EQ(back.channels, kChannels);
    EXPECT_EQ(back.variables, (std::vector<std::u16string>{u"p1", u"p2", u"T3"}))
        << "the channels were not kept";
    EXPECT_TRUE(isPrefix(original_, back.records)) << "the records before are not intact";
    EXPECT_TRUE(isPrefix(back.records, acknowledged));
    EXPECT_TRUE(back.comment == u"before" || back.comment == u"after");
    if (closed_) {
      EXPECT_EQ(back.comment, u"after");
      EXPECT_EQ(back.records, acknowledged);
    }
  }

 private:
  const Records original_ = rows(5, kChannels, 1.0f);
  Records appended_;
  bool closed_ = false;
};

// A block appended to a file whose stored count wraps within it: the
// first record goes at the end, the second (counted as 1) behind the
// header, over the file's first record, with the header rewritten, the
// third at the end again. Refused, the block leaves no byte behind the
// records that were there, nor its count in the header; the record behind
// the header may be overwritten, as by a refused single append there.
class ModifyCountWraps : public Scenario {
 public:
  void setUp() override {
    putFinishedFile(original_);
    std::string bytes = *memory::fileBytes(kRvx);
    const uint32_t count = 0xFFFFFFFF;
    std::memcpy(bytes.data() + offsetof(format::RVX_HEADER, NoRecords), &count, sizeof count);
    ASSERT_TRUE(memory::putFile(kRvx, bytes));
  }

  void run() override {
    acknowledged_ = false;
    if (KDRVX_OpenModify(c(kRvx)) != KDRVX_OK) return;
    std::vector<float> block;
    for (const auto& record : more_) block.insert(block.end(), record.begin(), record.end());
    acknowledged_ = KDRVX_AddRecords(block.data(), 3) == KDRVX_OK;
    KDRVX_CloseModify();
  }

  void check(Fault fault) override {
    const auto bytes = memory::fileBytes(kRvx);
    ASSERT_TRUE(bytes.has_value());
    const Records stored = storedRecords(*bytes, format::headerLength(kChannels), kChannels);
    const auto header = [&] {
      format::RVX_HEADER h{};
      std::memcpy(&h, bytes->data(), std::min(bytes->size(), sizeof h));
      return h;
    }();
    if (acknowledged_) {
      EXPECT_EQ(stored, Records({more_[1], original_[1], original_[2], original_[3], original_[4],
                                 more_[0], more_[2]}));
      EXPECT_TRUE(header.NoRecords == 1 || header.NoRecords == 2) << header.NoRecords;
      return;
    }
    // Where every call fails from some point on, the cut fails too: what
    // remains lies beyond the count the header claims.
    if (fault != Fault::Persistent) {
      EXPECT_EQ(stored.size(), original_.size()) << "a refused block left records behind";
    }
    ASSERT_GE(stored.size(), original_.size());
    EXPECT_TRUE(std::equal(original_.begin() + 1, original_.end(), stored.begin() + 1))
        << "a record the block did not overwrite changed";
    // The header keeps its count, or, where the header was written and
    // every call after it failed (its write-back too), claims the one
    // record behind it, which is there.
    const bool claimsItsFirst =
        fault == Fault::Persistent && header.NoRecords == 1 && stored[0] == more_[1];
    EXPECT_TRUE(header.NoRecords == 0xFFFFFFFFu || claimsItsFirst)
        << "a refused block left its count " << header.NoRecords;
  }

 private:
  const Records original_ = rows(5, kChannels, 1.0f);
  const Records more_ = rows(3, kChannels, 100.0f);
  bool acknowledged_ = false;
};

// Open a file of some layout (with its summary file beside it) through the
// read context and through a reader; every query, every record one by one
// and as blocks; close. Delivered records must be the file's.
class Read : public Scenario {
 public:
  Read(std::string rvx, std::string rvi) : rvx_(std::move(rvx)), rvi_(std::move(rvi)) {}

  void setUp() override {
    ASSERT_TRUE(memory::putFile(kRvx, rvx_));
    if (!rvi_.empty()) {
      ASSERT_TRUE(memory::putFile(kRvi, rvi_));
    }
  }

  void run() override {
    oneByOne_.clear();
    block_.clear();
    readerBlock_.clear();
    if (KDRVX_OpenRead(c(kRvx)) == KDRVX_OK) {
      channels_ = KDRVX_GetNoChannels();
      KDRVX_CHAR text[KDRVX_COMMENT_CAPACITY];
      KDRVX_GetComment(text, KDRVX_COMMENT_CAPACITY);
      KDRVX_GetChannelName(text, 0, KDRVX_COMMENT_CAPACITY);
      oneByOne_ = readOneByOne(channels_);
      KDRVX_CloseRead();
    }
    // The block reader goes on from where the last read ended: a file of
    // its own.
    if (KDRVX_OpenRead(c(kRvx)) == KDRVX_OK) {
      block_ = readBlock([](int64_t first, uint32_t count, float* out) {
        return KDRVX_ReadRecords(first, count, out);
      });
      KDRVX_CloseRead();
    }
    KDRVX_Reader* reader = nullptr;
    if (KDRVX_ReaderOpen(c(kRvx), &reader) == KDRVX_OK) {
      KDRVX_RecordingInfo info{};
      info.size = sizeof info;
      KDRVX_ReaderInfo(reader, &info);
      readerBlock_ = readBlock([reader](int64_t first, uint32_t count, float* out) {
        return KDRVX_ReaderRead(reader, first, count, out);
      });
      KDRVX_ReaderClose(reader);
    }
  }

  void check(Fault) override {
    if (reference_.empty()) {  // the first run knows no fault yet: it is the reference
      reference_ = oneByOne_;
      referenceBlock_ = block_;
      referenceReaderBlock_ = readerBlock_;
      ASSERT_FALSE(reference_.empty()) << "the file reads no records";
    }
    EXPECT_TRUE(isPrefix(oneByOne_, reference_)) << "a record read one by one is not the file's";
    EXPECT_TRUE(isPrefix(block_, referenceBlock_)) << "a block read is not the file's";
    EXPECT_TRUE(isPrefix(readerBlock_, referenceReaderBlock_))
        << "a reader's block is not the file's";
    EXPECT_EQ(memory::fileBytes(kRvx), rvx_) << "reading changed the file";
    if (!rvi_.empty()) {
      EXPECT_EQ(memory::fileBytes(kRvi), rvi_);
    }
  }

  // Fault-free run first, for the reference.
  void reference() {
    startEmpty();
    setUp();
    run();
    check(Fault::Error);
  }

 private:
  template <typename ReadRecords>
  Records readBlock(ReadRecords readRecords) {
    Records out;
    if (channels_ == 0) return out;
    std::vector<float> buffer(size_t{4} * channels_);
    for (int64_t got = 4; got == 4;) {
      got = readRecords(static_cast<int64_t>(out.size()), 4, buffer.data());
      for (int64_t r = 0; r < got; ++r)
        out.emplace_back(buffer.begin() + r * channels_, buffer.begin() + (r + 1) * channels_);
    }
    return out;
  }

  std::string rvx_, rvi_;
  uint32_t channels_ = 0;
  Records oneByOne_, block_, readerBlock_, reference_, referenceBlock_, referenceReaderBlock_;
};

// Deleting a file that a reader holds (refused), then deleting it.
class Delete : public Scenario {
 public:
  void setUp() override {
    putFinishedFile(rows(2, kChannels, 3.0f));
    original_ = *memory::fileBytes(kRvx);
  }
  void run() override {
    KDRVX_Reader* reader = nullptr;
    if (KDRVX_ReaderOpen(c(kRvx), &reader) == KDRVX_OK) {
      KDRVX_DeleteFile(c(kRvx));
      held_ = memory::fileBytes(kRvx);
      KDRVX_ReaderClose(reader);
    }
    KDRVX_DeleteFile(c(kRvx));
  }
  void check(Fault) override {
    EXPECT_TRUE(!held_ || held_ == original_) << "a held file was deleted or changed";
    const auto left = memory::fileBytes(kRvx);
    EXPECT_TRUE(!left || left == original_) << "a failed deletion changed the file";
  }

 private:
  std::string original_;
  std::optional<std::string> held_;
};

// Record writer rules W1, W3, W4, W5: every acknowledged record intact where
// it belongs, the file opens, no part of a header is left.
TEST(Faults, Create) {
  Create current(false);
  failEveryCallEveryWay(current);
}

// W1, W3, W4, W5 with the compact header image.
TEST(Faults, CreateCompactWithSummaryFile) {
  Create compact(true);
  failEveryCallEveryWay(compact);
}

// The same for a live recording, whose update keeps the file and whose
// close writes the summary file before it lets go of the recording.
TEST(Faults, CreateLive) {
  for (const bool compact : {false, true}) {
    Create live(compact, true);
    failEveryCallEveryWay(live);
  }
}

// W1, W3, W5 for the modify context's target: the records before the
// appended ones stay intact, and those acknowledged follow them.
TEST(Faults, Modify) {
  Modify modify;
  failEveryCallEveryWay(modify);
}

// W1, W3, W4, W10: a block in pieces (the count wraps within it).
TEST(Faults, ModifyCountWrapsWithinABlock) {
  ModifyCountWraps wraps;
  failEveryCallEveryWay(wraps);
}

// No record writer rule: deletion under faults.
TEST(Faults, Delete) {
  Delete remove;
  failEveryCallEveryWay(remove);
}

// No record writer rule: the read path under faults.
TEST(Faults, ReadEveryLayout) {
  TestRecording described = recording('s', 3);
  described.comment = u"read under faults";
  TestRecording compact = recording('A', 3);
  compact.comment = u"compact";
  TestRecording sparse = recording('R', 3);
  sparse.channels[1].indRate = 2;
  sparse.records = 8;
  const std::vector<std::vector<DosValue>> dosRows = {{{1, 0}, {2, 1}}, {{3, 2}, {4, 0}}};
  const std::vector<TestChannel> two(2);
  struct Case {
    const char* name;
    std::string rvx, rvi;
  };
  const Case cases[] = {
      {"current", currentHeader(described) + floatRecords(rows(9, 3, 0.25f)), {}},
      {"WIN 6.x", win6Header(recording(96, 2)) + floatRecords(rows(5, 2, 2.0f)), {}},
      {"compact with a German summary file", win3Header(compact) + floatRecords(rows(6, 3, 4.0f)),
       encodeRvi(rviText(compact, RviLanguage::German), RviEncoding::Latin1)},
      {"compact with a French UTF-16 summary file",
       win3Header(recording(64, 2)) + floatRecords(rows(4, 2, 5.0f)),
       encodeRvi(rviText(recording(64, 2), RviLanguage::French), RviEncoding::Utf16WithBom)},
      {"WIN 2.x sparse", win2Header(sparse) + sparseRecords(sparse.channels, rows(8, 3, 7.0f)), {}},
      {"DOS kind P", dosKindPHeader(400, 3, 20, two) + floatRecords(rows(3, 2, 8.0f)), {}},
      {"DOS before 5.0", dosBefore50Header(100, two) + dosRecords(dosRows), {}},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.name);
    Read read(each.rvx, each.rvi);
    read.reference();
    failEveryCallEveryWay(read);
  }
}

// A read of the records that the system fails is an error with the
// system's reason at every reader, never the end of the data: the read
// context's readers, a reader's block and statistics, and the check.
TEST(Faults, FailedReadOfTheRecordsIsNoEndOfData) {
  TestRecording current = recording('s', 3);
  current.records = 9;
  TestRecording sparse = recording('R', 3);
  sparse.channels[1].indRate = 2;
  sparse.records = 8;
  const std::vector<TestChannel> two(2);
  const std::vector<std::vector<DosValue>> dosRows = {{{1, 0}, {2, 1}}, {{3, 2}, {4, 0}}};
  struct Case {
    const char* name;
    std::string rvx;
    bool floats;  // KDRVX_ReadRecords reads it
  };
  const Case cases[] = {
      {"current", currentHeader(current) + floatRecords(rows(9, 3, 0.25f)), true},
      {"WIN 2.x sparse", win2Header(sparse) + sparseRecords(sparse.channels, rows(8, 3, 7.0f)),
       false},
      {"DOS before 5.0", dosBefore50Header(100, two) + dosRecords(dosRows), false},
  };
  const std::string ioError = "KDrvxLibrary: Error 0x0000045D";  // ERROR_IO_DEVICE, 1117
  const int64_t openRead = static_cast<int32_t>(KDRVX_ERR_RVX_OPEN_READ);
  for (const Case& each : cases) {
    for (const Fault fault : {Fault::Error, Fault::Short}) {
      SCOPED_TRACE(std::string(each.name) + (fault == Fault::Short ? ", short read" : ""));
      startEmpty();
      ASSERT_TRUE(memory::putFile(kRvx, each.rvx));
      std::vector<float> record(8);

      // The read context: the status, the reason traced, the last error kept.
      TraceCapture trace;
      setMaskQuietly(trace, KDRVX_DEBUG_ERRORS);
      ASSERT_EQ(KDRVX_OpenRead(c(kRvx)), KDRVX_OK);
      memory::armFault(memory::calls() + 1, fault);
      EXPECT_EQ(KDRVX_ReadFirstRecord(record.data()), KDRVX_ERR_RVX_OPEN_READ);
      memory::armFault(memory::calls() + 1, fault);
      EXPECT_EQ(KDRVX_ReadNextRecord(record.data()), KDRVX_ERR_RVX_OPEN_READ);
      EXPECT_EQ(trace.narrowLines(), std::vector<std::string>(2, ioError));
      EXPECT_EQ(KDRVX_GetLastError(), KDRVX_OK);
      if (each.floats) {
        memory::armFault(memory::calls() + 1, fault);
        EXPECT_EQ(KDRVX_ReadRecords(0, 2, record.data()), openRead);
      }
      KDRVX_CloseRead();

      // A reader: the status, and the system's reason kept for the reader.
      KDRVX_Reader* reader = nullptr;
      const uint64_t beforeOpen = memory::calls();
      ASSERT_EQ(KDRVX_ReaderOpen(c(kRvx), &reader), KDRVX_OK);
      const uint64_t openCalls = memory::calls() - beforeOpen;
      uint32_t reason = 0;
      memory::armFault(memory::calls() + 1, fault);
      EXPECT_EQ(KDRVX_ReaderRead(reader, 0, 2, record.data()), openRead);
      EXPECT_EQ(KDRVX_ReaderSystemError(reader, &reason), KDRVX_OK);
      EXPECT_EQ(reason, 1117u);
      KDRVX_WindowStatistics statistics[3] = {};
      for (KDRVX_WindowStatistics& channel : statistics) channel.size = sizeof channel;
      memory::armFault(memory::calls() + 1, fault);
      EXPECT_EQ(KDRVX_ReaderStatistics(reader, 0, 100, statistics, 3, nullptr, nullptr),
                KDRVX_ERR_RVX_OPEN_READ);
      EXPECT_EQ(KDRVX_ReaderSystemError(reader, &reason), KDRVX_OK);
      EXPECT_EQ(reason, 1117u);
      // Read again without a fault, the records are there and the reason gone.
      EXPECT_EQ(KDRVX_ReaderRead(reader, 0, 2, record.data()), 2);
      EXPECT_EQ(KDRVX_ReaderSystemError(reader, &reason), KDRVX_OK);
      EXPECT_EQ(reason, 0u);
      KDRVX_ReaderClose(reader);

      // The check: the first call after its open is a read of the records.
      KDRVX_CheckReport report{};
      report.size = sizeof report;
      memory::armFault(memory::calls() + openCalls + 1, Fault::Persistent);
      EXPECT_EQ(KDRVX_Check(c(kRvx), &report, nullptr, 0, nullptr, nullptr),
                KDRVX_ERR_RVX_OPEN_READ);
      memory::armFault(0, fault);
      EXPECT_EQ(report.openStatus, KDRVX_OK);
      EXPECT_EQ(report.systemError, 1117u);
      EXPECT_EQ(report.recordsRead, 0u);
      EXPECT_EQ(report.claims.findings & KDRVX_FINDING_STATISTICS_DIFFER, 0u);
      EXPECT_EQ(memory::fileBytes(kRvx), each.rvx) << "reading changed the file";
      expectNothingStuck();
    }
  }
}

// The memory layer keeps the rules of the POSIX layer (tests/platform_test.cpp,
// tests/posix/): sharing, refusals and their error numbers, lengths.
// No record writer rule: the memory layer's own.
TEST(MemoryLayer, SharingRefusalsAndLengths) {
  using platform::File;
  using platform::OpenMode;
  startEmpty();
  ASSERT_TRUE(memory::putFile(kRvx, "shared"));
  expectSharingRules(kRvx.c_str(), [] {
    EXPECT_FALSE(platform::removeFile(kRvx.c_str())) << "a held file is removed";
    EXPECT_EQ(platform::lastError(), platform::kErrorSharingViolation);
  });

  ASSERT_TRUE(memory::putFile(u"/f/ro.rvx", "r", true));
  ASSERT_TRUE(memory::makeDirectory(u"/f/d"));
  struct Refusal {
    const char16_t* path;
    OpenMode mode;
    uint32_t error;
  };
  const Refusal refusals[] = {
      {u"/f/none.rvx", OpenMode::ReadShared, platform::kErrorFileNotFound},
      {u"/f/none.rvx", OpenMode::OpenReadWrite, platform::kErrorFileNotFound},
      {u"/none/x.rvx", OpenMode::CreateReadWrite, platform::kErrorPathNotFound},
      {u"/f/a.rvx/x", OpenMode::ReadShared, platform::kErrorPathNotFound},
      {u"/f/d", OpenMode::ReadShared, platform::kErrorAccessDenied},
      {u"/f/d", OpenMode::CreateReadWrite, platform::kErrorAccessDenied},
      {u"/f/ro.rvx", OpenMode::OpenReadWrite, platform::kErrorAccessDenied},
      {u"/f/ro.rvx", OpenMode::CreateReadWrite, platform::kErrorAccessDenied},
      {u"/f/ro.rvx", OpenMode::CreateNew, platform::kErrorFileExists},
      {u"/f/d", OpenMode::CreateNew, platform::kErrorFileExists},
      {u"/none/x.rvx", OpenMode::CreateNew, platform::kErrorPathNotFound},
      {u"", OpenMode::ReadShared, platform::kErrorPathNotFound},
      {u"/f/\xD800x", OpenMode::CreateReadWrite, platform::kErrorInvalidName},
  };
  for (const Refusal& each : refusals) {
    File file;
    EXPECT_FALSE(file.open(each.path, each.mode)) << narrow(each.path);
    EXPECT_EQ(platform::lastError(), each.error) << narrow(each.path);
  }
  for (const char16_t* kept : {u"/f/ro.rvx", u"/f/d", u"/f/none.rvx"})
    EXPECT_FALSE(platform::removeFile(kept));
  EXPECT_TRUE(memory::exists(u"/f/ro.rvx"));

  // Extension with zeros, truncation, positions, and a read-only opener.
  File file;
  ASSERT_TRUE(file.open(u"/f/z.rvx", OpenMode::CreateReadWrite));
  ASSERT_TRUE(file.write("abc", 3));
  ASSERT_TRUE(file.truncate(6));
  ASSERT_TRUE(file.seekFromEnd(1));
  ASSERT_TRUE(file.write("e", 1));
  EXPECT_EQ(memory::fileBytes(u"/f/z.rvx"), std::string("abc\0\0\0\0e", 8));
  ASSERT_TRUE(file.truncate(2));
  EXPECT_EQ(file.length(), 2);
  EXPECT_FALSE(file.seekFromStart(-1));
  EXPECT_FALSE(file.seekFromEnd(-3));
  file.close();
  ASSERT_TRUE(file.open(u"f/z.rvx", OpenMode::ReadExclusive)) << "a relative name is rooted";
  EXPECT_EQ(file.lengthAtOpen(), 2);
  EXPECT_FALSE(file.write("x", 1));
  EXPECT_FALSE(file.truncate(0));
  file.close();
  EXPECT_TRUE(platform::removeFile(u"/f/z.rvx"));
  EXPECT_FALSE(memory::exists(u"/f/z.rvx"));
}

// The fuzz corpora and regression inputs replayed over the memory layer: the
// harnesses' promises hold there as on disk.
void failTest(const char* description) { ADD_FAILURE() << description; }

TEST(MemoryLayer, FuzzCorporaKeepTheirPromises) {
  fuzz::setFailureHandler(failTest);
  const struct {
    const char* name;
    void (*run)(const uint8_t*, size_t);
  } targets[] = {{"open_read", fuzz::runOpenRead}, {"api_sequence", fuzz::runApiSequence}};
  size_t inputs = 0;
  for (const auto& target : targets) {
    for (const char* root : {KDRVX_FUZZ_CORPUS_DIR, KDRVX_REGRESSION_DIR}) {
      const std::filesystem::path folder = std::filesystem::path(root) / target.name;
      if (!std::filesystem::is_directory(folder)) continue;
      for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        SCOPED_TRACE(entry.path().string());
        target.run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        ++inputs;
      }
    }
  }
  fuzz::setFailureHandler(nullptr);
  EXPECT_GT(inputs, 100u);
  EXPECT_EQ(memory::openFiles(), 0u);
}

}  // namespace
}  // namespace kdrvx::test
