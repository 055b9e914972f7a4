#include "shared/file_patterns.h"

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <system_error>

#include "shared/utf.h"

namespace rvx {

namespace {

namespace fs = std::filesystem;

bool isWildcard(char16_t c) { return c == u'*' || c == u'?'; }
bool separates(char16_t c) { return c == u'\\' || c == u'/' || c == u':'; }

// A unit as Windows compares names: without case.
char16_t folded(char16_t c) {
  return static_cast<char16_t>(std::towupper(static_cast<std::wint_t>(c)));
}

bool lessIgnoringCase(const std::u16string& a, const std::u16string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char16_t x, char16_t y) { return folded(x) < folded(y); });
}

// Where the last part of `path` begins.
size_t lastPart(std::u16string_view path) {
  const auto at = std::find_if(path.rbegin(), path.rend(), separates);
  return static_cast<size_t>(path.rend() - at);
}

// The files of the pattern's directory that match its last part, in the
// order of their names; none when the directory cannot be listed.
std::vector<std::string> matchingFiles(const std::u16string& pattern) {
  const size_t part = lastPart(pattern);
  const std::u16string directory = pattern.substr(0, part);
  const std::u16string_view wanted = std::u16string_view(pattern).substr(part);
  std::vector<std::u16string> names;
  std::error_code error;
  fs::directory_iterator entry(directory.empty() ? fs::path(u".") : fs::path(directory), error);
  for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
    std::error_code ignored;
    if (entry->is_directory(ignored)) continue;
    std::u16string name = entry->path().filename().u16string();
    if (matchesPattern(name, wanted)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end(), lessIgnoringCase);
  std::vector<std::string> files;
  for (const std::u16string& name : names) files.push_back(toUtf8(directory + name));
  return files;
}

}  // namespace

bool matchesPattern(std::u16string_view name, std::u16string_view pattern) {
  // The last '*' seen and the place in the name it has taken up to.
  size_t n = 0, p = 0, star = std::u16string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() &&
               (pattern[p] == u'?' || folded(pattern[p]) == folded(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

bool isFilePattern(std::string_view path) {
  const std::u16string wide = toUtf16(path);
  const std::u16string_view last = std::u16string_view(wide).substr(lastPart(wide));
  return std::any_of(last.begin(), last.end(), isWildcard);
}

std::vector<std::string> expandFilePatterns(const std::vector<CommandArgument>& arguments) {
  std::vector<std::string> expanded;
  for (const CommandArgument& argument : arguments) {
    const bool pattern =
        !argument.quoted && !argument.text.starts_with('-') && isFilePattern(argument.text);
    std::vector<std::string> files;
    if (pattern) files = matchingFiles(toUtf16(argument.text));
    if (files.empty()) {
      expanded.push_back(argument.text);
    } else {
      expanded.insert(expanded.end(), files.begin(), files.end());
    }
  }
  return expanded;
}

std::vector<bool> quotedArguments(std::u16string_view line) {
  std::vector<bool> quoted;
  size_t i = 0;
  const auto blank = [&](size_t at) {
    return at < line.size() && (line[at] == u' ' || line[at] == u'\t');
  };
  // The program's name: quotes delimit it, backslashes are its own.
  if (i < line.size()) {
    const bool inQuotes = line[i] == u'"';
    if (inQuotes) {
      i = line.find(u'"', 1);
      i = i == std::u16string_view::npos ? line.size() : i + 1;
    }
    while (i < line.size() && !blank(i)) ++i;
    quoted.push_back(inQuotes);
  }
  for (;;) {
    while (blank(i)) ++i;
    if (i >= line.size()) break;
    bool inQuotes = false, wasQuoted = false;
    while (i < line.size() && (inQuotes || !blank(i))) {
      size_t backslashes = 0;
      while (i < line.size() && line[i] == u'\\') ++backslashes, ++i;
      if (i < line.size() && line[i] == u'"') {
        if (backslashes % 2 == 1) {
          ++i;  // an escaped quote: a character of the argument
        } else if (inQuotes && i + 1 < line.size() && line[i + 1] == u'"') {
          i += 2;  // "" within quotes: one quote character
        } else {
          inQuotes = !inQuotes;
          wasQuoted = true;
          ++i;
        }
      } else if (backslashes == 0) {
        ++i;
      }
    }
    quoted.push_back(wasQuoted);
  }
  return quoted;
}

}  // namespace rvx
