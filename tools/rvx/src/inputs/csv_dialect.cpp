#include "inputs/csv_dialect.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>
#include <sstream>

#include "shared/tool_error.h"
#include "shared/utf.h"
#include "shared/wall_time.h"

namespace rvx {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";
constexpr char kDelimiters[] = {',', ';', '\t'};
constexpr std::string_view kEncodingNames[] = {"utf-8", "utf-8-bom", "cp1252", "utf-16"};

// Code page 1252 at 0x80 to 0x9F. Its five unassigned bytes map to the C1
// controls of the same number, as Windows maps them, so that every byte
// has a character and back.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t cp1252Character(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte;
}

std::optional<unsigned char> cp1252Byte(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<unsigned char>(c);
  const auto* at = std::find(kCp1252High.begin(), kCp1252High.end(), c);
  if (at == kCp1252High.end()) return std::nullopt;
  return static_cast<unsigned char>(0x80 + (at - kCp1252High.begin()));
}

// Whether `bytes` is UTF-8; a sequence cut off at the end counts as valid
// unless the bytes are the whole input.
bool validUtf8(std::string_view bytes, bool whole) {
  for (size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
    } else if (lead >= 0x80) {
      return false;
    }
    for (size_t k = 1; k < length; ++k) {
      if (i + k == bytes.size()) return !whole;
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

// Decodes UTF-16 from byte pairs, keeping an odd byte and a high surrogate
// that a block ends with for the next one.
class Utf16Decoder {
 public:
  explicit Utf16Decoder(bool bigEndian) : bigEndian_(bigEndian) {}
  void decode(std::string_view bytes, std::string& out) {
    for (char byte : bytes) {
      if (!odd_) {
        odd_ = static_cast<unsigned char>(byte);
        continue;
      }
      const unsigned char first = *odd_, second = static_cast<unsigned char>(byte);
      odd_.reset();
      unit(static_cast<char16_t>(bigEndian_ ? (first << 8) | second : (second << 8) | first), out);
    }
  }
  void finish(std::string& out) {
    if (high_ || odd_) appendUtf8(out, 0xFFFD);
    high_ = 0, odd_.reset();
  }

 private:
  void unit(char16_t u, std::string& out) {
    if (high_) {
      if (u >= 0xDC00 && u <= 0xDFFF) {
        appendUtf8(out, 0x10000 + ((high_ - 0xD800) << 10) + (u - 0xDC00));
        high_ = 0;
        return;
      }
      appendUtf8(out, 0xFFFD);
      high_ = 0;
    }
    if (u >= 0xD800 && u <= 0xDBFF) {
      high_ = u;
    } else {
      appendUtf8(out, u >= 0xDC00 && u <= 0xDFFF ? 0xFFFD : u);
    }
  }

  bool bigEndian_;
  std::optional<unsigned char> odd_;
  char16_t high_ = 0;
};

class DecodingBuffer : public std::streambuf {
 public:
  DecodingBuffer(std::string head, std::istream& source, TextEncoding encoding)
      : head_(std::move(head)), source_(source), encoding_(encoding) {}

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    for (;;) {
      const size_t got = readRaw();
      out_.clear();
      decode(std::string_view(raw_.data(), got), got == 0);
      if (!out_.empty()) {
        setg(out_.data(), out_.data(), out_.data() + out_.size());
        return traits_type::to_int_type(*gptr());
      }
      if (got == 0) return traits_type::eof();
    }
  }

 private:
  size_t readRaw() {
    raw_.resize(1 << 16);
    if (headAt_ < head_.size()) {
      const size_t n = std::min(raw_.size(), head_.size() - headAt_);
      std::copy_n(head_.data() + headAt_, n, raw_.data());
      headAt_ += n;
      return n;
    }
    source_.read(raw_.data(), static_cast<std::streamsize>(raw_.size()));
    return static_cast<size_t>(source_.gcount());
  }

  void decode(std::string_view bytes, bool atEnd) {
    if (encoding_ == TextEncoding::Cp1252) {
      for (char byte : bytes) appendUtf8(out_, cp1252Character(static_cast<unsigned char>(byte)));
    } else if (encoding_ == TextEncoding::Utf16) {
      if (!utf16_) {
        // The byte-order mark comes with the first block (the head).
        const bool big = bytes.starts_with(kUtf16BeMark);
        if (big || bytes.starts_with(kUtf16LeMark)) bytes.remove_prefix(2);
        utf16_.emplace(big);
      }
      utf16_->decode(bytes, out_);
      if (atEnd) utf16_->finish(out_);
    } else {
      out_.append(bytes);
    }
  }

  std::string head_;
  size_t headAt_ = 0;
  std::istream& source_;
  TextEncoding encoding_;
  std::optional<Utf16Decoder> utf16_;
  std::vector<char> raw_;
  std::string out_;
};

// The lines of `text` that are records (a line break inside quotes belongs
// to its record), without the last when it may be cut off.
std::vector<std::string_view> recordLines(std::string_view text, bool whole) {
  std::vector<std::string_view> lines;
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    if (text[i] != '\n' || quoted) continue;
    std::string_view line = text.substr(start, i - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (!line.empty()) lines.push_back(line);
    start = i + 1;
  }
  if (whole && start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::vector<std::string_view> splitFields(std::string_view line, char delimiter) {
  std::vector<std::string_view> fields;
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i <= line.size(); ++i) {
    if (i < line.size() && line[i] == '"') quoted = !quoted;
    if (i == line.size() || (line[i] == delimiter && !quoted)) {
      fields.push_back(line.substr(start, i - start));
      start = i + 1;
    }
  }
  return fields;
}

// The rows that detection looks at: those of the metadata block (which
// start with '#') left out, the heading first.
std::vector<std::string_view> tableRows(const std::vector<std::string_view>& lines) {
  std::vector<std::string_view> rows;
  for (std::string_view line : lines) {
    if (!line.starts_with('#')) rows.push_back(line);
  }
  return rows;
}

TextEncoding detectEncoding(std::string_view head, bool whole,
                            const std::optional<TextEncoding>& given, const std::string& name) {
  const bool utf16Mark = head.starts_with(kUtf16LeMark) || head.starts_with(kUtf16BeMark);
  if (given) {
    if (utf16Mark != (*given == TextEncoding::Utf16) && (utf16Mark || head.starts_with(kUtf8Mark)))
      throw usageError(name + ": its byte-order mark contradicts --encoding " +
                       encodingName(*given));
    return *given;
  }
  if (head.starts_with(kUtf8Mark)) return TextEncoding::Utf8Bom;
  if (utf16Mark) return TextEncoding::Utf16;
  if (head.find('\0') != head.npos) {
    throw usageError(name +
                     ": it holds NUL bytes but no byte-order mark; UTF-16 without one is not "
                     "guessed: give --encoding utf-16 (read as little-endian)");
  }
  return validUtf8(head, whole) ? TextEncoding::Utf8 : TextEncoding::Cp1252;
}

// The delimiter that splits the heading; when several do, the one that
// splits every row into as many fields as the heading. A row that the
// delimiter found splits otherwise is the reader's to report, with its line.
char detectDelimiter(const std::vector<std::string_view>& rows, const std::string& name) {
  std::vector<char> splitting, alike;
  for (char delimiter : kDelimiters) {
    if (rows.empty()) break;
    const size_t fields = splitFields(rows.front(), delimiter).size();
    if (fields < 2) continue;
    splitting.push_back(delimiter);
    if (std::all_of(rows.begin(), rows.end(), [&](std::string_view row) {
          return splitFields(row, delimiter).size() == fields;
        }))
      alike.push_back(delimiter);
  }
  if (splitting.empty()) return ',';  // one column: no delimiter at all
  if (splitting.size() == 1) return splitting.front();
  if (alike.size() == 1) return alike.front();
  const std::vector<char>& named = alike.empty() ? splitting : alike;
  std::string names;
  for (char delimiter : named) names += (names.empty() ? "" : " and ") + delimiterName(delimiter);
  throw usageError(name + ": cannot tell the delimiter: " + names + " split the heading" +
                   (alike.empty() ? ", and neither every row alike" : " and every row alike") +
                   "; give --delimiter");
}

bool detectDecimalComma(const std::vector<std::string_view>& rows, char delimiter,
                        const std::string& name) {
  if (delimiter == ',') return false;
  std::string_view point, comma;
  for (size_t r = 1; r < rows.size(); ++r) {
    for (std::string_view field : splitFields(rows[r], delimiter)) {
      // A timestamp's separator before its fraction is its own.
      if (isTimestamp(field)) continue;
      if (point.empty() && field.find('.') != field.npos) point = field;
      if (comma.empty() && field.find(',') != field.npos) comma = field;
    }
  }
  if (!point.empty() && !comma.empty()) {
    throw usageError(name + ": cannot tell the decimal separator: its numbers hold points ('" +
                     std::string(point) + "') and commas ('" + std::string(comma) +
                     "'); give --decimal-comma when the comma is meant, and fix the others");
  }
  return !comma.empty();
}

}  // namespace

std::optional<char> parseDelimiter(std::string_view text) {
  if (text == "," || text == "comma") return ',';
  if (text == ";" || text == "semicolon") return ';';
  if (text == "tab" || text == "\t" || text == "\\t") return '\t';
  return std::nullopt;
}

std::optional<TextEncoding> parseEncoding(std::string_view text) {
  for (size_t i = 0; i < std::size(kEncodingNames); ++i) {
    if (text == kEncodingNames[i]) return static_cast<TextEncoding>(i);
  }
  return std::nullopt;
}

std::string encodingName(TextEncoding encoding) {
  return std::string(kEncodingNames[static_cast<size_t>(encoding)]);
}

std::string delimiterName(char delimiter) {
  return delimiter == '\t' ? "tab" : std::string("'") + delimiter + "'";
}

namespace {

struct GivenDialect {
  std::optional<char> delimiter;
  std::optional<TextEncoding> encoding;
};

GivenDialect givenDialect(const DialectOptions& options) {
  GivenDialect given;
  if (options.delimiter) {
    given.delimiter = parseDelimiter(*options.delimiter);
    if (!given.delimiter)
      throw usageError("--delimiter: expected ',', ';' or tab, not '" + *options.delimiter + "'");
  }
  if (options.encoding) {
    given.encoding = parseEncoding(*options.encoding);
    if (!given.encoding) {
      throw usageError("--encoding: expected utf-8, utf-8-bom, cp1252 or utf-16, not " +
                       *options.encoding);
    }
  }
  if (options.decimalComma && given.delimiter == ',') {
    throw usageError(
        "--decimal-comma needs another delimiter than the comma: give "
        "--delimiter ';' or --delimiter tab");
  }
  return given;
}

}  // namespace

CsvDialect exportDialect(const DialectOptions& options) {
  const GivenDialect given = givenDialect(options);
  CsvDialect dialect;
  dialect.encoding = given.encoding.value_or(TextEncoding::Utf8);
  dialect.decimalComma = options.decimalComma;
  // A decimal comma asks for a delimiter that is not the comma.
  dialect.delimiter = given.delimiter.value_or(options.decimalComma ? ';' : ',');
  return dialect;
}

CsvDialect detectDialect(std::string_view head, bool whole, const DialectOptions& options,
                         const std::string& name) {
  const GivenDialect given = givenDialect(options);
  CsvDialect dialect;
  dialect.encoding = detectEncoding(head, whole, given.encoding, name);
  if (given.delimiter && (options.decimalComma || *given.delimiter == ',')) {
    dialect.delimiter = *given.delimiter;
    dialect.decimalComma = options.decimalComma;
    return dialect;
  }
  const std::string text = decodedText(head, dialect.encoding);
  const std::vector<std::string_view> rows = tableRows(recordLines(text, whole));
  dialect.delimiter = given.delimiter ? *given.delimiter : detectDelimiter(rows, name);
  if (options.decimalComma && dialect.delimiter == ',') {
    throw usageError(name + ": --decimal-comma with the comma as delimiter; give --delimiter");
  }
  dialect.decimalComma = options.decimalComma || detectDecimalComma(rows, dialect.delimiter, name);
  return dialect;
}

std::string decodedText(std::string_view head, TextEncoding encoding) {
  std::string out;
  if (encoding == TextEncoding::Utf8 || encoding == TextEncoding::Utf8Bom) {
    if (head.starts_with(kUtf8Mark)) head.remove_prefix(kUtf8Mark.size());
    return std::string(head);
  }
  std::istringstream none;
  DecodedInput in(std::string(head), none, encoding);
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return out;
}

DecodedInput::DecodedInput(std::string head, std::istream& source, TextEncoding encoding)
    : std::istream(nullptr),
      buffer_(std::make_unique<DecodingBuffer>(std::move(head), source, encoding)) {
  rdbuf(buffer_.get());
}

DecodedInput::~DecodedInput() = default;

std::string encodedText(std::string_view utf8, TextEncoding encoding, const std::string& what) {
  if (encoding == TextEncoding::Utf8 || encoding == TextEncoding::Utf8Bom) return std::string(utf8);
  const std::u16string units = toUtf16(utf8);
  std::string out;
  if (encoding == TextEncoding::Utf16) {
    for (char16_t u : units) {
      out += static_cast<char>(u & 0xFF);
      out += static_cast<char>(u >> 8);
    }
    return out;
  }
  for (size_t i = 0; i < units.size(); ++i) {
    const bool pair = units[i] >= 0xD800 && units[i] <= 0xDBFF && i + 1 < units.size();
    const char32_t c =
        pair ? 0x10000 + ((units[i] - 0xD800) << 10) + (units[i + 1] - 0xDC00) : units[i];
    const auto byte = cp1252Byte(c);
    if (!byte) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
      throw usageError(what + ": code page 1252 cannot hold '" +
                       toUtf8(std::u16string_view(units).substr(i, pair ? 2 : 1)) + "' (" + code +
                       "); give --encoding utf-8, utf-8-bom or utf-16");
    }
    out += static_cast<char>(*byte);
    if (pair) ++i;
  }
  return out;
}

std::string_view byteOrderMark(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf8Bom:
      return kUtf8Mark;
    case TextEncoding::Utf16:
      return kUtf16LeMark;
    default:
      return {};
  }
}

void encodeAscii(std::string_view ascii, TextEncoding encoding, std::string& out) {
  out.clear();
  if (encoding != TextEncoding::Utf16) {
    out.append(ascii);
    return;
  }
  out.resize(2 * ascii.size());
  for (size_t i = 0; i < ascii.size(); ++i) out[2 * i] = ascii[i], out[2 * i + 1] = 0;
}

}  // namespace rvx
