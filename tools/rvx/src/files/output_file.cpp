#include "files/output_file.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "shared/system_reason.h"
#include "shared/tool_error.h"
#include "shared/utf.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rvx {

namespace fs = std::filesystem;

namespace {

// What the temporaries are called, so that a leftover says what it is.
constexpr const char* kPartial = ".partial-";
constexpr int kSymbolicLinkHops = 40;

// Ten letters and digits, new for every temporary.
std::string randomSuffix() {
  static std::mt19937_64 random{std::random_device{}()};
  constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int i = 0; i < 10; ++i) suffix += kLetters[random() % (sizeof kLetters - 1)];
  return suffix;
}

// The thin layer over the system's file calls: descriptors, errno.
#if defined(_WIN32)
int openNew(const fs::path& path) {
  return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                _S_IREAD | _S_IWRITE);
}
int openForWriting(const fs::path& path) {
  return _wopen(path.c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
}
// Flushing a file takes write access on Windows.
int openForFlushing(const fs::path& path) {
  return _wopen(path.c_str(), _O_RDWR | _O_BINARY | _O_NOINHERIT);
}
bool writeSome(int fd, const char* data, size_t size, size_t& written) {
  const int n = _write(fd, data, static_cast<unsigned>(std::min<size_t>(size, 1u << 30)));
  if (n < 0) return false;
  written = static_cast<size_t>(n);
  return true;
}
bool syncDescriptor(int fd) { return _commit(fd) == 0; }
bool closeDescriptor(int fd) { return _close(fd) == 0; }
void setPermissions(int, fs::perms) {}  // Windows keeps attributes of its own
void syncDirectory(const fs::path&) {}  // the rename is written through
// Windows refuses to rename over a file that another program has open.
int holdForReplacing(const fs::path&) { return -1; }
#else
int openNew(const fs::path& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}
int openExisting(const fs::path& path, int flags) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}
int openForWriting(const fs::path& path) { return openExisting(path, O_WRONLY); }
int openForFlushing(const fs::path& path) { return openExisting(path, O_RDONLY); }
bool writeSome(int fd, const char* data, size_t size, size_t& written) {
  ssize_t n;
  do {
    n = ::write(fd, data, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return false;
  written = static_cast<size_t>(n);
  return true;
}
bool syncDescriptor(int fd) { return ::fsync(fd) == 0; }
bool closeDescriptor(int fd) { return ::close(fd) == 0; }
void setPermissions(int fd, fs::perms permissions) {
  ::fchmod(fd, static_cast<mode_t>(permissions) & 07777);
}
// Holds the file that a rename is to replace as the library's exclusive
// open holds a file (an flock), so that a file that another program has
// open - a recording still being written - is refused instead of replaced
// under it. -1 when there is no file; errno EWOULDBLOCK when it is held.
int holdForReplacing(const fs::path& path) {
  const int fd = openExisting(path, O_RDONLY | O_NONBLOCK);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
  const int error = errno;
  ::close(fd);
  errno = error;
  return error == EWOULDBLOCK ? -2 : -1;
}
// Makes the rename itself durable; a file system that cannot sync a
// directory has nothing to lose by it.
void syncDirectory(const fs::path& directory) {
  const int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}
#endif

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    size_t written = 0;
    if (!writeSome(fd, data, size, written)) return false;
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

// Renames `from` to `to`: over a file that is there when `replace`, else
// only to a name that nothing holds, also when something took it meanwhile.
// The reason is left in errno (GetLastError on Windows).
#if defined(_WIN32)
bool moveInto(const fs::path& from, const fs::path& to, bool replace) {
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  return MoveFileExW(from.c_str(), to.c_str(), flags) != 0;
}
bool movedOntoAFile() {
  return GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS;
}
constexpr bool kMoveSetsWindowsError = true;
#else
bool moveInto(const fs::path& from, const fs::path& to, bool replace) {
  if (replace) return ::rename(from.c_str(), to.c_str()) == 0;
#if defined(RENAME_NOREPLACE)
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  // A file system without that rename: a second name, then the first goes.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  return false;
}
bool movedOntoAFile() { return errno == EEXIST; }
constexpr bool kMoveSetsWindowsError = false;
#endif

// Releases what holdForReplacing() held when the rename is done.
class ReplacingHold {
 public:
  ReplacingHold(const fs::path& path, const std::string& name) : fd_(holdForReplacing(path)) {
    if (fd_ == -2) throw ToolError(name + ": " + errnoReason(EWOULDBLOCK));
  }
  ~ReplacingHold() {
    if (fd_ >= 0) closeDescriptor(fd_);
  }
  ReplacingHold(const ReplacingHold&) = delete;
  ReplacingHold& operator=(const ReplacingHold&) = delete;

 private:
  int fd_;
};

void moveIntoPlace(const fs::path& from, const OutputTarget& target) {
  const ReplacingHold hold(target.path, target.name);
  if (!moveInto(from, target.path, target.existing == Existing::Replace)) {
    if (movedOntoAFile()) {
      throw ToolError(target.name +
                      " was made meanwhile by another program; give -f to replace it");
    }
    throw ToolError(target.name + ": cannot put the new file in place: " +
                    lastSystemReason(kMoveSetsWindowsError));
  }
  syncDirectory(target.path.parent_path());
}

// Flushes a file that the library wrote and closed, and gives it the
// permission bits of the file it replaces.
void settle(const fs::path& path, const OutputTarget& target) {
  const int fd = openForFlushing(path);
  if (fd < 0) throw ToolError(target.name + ": cannot flush the new file: " + lastSystemReason());
  const bool synced = syncDescriptor(fd);
  const std::string reason = synced ? std::string() : lastSystemReason();
  if (synced && target.permissions) setPermissions(fd, *target.permissions);
  closeDescriptor(fd);
  if (!synced) throw ToolError(target.name + ": cannot flush the new file: " + reason);
}

std::string readWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

OutputTarget resolveOutput(const std::string& name, Existing existing) {
  if (name == "-") {
    throw usageError(
        "-o -: standard output takes the text of export and plot only; give a file name");
  }
  if (name.empty()) throw usageError("no output file given");
  OutputTarget target;
  target.name = name;
  target.path = toPath(name);
  target.existing = existing;
  std::error_code error;
  if (!fs::exists(fs::symlink_status(target.path, error))) return target;
  for (int hops = 0; fs::is_symlink(fs::symlink_status(target.path, error)); ++hops) {
    if (hops == kSymbolicLinkHops) throw ToolError(name + ": too many levels of symbolic links");
    const fs::path next = fs::read_symlink(target.path, error);
    if (error) throw ToolError(name + ": " + errorCodeReason(error));
    target.path = next.is_absolute() ? next : target.path.parent_path() / next;
  }
  const fs::file_status status = fs::status(target.path, error);
  if (fs::is_directory(status)) throw ToolError(name + ": is a directory");
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    target.direct = true;
    return target;
  }
  if (existing == Existing::Refuse) throw ToolError(name + " exists; give -f to replace it");
  target.exists = fs::exists(status);
  if (!target.exists) return target;
  // A file without any write permission is read-only, as the library takes
  // it: it is not changed, nor replaced.
  constexpr fs::perms kWrite =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  if ((status.permissions() & kWrite) == fs::perms::none) {
    throw ToolError(name + ": the file is read-only; make it writable to replace it");
  }
  target.permissions = status.permissions();
  return target;
}

OutputFile::OutputFile(const std::string& name, Existing existing)
    : target_(resolveOutput(name, existing)) {
  if (target_.direct) {
    descriptor_ = openForWriting(target_.path);
  } else {
    const std::string stem = "." + pathText(target_.path.filename()) + kPartial;
    do {
      temporary_ = target_.path.parent_path() / toPath(stem + randomSuffix());
      descriptor_ = openNew(temporary_);
    } while (descriptor_ < 0 && errno == EEXIST);
    if (descriptor_ < 0) temporary_.clear();
  }
  if (descriptor_ < 0) throw ToolError(name + ": cannot create the file: " + lastSystemReason());
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
  if (descriptor_ >= 0) closeDescriptor(descriptor_);
  descriptor_ = -1;
  if (temporary_.empty()) return;
  std::error_code ignored;
  fs::remove(temporary_, ignored);
  temporary_.clear();
}

void OutputFile::write(const char* data, size_t size) {
  if (!writeAll(descriptor_, data, size)) {
    const std::string reason = lastSystemReason();
    discard();
    throw ToolError(target_.name + ": writing failed: " + reason);
  }
}

std::string OutputFile::handOver() {
  if (target_.direct) throw ToolError(target_.name + ": not a regular file");
  const bool closed = closeDescriptor(descriptor_);
  descriptor_ = -1;
  if (!closed) throw ToolError(target_.name + ": writing failed: " + lastSystemReason());
  return pathText(temporary_);
}

void OutputFile::commit() {
  if (target_.direct) {
    const bool closed = closeDescriptor(descriptor_);
    descriptor_ = -1;
    if (!closed) throw ToolError(target_.name + ": writing failed: " + lastSystemReason());
    return;
  }
  if (descriptor_ < 0) {  // handed over
    settle(temporary_, target_);
    moveIntoPlace(temporary_, target_);
    temporary_.clear();
    return;
  }
  // NFS and others report a full disk only when the data is flushed or
  // the file closed.
  const bool synced = syncDescriptor(descriptor_);
  std::string reason = synced ? std::string() : lastSystemReason();
  if (synced && target_.permissions) setPermissions(descriptor_, *target_.permissions);
  const bool closed = closeDescriptor(descriptor_);
  descriptor_ = -1;
  if (synced && !closed) reason = lastSystemReason();
  if (!synced || !closed) {
    discard();
    throw ToolError(target_.name + ": writing failed: " + reason);
  }
  moveIntoPlace(temporary_, target_);
  temporary_.clear();
}

void copyFileInto(OutputFile& out, const std::string& source, uint64_t offset,
                  const std::function<void(uint64_t)>& progress) {
  std::ifstream in(toPath(source), std::ios::binary);
  if (!in) throw ToolError(source + ": cannot open the file: " + unreadableReason(source));
  in.seekg(static_cast<std::streamoff>(offset));
  std::vector<char> buffer(1 << 20);
  uint64_t copied = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = in.gcount();
    if (got <= 0) break;
    out.write(buffer.data(), static_cast<size_t>(got));
    copied += static_cast<uint64_t>(got);
    if (progress) progress(copied);
  }
  if (in.bad()) throw ToolError(source + ": reading failed: " + lastSystemReason());
}

