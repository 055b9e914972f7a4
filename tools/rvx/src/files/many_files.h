// Read-only subcommands over several files: each file on its own, a file
// that fails reported and passed over, and one summary line at the end.
// The files are read on several threads at once, each through readers of
// its own; what each printed appears in the order of the files.
#pragma once

#include <functional>
#include <ostream>
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

// Runs `each` on every file (its index in `files`), on up to `jobs` threads
// at once. What it writes to `out` and `err` goes to stdout and stderr, file
// after file in the order of `files`, as a run on one thread prints it. A
// ToolError it throws is reported on its `err` ("rvx: " and its message) and
// counts as Failed.
using EachFile = std::function<FileOutcome(size_t index, std::ostream& out, std::ostream& err)>;
FileTally forEachFile(const std::vector<std::string>& files, unsigned jobs, const EachFile& each);

// The number of threads that read at once unless -j says otherwise: one per
// core.
unsigned defaultJobs();

// The help text of -j, which the subcommands over several files take.
inline constexpr const char* kJobsHelp =
    "Read up to N files at once, on threads of their own (default: one per core); the output "
    "is the same for any N";

}  // namespace rvx
