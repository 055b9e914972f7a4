// Independent readers against the read context: for files of every layout
// and record kind, damaged ones and the fuzz inputs, a reader reports what
// the queries report and delivers what the one-by-one readers deliver, in
// blocks of any size and from any record. Readers leave the module state
// alone, and any number of them read at once, from eight threads; handles
// of no open reader are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "harness_support.h"
#include "recordings.h"
#include "support/reader_support.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

using Floats = std::vector<float>;

template <typename T>
bool sameBytes(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

bool sameBytes(const Floats& a, const Floats& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

// The reader and the context agree on everything about `path`, and the
// reader delivers the same records in small blocks and out of order.
void expectSameAsContext(const std::filesystem::path& path) {
  const Report expected = contextReport(path);
  const Report got = readerReport(path);
  ASSERT_EQ(got.status, expected.status);
  if (expected.status != KDRVX_OK) return;
  // The read context has no query for the start as a number.
  KDRVX_RecordingInfo unstarted = got.info;
  unstarted.startKnown = 0;
  unstarted.startSeconds = 0;
  EXPECT_TRUE(sameBytes(unstarted, expected.info));
  ASSERT_EQ(got.channels.size(), expected.channels.size());
  for (size_t k = 0; k < got.channels.size(); ++k) {
    // The read context has no query for the label.
    KDRVX_ChannelInfo unlabelled = got.channels[k];
    std::memset(unlabelled.label, 0, sizeof unlabelled.label);
    EXPECT_TRUE(sameBytes(unlabelled, expected.channels[k])) << "channel " << k;
  }
  ASSERT_EQ(got.count, expected.count);
  EXPECT_TRUE(sameBytes(got.records, expected.records));

  KDRVX_Reader* reader = nullptr;
  ASSERT_EQ(KDRVX_ReaderOpen(c(widePath(path)), &reader), KDRVX_OK);
  const uint32_t channels = got.info.recordSize / 4;
  EXPECT_TRUE(sameBytes(readInBlocks(reader, 7, channels), expected.records));
  // Backwards, a few records from each start.
  const uint64_t n = expected.count;
  Floats block(3 * size_t{channels});
  for (const uint64_t first : {n - 1, n * 3 / 4, n / 2, n / 4, uint64_t{1}, uint64_t{0}}) {
    if (first >= n) continue;
    const int64_t count = KDRVX_ReaderRead(reader, static_cast<int64_t>(first), 3, block.data());
    const uint64_t whole = std::min<uint64_t>(3, n - first);
    if (n < kRecordLimit || whole == 3) {
      ASSERT_EQ(count, static_cast<int64_t>(whole)) << first;
    }
    const auto from = expected.records.begin() + static_cast<ptrdiff_t>(first * channels);
    EXPECT_TRUE(sameBytes(Floats(block.begin(), block.begin() + count * channels),
                          Floats(from, from + count * channels)))
        << "from record " << first;
  }
  if (n < kRecordLimit && channels > 0) {
    EXPECT_EQ(KDRVX_ReaderRead(reader, static_cast<int64_t>(n), 3, block.data()), 0);
    EXPECT_EQ(KDRVX_ReaderRead(reader, static_cast<int64_t>(n) + 1000, 3, block.data()), 0);
  }
  KDRVX_ReaderClose(reader);
}

class Readers : public ::testing::Test {
 protected:
  std::filesystem::path write(const std::string& name, const std::string& bytes) {
    writeBytes(dir.file(name), bytes);
    return dir.file(name);
  }
  ScratchDir dir;
};

std::vector<std::vector<float>> rows(size_t records, size_t channels, float scale = 1) {
  std::vector<std::vector<float>> all(records, std::vector<float>(channels));
  for (size_t r = 0; r < records; ++r)
    for (size_t k = 0; k < channels; ++k) all[r][k] = scale * (r * 100 + k) + 0.25f;
  return all;
}

std::vector<std::vector<DosValue>> dosRows(size_t records, size_t channels) {
  std::vector<std::vector<DosValue>> all(records, std::vector<DosValue>(channels));
  for (size_t r = 0; r < records; ++r)
    for (size_t k = 0; k < channels; ++k)
      all[r][k] = {static_cast<int16_t>(r * 37 - k * 1000), static_cast<uint16_t>((r + k) % 5)};
  return all;
}

TestRecording described(uint8_t version, size_t channels) {
  TestRecording r = recording(version, channels);
  r.comment = u"first run", r.company = u"ACME", r.instrument = u"Logger 7";
  r.snrInstrument = u"0815", r.nameMeasurement = u"Run 4", r.triggerSetting = u"p1 > 2 bar";
  r.records = 4, r.triggerRecord = 3, r.flagStatistics = 1, r.second = 42;
  for (size_t k = 0; k < channels; ++k) {
    TestChannel& ch = r.channels[k];
    ch.letter = u"pTF"[k % 3], ch.index = static_cast<int8_t>(k + 1);
    ch.unit = k == 1 ? u"\u00c2\u00b0C" : u"bar";
    ch.indRate = 1 + k % 3, ch.min = -1.5f * k, ch.max = 2.5f * k + 1, ch.mean = 0.5f;
    ch.rms = 0.75f, ch.sdev = 0.125f, ch.multiChannel = k == 2 ? 200 : 0;
    ch.isds = k % 2, ch.linearisation = k % 3 == 0;
    ch.name = u"channel", ch.number = u"7", ch.signalType = u"4-20 mA";
    ch.zeroPoint = u"0", ch.calParameter = u"0..10 bar", ch.filter = u"10 Hz";
    ch.lintab = u"\u00c2\u00b00,0;1,1";
  }
  return r;
}

TEST_F(Readers, ReportAndDeliverWhatTheReadContextDoesForEveryLayout) {
  TestRecording sparse = recording('R', 4);
  sparse.channels[1].indRate = 2, sparse.channels[2].indRate = 3, sparse.channels[3].indRate = 0;
  TestRecording sparseGaps = recording('R', 2);
  sparseGaps.channels[0].indRate = 3, sparseGaps.channels[1].indRate = 5;
  TestRecording notOriginalR = described('R', 2);
  notOriginalR.originalFlag = 'X';
  TestRecording badDate = described(64, 2);
  badDate.month = 13;
  TestChannel p1;
  const std::vector<TestChannel> three(3);
  auto dosMarked = dosRows(20, 3);
  dosMarked[4][0].decimals = 11;       // rejected: NaN
  dosMarked[9][0].decimals = 400;      // rejected
  dosMarked[12][0].decimals = 0xFFF0;  // not above 10 as a signed number
  dosMarked[15][0].decimals = 0xFFFF;  // the end of the data

  struct Case {
    const char* name;
    std::string bytes;
    std::string rvi;  // beside the file when not empty
  };
  const Case cases[] = {
      {"current", currentHeader(described('s', 3)) + floatRecords(rows(50, 3)) + "\x01\x02", {}},
      {"current, 48 channels", currentHeader(described('s', 48)) + floatRecords(rows(9, 48)), {}},
      {"current, no records", currentHeader(described('s', 2)), {}},
      {"WIN 6.x", win6Header(described(96, 2)) + floatRecords(rows(11, 2)), {}},
      {"WIN 3.x with an RVI file", win3Header(described('A', 3)) + floatRecords(rows(6, 3)),
       encodeRvi(rviText(described('A', 3), RviLanguage::German), RviEncoding::Latin1)},
      {"compact, implausible date, French RVI", win3Header(badDate) + floatRecords(rows(5, 2)),
       encodeRvi(rviText(badDate, RviLanguage::French), RviEncoding::Utf16WithBom)},
      {"WIN 3.x, version R", win3Header(notOriginalR) + floatRecords(rows(8, 2)), {}},
      {"WIN 2.x, whole records", win2Header(described(0, 2)) + floatRecords(rows(7, 2)), {}},
      {"WIN 2.x, sparse, cut short",
       win2Header(sparse) + sparseRecords(sparse.channels, rows(40, 4)) + "\x01\x02\x03\x04",
       {}},
      {"WIN 2.x, records that store nothing",
       win2Header(sparseGaps) + sparseRecords(sparseGaps.channels, rows(31, 2)),
       {}},
      {"DOS kind P", dosKindPHeader(400, 6, 20, {p1, p1}) + floatRecords(rows(6, 2)), {}},
      {"DOS kind Q", dosKindQHeader(32, 12, 2) + dosRecords(dosRows(12, 2)) + "\x05", {}},
      {"DOS kind Q without channels", dosKindQHeader(30, 0, 0) + "some data bytes", {}},
      {"DOS before 5.0, rejected records and an end mark",
       dosBefore50Header(100, three) + dosRecords(dosMarked),
       {}},
      {"DOS before 5.0, end mark first",
       dosBefore50Header(100, three) + dosRecords({{{1, 0xFFFF}, {1, 1}, {1, 1}}}) +
           dosRecords(dosRows(3, 3)),
       {}},
      {"header cut short", currentHeader(described('s', 3)).substr(0, 700), {}},
      {"newer version", currentHeader(recording('t', 1)) + floatRecords(rows(2, 1)), {}},
      {"empty file", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = std::string("r") + std::to_string(&c - cases) + ".rvx";
    const std::filesystem::path path = write(name, c.bytes);
    if (!c.rvi.empty()) write(name.substr(0, name.size() - 3) + "RVI", c.rvi);
    expectSameAsContext(path);
  }
  SCOPED_TRACE("no such file");
  expectSameAsContext(dir.file("missing.rvx"));
}

// Every channel goes by one name in exported data: its variable, "ch_N"
// without one, and a name taken before gets the channel's number appended.
TEST_F(Readers, LabelEveryChannelByOneUniqueName) {
  TestRecording named = recording('s', 5);
  named.channels[2].letter = 0;  // no variable
  named.channels[3].letter = u'c', named.channels[3].prefix = 0, named.channels[3].index = 1;
  const struct {
    const char* name;
    std::string bytes;
    std::vector<std::u16string> labels;
  } cases[] = {
      {"DOS kind Q", dosKindQHeader(32, 1, 3) + dosRecords(dosRows(1, 3)),
       {u"ch_0", u"ch_1", u"ch_2"}},
      {"current, repeated variables", currentHeader(named),
       {u"p1", u"p1_1", u"ch_2", u"c1", u"p1_4"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Report got = readerReport(write(std::string(c.name) + ".rvx", c.bytes));
    ASSERT_EQ(got.channels.size(), c.labels.size());
    for (size_t k = 0; k < c.labels.size(); ++k)
      EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(got.channels[k].label)),
                c.labels[k])
          << "channel " << k;
  }
}

// The fuzz inputs of the open_read target: an RVX file, and its RVI file
// when bit 0 of the mode is set.
size_t compareOpenReadInputs(const std::filesystem::path& inputs, const ScratchDir& dir) {
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(inputs)) {
    SCOPED_TRACE(entry.path().filename().string());
    const std::string bytes = readBytes(entry.path());
    fuzz::Input input(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    const uint8_t mode = input.u8();
    const uint32_t length = input.u32();
    input.u8();
    const std::string rvx = input.bytes(length);
    const std::string name = "in" + std::to_string(count++) + ".rvx";
    writeBytes(dir.file(name), rvx);
    if (mode & 1) writeBytes(dir.file(name.substr(0, name.size() - 3) + "RVI"), input.rest());
    expectSameAsContext(dir.file(name));
  }
  return count;
}

TEST_F(Readers, AgreeWithTheReadContextOnTheFuzzInputs) {
  EXPECT_GT(compareOpenReadInputs(std::filesystem::path(KDRVX_REGRESSION_DIR) / "open_read", dir),
            0u);
#ifdef KDRVX_FUZZ_CORPUS_SCRIPT
  const ScratchDir seeds;
  std::string command;
  for (const std::string& part : {std::string(KDRVX_PYTHON), std::string(KDRVX_FUZZ_CORPUS_SCRIPT),
                                  std::string(KDRVX_MAKE_TEST_RECORDING), seeds.path().string()})
    command += "'" + part + "' ";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_GT(compareOpenReadInputs(seeds.path() / "open_read", dir), 50u);
#endif
}

TEST_F(Readers, LeaveTheModuleStateAloneAndReadBesideTheReadContext) {
  const auto current = write("a.rvx", currentHeader(described('s', 2)) + floatRecords(rows(5, 2)));
  const auto dos = write(
      "b.rvx", dosBefore50Header(100, std::vector<TestChannel>(3)) + dosRecords(dosRows(4, 3)));
  ASSERT_EQ(KDRVX_OpenRead(c(widePath(current))), KDRVX_OK);
  const uint32_t version = KDRVX_GetVersion();
  KDRVX_OpenRead(c(widePath(current)));  // refused: still open
  TraceCapture capture;
  setMaskQuietly(
      capture, static_cast<int16_t>(KDRVX_DEBUG_ERRORS | KDRVX_DEBUG_CALLS | KDRVX_DEBUG_DETAILS));

  KDRVX_Reader* readers[3] = {};
  ASSERT_EQ(KDRVX_ReaderOpen(c(widePath(dos)), &readers[0]), KDRVX_OK);
  ASSERT_EQ(KDRVX_ReaderOpen(c(widePath(current)), &readers[1]), KDRVX_OK);
  EXPECT_EQ(KDRVX_ReaderOpen(c(dir.wide("missing.rvx")), &readers[2]), KDRVX_ERR_RVX_OPEN_READ);
  KDRVX_RecordingInfo info{};
  info.size = sizeof info;
  EXPECT_EQ(KDRVX_ReaderInfo(readers[0], &info), KDRVX_OK);
  EXPECT_EQ(info.version, 0u);
  Floats records(12);
  EXPECT_EQ(KDRVX_ReaderRead(readers[0], 1, 4, records.data()), 3);
  EXPECT_EQ(KDRVX_ReaderRead(readers[1], 3, 4, records.data()), 2);
  EXPECT_EQ(records[0], 300.25f);
  // Misuse is refused with a status, and still leaves everything alone.
  const int64_t parameter = static_cast<int32_t>(KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  EXPECT_EQ(KDRVX_ReaderRead(readers[1], -1, 1, records.data()), parameter);
  EXPECT_EQ(KDRVX_ReaderRead(readers[1], 0, 1, nullptr), parameter);
  EXPECT_EQ(KDRVX_ReaderRead(nullptr, 0, 1, records.data()),
            static_cast<int32_t>(KDRVX_ERR_RVX_NOT_OPEN_READ));
  EXPECT_EQ(KDRVX_ReaderInfo(readers[1], nullptr), KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  KDRVX_ChannelInfo channel{};
  channel.size = sizeof channel;
  EXPECT_EQ(KDRVX_ReaderChannel(readers[1], -1, &channel), KDRVX_ERR_RVX_CHN_UNKNOWN);
  EXPECT_EQ(KDRVX_ReaderChannel(readers[1], 2, &channel), KDRVX_ERR_RVX_CHN_UNKNOWN);
  EXPECT_EQ(KDRVX_ReaderOpen(c(widePath(dos)), nullptr), KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  // A caller built with a smaller struct gets only what it has room for.
  KDRVX_RecordingInfo older;
  std::memset(&older, 0x5A, sizeof older);
  older.size = offsetof(KDRVX_RecordingInfo, scanRate);
  EXPECT_EQ(KDRVX_ReaderInfo(readers[1], &older), KDRVX_OK);
  EXPECT_EQ(older.noChannels, 2u);
  EXPECT_EQ(older.scanRate, int64_t{0x5A5A5A5A5A5A5A5A});
  for (KDRVX_Reader* reader : readers) KDRVX_ReaderClose(reader);

  EXPECT_TRUE(capture.lines().empty()) << capture.narrowLines().front();
  EXPECT_EQ(KDRVX_GetLastError(), KDRVX_ERR_RVX_STILL_OPEN_READ);
  EXPECT_EQ(KDRVX_GetVersion(), version);
  EXPECT_EQ(KDRVX_ReadFirstRecord(records.data()), 0u);
  EXPECT_EQ(records[1], 1.25f);
  KDRVX_CloseRead();
}

TEST_F(Readers, EightThreadsReadWhatOneThreadReads) {
  TestRecording sparse = recording('R', 3);
  sparse.channels[1].indRate = 2, sparse.channels[2].indRate = 7;
  const std::filesystem::path files[] = {
      write("t0.rvx", currentHeader(described('s', 4)) + floatRecords(rows(3000, 4))),
      write("t1.rvx",
            dosBefore50Header(100, std::vector<TestChannel>(3)) + dosRecords(dosRows(2000, 3))),
      write("t2.rvx", win2Header(sparse) + sparseRecords(sparse.channels, rows(2500, 3))),
      write("t3.rvx", win3Header(described('A', 2)) + floatRecords(rows(1000, 2, -1))),
  };
  std::vector<Floats> expected;
  for (const auto& file : files) expected.push_back(readerReport(file).records);

  // Thread t reads file t % 4 and file 0, each through a reader of its own,
  // in blocks of a size of its own, forward and then backward.
  constexpr int kThreads = 8;
  std::vector<Floats> forward(kThreads), backward(kThreads), shared(kThreads);
  const auto work = [&](int t) {
    const auto open = [](const std::filesystem::path& path) {
      KDRVX_Reader* reader = nullptr;
      KDRVX_ReaderOpen(c(widePath(path)), &reader);
      return reader;
    };
    KDRVX_Reader* own = open(files[t % 4]);
    KDRVX_Reader* first = open(files[0]);
    if (own == nullptr || first == nullptr) return;
    KDRVX_RecordingInfo info{};
    info.size = sizeof info;
    KDRVX_ReaderInfo(own, &info);
    const uint32_t channels = info.recordSize / 4;
    const uint32_t block = 37 * (t + 1);
    forward[t] = readInBlocks(own, block, channels);
    shared[t] = readInBlocks(first, block + 1, 4);
    const int64_t records = static_cast<int64_t>(forward[t].size() / channels);
    backward[t].resize(forward[t].size());
    for (int64_t at = records; at > 0;) {
      const auto wanted = static_cast<uint32_t>(std::min<int64_t>(at, block));
      at -= wanted;
      KDRVX_ReaderRead(own, at, wanted, backward[t].data() + at * channels);
    }
    KDRVX_ReaderClose(own);
    KDRVX_ReaderClose(first);
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    SCOPED_TRACE("thread " + std::to_string(t));
    EXPECT_TRUE(sameBytes(forward[t], expected[t % 4]));
    EXPECT_TRUE(sameBytes(backward[t], expected[t % 4]));
    EXPECT_TRUE(sameBytes(shared[t], expected[0]));
  }
}

// Readers of one older file opened from eight threads, and the read
// context's opens of it beside them: the library's own opens of its RVI file
// never refuse each other, so every open has the RVI texts.
TEST_F(Readers, ThreadsOpeningOneOlderFileAllReadItsRviFile) {
  const TestRecording r = described(64, 2);
  const auto path = write("old.rvx", win3Header(r) + floatRecords(rows(4, 2)));
  write("old.RVI", encodeRvi(rviText(r, RviLanguage::German), RviEncoding::Latin1));
  const auto texts = [](const KDRVX_RecordingInfo& info) {
    return std::u16string(reinterpret_cast<const char16_t*>(info.company)) + u"/" +
           reinterpret_cast<const char16_t*>(info.instrument);
  };
  constexpr int kThreads = 8, kOpens = 80, kContextOpens = 150;
  std::vector<int> without(kThreads);
  const auto work = [&](int t) {
    for (int i = 0; i < kOpens; ++i) {
      KDRVX_Reader* reader = nullptr;
      KDRVX_RecordingInfo info{};
      info.size = sizeof info;
      if (KDRVX_ReaderOpen(c(widePath(path)), &reader) != KDRVX_OK ||
          KDRVX_ReaderInfo(reader, &info) != KDRVX_OK || texts(info) != u"ACME/Logger 7")
        ++without[t];
      KDRVX_ReaderClose(reader);
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
  int contextWithout = 0;
  for (int i = 0; i < kContextOpens; ++i) {
    KDRVX_CHAR company[64] = {};
    if (KDRVX_OpenRead(c(widePath(path))) != KDRVX_OK ||
        KDRVX_GetCompany(company, 64) != KDRVX_OK ||
        std::u16string(reinterpret_cast<const char16_t*>(company)) != u"ACME")
      ++contextWithout;
    KDRVX_CloseRead();
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(without[t], 0) << "thread " << t;
  EXPECT_EQ(contextWithout, 0);
}

// A handle that is no open reader's is refused by every reader function and
// ignored by the close, however it came about: closed once already, closed
// and its memory taken by a later reader, or pointing at anything else. It
// never reads the later reader's file.
TEST_F(Readers, HandlesOfNoOpenReaderAreRefused) {
  const auto a = write("a.rvx", currentHeader(described('s', 2)) + floatRecords(rows(5, 2)));
  const auto b = write("b.rvx", currentHeader(described('s', 3)) + floatRecords(rows(4, 3)));
  KDRVX_Reader* closed = nullptr;
  ASSERT_EQ(KDRVX_ReaderOpen(c(widePath(a)), &closed), KDRVX_OK);
  KDRVX_ReaderClose(closed);
  KDRVX_ReaderClose(closed);
  KDRVX_Reader* later = nullptr;
  ASSERT_EQ(KDRVX_ReaderOpen(c(widePath(b)), &later), KDRVX_OK);
  EXPECT_NE(later, closed);
  uint64_t memory[64] = {};
  KDRVX_Reader* arbitrary = reinterpret_cast<KDRVX_Reader*>(memory);

  Floats records(16);
  for (KDRVX_Reader* handle : {closed, arbitrary}) {
    KDRVX_RecordingInfo info{};
    info.size = sizeof info;
    KDRVX_ChannelInfo channel{};
    channel.size = sizeof channel;
    KDRVX_Findings findings{};
    findings.size = sizeof findings;
    EXPECT_EQ(KDRVX_ReaderInfo(handle, &info), KDRVX_ERR_RVX_NOT_OPEN_READ);
    EXPECT_EQ(KDRVX_ReaderChannel(handle, 0, &channel), KDRVX_ERR_RVX_NOT_OPEN_READ);
    EXPECT_EQ(KDRVX_ReaderFindings(handle, &findings), KDRVX_ERR_RVX_NOT_OPEN_READ);
    EXPECT_EQ(KDRVX_ReaderRead(handle, 0, 1, records.data()),
              static_cast<int32_t>(KDRVX_ERR_RVX_NOT_OPEN_READ));
    KDRVX_ReaderClose(handle);
  }
  EXPECT_TRUE(std::all_of(std::begin(memory), std::end(memory), [](uint64_t v) { return v == 0; }));

  // The later reader is untouched by all of it.
  KDRVX_RecordingInfo info{};
  info.size = sizeof info;
  ASSERT_EQ(KDRVX_ReaderInfo(later, &info), KDRVX_OK);
  EXPECT_EQ(info.noChannels, 3u);
  EXPECT_EQ(KDRVX_ReaderRead(later, 0, 4, records.data()), 4);
  EXPECT_EQ(records[5], rows(4, 3)[1][2]);
  KDRVX_ReaderClose(later);
  EXPECT_EQ(KDRVX_ReaderInfo(later, &info), KDRVX_ERR_RVX_NOT_OPEN_READ);
}

// Two followers in threads of their own while a third records live in
// blocks of varying size: each follower sees every record once, in order,
// and ends with the closed recording.
TEST_F(Readers, FollowersInThreadsSeeEveryRecordOfALiveRecordingOnce) {
  constexpr uint32_t kChannels = 4;
  constexpr uint32_t kRecords = 3000;
  std::u16string path = widePath(dir.file("live.rvx"));
  Floats all(static_cast<size_t>(kRecords) * kChannels);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<float>(i) * 0.25f;

  ASSERT_EQ(KDRVX_CreateLive(reinterpret_cast<KDRVX_CHAR*>(path.data()), 0, 1, 0, 255), KDRVX_OK);
  for (const char16_t* variable : {u"p1", u"p2", u"p3", u"p4"})
    ASSERT_LT(KDRVX_AddChannel(c(variable)), 48u);

  const auto follow = [&](Floats& seen, uint32_t& endState) {
    KDRVX_Reader* reader = nullptr;
    while (KDRVX_ReaderOpenLive(c(path), 100, &reader, nullptr) != KDRVX_OK) {
    }
    KDRVX_LiveState state{};
    state.size = sizeof state;
    uint64_t known = 0;
    Floats block;
    do {
      if (KDRVX_ReaderWait(reader, known, 100, &state) != KDRVX_OK) break;
      const auto fresh = static_cast<uint32_t>(state.records - known);
      block.resize(static_cast<size_t>(fresh) * kChannels);
      const int64_t got = KDRVX_ReaderRead(reader, static_cast<int64_t>(known), fresh,
                                           block.data());
      if (got != fresh) break;
      seen.insert(seen.end(), block.begin(), block.end());
      known = state.records;
    } while (state.state == KDRVX_LIVE_RECORDING);
    endState = state.state;
    KDRVX_ReaderClose(reader);
  };
  Floats seen[2];
  uint32_t endState[2] = {};
  std::thread first(follow, std::ref(seen[0]), std::ref(endState[0]));
  std::thread second(follow, std::ref(seen[1]), std::ref(endState[1]));
  for (uint32_t at = 0, size = 1; at < kRecords; at += size, size = size % 97 + 13) {
    size = std::min(size, kRecords - at);
    ASSERT_EQ(KDRVX_AddRecords(all.data() + static_cast<size_t>(at) * kChannels, size),
              KDRVX_OK);
    if (at % 7 == 0) std::this_thread::yield();
  }
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  first.join();
  second.join();
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(endState[k], KDRVX_LIVE_CLOSED) << k;
    EXPECT_TRUE(sameBytes(seen[k], all)) << k;
  }
}

}  // namespace
}  // namespace kdrvx::test