Output::Output(const std::string& name, Existing existing) : name_(name) {
  if (name.empty() || name == "-") {
    name_ = "standard output";
  } else {
    file_ = std::make_unique<OutputFile>(name, existing);
  }
}

void Output::write(const char* data, size_t size) {
  if (file_) return file_->write(data, size);
  if (std::fwrite(data, 1, size, stdout) != size) {
    throw ToolError(name_ + ": writing failed: " + lastSystemReason());
  }
}

void Output::commit() {
  if (file_) return file_->commit();
  if (std::fflush(stdout) != 0) throw ToolError(name_ + ": writing failed: " + lastSystemReason());
}

std::optional<fs::path> createdSummaryName(const fs::path& path) {
  constexpr uint16_t kCapacity = 1024;
  const std::u16string text = fs::path(path).make_preferred().u16string();
  std::u16string rvi(kCapacity, u'\0');
  const uint32_t status =
      KDRVX_GetSummaryFileName(reinterpret_cast<const KDRVX_CHAR*>(text.c_str()), 1,
                               reinterpret_cast<KDRVX_CHAR*>(rvi.data()), kCapacity);
  if (status != 0) return std::nullopt;
  return fs::path(std::u16string(rvi.c_str()));
}

bool summaryNamedBeside(const fs::path& path) {
  const std::optional<fs::path> rvi = createdSummaryName(path);
  return !rvi || rvi->parent_path() == path.parent_path();
}

