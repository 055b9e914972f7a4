// The block of rows before the heading that `export --with-metadata`
// writes and import reads back, so that a recording keeps every header and
// channel property through a CSV file. Each row starts with a key in '#':
//
//   #rvx metadata;2
//   #comment;first line<CR LF>second line      (quoted as CSV quotes)
//   #company;ACME Corp        ... every header text, one row each
//   #date;04.12.2023
//   #time;14:05:09
//   #scan interval [us];1500
//   #trigger record;0
//   #original;1
//   #channel properties;variable;unit;name;...  the names of the columns below
//   #channel;p1;bar;Inlet;...                   one row per channel
//
// (with the file's delimiter in place of ';'). The heading row follows.
// A date or time that the header does not know is "unknown"; texts are
// written with appendCsvText, so that none reads as a formula; rows that a
// spreadsheet padded with empty fields are read as they were written.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inputs/csv.h"
#include "shared/library.h"

namespace rvx {

inline constexpr std::string_view kMetadataMark = "#rvx metadata";

// The date or the time of a header that does not know it, in the block and
// in import's --date and --time.
inline constexpr std::string_view kUnknownStart = "unknown";

// The rows of the block for the channels `selected` of `info`, each ended
// by CR LF, in UTF-8.
std::string metadataBlock(const RecordingInfo& info, const std::vector<int>& selected,
                          char delimiter);

// What a block holds: the header and channel properties of `info`
// (channels in the order of the rows), and which of the header's
// optional values it gave.
struct CsvMetadata {
  RecordingInfo info;
  bool hasDate = false, hasTime = false, hasInterval = false, hasTrigger = false;
  std::string triggerWhere;  // the row of the trigger record, for messages
};

// A trigger record as the header holds it, 0 to 2^32 - 1. Throws ToolError
// naming `where` and the value for any other text.
uint32_t parseTriggerRecord(std::string_view text, const std::string& where);

// Reads the block row by row: begin() with the first row (the mark), then
// add() every row whose first field starts with '#', until add() returns
// false for the first row that is no metadata (the heading). Throws
// ToolError for a key it does not know or a value it cannot take; `where`
// names the row in messages.
class MetadataReader {
 public:
  void begin(const std::vector<std::string_view>& fields, const std::string& where);
  bool add(const std::vector<std::string_view>& fields, const std::string& where);
  const CsvMetadata& metadata() const { return metadata_; }

 private:
  void addChannel(const std::vector<std::string_view>& fields, const std::string& where);
  // A text field as written.
  std::string_view text(std::string_view field) const {
    return markedTexts_ ? csvText(field) : field;
  }

  CsvMetadata metadata_;
  bool markedTexts_ = true;              // texts as appendCsvText writes them
  std::vector<std::string> properties_;  // names of the channel columns
};

}  // namespace rvx
