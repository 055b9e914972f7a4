// The spreadsheet dialects as bytes: what detection tells from the start of
// a file, and the conversions of the encodings both ways (and of UTF-8 and
// UTF-16 inside). (A German
// spreadsheet and the heads that leave doubt: sheet_test.cpp, through rvx.)
#include <gtest/gtest.h>

#include <sstream>

#include "inputs/csv_dialect.h"
#include "shared/tool_error.h"
#include "shared/utf.h"

namespace rvx {
namespace {

TEST(Dialect, DetectionTellsWhatTheBytesLeaveNoDoubtAbout) {
  const struct {
    std::string head;
    char delimiter;
    bool decimalComma;
    TextEncoding encoding;
  } kCases[] = {
      {"time,p1\n0,1.5\n", ',', false, TextEncoding::Utf8},
      {"\xEF\xBB\xBFtime\tp1 [\xC2\xB0"
       "C]\n0\t1.5\n",
       '\t', false, TextEncoding::Utf8Bom},
      {std::string("\xFF\xFEt\0;\0p\0001\0\n\0000\0;\0001\0,\0005\0\n\0", 24), ';', true,
       TextEncoding::Utf16},
      {"p1\n1.5\n", ',', false, TextEncoding::Utf8},
      // The heading decides; a row that differs is the reader's to report.
      {"t;p1;p2\n0;1\n", ';', false, TextEncoding::Utf8},
  };
  for (const auto& c : kCases) {
    const CsvDialect dialect = detectDialect(c.head, true, {}, "in.csv");
    EXPECT_EQ(dialect.delimiter, c.delimiter) << c.head;
    EXPECT_EQ(dialect.decimalComma, c.decimalComma) << c.head;
    EXPECT_EQ(dialect.encoding, c.encoding) << c.head;
  }
  // A sequence cut off at the end of the head is no reason to leave UTF-8.
  EXPECT_EQ(detectDialect("T1 [\xC2", false, {}, "in.csv").encoding, TextEncoding::Utf8);
  EXPECT_EQ(detectDialect("T1 [\xC2", true, {}, "in.csv").encoding, TextEncoding::Cp1252);
}

TEST(Dialect, EncodingsConvertBothWays) {
  const std::string utf8 =
      "\xE2\x82\xAC \xC2\xB0"
      "C \xC5\xA0";  // "€ °C Š"
  EXPECT_EQ(encodedText(utf8, TextEncoding::Cp1252, "out"),
            "\x80 \xB0"
            "C \x8A");
  EXPECT_EQ(decodedText("\x80 \xB0"
                        "C \x8A",
                        TextEncoding::Cp1252),
            utf8);
  EXPECT_THROW(encodedText("\xCE\xA9", TextEncoding::Cp1252, "out"), ToolError);  // Ω

  const std::string smile = "\xF0\x9F\x98\x80";  // U+1F600, a surrogate pair in UTF-16
  const std::string le = encodedText("a" + smile, TextEncoding::Utf16, "out");
  EXPECT_EQ(le, std::string("a\0\x3D\xD8\x00\xDE", 6));
  EXPECT_EQ(decodedText("\xFF\xFE" + le, TextEncoding::Utf16), "a" + smile);
  EXPECT_EQ(decodedText(std::string("\xFE\xFF\0a\xD8\x3D\xDE\x00", 8), TextEncoding::Utf16),
            "a" + smile);
  // A lone surrogate and an odd last byte become U+FFFD.
  EXPECT_EQ(decodedText(std::string("\xFF\xFE\x3D\xD8"
                                    "b\0c",
                                    7),
                        TextEncoding::Utf16),
            "\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");

  // The head is given back before the rest of the stream.
  std::istringstream rest(
      "\xB0"
      "C");
  DecodedInput in("T1 [", rest, TextEncoding::Cp1252);
  std::stringstream all;
  all << in.rdbuf();
  EXPECT_EQ(all.str(),
            "T1 [\xC2\xB0"
            "C");
}

// The names of the delimiters; every byte of code page 1252 a character
// and back; a character beyond it named whole, pair of surrogates or not.
TEST(Dialect, NamesDelimitersAndKeepsEveryByteOfCodePage1252) {
  const std::pair<const char*, char> kDelimiters[] = {
      {",", ','},    {"comma", ','}, {";", ';'},   {"semicolon", ';'},
      {"tab", '\t'}, {"\t", '\t'},   {"\\t", '\t'}};
  for (const auto& [name, delimiter] : kDelimiters) EXPECT_EQ(parseDelimiter(name), delimiter);
  EXPECT_FALSE(parseDelimiter("|"));

  std::string bytes;
  for (int byte = 0; byte < 256; ++byte) bytes += static_cast<char>(byte);
  EXPECT_EQ(encodedText(decodedText(bytes, TextEncoding::Cp1252), TextEncoding::Cp1252, "out"),
            bytes);
  try {
    encodedText("a\xF0\x9F\x98\x80", TextEncoding::Cp1252, "out.csv");
    ADD_FAILURE() << "encoded U+1F600";
  } catch (const ToolError& error) {
    EXPECT_NE(std::string(error.what())
                  .find("out.csv: code page 1252 cannot hold '\xF0\x9F\x98\x80' (U+1F600)"),
              std::string::npos)
        << error.what();
  }
}

// Surrogates that pair with nothing become U+FFFD both ways; line ends
// become CR LF and back, a lone CR staying as it is.
TEST(Utf, KeepsWhatItCanAndMarksTheRest) {
  const std::string replacement = "\xEF\xBF\xBD";
  EXPECT_EQ(toUtf8(std::u16string{0xD83D}), replacement);
  EXPECT_EQ(toUtf8(std::u16string{0xD83D, u'b'}), replacement + "b");
  EXPECT_EQ(toUtf8(std::u16string{0xD83D, 0xE000}), replacement + "\xEE\x80\x80");
  EXPECT_EQ(toUtf8(std::u16string{0xDE00, u'c'}), replacement + "c");
  EXPECT_EQ(toUtf16("\xED\xA0\x80x"), (std::u16string{0xFFFD, u'x'}));
  EXPECT_EQ(toCrLf("\nx\r\ny\n"), "\r\nx\r\ny\r\n");
  EXPECT_EQ(fromCrLf("a\r\nb\rc\r"), "a\nb\rc\r");
}

}  // namespace
}  // namespace rvx
