// Damaged files: truncated and changed headers of every layout, random
// bytes, empty files, garbage RVI files. Each open ends with a status of
// the import or with a file whose every query and record read stays inside
// its buffers (the sanitizer build runs this too) and comes to an end.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/rvx_fixture.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

std::string randomBytes(std::mt19937& random, size_t size) {
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

std::vector<std::string> layoutSeeds() {
  TestRecording r = recording('R', 3);
  r.channels[1].indRate = 2;
  const std::string floats = floatRecords({{1, 2, 3}, {4, 5, 6}});
  const std::string dos = dosRecords({{{1, 1}, {2, 2}, {3, 3}}});
  std::vector<std::string> seeds{dosBefore50Header(10, r.channels) + dos,
                                 dosKindQHeader(64, 0, 3) + dos,
                                 dosKindPHeader(400, 0, 20, r.channels) + floats,
                                 win2Header(r, {"a", "b", "c", "d"}) + floats};
  for (uint8_t version : {64, 96, int{'s'}}) {
    r.version = version;
    seeds.push_back((version == 64 ? win3Header(r) : version == 96 ? win6Header(r) : currentHeader(r)) +
                    floats);
  }
  return seeds;
}

void queryAndReadEverything() {
  std::vector<KDRVX_CHAR> text(400);
  std::vector<float> block(48 * 64);
  uint8_t flag;
  KDRVX_CheckOriginalFlag(&flag);
  KDRVX_GetDate(text.data());
  KDRVX_GetTime(text.data());
  for (uint16_t capacity : {0, 1, 400}) {
    for (auto query : {KDRVX_GetComment, KDRVX_GetCompany, KDRVX_GetTriggerSetting})
      query(text.data(), capacity);
    for (int16_t channel : {-300, -1, 0, 47, 48, 300}) {
      for (auto query : {KDRVX_GetChannelVariable, KDRVX_GetChannelUnit, KDRVX_GetChannelName,
                         KDRVX_GetChannelLintab})
        query(text.data(), channel, capacity);
      KDRVX_GetChannelSDevValue(channel);
      KDRVX_IsChannelMultiChannel(channel);
    }
  }
  KDRVX_IsAnyMultiChannelinRVX();
  uint32_t result = KDRVX_ReadFirstRecord(block.data());
  int reads = 0;
  for (; result == 0 && reads < 100000; ++reads) result = KDRVX_ReadNextRecord(block.data());
  EXPECT_TRUE(reads < 100000 && (result <= 2 || result == KDRVX_ERR_RVX_NOT_OPEN_READ)) << result;
  // A count of records, or the old-format or not-open status sign-extended.
  const int64_t records = KDRVX_ReadRecords(0, 64, block.data());
  EXPECT_TRUE(records == -520093661 || records == -520093691 || (records >= 0 && records <= 64));
}

class BadInput : public ReadTest {};

TEST_F(BadInput, DamagedFilesGiveAStatusOrDefinedValues) {
  std::mt19937 random(4711);
  const std::vector<std::string> seeds = layoutSeeds();
  int opened = 0;
  for (size_t round = 0; round < 336; ++round) {
    std::string bytes = seeds[round % seeds.size()];
    const size_t kind = round / seeds.size() % 3;
    if (kind == 0) {  // bytes changed in the header, then maybe cut
      for (int i = 0, n = 1 + random() % 24; i < n; ++i)
        bytes[random() % std::min<size_t>(bytes.size(), 1600)] = static_cast<char>(random());
    }
    if (kind != 2) bytes.resize(random() % (bytes.size() + 1));
    if (kind == 2) bytes = std::string(round % 2 * 4, '\0') + randomBytes(random, random() % 4000);
    if (round % 3 == 0) writeRvi(randomBytes(random, random() % 12000) + "Firma: x\r\nKommentar:");
    const uint32_t status = open(bytes);
    EXPECT_TRUE(status == 0 || status == KDRVX_ERR_RVX_INVALID_HEADER ||
                status == KDRVX_ERR_RVX_NEWER_VERSION || status == KDRVX_ERR_RVX_DEVELOPER_VERSION);
    if (status == 0) {
      ++opened;
      ASSERT_LE(KDRVX_GetNoChannels(), 48u);
    }
    queryAndReadEverything();  // a refused header stays for the queries
    KDRVX_CloseRead();
  }
  EXPECT_GT(opened, 100);
}

TEST_F(BadInput, AHugeRviFileAndAnEmptyFile) {
  std::mt19937 random(7);
  writeRvi(randomBytes(random, 10 << 20));
  ASSERT_EQ(open(win3Header(recording(64, 2))), 0u);
  queryAndReadEverything();
  KDRVX_CloseRead();
  EXPECT_EQ(open(""), KDRVX_ERR_RVX_INVALID_HEADER);
}

}  // namespace
}  // namespace kdrvx::test
