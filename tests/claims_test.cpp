// What a file claims against what it holds, at the C interface: the
// readers' findings and their words, KDRVX_Check, KDRVX_Repair,
// KDRVX_CheckPlanRecords and KDRVX_GetSummaryFileName, over test recordings
// of every layout and over files the library writes itself.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "format/layout.h"
#include "recordings.h"
#include "support/test_support.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

using Rows = std::vector<std::vector<float>>;

Rows rows(size_t records, size_t channels) {
  Rows all(records, std::vector<float>(channels));
  for (size_t r = 0; r < records; ++r)
    for (size_t k = 0; k < channels; ++k) all[r][k] = static_cast<float>(r * 10 + k) + 0.5f;
  return all;
}

// A current-layout recording of `channels` channels whose header counts
// `counted` records and whose data holds `held`.
std::string current(size_t channels, uint32_t counted, size_t held) {
  TestRecording r = recording('s', channels);
  for (size_t k = 0; k < channels; ++k) r.channels[k].index = static_cast<int8_t>(k + 1);
  r.records = counted;
  return currentHeader(r) + floatRecords(rows(held, channels));
}

std::string findingText(const KDRVX_Findings* findings, uint32_t finding) {
  KDRVX_CHAR text[300];
  EXPECT_EQ(KDRVX_GetFindingText(findings, finding, text, 300), KDRVX_OK);
  return narrow(reinterpret_cast<const char16_t*>(text));
}

