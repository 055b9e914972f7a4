// Text conversions of the tool: the library speaks UTF-16, the terminal,
// the command line and the files that the tool writes speak UTF-8.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace rvx {

// Invalid UTF-8 sequences become U+FFFD.
std::u16string toUtf16(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string toUtf8(std::u16string_view utf16);
// Appends code point `c` in UTF-8.
void appendUtf8(std::string& out, char32_t c);

// A path named on the command line (UTF-8) as a file-system path; on
// Windows it goes through UTF-16 so that no code page is involved.
std::filesystem::path toPath(std::string_view utf8);
// A path as UTF-8 for messages.
std::string pathText(const std::filesystem::path& path);

// Number of code points: the width of a text in a table of Latin, Greek and
// symbol characters as the tool prints them.
size_t displayWidth(std::string_view utf8);

// LF without a preceding CR becomes CR LF (comments keep line breaks as
// CR LF); and the other way round for printing.
std::string toCrLf(std::string_view text);
std::string fromCrLf(std::string_view text);

}  // namespace rvx