StagedRecording::StagedRecording(const std::string& name, Existing existing, bool summary)
    : name_(name), existing_(existing), summary_(summary), target_(resolveOutput(name, existing)) {
  const OutputTarget& target = target_;
  if (target.direct) throw ToolError(name + ": not a regular file; a recording is a file");
  if (summary && target.path != toPath(name)) {
    throw ToolError(name +
                    " is a symbolic link; the compact layout's RVI file is named after the "
                    "recording, so give the file it points at");
  }
  // The library makes the file where its path points, and names that
  // directory in the RVI file: the private directory, under the directory
  // as the command line gave it.
  const fs::path parent = target.path.parent_path();
  if (summary && !summaryNamedBeside(toPath(name))) {
    throw usageError(name +
                     ": the RVI file is named after the first '.rvx' of the path, which "
                     "here lies in a directory's name; give a name without it");
  }
  std::error_code error;
  do {
    directory_ = parent / toPath(std::string(kPartial) + randomSuffix());
  } while (!fs::create_directory(directory_, error) && !error);
  if (error) {
    const std::string where = parent.empty() ? std::string(".") : pathText(parent);
    directory_.clear();
    throw ToolError(where + ": cannot create a temporary directory for " + name + ": " +
                    errorCodeReason(error));
  }
  createPath_ = pathText(directory_ / target.path.filename());
}

