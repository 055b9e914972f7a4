// The record readers: the current kind one by one and in blocks, the DOS
// kind with its decimal counts and marks, and the sparse WIN 2.x kind.
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

}  // namespace
}  // namespace kdrvx::test
