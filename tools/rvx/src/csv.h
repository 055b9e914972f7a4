// CSV as RFC 4180 has it: comma-separated fields, records ended by CR LF,
// fields that hold a comma, a double quote or a line break enclosed in
// double quotes with inner quotes doubled.
#pragma once

#include <cstddef>
#include <istream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace rvx {

inline constexpr std::string_view kCsvLineEnd = "\r\n";

// Appends `field` to `out`, quoted when it needs to be.
void appendCsvField(std::string& out, std::string_view field);

class CsvError : public std::runtime_error {
 public:
  CsvError(size_t line, const std::string& what)
      : std::runtime_error(what), line_(line) {}
  size_t line() const { return line_; }

 private:
  size_t line_;
};

// Reads records from a stream in large blocks. Accepts CR LF and bare LF
// line ends, a missing line end after the last record and a UTF-8
// byte-order mark; skips empty lines. A quote inside an unquoted field, a
// character other than a comma or a line end after a closing quote, and a
// quoted field still open at the end of the input are errors.
class CsvReader {
 public:
  explicit CsvReader(std::istream& in);

  // The next record's fields (the vector and its strings are reused);
  // false at the end of the input. Throws CsvError.
  bool next(std::vector<std::string>& fields);
  // Line on which the record last returned began, counted from 1.
  size_t line() const { return recordLine_; }
  // Bytes consumed so far, for progress.
  uint64_t consumed() const { return consumed_; }

 private:
  bool fill();
  int peek();
  int get();

  std::istream& in_;
  std::vector<char> buffer_;
  size_t position_ = 0;
  size_t filled_ = 0;
  size_t line_ = 1;
  size_t recordLine_ = 0;
  uint64_t consumed_ = 0;
  bool started_ = false;
};

}  // namespace rvx
