#include "support/reader_support.h"

#include <cmath>
#include <limits>

#include "support/test_support.h"

namespace kdrvx::test {
namespace {

KDRVX_RecordingInfo contextInfo() {
  KDRVX_RecordingInfo info{};
  info.size = sizeof info;
  info.version = KDRVX_GetVersion();
  info.noRecords = KDRVX_GetNoRecords();
  info.noChannels = KDRVX_GetNoChannels();
  info.noTriggerRecord = KDRVX_GetNoTriggerRecord();
  info.flagStatistics = KDRVX_GetFlagStatistics();
  info.scanRate = KDRVX_GetScanRate();
  KDRVX_GetDataLayout(&info.dataOffset, &info.recordSize, &info.recordKind);
  info.anyMultiChannel = KDRVX_IsAnyMultiChannelinRVX();
  KDRVX_CheckOriginalFlag(&info.original);
  KDRVX_GetDate(info.date);
  KDRVX_GetTime(info.time);
  KDRVX_GetComment(info.comment, KDRVX_COMMENT_CAPACITY);
  KDRVX_GetCompany(info.company, KDRVX_COMPANY_CAPACITY);
  KDRVX_GetInstrument(info.instrument, KDRVX_INSTRUMENT_CAPACITY);
  KDRVX_GetSnrInstrument(info.snrInstrument, KDRVX_SNR_INSTRUMENT_CAPACITY);
  KDRVX_GetNameMeasurement(info.nameMeasurement, KDRVX_NAME_MEASUREMENT_CAPACITY);
  KDRVX_GetTriggerSetting(info.triggerSetting, KDRVX_TRIGGER_SETTING_CAPACITY);
  return info;
}

KDRVX_ChannelInfo contextChannel(int16_t k) {
  KDRVX_ChannelInfo c{};
  c.size = sizeof c;
  c.indRate = KDRVX_GetChannelIndRate(k);
  c.minValue = KDRVX_GetChannelMinValue(k);
  c.maxValue = KDRVX_GetChannelMaxValue(k);
  c.meanValue = KDRVX_GetChannelMeanValue(k);
  c.rmsValue = KDRVX_GetChannelRMSValue(k);
  c.sdevValue = KDRVX_GetChannelSDevValue(k);
  c.multiChannelBits = KDRVX_GetNumberMultiChannelBits(k);
  c.isds = KDRVX_IsChannelISDS(k);
  c.linearisation = KDRVX_IsChannelLinearisation(k);
  c.multiChannel = KDRVX_IsChannelMultiChannel(k);
  KDRVX_GetChannelVariable(c.variable, k, KDRVX_CHANNEL_VARIABLE_CAPACITY);
  KDRVX_GetChannelUnit(c.unit, k, KDRVX_CHANNEL_UNIT_CAPACITY);
  KDRVX_GetChannelName(c.name, k, KDRVX_CHANNEL_NAME_CAPACITY);
  KDRVX_GetChannelNumber(c.number, k, KDRVX_CHANNEL_NUMBER_CAPACITY);
  KDRVX_GetChannelSignalType(c.signalType, k, KDRVX_CHANNEL_SIGNAL_TYPE_CAPACITY);
  KDRVX_GetChannelZeroPoint(c.zeroPoint, k, KDRVX_CHANNEL_ZERO_POINT_CAPACITY);
  KDRVX_GetChannelCalParameter(c.calParameter, k, KDRVX_CHANNEL_CAL_PARAMETER_CAPACITY);
  KDRVX_GetChannelFilter(c.filter, k, KDRVX_CHANNEL_FILTER_CAPACITY);
  KDRVX_GetChannelLintab(c.lintab, k, KDRVX_CHANNEL_LINTAB_CAPACITY);
  return c;
}

// Whole stored records of the DOS kind in the file: a record the reader
// refuses (result 1) among them is one of those, not the end of the file.
uint64_t wholeStored(const std::filesystem::path& path, const KDRVX_RecordingInfo& info) {
  const auto length = static_cast<uint64_t>(std::filesystem::file_size(path));
  return length > info.dataOffset ? (length - info.dataOffset) / info.recordSize : 0;
}

void contextRecords(const std::filesystem::path& path, Report& report) {
  const uint32_t channels = report.info.recordSize / 4;
  if (channels == 0) return;
  const bool dos = report.info.recordKind == KDRVX_RECORD_KIND_DOS;
  const uint64_t stored = dos ? wholeStored(path, report.info) : 0;
  std::vector<float> record(channels, 0.0f);
  const std::vector<float> rejected(channels, std::numeric_limits<float>::quiet_NaN());
  for (uint64_t n = 0; n < kRecordLimit; ++n) {
    const uint32_t result =
        n == 0 ? KDRVX_ReadFirstRecord(record.data()) : KDRVX_ReadNextRecord(record.data());
    if (result == 0) {
      report.records.insert(report.records.end(), record.begin(), record.end());
    } else if (dos && result == 1 && n < stored) {
      report.records.insert(report.records.end(), rejected.begin(), rejected.end());
    } else {
      break;
    }
    ++report.count;
  }
}

}  // namespace

Report contextReport(const std::filesystem::path& path) {
  Report report;
  report.status = KDRVX_OpenRead(c(widePath(path)));
  if (report.status != KDRVX_OK) return report;
  report.info = contextInfo();
  for (int16_t k = 0; k < static_cast<int16_t>(std::min<uint32_t>(report.info.noChannels, 48)); ++k)
    report.channels.push_back(contextChannel(k));
  contextRecords(path, report);
  KDRVX_CloseRead();
  return report;
}

Report readerReport(const std::filesystem::path& path) {
  Report report;
  KDRVX_Reader* reader = reinterpret_cast<KDRVX_Reader*>(&report);  // must become NULL on failure
  report.status = KDRVX_ReaderOpen(c(widePath(path)), &reader);
  if (report.status != KDRVX_OK) {
    EXPECT_EQ(reader, nullptr);
    return report;
  }
  report.info.size = sizeof report.info;
  EXPECT_EQ(KDRVX_ReaderInfo(reader, &report.info), KDRVX_OK);
  for (int16_t k = 0;; ++k) {
    KDRVX_ChannelInfo channel{};
    channel.size = sizeof channel;
    const uint32_t status = KDRVX_ReaderChannel(reader, k, &channel);
    if (status != KDRVX_OK) {
      EXPECT_EQ(status, KDRVX_ERR_RVX_CHN_UNKNOWN);
      break;
    }
    report.channels.push_back(channel);
  }
  const uint32_t channels = report.info.recordSize / 4;
  report.records.resize(size_t{kRecordLimit} * channels);
  const int64_t count = KDRVX_ReaderRead(reader, 0, kRecordLimit, report.records.data());
  EXPECT_GE(count, 0);
  report.count = static_cast<uint64_t>(count);
  report.records.resize(report.count * channels);
  KDRVX_ReaderClose(reader);
  return report;
}

std::vector<float> readInBlocks(KDRVX_Reader* reader, uint32_t block, uint32_t channels) {
  std::vector<float> all;
  std::vector<float> buffer(size_t{block} * channels);
  for (int64_t first = 0; first < kRecordLimit;) {
    const auto wanted = static_cast<uint32_t>(std::min<int64_t>(block, kRecordLimit - first));
    const int64_t got = KDRVX_ReaderRead(reader, first, wanted, buffer.data());
    if (got <= 0) break;
    all.insert(all.end(), buffer.begin(), buffer.begin() + got * channels);
    first += got;
  }
  return all;
}

}  // namespace kdrvx::test
