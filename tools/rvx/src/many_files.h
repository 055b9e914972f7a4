// Read-only subcommands over several files: each file on its own, a file
// that fails reported and passed over, and one summary line at the end.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace rvx {

// What one file came to.
enum class FileOutcome { Clean, Findings, Failed };

struct FileTally {
  size_t clean = 0, findings = 0, failed = 0;

  size_t files() const { return clean + findings + failed; }
  // 0 when every file is clean, 1 otherwise.
  int exitStatus() const;
  // "3 files: 1 without findings, 1 with findings, 1 not read"; `clean` and
  // `unclean` name the first two kinds (an info without findings omits the
  // second).
  std::string summary(const char* clean, const char* unclean) const;
};

// Runs `each` on every file. A ToolError it throws is reported on stderr
// ("rvx: " and its message) and counts as Failed.
FileTally forEachFile(const std::vector<std::string>& files,
                      const std::function<FileOutcome(const std::string&)>& each);

}  // namespace rvx
