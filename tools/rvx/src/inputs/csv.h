// CSV as RFC 4180 has it: comma-separated fields, records ended by CR LF,
// fields that hold a comma, a double quote or a line break enclosed in
// double quotes with inner quotes doubled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace rvx {

inline constexpr std::string_view kCsvLineEnd = "\r\n";

// Appends `field` to `out`, quoted when it needs to be: when it holds the
// delimiter, a double quote, a line break, or a comma, semicolon or tab,
// the delimiters that import tells apart.
void appendCsvField(std::string& out, std::string_view field, char delimiter = ',');

// A text (not a number) as a spreadsheet shows it: one that begins with
// '=', '+', '-' or '@', which a spreadsheet takes for a formula, gets an
// apostrophe in front, as spreadsheets mark a text themselves; so does one
// that begins with an apostrophe, so that csvText gives back any text
// exactly.
void appendCsvText(std::string& out, std::string_view text, char delimiter = ',');
// The text of a field that appendCsvText wrote: without its one leading
// apostrophe, if it has one.
std::string_view csvText(std::string_view field);

// The number of fields of a row without the empty ones at its end, `least`
// at the least: a spreadsheet that saves a file pads every row with empty
// fields to the width of the widest.
size_t unpaddedWidth(const std::vector<std::string_view>& fields, size_t least);

// A field as a message quotes it: in apostrophes, and a long one cut
// ("'12345678...' (5000 characters)").
std::string quotedField(std::string_view field);

class CsvError : public std::runtime_error {
 public:
  CsvError(size_t line, const std::string& what) : std::runtime_error(what), line_(line) {}
  size_t line() const { return line_; }

 private:
  size_t line_;
};

// Reads records from a stream in large blocks (fields separated by the
// delimiter given, a comma by default). Accepts CR LF and bare LF
// line ends, a missing line end after the last record and a UTF-8
// byte-order mark; skips empty lines. A quote inside an unquoted field, a
// character other than a comma or a line end after a closing quote, and a
// quoted field still open at the end of the input are errors.
//
// Fields are views into the reader's buffer, which always holds a record
// whole (it grows for a record longer than itself), so reading allocates
// nothing per record.
class CsvReader {
 public:
  // `delimiter` separates the fields (a comma unless a dialect says else).
  explicit CsvReader(std::istream& in, char delimiter = ',');

  // The next record's fields, valid until the next call of next() or
  // consume(); false at the end of the input. Throws CsvError.
  bool next(std::vector<std::string_view>& fields);
  // Line on which the record last returned or consumed began, counted from 1.
  size_t line() const { return recordLine_; }
  // Bytes consumed so far, for progress.
  uint64_t consumed() const { return discarded_ + position_; }

  // For a caller that parses plain records in place, after the first
  // record: the bytes read and not yet consumed (possibly none, possibly
  // ending inside a record), and the consumption of whole records from
  // their start, `lineFeeds` being the line feeds among those bytes.
  std::string_view pending() const { return {buffer_.data() + position_, filled_ - position_}; }
  void consume(size_t bytes, size_t lineFeeds);

 private:
  enum class Scan { Record, End, NeedMore };
  Scan scan(std::vector<std::string_view>& fields);
  void fill();
  void skipByteOrderMark();

  std::istream& in_;
  char delimiter_;
  std::vector<char> buffer_;
  size_t position_ = 0;  // in buffer_, of the first byte not consumed
  size_t filled_ = 0;
  uint64_t discarded_ = 0;  // bytes consumed before the buffer's start
  bool atEnd_ = false;      // the stream has nothing more
  size_t line_ = 1;
  size_t recordLine_ = 0;
  bool started_ = false;
  std::vector<size_t> doubledQuotes_;  // fields of the record scanned that hold ""
};

}  // namespace rvx
