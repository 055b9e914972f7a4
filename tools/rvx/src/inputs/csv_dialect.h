// The dialects of CSV that spreadsheets write and read: the delimiter
// (',', ';' or a tab), a decimal comma ("1,5"), and the text encoding
// (UTF-8 with or without its byte-order mark, Windows code page 1252, or
// UTF-16 with its byte-order mark). The tool works in UTF-8 with ',' and
// '.' inside; other encodings are converted at the edge, so that reading
// and writing the plain dialect take no extra step.
#pragma once

#include <istream>
#include <memory>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

namespace rvx {

enum class TextEncoding { Utf8, Utf8Bom, Cp1252, Utf16 };

struct CsvDialect {
  char delimiter = ',';
  bool decimalComma = false;
  TextEncoding encoding = TextEncoding::Utf8;

  // Comma, decimal point, UTF-8 (a byte-order mark is read over anyway).
  bool plain() const {
    return delimiter == ',' && !decimalComma &&
           (encoding == TextEncoding::Utf8 || encoding == TextEncoding::Utf8Bom);
  }
};

// What the command line says of the dialect; what it leaves out, import
// detects and export takes from CsvDialect's defaults.
struct DialectOptions {
  std::optional<std::string> delimiter, encoding;
  bool decimalComma = false;
};

// "," ";" "tab" (or a tab itself); "utf-8", "utf-8-bom", "cp1252",
// "utf-16". Empty for anything else.
std::optional<char> parseDelimiter(std::string_view text);
std::optional<TextEncoding> parseEncoding(std::string_view text);
std::string encodingName(TextEncoding encoding);
std::string delimiterName(char delimiter);

// The dialect that export writes: the defaults and the options given.
// Throws a usage error for an unknown value and for a decimal comma with
// the comma as delimiter.
CsvDialect exportDialect(const DialectOptions& options);

// The dialect of an input from its first bytes (`head`; `whole` when that
// is all of it): what the options give, and for the rest what the bytes
// tell unambiguously: the encoding by its byte-order mark, or else UTF-8
// when the bytes are valid UTF-8 and code page 1252 when they are not; the
// delimiter that splits the heading row and every full row after it into
// the same number of fields; a decimal comma when the delimiter is not the
// comma and the numbers hold commas (timestamps, whose fraction may follow
// a comma, tell nothing of it). What the bytes leave open is refused
// with a usage error that says which option decides it. `name` names the
// input.
CsvDialect detectDialect(std::string_view head, bool whole, const DialectOptions& options,
                         const std::string& name);

// `head` converted to UTF-8 as the CSV reader will see it.
std::string decodedText(std::string_view head, TextEncoding encoding);

// An input stream that gives `head` and then the rest of `source`, as
// UTF-8: cp1252 and UTF-16 are converted (the UTF-16 byte-order mark is
// taken off; unpaired surrogates become U+FFFD), UTF-8 passes through.
class DecodedInput : public std::istream {
 public:
  DecodedInput(std::string head, std::istream& source, TextEncoding encoding);
  ~DecodedInput() override;

 private:
  std::unique_ptr<std::streambuf> buffer_;
};

// Text in UTF-8 as `encoding` writes it, the byte-order mark not included.
// Throws ToolError naming `what` and the first character code page 1252
// cannot hold.
std::string encodedText(std::string_view utf8, TextEncoding encoding, const std::string& what);
// The byte-order mark that starts a file in `encoding` ("" for none).
std::string_view byteOrderMark(TextEncoding encoding);
// ASCII text, such as rows of numbers, in `encoding`; `out` is reused.
void encodeAscii(std::string_view ascii, TextEncoding encoding, std::string& out);

}  // namespace rvx