StagedRecording::~StagedRecording() {
  if (directory_.empty()) return;
  std::error_code ignored;
  fs::remove_all(directory_, ignored);
}

std::string StagedRecording::created(const std::string& created) {
  const fs::path stagedFile = toPath(created);
  const fs::path given = toPath(name_).parent_path();
  // The library's create replaces characters that no file name may hold,
  // so the final name is the one it made.
  const auto partFor = [&](const fs::path& staged) {
    return Part{staged, resolveOutput(pathText(given / staged.filename()), existing_)};
  };
  recording_ = stagedFile.filename() == target_.path.filename() ? Part{stagedFile, target_}
                                                                : partFor(stagedFile);
  if (summary_) {
    if (const std::optional<fs::path> rvi = createdSummaryName(stagedFile)) rvi_ = partFor(*rvi);
  }
  return recording_->target.name;
}

void StagedRecording::mendSummaryDirectory(const fs::path& rvi) const {
  // The directory line ends in the private directory's name (or is it, for
  // a bare file name), which appears nowhere else: it goes, with the
  // separator that joined it.
  std::string text = readWhole(rvi);
  const std::string staging = pathText(directory_.filename());
  const size_t at = text.find(staging);
  if (at == std::string::npos || text.find(staging, at + 1) != std::string::npos) {
    throw ToolError(name_ + ": the RVI file does not name its directory as expected");
  }
  const auto separator = [&](size_t i) {
    return i < text.size() && (text[i] == '/' || text[i] == '\\');
  };
  size_t begin = at, end = at + staging.size();
  if (at > 0 && separator(at - 1)) {
    --begin;
  } else if (separator(end)) {
    ++end;
  }
  text.erase(begin, end - begin);
  std::ofstream out(rvi, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) throw ToolError(name_ + ": writing the RVI file failed: " + lastSystemReason());
}

void StagedRecording::commit() {
  if (!recording_) throw ToolError(name_ + ": the recording was not created");
  if (summary_) {
    if (!rvi_ || !fs::exists(rvi_->staged)) {
      throw ToolError(name_ + ": the library wrote no RVI file");
    }
    mendSummaryDirectory(rvi_->staged);
    settle(rvi_->staged, rvi_->target);
  }
  settle(recording_->staged, recording_->target);
  // A recording never stands beside the RVI file of another one: the
  // recording it replaces steps aside into the private directory first
  // (and goes with it), then the RVI file comes, then the recording.
  const fs::path aside =
      directory_ / toPath("replaced-" + pathText(recording_->target.path.filename()));
  const bool stepAside = rvi_ && recording_->target.exists;
  if (stepAside) {
    const ReplacingHold hold(recording_->target.path, recording_->target.name);
    if (!moveInto(recording_->target.path, aside, false)) {
      throw ToolError(
          name_ + ": cannot put the new file in place: " + lastSystemReason(kMoveSetsWindowsError));
    }
  }
  try {
    if (rvi_) moveIntoPlace(rvi_->staged, rvi_->target);
    moveIntoPlace(recording_->staged, recording_->target);
  } catch (...) {
    if (stepAside) moveInto(aside, recording_->target.path, false);
    throw;
  }
}

}  // namespace rvx
