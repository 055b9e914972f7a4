// Damaged files: truncated headers of every layout, empty files, impossible
// channel counts, record counts and header sizes, garbage RVI files. Each
// open ends with a status of the import or with a file whose every query and
// record read stays inside its buffers (the sanitizer build runs this too)
// and comes to an end. Randomly damaged files are the fuzzing corpus's, which
// regressions_test.cpp replays through the same harness.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "harness.h"
#include "kdrvx/kdrvx.h"
#include "support/read_support.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

std::string randomBytes(std::mt19937& random, size_t size) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

void failTest(const char* description) { ADD_FAILURE() << description; }

// The read path's fuzz harness on a file (and an RVI text beside it): every
// query into buffers of exactly their size, the records one by one or
// (`blocks`) in blocks, until the end.
void queryAndReadEverything(const std::string& rvx, const std::string* rvi, bool blocks) {
  fuzz::setFailureHandler(failTest);
  ByteImage input;
  input.u8(0, (rvi != nullptr ? 1 : 0) | (blocks ? 2 : 0)).u32(1, rvx.size()).u8(5, 64);
  const std::string bytes = input.bytes() + rvx + (rvi != nullptr ? *rvi : "");
  fuzz::runOpenRead(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  fuzz::setFailureHandler(nullptr);
}

class BadInput : public ReadTest {};

// Every layout cut at every byte of its header: refused, or open with no
// whole record to read.
TEST_F(BadInput, EveryLayoutTruncatedAtEveryByteOfItsHeader) {
  const TestRecording r = recording(64, 2);
  TestRecording current = recording('s', 2);
  const std::vector<std::string> headers{dosBefore50Header(10, r.channels),
                                         dosKindQHeader(64, 5, 2),
                                         dosKindPHeader(400, 5, 20, r.channels),
                                         win2Header(recording('R', 2), {"a", "b", "c", "d"}),
                                         win3Header(r),
                                         win6Header(recording(96, 2)),
                                         currentHeader(current)};
  std::vector<float> record(48);
  for (const std::string& header : headers) {
    for (size_t length = 0; length < header.size(); ++length) {
      SCOPED_TRACE(testing::Message() << "layout " << int(header[4]) << ", " << length << " bytes");
      // A new file each time: rewriting a truncated file makes some file
      // systems write it through to the disk on closing.
      std::filesystem::remove(dir.file("f.rvx"));
      const uint32_t status = open(header.substr(0, length));
      ASSERT_TRUE(status == 0 || status == KDRVX_ERR_RVX_INVALID_HEADER) << status;
      if (status != 0) continue;
      ASSERT_LE(KDRVX_GetNoChannels(), 2u);
      // No whole record, unless records have no bytes at all.
      EXPECT_EQ(KDRVX_ReadFirstRecord(record.data()) == 0, KDRVX_GetNoChannels() == 0);
      EXPECT_EQ(KDRVX_CloseRead(), 0u);
    }
  }
}

// A header that claims no channel or more than 48 is refused by every
// layout that stores a count, except that the DOS kinds may have none.
TEST_F(BadInput, ChannelCounts0And49And255) {
  const TestRecording r = recording(64, 2);
  const struct {
    std::string header;
    size_t countAt;
    bool noneAllowed;
  } layouts[] = {{dosKindQHeader(64, 5, 2), 24, true},
                 {dosKindPHeader(400, 5, 20, r.channels), 23, true},
                 {win2Header(recording(40, 2), {"", "", "", ""}), 24, false},
                 {win3Header(r), 32, false},
                 {win6Header(recording(96, 2)), 32, false},
                 {currentHeader(recording('s', 2)), 36, false}};
  float record[48];
  for (const auto& layout : layouts) {
    for (const uint8_t count : {0, 49, 255}) {
      std::string bytes = layout.header + floatRecords({{1, 2}, {3, 4}});
      bytes[layout.countAt] = static_cast<char>(count);
      const uint32_t status = open(bytes);
      if (count == 0 && layout.noneAllowed) {
        ASSERT_EQ(status, 0u);
        EXPECT_EQ(KDRVX_GetNoChannels(), 0u);
        // A record of no channels is 0 bytes, read whole.
        EXPECT_EQ(KDRVX_ReadFirstRecord(record), 0u);
        EXPECT_EQ(KDRVX_ReadNextRecord(nullptr), 0u);
        EXPECT_EQ(KDRVX_CloseRead(), 0u);
      } else {
        EXPECT_EQ(status, KDRVX_ERR_RVX_INVALID_HEADER) << int(layout.header[4]) << " " << int(count);
      }
    }
  }
  // The current layout holds 48 channels at most; all of them read.
  TestRecording full = recording('s', 48);
  std::vector<float> values(48, 2.5f);
  ASSERT_EQ(open(currentHeader(full) + floatRecords({values})), 0u);
  EXPECT_EQ(KDRVX_GetNoChannels(), 48u);
  ASSERT_EQ(KDRVX_ReadFirstRecord(record), 0u);
  EXPECT_EQ(record[47], 2.5f);
}

// NoRecords is the header's word: a huge count changes nothing about where
// the data end. A header size beyond the end of the file: the file opens,
// and there is no record behind it.
TEST_F(BadInput, HugeRecordCountAndHeaderSizePointingPastTheEnd) {
  for (const uint8_t version : {40, 64, 96, int{'s'}}) {
    for (const bool hugeCount : {true, false}) {
      SCOPED_TRACE(testing::Message() << int(version) << (hugeCount ? " count" : " size"));
      TestRecording r = recording(version, 2);
      if (hugeCount) r.records = 0xFFFFFFFF;
      else r.headerSize = 0xFFFF;
      const std::string header = version == 40   ? win2Header(r, {"", "", "", ""})
                                 : version == 64 ? win3Header(r)
                                 : version == 96 ? win6Header(r)
                                                 : currentHeader(r);
      ASSERT_EQ(open(header + floatRecords({{1, 2}, {3, 4}})), 0u);
      float block[2 * 8];
      if (hugeCount) {
        EXPECT_EQ(KDRVX_GetNoRecords(), 0xFFFFFFFFu);
        EXPECT_EQ(KDRVX_ReadFirstRecord(block), 0u);
        EXPECT_EQ(KDRVX_ReadNextRecord(block), 0u);
        EXPECT_EQ(block[1], 4.0f);
      }
      EXPECT_EQ(KDRVX_ReadNextRecord(block), 1u);
      EXPECT_EQ(KDRVX_ReadRecords(hugeCount ? 0xFFFFFFFF : 0, 8, block), 0);
      EXPECT_EQ(KDRVX_CloseRead(), 0u);
    }
  }
}

// Labels without colons are not found; without CRs a value runs to the end
// of the text, cut to its field.
TEST_F(BadInput, RviTextWithoutColonsOrCarriageReturns) {
  const std::string compact = win3Header(recording(64, 1));
  writeRvi(std::string("Firma ACME\r\nKommentar Versuch\r\nMessbezeichnung Kanal\r\n"));
  ASSERT_EQ(open(compact), 0u);
  EXPECT_EQ(text(KDRVX_GetCompany), u"");
  EXPECT_EQ(text(KDRVX_GetComment), u"");
  KDRVX_CloseRead();

  writeRvi(std::string("Firma: ACME\nMessger\xE4t: KD 8\nKommentar: Lauf\nzwei\n"
                       "Messbezeichnung: Kanal\n"));
  ASSERT_EQ(open(compact), 0u);
  const std::u16string rest = widen("Kommentar: Lauf\nzwei\nMessbezeichnung: Kanal\n");
  EXPECT_EQ(text(KDRVX_GetCompany), (widen("ACME\nMessger\xE4t: KD 8\n") + rest).substr(0, 63));
  EXPECT_EQ(text(KDRVX_GetInstrument), u"KD 8\n" + rest);
  // The channel blocks begin after the line of the comment label; without
  // a CR there is none.
  EXPECT_EQ(text(KDRVX_GetChannelName, 0), u"");
  KDRVX_CloseRead();

  // One line of 12000 characters: every field cut to its capacity.
  writeRvi("Firma: " + std::string(12000, 'x'));
  ASSERT_EQ(open(compact), 0u);
  EXPECT_EQ(text(KDRVX_GetCompany), std::u16string(63, u'x'));
}

TEST_F(BadInput, AHugeRviFileAndAnEmptyFile) {
  std::mt19937 random(7);
  const std::string rvi = randomBytes(random, 10 << 20);
  writeRvi(rvi);
  ASSERT_EQ(open(win3Header(recording(64, 2))), 0u);
  KDRVX_CloseRead();
  queryAndReadEverything(win3Header(recording(64, 2)), &rvi, false);
  EXPECT_EQ(open(""), KDRVX_ERR_RVX_INVALID_HEADER);
}

}  // namespace
}  // namespace kdrvx::test
