// The record readers: the current kind one by one and in blocks, the DOS
// kind with its decimal counts and marks, and the sparse WIN 2.x kind; the
// data layout that tells them apart.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/read_support.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

using Floats = std::vector<float>;
constexpr int64_t kOldFormat = -520093661;  // 0xE1000023 sign-extended

class Records : public ReadTest {
 protected:
  // The buffer after a read that returned `result`.
  static Floats next(Floats buffer, uint32_t result = 0) {
    EXPECT_EQ(KDRVX_ReadNextRecord(buffer.data()), result);
    return buffer;
  }
  static Floats first(Floats buffer, uint32_t result = 0) {
    EXPECT_EQ(KDRVX_ReadFirstRecord(buffer.data()), result);
    return buffer;
  }
};

TEST_F(Records, CurrentKindOneByOneAndInBlocks) {
  const std::string header = currentHeader(recording('s', 2));
  ASSERT_EQ(open(header + floatRecords({{1, 2}, {3, 4}, {5, 6}, {7, 8}}) + "\x01\x02\x03"), 0u);
  EXPECT_EQ(first(Floats(2)), (Floats{1, 2}));
  EXPECT_EQ(first(Floats(2)), (Floats{3, 4}));  // goes on where the last read stopped
  EXPECT_EQ(next(Floats(2)), (Floats{5, 6}));
  EXPECT_EQ(next(Floats(2)), (Floats{7, 8}));
  next(Floats(2), 1);  // 3 trailing bytes are no record
  KDRVX_CloseRead();

  ASSERT_EQ(open(header + floatRecords({{1, 2}, {3, 4}, {5, 6}, {7, 8}}) + "\x01\x02\x03"), 0u);
  Floats block(20);
  EXPECT_EQ(KDRVX_ReadRecords(0, 1, block.data()), 1);
  EXPECT_EQ(KDRVX_ReadRecords(1, 10, block.data()), 3);
  EXPECT_EQ(Floats(block.begin(), block.begin() + 6), (Floats{3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(KDRVX_ReadRecords(4, 10, block.data()), 0);
  next(Floats(2), 1);
}

TEST_F(Records, DosKindDividesByTenOncePerDecimal) {
  ASSERT_EQ(open(dosBefore50Header(100, std::vector<TestChannel>(3)) +
                 dosRecords({{{1234, 2}, {-5, 1}, {7, 0}},
                             {{3, 10}, {1, 40}, {-32768, 65535}},
                             {{9, 11}, {9, 9}, {9, 9}},
                             {{1, 0xFFFF}, {0, 0}, {0, 0}},
                             {{1, 0xFFF0}, {2, 0}, {3, 0}}}) +
                 "\x01\x02\x03\x04\x05"),
            0u);
  EXPECT_EQ(first(Floats(3)), (Floats{1234.0f / 10.0f / 10.0f, -0.5f, 7.0f}));
  float three = 3, one = 1;
  for (int i = 0; i < 10; ++i) three /= 10.0f;
  for (int i = 0; i < 40; ++i) one /= 10.0f;
  EXPECT_EQ(next(Floats(3)), (Floats{three, one, -0.0f}));
  // Only the first count is tested: above 10 is an invalid record, 0xFFFF
  // the end; the buffer keeps what it held. 0xFFF0 is not above 10 as a
  // signed number.
  EXPECT_EQ(next(Floats{1, 2, 3}, 1), (Floats{1, 2, 3}));
  EXPECT_EQ(next(Floats{1, 2, 3}, 2), (Floats{1, 2, 3}));
  EXPECT_EQ(next(Floats{1, 1, 1}), (Floats{0, 2, 3}));
  EXPECT_EQ(next(Floats{1, 2, 3}, 1), (Floats{1, 2, 3}));  // cut short
  EXPECT_EQ(KDRVX_ReadRecords(0, 1, Floats(3).data()), kOldFormat);
}

TEST_F(Records, SparseWin2RecordsHoldOnlyTheChannelsSampledInThem) {
  TestRecording r = recording('R', 3);
  r.channels[1].indRate = 2;
  r.channels[2].indRate = 0;  // no divisor: sampled in every record
  ASSERT_EQ(open(win2Header(r, {"", "", "", ""}) +
                 floatRecords({{1, 2, 3}, {4, 6}, {7, 8, 9}, {10, 12}, {13}})),
            0u);
  Floats record = first(Floats(3));
  EXPECT_EQ(record, (Floats{1, 2, 3}));
  EXPECT_EQ(record = next(record), (Floats{4, 2, 6}));
  EXPECT_EQ(record = next(record), (Floats{7, 8, 9}));
  EXPECT_EQ(record = next(record), (Floats{10, 8, 12}));
  EXPECT_EQ(next(record, 1)[0], 13.0f);
  EXPECT_EQ(KDRVX_ReadRecords(0, 1, record.data()), kOldFormat);
}

TEST_F(Records, NothingIsReadWithoutAnOpenFileNorIntoARecordOfNoChannels) {
  TraceCapture capture;
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS | KDRVX_DEBUG_CALLS);
  KDRVX_GetErrorString(nullptr, 0, KDRVX_ERR_RVX_DATE);  // last error 0
  capture.clear();
  EXPECT_EQ(first(Floats{5}, KDRVX_ERR_RVX_NOT_OPEN_READ), Floats{5});
  EXPECT_EQ(next(Floats{5}, KDRVX_ERR_RVX_NOT_OPEN_READ), Floats{5});
  EXPECT_EQ(KDRVX_GetLastError(), 0u);
  EXPECT_EQ(capture.narrowLines(), std::vector<std::string>{"KDrvxLibrary: ERR_RVX_NOT_OPEN_READ"});
  // A refused file's header stays for the queries, but nothing reads from it.
  ASSERT_EQ(open(currentHeader(recording('t', 1)) + floatRecords({{1}})),
            KDRVX_ERR_RVX_NEWER_VERSION);
  EXPECT_EQ(KDRVX_ReadRecords(0, 1, Floats(1).data()),
            static_cast<int32_t>(KDRVX_ERR_RVX_NOT_OPEN_READ));

  // Without channels a record has 0 bytes and is read whole: nothing is
  // written to the buffer.
  ASSERT_EQ(open(dosKindQHeader(30, 0, 0) + "some data bytes"), 0u);
  EXPECT_EQ(KDRVX_GetNoRecords(), 0u);
  EXPECT_EQ(first(Floats{5}, 0), Floats{5});
  EXPECT_EQ(next(Floats{5}, 0), Floats{5});
}

TEST_F(Records, DataLayoutOfEveryRecordKind) {
  struct Case {
    const char* layout;
    std::string header;  // as long as the header on disk: the data follow it
    uint32_t recordSize;
    uint32_t kind;
  };
  TestRecording notOriginalR = recording('R', 2);  // WIN 3.x, whole records
  notOriginalR.originalFlag = 'X';
  TestChannel p1, t3;
  t3.letter = u'T';
  t3.index = 3;
  const Case cases[] = {
      {"current", currentHeader(recording('s', 2)), 8, KDRVX_RECORD_KIND_FLOATS},
      {"current, header size wrapped", currentHeader(recording('s', 47)), 188,
       KDRVX_RECORD_KIND_FLOATS},
      {"WIN 6.x", win6Header(recording(96, 1)), 4, KDRVX_RECORD_KIND_FLOATS},
      {"WIN 3.x, version R", win3Header(notOriginalR), 8, KDRVX_RECORD_KIND_FLOATS},
      {"DOS kind P", dosKindPHeader(400, 2, 20, {p1, t3}), 8, KDRVX_RECORD_KIND_FLOATS},
      {"DOS kind Q", dosKindQHeader(32, 2, 2), 8, KDRVX_RECORD_KIND_DOS},
      {"DOS before 5.0", dosBefore50Header(100, std::vector<TestChannel>(3)), 12,
       KDRVX_RECORD_KIND_DOS},
      {"WIN 2.x", win2Header(recording('R', 3), {"", "", "", ""}), 12, KDRVX_RECORD_KIND_SPARSE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.layout);
    ASSERT_EQ(open(c.header + floatRecords({{1, 2, 3}, {4, 5, 6}})), 0u);
    uint64_t offset = 0;
    uint32_t size = 0, kind = 99;
    EXPECT_EQ(KDRVX_GetDataLayout(&offset, &size, &kind), 0u);
    EXPECT_EQ(offset, c.header.size());
    EXPECT_EQ(size, c.recordSize);
    EXPECT_EQ(kind, c.kind);
    KDRVX_CloseRead();
  }

  // Each pointer may be left out; no entry line.
  TraceCapture capture;
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS | KDRVX_DEBUG_CALLS);
  ASSERT_EQ(
      open(dosBefore50Header(100, std::vector<TestChannel>(2)) + dosRecords({{{1, 0}, {2, 0}}})),
      0u);
  capture.clear();
  uint64_t offset = 0;
  uint32_t size = 0, kind = 99;
  EXPECT_EQ(KDRVX_GetDataLayout(nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(KDRVX_GetDataLayout(&offset, nullptr, nullptr), 0u);
  EXPECT_EQ(KDRVX_GetDataLayout(nullptr, &size, nullptr), 0u);
  EXPECT_EQ(KDRVX_GetDataLayout(nullptr, nullptr, &kind), 0u);
  EXPECT_EQ(offset, 14u);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(kind, KDRVX_RECORD_KIND_DOS);
  EXPECT_TRUE(capture.lines().empty());

  // Closed: the status and its trace line; nothing written, the last error
  // kept.
  KDRVX_CloseRead();
  KDRVX_GetErrorString(nullptr, 0, KDRVX_ERR_RVX_DATE);  // last error 0
  capture.clear();
  EXPECT_EQ(KDRVX_GetDataLayout(&offset, &size, &kind), KDRVX_ERR_RVX_NOT_OPEN_READ);
  EXPECT_EQ(KDRVX_GetDataLayout(nullptr, nullptr, nullptr), KDRVX_ERR_RVX_NOT_OPEN_READ);
  EXPECT_EQ(offset, 14u);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(kind, KDRVX_RECORD_KIND_DOS);
  EXPECT_EQ(KDRVX_GetLastError(), 0u);
  EXPECT_EQ(capture.narrowLines(),
            (std::vector<std::string>(2, "KDrvxLibrary: ERR_RVX_NOT_OPEN_READ")));
}

}  // namespace
}  // namespace kdrvx::test
