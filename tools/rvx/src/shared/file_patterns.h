// The wildcards of file arguments, expanded as Windows command-line tools
// expand them: a shell that would do it for rvx (as POSIX shells do) is
// missing there.
//
// - An argument that was not quoted, is no option (it does not begin with
//   '-') and holds '*' (any run of characters) or '?' (any one character)
//   in its last part is replaced by the names of the files of its directory
//   that match that part, in the order of the names (ignoring case, as
//   Windows compares names), each after the directory part as given.
// - Letters match in either case. Directories do not match: the arguments
//   are files to read.
// - An argument that matches nothing stays as it is; the command that
//   opens it then says that no file matches it (matchesNothing).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rvx {

struct CommandArgument {
  std::string text;     // UTF-8
  bool quoted = false;  // written in quotes on the command line: taken as it is
};

std::vector<std::string> expandFilePatterns(const std::vector<CommandArgument>& arguments);

// Whether `name`, a file name without directory, matches `pattern`.
bool matchesPattern(std::u16string_view name, std::u16string_view pattern);

// Whether the last part of `path` holds a wildcard: on Windows, where no
// file name can hold one, a pattern that matched no file.
bool isFilePattern(std::string_view path);

// Which arguments of a Windows command line (as GetCommandLineW gives it)
// were written in quotes, in the order CommandLineToArgvW splits them,
// the program's name first.
std::vector<bool> quotedArguments(std::u16string_view commandLine);

}  // namespace rvx
