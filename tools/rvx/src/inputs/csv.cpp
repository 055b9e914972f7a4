#include "inputs/csv.h"

#include <algorithm>
#include <cstring>

namespace rvx {

void appendCsvField(std::string& out, std::string_view field, char delimiter) {
  // Any delimiter that import tells a dialect by, not only the one in use:
  // a file whose heading row is its only row (a recording without records)
  // then splits by its own delimiter alone.
  const char special[] = {delimiter, ',', ';', '\t', '"', '\r', '\n', '\0'};
  if (field.find_first_of(special) == field.npos) {
    out += field;
    return;
  }
  out += '"';
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

namespace {

constexpr char kTextMark = '\'';
constexpr std::string_view kFormulaStarts = "=+-@'";
constexpr size_t kQuotedBytes = 40;

}  // namespace

void appendCsvText(std::string& out, std::string_view text, char delimiter) {
  if (text.empty() || kFormulaStarts.find(text.front()) == text.npos) {
    appendCsvField(out, text, delimiter);
    return;
  }
  std::string marked(1, kTextMark);
  marked += text;
  appendCsvField(out, marked, delimiter);
}

std::string_view csvText(std::string_view field) {
  if (!field.empty() && field.front() == kTextMark) field.remove_prefix(1);
  return field;
}

size_t unpaddedWidth(const std::vector<std::string_view>& fields, size_t least) {
  size_t width = fields.size();
  while (width > least && fields[width - 1].empty()) --width;
  return width;
}

std::string quotedField(std::string_view field) {
  if (field.size() <= kQuotedBytes) return "'" + std::string(field) + "'";
  // Not inside a UTF-8 sequence.
  size_t cut = kQuotedBytes;
  while (cut > 0 && (static_cast<unsigned char>(field[cut]) & 0xC0) == 0x80) --cut;
  const auto characters = std::count_if(field.begin(), field.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  });
  return "'" + std::string(field.substr(0, cut)) + "...' (" + std::to_string(characters) +
         " characters)";
}

CsvReader::CsvReader(std::istream& in, char delimiter)
    : in_(in), delimiter_(delimiter), buffer_(1 << 20) {}

// Keeps the bytes not consumed, moved to the buffer's start, and reads
// more behind them; a buffer that one record fills grows.
void CsvReader::fill() {
  const size_t kept = filled_ - position_;
  if (kept == buffer_.size()) buffer_.resize(2 * buffer_.size());
  std::memmove(buffer_.data(), buffer_.data() + position_, kept);
  discarded_ += position_;
  position_ = 0;
  filled_ = kept;
  const size_t wanted = buffer_.size() - filled_;
  in_.read(buffer_.data() + filled_, static_cast<std::streamsize>(wanted));
  const auto got = static_cast<size_t>(in_.gcount());
  filled_ += got;
  atEnd_ = got < wanted;  // read() returns less only at the end of the stream
}

void CsvReader::skipByteOrderMark() {
  while (filled_ - position_ < 3 && !atEnd_) fill();
  const auto* bytes = reinterpret_cast<const unsigned char*>(buffer_.data() + position_);
  const size_t available = filled_ - position_;
  if (available == 0 || bytes[0] != 0xEF) return;
  if (available < 3 || bytes[1] != 0xBB || bytes[2] != 0xBF)
    throw CsvError(1, "the file starts with a broken byte-order mark");
  position_ += 3;
}

void CsvReader::consume(size_t bytes, size_t lineFeeds) {
  position_ += bytes;
  recordLine_ = line_;
  line_ += lineFeeds;
}

namespace {

bool endsUnquotedField(char c, char delimiter) {
  return c == delimiter || c == '\r' || c == '\n' || c == '"';
}

// Removes the second quote of each doubled pair, in place.
std::string_view undoubleQuotes(char* field, size_t size) {
  char* out = field;
  for (size_t i = 0; i < size; ++i) {
    *out++ = field[i];
    if (field[i] == '"') ++i;
  }
  return {field, static_cast<size_t>(out - field)};
}

}  // namespace

// Scans the record at position_ without changing the buffer; only a record
// found whole is consumed. NeedMore: the buffered bytes end inside it.
CsvReader::Scan CsvReader::scan(std::vector<std::string_view>& fields) {
  const char* const bytes = buffer_.data();
  size_t p = position_;
  // Empty lines.
  for (;;) {
    if (p == filled_) {
      position_ = p;
      return atEnd_ ? Scan::End : Scan::NeedMore;
    }
    if (bytes[p] == '\n') {
      ++p, ++line_;
    } else if (bytes[p] == '\r') {
      if (p + 1 == filled_ && !atEnd_) return Scan::NeedMore;  // a line feed may follow
      ++p;
      if (p < filled_ && bytes[p] == '\n') ++p, ++line_;
    } else {
      break;
    }
    position_ = p;
  }
  fields.clear();
  doubledQuotes_.clear();
  size_t lineFeeds = 0;
  for (;;) {
    if (p < filled_ && bytes[p] == '"') {
      // Quoted field: runs to the quote that is not doubled.
      const size_t start = ++p;
      bool doubled = false;
      for (;;) {
        if (p == filled_) {
          if (atEnd_) throw CsvError(line_, "a quoted field is not closed");
          return Scan::NeedMore;
        }
        const char c = bytes[p++];
        if (c == '\n') ++lineFeeds;
        if (c != '"') continue;
        if (p == filled_ && !atEnd_) return Scan::NeedMore;
        if (p < filled_ && bytes[p] == '"') {
          ++p;
          doubled = true;
          continue;
        }
        break;
      }
      if (doubled) doubledQuotes_.push_back(fields.size());
      fields.emplace_back(bytes + start, p - 1 - start);
      if (p < filled_ && bytes[p] != delimiter_ && bytes[p] != '\r' && bytes[p] != '\n') {
        throw CsvError(
            line_ + lineFeeds,
            "a closing quote is followed by something other than a delimiter or a line end");
      }
    } else {
      const size_t start = p;
      while (p < filled_ && !endsUnquotedField(bytes[p], delimiter_)) ++p;
      if (p < filled_ && bytes[p] == '"')
        throw CsvError(line_ + lineFeeds, "a double quote inside an unquoted field");
      fields.emplace_back(bytes + start, p - start);
    }
    if (p == filled_) {
      if (!atEnd_) return Scan::NeedMore;
      break;  // the last record without a line end
    }
    const char end = bytes[p++];
    if (end == delimiter_) continue;
    if (end == '\n') ++lineFeeds;
    if (end == '\r') {
      if (p == filled_ && !atEnd_) return Scan::NeedMore;  // a line feed may follow
      if (p < filled_ && bytes[p] == '\n') ++p, ++lineFeeds;
    }
    break;
  }
  for (size_t index : doubledQuotes_) {
    const auto offset = static_cast<size_t>(fields[index].data() - bytes);
    fields[index] = undoubleQuotes(buffer_.data() + offset, fields[index].size());
  }
  consume(p - position_, lineFeeds);
  return Scan::Record;
}

bool CsvReader::next(std::vector<std::string_view>& fields) {
  if (!started_) {
    started_ = true;
    skipByteOrderMark();
  }
  for (;;) {
    const Scan result = scan(fields);
    if (result != Scan::NeedMore) return result == Scan::Record;
    fill();
  }
}

}  // namespace rvx