void putU16(std::string& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

class Claims : public WriteTest {
 protected:
  std::filesystem::path write(const std::string& name, const std::string& bytes) {
    writeBytes(dir.file(name), bytes);
    return dir.file(name);
  }
  // The findings of a reader of `name`, which must open.
  KDRVX_Findings findings(const std::string& name) {
    KDRVX_Reader* reader = nullptr;
    KDRVX_Findings found{};
    found.size = sizeof found;
    EXPECT_EQ(KDRVX_ReaderOpen(c(dir.wide(name)), &reader), KDRVX_OK);
    if (reader == nullptr) return found;
    EXPECT_EQ(KDRVX_ReaderFindings(reader, &found), KDRVX_OK);
    KDRVX_ReaderClose(reader);
    return found;
  }
  KDRVX_CheckReport check(const std::string& name, std::vector<KDRVX_CheckChannel>& channels) {
    KDRVX_CheckReport report{};
    report.size = sizeof report;
    for (auto& channel : channels) channel = {}, channel.size = sizeof channel;
    EXPECT_EQ(KDRVX_Check(c(dir.wide(name)), &report, channels.data(),
                          static_cast<uint32_t>(channels.size()), nullptr, nullptr),
              KDRVX_OK);
    return report;
  }
  // A recording made by the library: channel 0 an ordinary one, channel 1
  // a multichannel of 4 bits; `final` records under a final header, or
  // with `counted` of them counted by an update and the rest after it.
  std::u16string record(const std::string& name, const Rows& records, size_t counted, bool final) {
    std::u16string path = create(name, {u"p1", u"M2"});
    EXPECT_EQ(KDRVX_SetChannelMultiChannel(1, 4), KDRVX_OK);
    for (size_t r = 0; r < records.size(); ++r) {
      EXPECT_EQ(KDRVX_AddRecord(records[r].data()), KDRVX_OK);
      if (!final && r + 1 == counted) {
        EXPECT_EQ(KDRVX_Update(), KDRVX_OK);
      }
    }
    EXPECT_EQ(final ? KDRVX_CloseCreate() : KDRVX_CloseCreateSimple(), KDRVX_OK);
    return path;
  }
};

// Records whose multichannel values set only the channel's 4 bits.
Rows bitRows(size_t records) {
  Rows all;
  for (size_t r = 0; r < records; ++r)
    all.push_back({static_cast<float>(r) * 1.25f - 3, std::bit_cast<float>(uint32_t(r % 16))});
  return all;
}

TEST_F(Claims, LyingHeadersAreFoundAtOpen) {
  std::string sizeField = current(2, 5, 5);
  putU16(sizeField, 8, 100);  // the header size says 100 bytes
  write("size.rvx", sizeField);
  KDRVX_Findings found = findings("size.rvx");
  EXPECT_EQ(found.findings, KDRVX_FINDING_DATA_IN_HEADER);
  EXPECT_EQ(found.layout, KDRVX_LAYOUT_CURRENT);
  EXPECT_EQ(found.dataOffset, 100u);
  EXPECT_EQ(found.headerLength, 4300u);
  EXPECT_EQ(findingText(&found, KDRVX_FINDING_DATA_IN_HEADER),
            "the header size field and the channel count cannot both be true: the records "
            "would be read from byte 100, the header takes 4300 bytes for its channels");
  EXPECT_NE(found.findings & KDRVX_FINDINGS_VALUES_WRONG, 0u);

  std::string oneOfTwo = current(2, 5, 5);
  oneOfTwo[36] = 1;  // a channel count of 1 in a file of 2 channels
  write("count.rvx", oneOfTwo);
  found = findings("count.rvx");
  EXPECT_EQ(found.findings, KDRVX_FINDING_DATA_IN_HEADER);
  EXPECT_EQ(found.dataOffset, 4300u);
  EXPECT_EQ(found.headerLength, 2900u);

  write("cut.rvx", current(2, 0, 0).substr(0, 3000));
  found = findings("cut.rvx");
  EXPECT_EQ(found.findings, KDRVX_FINDING_ENDS_IN_HEADER);
  EXPECT_EQ(found.fileLength, 3000u);
  EXPECT_EQ(found.heldRecords, 0u);
  EXPECT_EQ(findingText(&found, KDRVX_FINDING_ENDS_IN_HEADER),
            "the file ends inside its header (3000 of 4300 bytes); it holds no recording");
  EXPECT_EQ(findingText(nullptr, KDRVX_FINDING_ENDS_IN_HEADER),
            "the file ends inside its header; it holds no recording");

  // Too short for the library to open at all: the check says so.
  write("stub.rvx", current(2, 0, 0).substr(0, 30));
  std::vector<KDRVX_CheckChannel> none;
  const KDRVX_CheckReport report = check("stub.rvx", none);
  EXPECT_EQ(report.openStatus, KDRVX_ERR_RVX_INVALID_HEADER);
  EXPECT_EQ(report.claims.size, sizeof(KDRVX_Findings));
  EXPECT_EQ(report.claims.findings, KDRVX_FINDING_NOT_OPENED | KDRVX_FINDING_ENDS_IN_HEADER);
  EXPECT_EQ(report.claims.fileLength, 30u);
}

TEST_F(Claims, RecordCountsAgainstTheData) {
  write("clean.rvx", current(3, 4, 4));
  KDRVX_Findings found = findings("clean.rvx");
  EXPECT_EQ(found.findings, 0u);
  EXPECT_EQ(found.heldRecords, 4u);

  write("more.rvx", current(3, 3, 5));
  found = findings("more.rvx");
  EXPECT_EQ(found.findings, KDRVX_FINDING_MORE_RECORDS);
  EXPECT_EQ(found.headerRecords, 3u);
  EXPECT_EQ(found.heldRecords, 5u);
  EXPECT_EQ(findingText(&found, KDRVX_FINDING_MORE_RECORDS),
            "stale record count: the header counts 3 records, the data holds 5 whole records "
            "(2 beyond the count; a recording that stopped before its final header?)");

  write("fewer.rvx", current(3, 5, 1) + "\x01\x02");
  found = findings("fewer.rvx");
  EXPECT_EQ(found.findings, KDRVX_FINDING_FEWER_RECORDS | KDRVX_FINDING_PARTIAL_RECORD);
  EXPECT_EQ(found.trailingBytes, 2u);
  EXPECT_EQ(findingText(&found, KDRVX_FINDING_FEWER_RECORDS),
            "the header counts 5 records, the data holds only 1 whole record (truncated?)");
  EXPECT_EQ(findingText(&found, KDRVX_FINDING_PARTIAL_RECORD),
            "partial trailing record: 2 bytes after the last whole record");

  // A caller's struct of 8 bytes receives the findings alone.
  KDRVX_Reader* reader = nullptr;
  ASSERT_EQ(KDRVX_ReaderOpen(c(dir.wide("fewer.rvx")), &reader), KDRVX_OK);
  KDRVX_Findings small{};
  small.size = 8;
  small.layout = 77;
  EXPECT_EQ(KDRVX_ReaderFindings(reader, &small), KDRVX_OK);
  EXPECT_EQ(small.findings, found.findings);
  EXPECT_EQ(small.layout, 77u);
  EXPECT_EQ(KDRVX_ReaderFindings(reader, nullptr), KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  EXPECT_EQ(KDRVX_ReaderFindings(nullptr, &small), KDRVX_ERR_RVX_NOT_OPEN_READ);
  KDRVX_ReaderClose(reader);
}

// A trigger record beyond the data is a warning of the check, with its
// figures; one on the last record is none.
TEST_F(Claims, CheckFindsATriggerBeyondTheRecords) {
  std::string bytes = current(2, 10, 10);
  // The trigger record is the u32 at 24.
  const auto trigger = [&](uint32_t record) {
    for (int i = 0; i < 4; ++i) bytes[24 + i] = static_cast<char>(record >> (8 * i));
    write("trigger.rvx", bytes);
    std::vector<KDRVX_CheckChannel> channels(2);
    return check("trigger.rvx", channels);
  };
  KDRVX_CheckReport report = trigger(10);
  const uint32_t others = report.claims.findings;  // no statistics stored
  EXPECT_EQ(others & KDRVX_FINDING_TRIGGER_BEYOND, 0u);
  report = trigger(12);
  EXPECT_EQ(report.claims.findings, others | KDRVX_FINDING_TRIGGER_BEYOND);
  EXPECT_EQ(report.claims.findings & KDRVX_FINDINGS_VALUES_WRONG, 0u);
  EXPECT_EQ(report.claims.triggerRecord, 12u);
  EXPECT_EQ(report.recordsRead, 10u);
  EXPECT_EQ(findingText(&report.claims, KDRVX_FINDING_TRIGGER_BEYOND),
            "the trigger record 12 lies beyond the 10 records the data holds");
  EXPECT_EQ(findingText(nullptr, KDRVX_FINDING_TRIGGER_BEYOND),
            "the trigger record lies beyond the records the data holds");
  // A stored record above 100000000 reads back as 0, no trigger.
  EXPECT_EQ(trigger(100000001).claims.findings, others);

  // The words of a missing RVI file name every field it leaves empty.
  const std::string words = findingText(nullptr, KDRVX_FINDING_NO_SUMMARY_FILE);
  for (const char* field : {"company", "instrument", "serial number", "measurement name",
                            "trigger setting", "channel names", "signal type", "measuring range",
                            "zero point", "filter", "linearisation table", "ISDS"})
    EXPECT_NE(words.find(field), std::string::npos) << field;
}

TEST_F(Claims, OlderLayoutsCountTheirRecordsByTheirKind) {
  // The compact layout without its RVI file.
  TestRecording compact = recording(64, 2);
  compact.records = 6;
  write("compact.rvx", win3Header(compact) + floatRecords(rows(6, 2)));
  KDRVX_Findings found = findings("compact.rvx");
  EXPECT_EQ(found.findings, KDRVX_FINDING_NO_SUMMARY_FILE);
  EXPECT_EQ(found.layout, KDRVX_LAYOUT_COMPACT);
  EXPECT_EQ(found.heldRecords, 6u);
  KDRVX_CHAR name[40];
  ASSERT_EQ(KDRVX_GetLayoutName(found.layout, name, 40), KDRVX_OK);
  EXPECT_EQ(narrow(reinterpret_cast<const char16_t*>(name)), "WIN 3.x/4.x (compact)");
  EXPECT_EQ(KDRVX_GetLayoutName(0, name, 40), KDRVX_ERR_RVX_INVALID_ERROR_CODE);

  // DOS records of 4 bytes a channel, and a byte more.
  write("dos.rvx", dosKindQHeader(32, 12, 2) + std::string(12 * 8, '\x01') + "\x05");
  found = findings("dos.rvx");
  EXPECT_EQ(found.layout, KDRVX_LAYOUT_DOS_KIND_Q);
  EXPECT_EQ(found.findings, KDRVX_FINDING_NO_SUMMARY_FILE | KDRVX_FINDING_PARTIAL_RECORD);
  EXPECT_EQ(found.heldRecords, 12u);
  EXPECT_EQ(found.trailingBytes, 1u);

  // A DOS file shorter than its data offset derives a negative count.
  write("short.rvx", dosKindQHeader(512, 0, 2).substr(0, 100));
  found = findings("short.rvx");
  EXPECT_EQ(found.findings, KDRVX_FINDING_ENDS_IN_HEADER | KDRVX_FINDING_NEGATIVE_COUNT |
                                KDRVX_FINDING_NO_SUMMARY_FILE);

  // Sparse records, a rate of 0 stored in every record as a rate of 1: the
  // count of held records, the generator and the reader agree.
  TestRecording sparse = recording('R', 4);
  sparse.channels[1].indRate = 2, sparse.channels[2].indRate = 3, sparse.channels[3].indRate = 0;
  sparse.records = 40;
  const std::string data = sparseRecords(sparse.channels, rows(40, 4));
  EXPECT_EQ(data.size(), 4u * (40 + 40 + 20 + 14));
  write("sparse.rvx", win2Header(sparse) + data + "\x01\x02");
  found = findings("sparse.rvx");
  EXPECT_EQ(found.findings, KDRVX_FINDING_NO_SUMMARY_FILE | KDRVX_FINDING_PARTIAL_RECORD);
  EXPECT_EQ(found.heldRecords, 40u);
  EXPECT_EQ(found.trailingBytes, 2u);
  KDRVX_Reader* reader = nullptr;
  ASSERT_EQ(KDRVX_ReaderOpen(c(dir.wide("sparse.rvx")), &reader), KDRVX_OK);
  std::vector<float> all(4 * 50);
  EXPECT_EQ(KDRVX_ReaderRead(reader, 0, 50, all.data()), 40);
  EXPECT_EQ(all[4 * 39 + 3], rows(40, 4)[39][3]);  // the rate-0 channel of the last record
  KDRVX_ReaderClose(reader);

  // Records that store nothing count as far as the header counts.
  TestRecording gaps = recording('R', 2);
  gaps.channels[0].indRate = 3, gaps.channels[1].indRate = 5;
  gaps.records = 30;  // record 30 stores nothing
  write("gaps.rvx", win2Header(gaps) + sparseRecords(gaps.channels, rows(30, 2)));
  found = findings("gaps.rvx");
  EXPECT_EQ(found.findings, KDRVX_FINDING_NO_SUMMARY_FILE);
  EXPECT_EQ(found.heldRecords, 30u);
  gaps.records = 20;
  write("gaps.rvx", win2Header(gaps) + sparseRecords(gaps.channels, rows(30, 2)));
  found = findings("gaps.rvx");
  EXPECT_EQ(found.findings, KDRVX_FINDING_NO_SUMMARY_FILE | KDRVX_FINDING_MORE_RECORDS);
  EXPECT_EQ(found.heldRecords, 28u);  // the last record that stores a value
}

TEST_F(Claims, CheckRecountsStatisticsAndTestsTheBits) {
  const Rows records = bitRows(40);
  record("clean.rvx", records, 40, true);
  std::vector<KDRVX_CheckChannel> channels(3);
  KDRVX_CheckReport report = check("clean.rvx", channels);
  EXPECT_EQ(report.openStatus, KDRVX_OK);
  EXPECT_EQ(report.claims.findings, 0u);
  EXPECT_EQ(report.noChannels, 2u);
  EXPECT_EQ(report.recordsRead, 40u);
  const format::RVX_HEADER stored = header("clean.rvx");
  EXPECT_EQ(channels[0].findings, 0u);
  EXPECT_EQ(channels[0].duplicateOf, -1);
  EXPECT_EQ(std::bit_cast<uint32_t>(channels[0].meanValue),
            std::bit_cast<uint32_t>(stored.Channel[0].MeanValue));
  EXPECT_EQ(std::bit_cast<uint32_t>(channels[0].rmsValue),
            std::bit_cast<uint32_t>(stored.Channel[0].RMSValue));
  EXPECT_EQ(channels[2].size, sizeof(KDRVX_CheckChannel));  // beyond the channels: untouched
  EXPECT_EQ(channels[2].findings, 0u);

  // The compact layout as the library writes it, with its RVI file.
  create("compact.rvx", {u"p1", u"T2"}, true, 0);
  for (const auto& row : rows(30, 2)) ASSERT_EQ(KDRVX_AddRecord(row.data()), KDRVX_OK);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  report = check("compact.rvx", channels);
  EXPECT_EQ(report.claims.layout, KDRVX_LAYOUT_COMPACT);
  EXPECT_EQ(report.claims.findings, 0u);
  EXPECT_EQ(report.recordsRead, 30u);

  // A wrong maximum and a value with bits beyond the multichannel's 4.
  Rows stray = records;
  stray[7][1] = std::bit_cast<float>(0x30u);
  record("damaged.rvx", stray, 40, true);
  std::string bytes = readBytes(dir.file("damaged.rvx"));
  const float wrong = 1000;
  std::memcpy(&bytes[1500 + 1384], &wrong, sizeof wrong);
  writeBytes(dir.file("damaged.rvx"), bytes);
  std::vector<uint64_t> heard;
  const KDRVX_Progress listen = [](uint64_t done, uint64_t total, void* context) {
    static_cast<std::vector<uint64_t>*>(context)->push_back(done * 1000 + total);
  };
  report.size = sizeof report;
  ASSERT_EQ(KDRVX_Check(c(dir.wide("damaged.rvx")), &report, channels.data(), 2, listen, &heard),
            KDRVX_OK);
  EXPECT_EQ(heard.back(), 40u * 1000 + 40);
  EXPECT_EQ(report.claims.findings, KDRVX_FINDING_STATISTICS_DIFFER | KDRVX_FINDING_STRAY_BITS);
  EXPECT_EQ(channels[0].findings, KDRVX_FINDING_STATISTICS_DIFFER);
  EXPECT_EQ(channels[0].statisticsDiffer, KDRVX_STATISTIC_MAX);
  EXPECT_EQ(channels[1].findings, KDRVX_FINDING_STRAY_BITS);
  EXPECT_EQ(channels[1].strayRecords, 1u);
  EXPECT_EQ(channels[1].firstStrayRecord, 7u);
  EXPECT_EQ(channels[1].firstStrayBits, 0x30u);
  EXPECT_EQ(findingText(&report.claims, KDRVX_FINDING_STATISTICS_DIFFER),
            "stored statistics differ from those of the 40 counted records");

  // Refused arguments.
  EXPECT_EQ(KDRVX_Check(nullptr, &report, nullptr, 0, nullptr, nullptr),
            KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  EXPECT_EQ(KDRVX_Check(c(dir.wide("clean.rvx")), nullptr, nullptr, 0, nullptr, nullptr),
            KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  EXPECT_EQ(KDRVX_Check(c(dir.wide("clean.rvx")), &report, nullptr, 2, nullptr, nullptr),
            KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
}

TEST_F(Claims, RepairRecountsIntoANewFile) {
  const Rows records = bitRows(25);
  record("stopped.rvx", records, 10, false);
  record("closed.rvx", records, 25, true);  // the same records, properly closed
  std::string source = readBytes(dir.file("stopped.rvx")) + "\x07\x08\x09";
  writeBytes(dir.file("stopped.rvx"), source);
  EXPECT_EQ(findings("stopped.rvx").findings,
            KDRVX_FINDING_MORE_RECORDS | KDRVX_FINDING_PARTIAL_RECORD);

  KDRVX_RepairReport report{};
  report.size = sizeof report;
  ASSERT_EQ(KDRVX_Repair(c(dir.wide("stopped.rvx")), nullptr, &report, nullptr, nullptr), KDRVX_OK);
  EXPECT_EQ(report.changed, 1u);
  EXPECT_EQ(report.refusal, 0u);
  EXPECT_EQ(report.layout, KDRVX_LAYOUT_CURRENT);
  EXPECT_EQ(report.oldRecords, 10u);
  EXPECT_EQ(report.newRecords, 25u);
  EXPECT_EQ(report.trailingBytes, 3u);
  EXPECT_EQ(readBytes(dir.file("stopped.rvx")), source);

  ASSERT_EQ(KDRVX_Repair(c(dir.wide("stopped.rvx")), c(dir.wide("repaired.rvx")), &report, nullptr,
                         nullptr),
            KDRVX_OK);
  EXPECT_EQ(readBytes(dir.file("stopped.rvx")), source);
  const std::string repaired = readBytes(dir.file("repaired.rvx"));
  const uint32_t headerLength = format::headerLength(2);
  ASSERT_EQ(repaired.size(), source.size());
  EXPECT_EQ(repaired.substr(headerLength), source.substr(headerLength));
  // The header: the count and the statistics of a properly closed file,
  // every other byte as it was.
  const format::RVX_HEADER got = imageAt<format::RVX_HEADER>(repaired);
  const format::RVX_HEADER closed = header("closed.rvx");
  format::RVX_HEADER expected = imageAt<format::RVX_HEADER>(source);
  expected.NoRecords = 25;
  expected.FlagStatistics = 3;
  for (int k = 0; k < 2; ++k) {
    expected.Channel[k].MinValue = closed.Channel[k].MinValue;
    expected.Channel[k].MaxValue = closed.Channel[k].MaxValue;
    expected.Channel[k].MeanValue = closed.Channel[k].MeanValue;
    expected.Channel[k].RMSValue = closed.Channel[k].RMSValue;
  }
  EXPECT_EQ(std::memcmp(&got, &expected, headerLength), 0);
  EXPECT_EQ(findings("repaired.rvx").findings, KDRVX_FINDING_PARTIAL_RECORD);

  // An existing target is refused and left alone; a repaired file has
  // nothing left to change.
  EXPECT_EQ(KDRVX_Repair(c(dir.wide("closed.rvx")), c(dir.wide("repaired.rvx")), &report, nullptr,
                         nullptr),
            KDRVX_ERR_RVX_ALREADY_EXISTS);
  EXPECT_EQ(readBytes(dir.file("repaired.rvx")), repaired);
  ASSERT_EQ(KDRVX_Repair(c(dir.wide("closed.rvx")), nullptr, &report, nullptr, nullptr), KDRVX_OK);
  EXPECT_EQ(report.changed, 0u);

  // What repair refuses.
  std::string lying = current(2, 1, 3);
  putU16(lying, 8, 100);
  write("lying.rvx", lying);
  EXPECT_EQ(
      KDRVX_Repair(c(dir.wide("lying.rvx")), c(dir.wide("out.rvx")), &report, nullptr, nullptr),
      KDRVX_ERR_RVX_MODIFY_NOT_POSSIBLE);
  EXPECT_EQ(report.refusal, KDRVX_FINDING_DATA_IN_HEADER);
  TestRecording compact = recording(64, 1);
  write("compact.rvx", win3Header(compact));
  EXPECT_EQ(
      KDRVX_Repair(c(dir.wide("compact.rvx")), c(dir.wide("out.rvx")), &report, nullptr, nullptr),
      KDRVX_ERR_RVX_MODIFY_NOT_POSSIBLE);
  EXPECT_EQ(report.refusal, 0u);
  EXPECT_EQ(report.layout, KDRVX_LAYOUT_COMPACT);
  EXPECT_EQ(
      KDRVX_Repair(c(dir.wide("missing.rvx")), c(dir.wide("out.rvx")), &report, nullptr, nullptr),
      KDRVX_ERR_RVX_OPEN_READ);
  EXPECT_EQ(report.refusal, KDRVX_FINDING_NOT_OPENED);
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.rvx")));
}

TEST_F(Claims, PlannedRecordsKeepToTheirBits) {
  KDRVX_PlannedChannel channels[2] = {};
  for (auto& channel : channels) channel.size = sizeof channel;
  channels[1].multiChannelBits = 4;
  KDRVX_Plan plan{};
  plan.size = sizeof plan;
  plan.noChannels = 2;
  plan.channels = channels;
  std::vector<float> records = {-1.5f, std::bit_cast<float>(0xFu), 7.0f, std::bit_cast<float>(0u),
                                1e9f,  std::bit_cast<float>(0x10u)};
  uint64_t record = 99;
  int16_t channel = 99;
  EXPECT_EQ(KDRVX_CheckPlanRecords(&plan, records.data(), 2, &record, &channel), KDRVX_OK);
  EXPECT_EQ(KDRVX_CheckPlanRecords(&plan, records.data(), 3, &record, &channel),
            KDRVX_ERR_RVX_MULTICHANNEL_BITS);
  EXPECT_EQ(record, 2u);
  EXPECT_EQ(channel, 1);
  EXPECT_EQ(KDRVX_CheckPlanRecords(&plan, records.data(), 3, nullptr, nullptr),
            KDRVX_ERR_RVX_MULTICHANNEL_BITS);
  EXPECT_EQ(KDRVX_CheckPlanRecords(nullptr, records.data(), 3, nullptr, nullptr),
            KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  EXPECT_EQ(KDRVX_CheckPlanRecords(&plan, nullptr, 3, nullptr, nullptr),
            KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
}

TEST_F(Claims, SummaryFileNamesOfTheWriterAndTheReader) {
  const auto name = [](const std::u16string& path, uint8_t created, uint16_t capacity = 100) {
    KDRVX_CHAR text[100] = {};
    const uint32_t status = KDRVX_GetSummaryFileName(c(path), created, text, capacity);
    return status == KDRVX_OK ? narrow(reinterpret_cast<const char16_t*>(text))
                              : "status " + std::to_string(status);
  };
  EXPECT_EQ(name(u"d/run.rvx", 1), "d/run.RVI");
  EXPECT_EQ(name(u"d.RVX/run.rvx", 1), "d.RVI");
  EXPECT_EQ(name(u"d/run.dat", 0), "d/run.RVI");
  EXPECT_EQ(name(u"d/run.dat", 1), "status " + std::to_string(KDRVX_ERR_RVI_FILE_NAME));
  EXPECT_EQ(name(u"ab", 0), "status " + std::to_string(KDRVX_ERR_RVI_FILE_NAME));
  EXPECT_EQ(name(u"d/run.rvx", 0, 9),
            "status " + std::to_string(KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH));
  EXPECT_EQ(name(u"d/run.rvx", 0, 10), "d/run.RVI");
}

TEST_F(Claims, EveryFindingHasItsWords) {
  for (uint32_t bit = KDRVX_FINDING_ENDS_IN_HEADER; bit <= KDRVX_FINDING_TRIGGER_BEYOND; bit <<= 1)
    EXPECT_FALSE(findingText(nullptr, bit).empty()) << bit;
  KDRVX_CHAR text[8];
  for (uint32_t unknown : {0u, 3u, KDRVX_FINDING_TRIGGER_BEYOND << 1})
    EXPECT_EQ(KDRVX_GetFindingText(nullptr, unknown, text, 8), KDRVX_ERR_RVX_INVALID_ERROR_CODE);
  ASSERT_EQ(KDRVX_GetFindingText(nullptr, KDRVX_FINDING_VARIABLE, text, 8), KDRVX_OK);
  EXPECT_EQ(narrow(reinterpret_cast<const char16_t*>(text)), "a chann");
}

}  // namespace
}  // namespace kdrvx::test
