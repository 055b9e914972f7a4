// Every file that rvx writes comes into place here, by one rule:
//
// - A file that is there is replaced only when the user asked for it (-f).
// - The new bytes go to a temporary file in the target's own directory,
//   which is flushed to the disk and then renamed over the target, so that
//   the target holds at every moment either its old bytes or all the new
//   ones. A replaced file keeps its permission bits.
// - A symbolic link stays a link: the file it points at is replaced. A
//   device or a pipe (/dev/null, a FIFO) is written to as it is.
// - What fails removes its temporary; a process that is killed can leave
//   one behind, named ".NAME.partial-" and ten random letters and digits
//   beside the target, or a directory ".partial-..." for a recording (see
//   StagedRecording). rvx never reads them; they can be deleted.
//
// "-" is standard output only where an output may be text on a terminal
// (export and plot, through Output); the outputs that must be files refuse
// it as a usage error.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace rvx {

// Whether an output may take the place of a file that is there.
enum class Existing { Refuse, Replace };
inline Existing existingFrom(bool force) { return force ? Existing::Replace : Existing::Refuse; }

// Where an output named on the command line lands.
struct OutputTarget {
  std::string name;            // as given, for messages
  std::filesystem::path path;  // the name, or the file that its symbolic link points at
  Existing existing = Existing::Refuse;
  bool exists = false;                                // a file is there and is replaced
  bool direct = false;                                // a device or a pipe, written as it is
  std::optional<std::filesystem::perms> permissions;  // of the file replaced
};

// Resolves `name` and applies the rule: a file that is there is refused
// unless `existing` is Replace; a directory is refused; "-" is a usage error.
OutputTarget resolveOutput(const std::string& name, Existing existing);

// The RVI file that the library writes beside a compact recording it
// creates at `path`; none when the path gives no such name.
std::optional<std::filesystem::path> createdSummaryName(const std::filesystem::path& path);
// Whether that RVI file lies beside the recording: the library takes the
// first ".RVX" (else ".rvx") of the whole path, so one in a directory's
// name would put it elsewhere.
bool summaryNamedBeside(const std::filesystem::path& path);

// The new bytes of one file, under a temporary name until commit().
class OutputFile {
 public:
  OutputFile(const std::string& name, Existing existing);
  // Removes the temporary unless it was committed.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Throws ToolError naming the file and the system's reason.
  void write(const char* data, size_t size);
  // Closes the new file and gives its temporary name, for the library's
  // modify context, which goes on writing it by name.
  std::string handOver();
  // Flushes the temporary to the disk, gives it the replaced file's
  // permission bits and renames it over the target.
  void commit();
  const std::string& name() const { return target_.name; }

 private:
  void discard();

  OutputTarget target_;
  std::filesystem::path temporary_;
  int descriptor_ = -1;
};

// Copies the bytes of `source` from `offset` to its end into `out`;
// `progress` hears the number of bytes copied so far.
void copyFileInto(OutputFile& out, const std::string& source, uint64_t offset,
                  const std::function<void(uint64_t)>& progress = {});

// An output that is standard output for "" or "-", else an OutputFile.
class Output {
 public:
  Output(const std::string& name, Existing existing);
  void write(const char* data, size_t size);
  void write(const std::string& text) { write(text.data(), text.size()); }
  void commit();
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  std::unique_ptr<OutputFile> file_;
};

// A recording that the library's create path makes, with the RVI file of
// the compact layout beside it. The library writes both into a private
// directory ".partial-..." inside the target's directory, under their
// final names, so that the RVI file names the recording as it will be
// named. commit() moves them into place so that a recording never stands
// beside the RVI file of another one: a recording that is replaced first
// steps aside into the private directory (and goes with it), then the RVI
// file comes, then the recording; a process killed between these renames
// leaves no recording at the target, and the old one in the private
// directory. The RVI file also names its directory: the library writes the
// private one, and commit() puts back the directory as the command line
// gave it (empty for a bare file name), which is what the library writes
// when it creates a file in place. A compact recording is not written
// through a symbolic link: readers look for its RVI file beside the name
// they open.
class StagedRecording {
 public:
  // `summary`: the library writes an RVI file (compact layout with labels).
  StagedRecording(const std::string& name, Existing existing, bool summary);
  // Removes the private directory and what it holds.
  ~StagedRecording();
  StagedRecording(const StagedRecording&) = delete;
  StagedRecording& operator=(const StagedRecording&) = delete;

  // The path to create through the library.
  const std::string& createPath() const { return createPath_; }
  // The library created the file as `created` (its create replaces
  // characters that no file name may hold): applies the rule to the final
  // names. Returns the final name of the recording.
  std::string created(const std::string& created);
  // After the library closed the file: flushes, gives replaced files their
  // permission bits, mends the RVI file's directory line and moves the
  // files into place.
  void commit();

 private:
  struct Part {
    std::filesystem::path staged;
    OutputTarget target;
  };
  void mendSummaryDirectory(const std::filesystem::path& rvi) const;

  std::string name_;
  Existing existing_;
  bool summary_;
  OutputTarget target_;              // of the name as given
  std::filesystem::path directory_;  // the private directory
  std::string createPath_;
  std::optional<Part> recording_, rvi_;
};

}  // namespace rvx
