#include "format/finding_texts.h"

#include <algorithm>
#include <iterator>

#include "format/layouts.h"
#include "kdrvx/kdrvx.h"

namespace kdrvx::format {
namespace {

std::string number(uint64_t n) { return std::to_string(n); }

std::string counted(uint64_t n, const char* word) {
  return number(n) + " " + word + (n == 1 ? "" : "s");
}

// One finding: its text in general, and a maker of the text with figures
// (null where the figures add nothing).
struct FindingWords {
  uint32_t finding;
  const char* general;
  std::string (*withFigures)(const Claims&);
};

std::string endsInHeader(const Claims& c) {
  return "the file ends inside its header (" + number(c.fileLength) + " of " +
         number(c.headerLength) + " bytes); it holds no recording";
}

std::string dataInHeader(const Claims& c) {
  return "the header size field and the channel count cannot both be true: the records would "
         "be read from byte " +
         number(c.dataOffset) + ", the header takes " + number(c.headerLength) +
         " bytes for its channels";
}

std::string fewerRecords(const Claims& c) {
  return "the header counts " + counted(c.headerRecords, "record") + ", the data holds only " +
         counted(c.heldRecords, "whole record") + " (truncated?)";
}

std::string moreRecords(const Claims& c) {
  return "stale record count: the header counts " + counted(c.headerRecords, "record") +
         ", the data holds " + counted(c.heldRecords, "whole record") + " (" +
         number(c.heldRecords > c.headerRecords ? c.heldRecords - c.headerRecords : 0) +
         " beyond the count; a recording that stopped before its final header?)";
}

std::string partialRecord(const Claims& c) {
  return "partial trailing record: " + counted(c.trailingBytes, "byte") +
         " after the last whole record";
}

std::string negativeCount(const Claims& c) {
  return "the record count derived from the file's length is negative: the file (" +
         counted(c.fileLength, "byte") + ") is shorter than its data offset (" +
         number(c.dataOffset) + ")";
}

std::string statisticsDiffer(const Claims& c) {
  return "stored statistics differ from those of the " +
         counted(std::min(c.headerRecords, c.heldRecords), "counted record");
}

std::string triggerBeyond(const Claims& c) {
  return "the trigger record " + number(c.triggerRecord) + " lies beyond the " +
         counted(c.heldRecords, "record") + " the data holds";
}

constexpr FindingWords kWords[] = {
    {KDRVX_FINDING_ENDS_IN_HEADER, "the file ends inside its header; it holds no recording",
     endsInHeader},
    {KDRVX_FINDING_DATA_IN_HEADER,
     "the header size field and the channel count cannot both be true: the records would be "
     "read from inside the header or sliced by the wrong channel count",
     dataInHeader},
    {KDRVX_FINDING_FEWER_RECORDS,
     "the data holds fewer whole records than the header counts (truncated?)", fewerRecords},
    {KDRVX_FINDING_MORE_RECORDS,
     "stale record count: the data holds more whole records than the header counts (a "
     "recording that stopped before its final header?)",
     moreRecords},
    {KDRVX_FINDING_PARTIAL_RECORD,
     "partial trailing record: the bytes of an incomplete record after the last whole one",
     partialRecord},
    {KDRVX_FINDING_NEGATIVE_COUNT,
     "the record count derived from the file's length is negative: the file is shorter than "
     "its data offset",
     negativeCount},
    {KDRVX_FINDING_NO_SUMMARY_FILE,
     "no RVI file beside it: company, instrument, serial number, measurement name, trigger "
     "setting, and the channel names and other channel texts (number, signal type, measuring "
     "range, zero point, filter, linearisation table) are empty, the ISDS and linearisation "
     "flags 0",
     nullptr},
    {KDRVX_FINDING_DATE_REPLACED,
     "the header's date was implausible and was replaced by the file's modification time", nullptr},
    {KDRVX_FINDING_STATISTICS_DIFFER, "stored statistics differ from those of the records",
     statisticsDiffer},
    {KDRVX_FINDING_NO_STATISTICS, "no statistics stored (flag 0) for a file with records", nullptr},
    {KDRVX_FINDING_STATISTICS_FLAG, "the statistics flag is none of 0, 1 and 3", nullptr},
    {KDRVX_FINDING_STRAY_BITS, "a multichannel value sets bits beyond its channel's bits", nullptr},
    {KDRVX_FINDING_VARIABLE,
     "a channel has no valid variable, or the variable of an earlier channel", nullptr},
    {KDRVX_FINDING_MULTICHANNEL_WIDTH, "a multichannel of more than 32 bits", nullptr},
    {KDRVX_FINDING_UNTERMINATED_TEXT, "a text field has no terminating zero", nullptr},
    {KDRVX_FINDING_IMPLAUSIBLE_DATE, "implausible date or time in the header", nullptr},
    {KDRVX_FINDING_NOT_OPENED, "the library does not open the file", nullptr},
    {KDRVX_FINDING_TRIGGER_BEYOND, "the trigger record lies beyond the records the data holds",
     triggerBeyond},
};

}  // namespace

std::string findingText(uint32_t finding, const Claims* claims) {
  for (const FindingWords& words : kWords) {
    if (words.finding != finding) continue;
    if (claims != nullptr && words.withFigures != nullptr) return words.withFigures(*claims);
    return words.general;
  }
  return {};
}

std::string layoutName(uint32_t code) {
  constexpr LayoutId kIds[] = {LayoutId::DosBefore50, LayoutId::DosKindQ, LayoutId::DosKindP,
                               LayoutId::Win2,        LayoutId::Win3,     LayoutId::Win3,
                               LayoutId::Win6,        LayoutId::Current};
  static_assert(KDRVX_LAYOUT_CURRENT - KDRVX_LAYOUT_DOS_BEFORE_50 + 1 == std::size(kIds));
  if (code < KDRVX_LAYOUT_DOS_BEFORE_50 || code > KDRVX_LAYOUT_CURRENT) return {};
  const std::string name = layoutOf(kIds[code - KDRVX_LAYOUT_DOS_BEFORE_50]).name;
  return code == KDRVX_LAYOUT_COMPACT ? name + " (compact)" : name;
}

}  // namespace kdrvx::format
