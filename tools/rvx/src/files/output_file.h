// Every file that rvx writes comes into place here, by the library's rule
// (KDRVX_GetStagingName, KDRVX_PlaceFile):
//
// - A file that is there is replaced only when the user asked for it (-f).
// - The new bytes go to a staging file in the target's own directory,
//   which the library flushes to the disk and renames over the target, so
//   that the target holds at every moment either its old bytes or all the
//   new ones. A replaced file keeps its owner, group and mode (as far as
//   the process may set them) and its hard links: a file with several is
//   rewritten in place from the complete staging file.
// - A symbolic link stays a link: the file it points at is replaced. A
//   device or a pipe (/dev/null, a FIFO) is written to as it is.
// - What fails removes its staging file; a process that is killed can leave
//   one behind, named ".partial-" and ten random letters and digits with
//   the target's extension (shorter where the target's path is long). rvx
//   never reads them; they can be deleted.
//
// "-" is standard output only where an output may be text on a terminal
// (export and plot, through Output); the outputs that must be files refuse
// it as a usage error.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace rvx {

// Whether an output may take the place of a file that is there.
enum class Existing { Refuse, Replace };
inline Existing existingFrom(bool force) { return force ? Existing::Replace : Existing::Refuse; }

// Where an output named on the command line lands.
struct OutputTarget {
  std::string name;  // as given
  Existing existing = Existing::Refuse;
  bool direct = false;  // a device or a pipe, written as it is
};

// A Windows path may begin with \\?\ (or \\?\UNC\ for \\server), which
// lifts the system's limit of 259 characters. The library's paths have
// that limit, and take the path without the prefix: `name` without it, or
// a ToolError naming the limit where it is longer. Elsewhere `name`.
std::string withoutLongPathPrefix(const std::string& name);

// Resolves `name` and has the library judge it: a file that is there is
// refused unless `existing` is Replace, as are a directory and a read-only
// file; "-" is a usage error.
OutputTarget resolveOutput(const std::string& name, Existing existing);

// The new bytes of one file, under a staging name until commit().
class OutputFile {
 public:
  OutputFile(const std::string& name, Existing existing);
  // Removes the staging file unless it was committed.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Throws ToolError naming the file and the system's reason.
  void write(const char* data, size_t size);
  // Closes the new file and gives its staging name, for the library's
  // modify context, which goes on writing it by name.
  std::string handOver();
  // Has the library put the new file in the target's place.
  void commit();
  const std::string& name() const { return target_.name; }

 private:
  void discard();

  OutputTarget target_;
  std::filesystem::path temporary_;
  int descriptor_ = -1;
};

// Copies the bytes of `source` into `out`.
void copyFileInto(OutputFile& out, const std::string& source);

// An output that is standard output for "" or "-", else an OutputFile.
class Output {
 public:
  Output(const std::string& name, Existing existing);
  void write(const char* data, size_t size);
  void write(const std::string& text) { write(text.data(), text.size()); }
  // What was written reaches standard output now (a file gets it at once).
  void flush();
  void commit();
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  std::unique_ptr<OutputFile> file_;
};

// A recording that the library's create path makes, with the RVI file of
// the compact layout beside it: the library names both (the recording
// under a staging name beside its target, with the target's extension) and
// puts them in place at commit(), the RVI file made to name the final
// recording and put in place first. A compact recording is not written
// through a symbolic link: readers look for its RVI file beside the name
// they open.
class StagedRecording {
 public:
  // `summary`: the library writes an RVI file (compact layout with labels).
  StagedRecording(const std::string& name, Existing existing, bool summary);
  // Removes the staged files unless they were committed.
  ~StagedRecording();
  StagedRecording(const StagedRecording&) = delete;
  StagedRecording& operator=(const StagedRecording&) = delete;

  // The path to create through the library.
  const std::string& createPath() const { return createPath_; }
  // The library created the file at createPath(): it is this one's to
  // remove until commit().
  void created() { made_ = true; }
  // The final name of the recording: the one given, with the characters
  // that no file name may hold replaced as the library's create does.
  const std::string& name() const { return name_; }
  // After the library closed the file: puts it and its RVI file in place.
  void commit();

 private:
  void discard();

  std::string name_;
  std::u16string target_;  // the final name for the library
  uint32_t flags_ = 0;
  std::string createPath_;
  std::optional<std::string> summary_;  // the staged RVI file
  bool made_ = false;
};

}  // namespace rvx
