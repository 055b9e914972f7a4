// KDRVX_Check: a recording opened as a reader opens it, its claims measured
// (format/claims.h), every record the header counts and the data holds read
// through the block reader, the statistics recomputed with the record
// writer's arithmetic (format/statistics.h) and compared with the stored
// ones, every multichannel value tested against its bits, and the header's
// variables, texts, date and trigger record judged. Nothing here traces or touches the
// module state, and the file is only read.
#include "read/check.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "format/claims.h"
#include "format/statistics.h"
#include "format/text.h"
#include "kdrvx/kdrvx.h"
#include "platform/platform.h"
#include "read/reader.h"

namespace kdrvx::read {
namespace {

using format::MGR_DEF;
using format::RVX_HEADER;
namespace statistics = format::statistics;

// Records are read and followed in blocks of about this many values.
constexpr uint32_t kBlockValues = 64 * 1024;

// What the check finds per channel, beside the caller's struct.
// What is found in a channel is the interface's report of it, handed over
// as it stands.
using ChannelCheck = KDRVX_CheckChannel;

struct Check {
  uint32_t findings = 0;  // the file's own, beside its claims
  uint64_t recordsRead = 0;
  ChannelCheck channels[format::kMaxChannels];

  Check() {
    for (ChannelCheck& channel : channels) {
      channel = ChannelCheck{};
      channel.size = sizeof channel;
      channel.duplicateOf = -1;
    }
  }
};

template <size_t N>
bool terminated(const char16_t (&field)[N]) {
  return boundedLength(field, N) < N;
}

bool headerTextsTerminated(const RVX_HEADER& h) {
  return terminated(h.Comment) && terminated(h.Company) && terminated(h.Instrument) &&
         terminated(h.SnrInstrument) && terminated(h.NameMeasurement) &&
         terminated(h.TriggerSetting);
}

bool channelTextsTerminated(const MGR_DEF& c) {
  return terminated(c.ChannelUnit) && terminated(c.ChannelName) && terminated(c.ChannelNumber) &&
         terminated(c.ChannelSignalType) && terminated(c.ChannelZeroPoint) &&
         terminated(c.ChannelCalParameter) && terminated(c.ChannelFilter) &&
         terminated(c.ChannelLintab);
}

bool sameVariable(const MGR_DEF& a, const MGR_DEF& b) {
  return a.VariableLetter == b.VariableLetter && a.VariablePrefix == b.VariablePrefix &&
         a.VariableIndex == b.VariableIndex;
}

// Variables, multichannel widths, texts and the date: what the header alone
// tells.
void checkHeader(const RVX_HEADER& h, format::LayoutId layout, Check& check) {
  if (format::dateImplausible(h)) check.findings |= KDRVX_FINDING_IMPLAUSIBLE_DATE;
  if (!headerTextsTerminated(h)) check.findings |= KDRVX_FINDING_UNTERMINATED_TEXT;
  for (uint32_t k = 0; k < channelCount(h); ++k) {
    const MGR_DEF& c = h.Channel[k];
    ChannelCheck& found = check.channels[k];
    if (format::storesVariables(layout)) {
      if (c.VariableLetter == 0 || c.VariableIndex <= 0) found.findings |= KDRVX_FINDING_VARIABLE;
      for (uint32_t j = 0; j < k && c.VariableLetter != 0; ++j) {
        if (!sameVariable(c, h.Channel[j])) continue;
        found.findings |= KDRVX_FINDING_VARIABLE;
        found.duplicateOf = static_cast<int32_t>(j);
        break;
      }
    }
    if (c.MultiChannel > 32) found.findings |= KDRVX_FINDING_MULTICHANNEL_WIDTH;
    if (!channelTextsTerminated(c)) found.findings |= KDRVX_FINDING_UNTERMINATED_TEXT;
  }
}

// The values of `count` records against the bits of their channels.
void followStrayBits(const RVX_HEADER& h, const float* records, uint64_t first, uint32_t count,
                     uint32_t channels, Check& check) {
  for (uint32_t k = 0; k < channels; ++k) {
    const uint32_t bits = h.Channel[k].MultiChannel;
    if (format::multichannelMask(bits) == ~0u) continue;
    ChannelCheck& found = check.channels[k];
    for (uint32_t r = 0; r < count; ++r) {
      const float value = records[static_cast<size_t>(r) * channels + k];
      if (format::strayBits(value, bits) == 0) continue;
      if (found.strayRecords++ == 0) {
        found.firstStrayRecord = first + r;
        std::memcpy(&found.firstStrayBits, &value, sizeof value);
      }
    }
    if (found.strayRecords != 0) found.findings |= KDRVX_FINDING_STRAY_BITS;
  }
}

// Reads `total` records from the first on, following their statistics and
// bits. False when the memory for a block could not be had or the system
// failed a read (the reader's cursor.failure says which); check.recordsRead
// then counts the records read before.
bool readRecords(Reader& reader, uint64_t total, KDRVX_Progress progress, void* context,
                 Check& check) {
  const RVX_HEADER& h = reader.recording.header;
  const uint32_t channels =
      static_cast<uint32_t>(reader.recording.recordSize) / format::kBytesPerValue;
  if (channels == 0 || total == 0) return true;
  const uint32_t perBlock = std::max<uint32_t>(1, kBlockValues / channels);
  std::unique_ptr<float[]> block(new (std::nothrow) float[size_t{perBlock} * channels]);
  std::unique_ptr<statistics::Recount> recount(new (std::nothrow) statistics::Recount);
  if (!block || !recount) {
    reader.cursor.failure = platform::kErrorNotEnoughMemory;
    return false;
  }

  uint64_t done = 0;
  while (done < total) {
    const auto wanted = static_cast<uint32_t>(std::min<uint64_t>(perBlock, total - done));
    const uint64_t got = readBlock(reader.recording, reader.cursor, done, wanted, block.get());
    if (reader.cursor.failure != 0) {
      check.recordsRead = done;
      return false;
    }
    const auto count = static_cast<uint32_t>(got);
    if (count == 0) break;
    statistics::follow(*recount, block.get(), count, channels);
    followStrayBits(h, block.get(), done, count, channels, check);
    done += count;
    if (progress != nullptr) progress(done, total, context);
    if (count < wanted) break;
  }
  check.recordsRead = done;
  if (done == 0) return true;
  for (uint32_t k = 0; k < channels; ++k) {
    ChannelCheck& found = check.channels[k];
    found.minValue = recount->running.minimum[k];
    found.maxValue = recount->running.maximum[k];
    found.meanValue = statistics::meanOf(*recount, k);
    found.rmsValue = statistics::rmsOf(*recount, k);
  }
  return true;
}

// The stored statistics against those of the records read.
void compareStatistics(const RVX_HEADER& h, format::LayoutId layout, Check& check) {
  const uint8_t flag = h.FlagStatistics;
  if (flag != 0 && flag != 1 && flag != 3) {
    check.findings |= KDRVX_FINDING_STATISTICS_FLAG;
    return;
  }
  if (check.recordsRead == 0) return;
  if (flag == 0) {
    if (format::statisticsExpected(layout)) check.findings |= KDRVX_FINDING_NO_STATISTICS;
    return;
  }
  for (uint32_t k = 0; k < channelCount(h); ++k) {
    const MGR_DEF& c = h.Channel[k];
    ChannelCheck& found = check.channels[k];
    uint32_t differ = 0;
    if (!format::sameExtreme(c.MinValue, found.minValue)) differ |= KDRVX_STATISTIC_MIN;
    if (!format::sameExtreme(c.MaxValue, found.maxValue)) differ |= KDRVX_STATISTIC_MAX;
    if (flag == 3 && !format::closeAverage(c.MeanValue, found.meanValue))
      differ |= KDRVX_STATISTIC_MEAN;
    if (flag == 3 && !format::closeAverage(c.RMSValue, found.rmsValue))
      differ |= KDRVX_STATISTIC_RMS;
    found.statisticsDiffer = differ;
    if (differ != 0) found.findings |= KDRVX_FINDING_STATISTICS_DIFFER;
  }
}

// A file the library does not open: what the open learned of it.
KDRVX_Findings refusedClaims(const Recording& recording, const OpenOutcome& outcome) {
  format::Claims claims{};
  claims.size = sizeof claims;
  claims.findings = KDRVX_FINDING_NOT_OPENED;
  if (outcome.imported && outcome.layout != nullptr) {
    claims.layout = format::layoutCode(*outcome.layout, recording.sourceVersion);
    claims.fileLength = outcome.fileLength;
    claims.headerLength = format::headerLengthOf(*outcome.layout, recording.header.NoChannels, 0);
    if (claims.fileLength < std::max<uint64_t>(claims.headerLength, outcome.layout->fixedSize))
      claims.findings |= KDRVX_FINDING_ENDS_IN_HEADER;
  }
  return claims;
}

}  // namespace

uint32_t check(const char16_t* path, KDRVX_CheckReport* report, KDRVX_CheckChannel* channels,
               uint32_t channelCapacity, KDRVX_Progress progress, void* context) {
  if (path == nullptr || report == nullptr || report->size < library::kSmallestSized)
    return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  if (channelCapacity > 0 && (channels == nullptr || channels->size < library::kSmallestSized))
    return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  std::unique_ptr<Reader> reader(new (std::nothrow) Reader);
  std::unique_ptr<Check> found(new (std::nothrow) Check);
  if (!reader || !found) return KDRVX_ERR_RVX_OPEN_READ;

  KDRVX_CheckReport whole{};
  whole.size = sizeof whole;
  Recording& recording = reader->recording;
  const OpenOutcome outcome = openRecording(recording, path, RetryLine::Silent);
  whole.openStatus = outcome.status;
  if (outcome.status != KDRVX_OK) {
    // The header of a file that was not opened is not judged; only how far
    // the file goes, where the length is known.
    whole.claims = refusedClaims(recording, outcome);
    whole.claims.size = sizeof whole.claims;
    return deliver(whole, report);
  }
  measureClaims(recording, outcome);
  reader->cursor.filePosition = static_cast<int64_t>(recording.dataOffset);

  const RVX_HEADER& h = recording.header;
  const format::LayoutId layout = outcome.layout->id;
  const format::Claims& claims = recording.claims;
  checkHeader(h, layout, *found);
  // Values read from the wrong place mean nothing: they are not judged.
  bool recordsRead = true;
  if ((claims.findings & KDRVX_FINDINGS_VALUES_WRONG) == 0) {
    if (format::triggerBeyond(claims)) found->findings |= KDRVX_FINDING_TRIGGER_BEYOND;
    const uint64_t total = std::min(claims.headerRecords, claims.heldRecords);
    recordsRead = readRecords(*reader, total, progress, context, *found);
  }
  // Statistics of the records up to a failed read are not those of the
  // recording: they are not compared.
  if (recordsRead) compareStatistics(h, layout, *found);
  whole.systemError = reader->cursor.failure;

  whole.noChannels = h.NoChannels;
  whole.recordsRead = found->recordsRead;
  uint32_t findings = claims.findings | found->findings;
  const uint32_t stride = channelCapacity > 0 ? channels->size : 0;
  for (uint32_t k = 0; k < channelCount(h); ++k) {
    findings |= found->channels[k].findings;
    if (k < channelCapacity) deliver(found->channels[k], library::entryAt(channels, stride, k));
  }
  whole.claims = claims;
  whole.claims.findings = findings;
  const uint32_t delivered = deliver(whole, report);
  return recordsRead ? delivered : KDRVX_ERR_RVX_OPEN_READ;
}

}  // namespace kdrvx::read
