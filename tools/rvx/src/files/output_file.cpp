#include "files/output_file.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "shared/library.h"
#include "shared/system_reason.h"
#include "shared/tool_error.h"
#include "shared/utf.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace rvx {

namespace fs = std::filesystem;

namespace {

// How often a staging name is asked for again when another program took
// the last one before it could be created.
constexpr int kStagingAttempts = 10;
// Room for a staging name: any path the library takes, and its terminator.
constexpr uint16_t kNameCapacity = 1024;

// The thin layer over the system's file calls: descriptors, errno.
#if defined(_WIN32)
int openNew(const fs::path& path) {
  return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                _S_IREAD | _S_IWRITE);
}
int openForWriting(const fs::path& path) {
  return _wopen(path.c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
}
bool writeSome(int fd, const char* data, size_t size, size_t& written) {
  const int n = _write(fd, data, static_cast<unsigned>(std::min<size_t>(size, 1u << 30)));
  if (n < 0) return false;
  written = static_cast<size_t>(n);
  return true;
}
bool closeDescriptor(int fd) { return _close(fd) == 0; }

// Windows keeps the names CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to
// LPT9 for its devices, in every directory and with any extension, in any
// case ("aux.rvx", "com1.csv"): the reserved name of `name` in capitals,
// or empty.
std::u16string reservedDeviceName(const std::string& name) {
  std::u16string last = toPath(name).filename().u16string();
  last = last.substr(0, last.find(u'.'));
  while (!last.empty() && last.back() == u' ') last.pop_back();
  for (char16_t& c : last)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  const bool port = last.size() == 4 && (last.starts_with(u"COM") || last.starts_with(u"LPT")) &&
                    last[3] >= u'1' && last[3] <= u'9';
  if (port || last == u"CON" || last == u"PRN" || last == u"AUX" || last == u"NUL") return last;
  return {};
}

bool isConsole(const std::string& name) { return reservedDeviceName(name) == u"CON"; }

// NUL (as /dev/null) and CON (the console) are written to as they are.
// The other reserved names lead to printers and serial ports, not files:
// refused.
bool isDeviceTarget(const std::string& name) {
  const std::u16string device = reservedDeviceName(name);
  if (device.empty()) return false;
  if (device == u"NUL" || device == u"CON") return true;
  throw ToolError(name + ": the name is reserved by the system (for the device " + toUtf8(device) +
                  ") and cannot name a file; choose another name");
}
#else
int openNew(const fs::path& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}
int openForWriting(const fs::path& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}
bool writeSome(int fd, const char* data, size_t size, size_t& written) {
  ssize_t n;
  do {
    n = ::write(fd, data, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return false;
  written = static_cast<size_t>(n);
  return true;
}
bool closeDescriptor(int fd) { return ::close(fd) == 0; }

// Devices have names of their own (/dev/null), which the file's status
// tells.
bool isDeviceTarget(const std::string&) { return false; }
bool isConsole(const std::string&) { return false; }
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

uint32_t placeFlags(Existing existing) {
  return existing == Existing::Replace ? KDRVX_PLACE_REPLACE : 0;
}

// The library's words for a placement that failed, after the file's name:
// "a.rvx exists; give -f to replace it", "a.rvx: is in use by another
// program", "a.rvx: cannot take the new file's place: disk full".
std::string placementFailure(const std::string& name, uint32_t status,
                             const KDRVX_Placement& placement, const std::string& staged) {
  const std::string text = toUtf8(reinterpret_cast<const char16_t*>(placement.text));
  const bool sentence = text.rfind("exists", 0) == 0 || text.rfind("was made", 0) == 0;
  std::string message = name + (sentence ? " " : ": ") + text;
  if (status == KDRVX_ERR_RVX_ALREADY_EXISTS) return message + "; give -f to replace it";
  if (placement.step == KDRVX_PLACE_STEP_REWRITE) message += " (" + staged + ")";
  const bool said =
      placement.step == KDRVX_PLACE_STEP_TARGET && text.find("cannot") == std::string::npos;
  if (placement.systemError != 0 && !said && status != KDRVX_ERR_RVX_SHARING_VIOLATION)
    message += ": " + windowsErrorReason(placement.systemError, name);
  return message;
}

// Puts `staged` in the place of `target` (the library's name for it), or
// judges the target alone for a null `staged`.
uint32_t place(const std::u16string* staged, const std::u16string& target, uint32_t flags,
               KDRVX_Placement& placement) {
  placement = KDRVX_Placement{};
  placement.size = sizeof placement;
  return KDRVX_PlaceFile(staged != nullptr ? chars(*staged) : nullptr, chars(target), flags,
                         &placement);
}

void requirePlaced(const std::string& name, const std::u16string& target, uint32_t flags) {
  KDRVX_Placement placement;
  const uint32_t status = place(nullptr, target, flags, placement);
  if (status != 0) throw ToolError(placementFailure(name, status, placement, std::string()));
}

// A staging name beside `target` from the library; `target` is cleaned as
// the create cleans its path with KDRVX_PLACE_CREATE.
std::u16string stagingName(const std::string& name, std::u16string& target, uint32_t flags) {
  std::u16string staging(kNameCapacity, u'\0');
  const uint32_t status = KDRVX_GetStagingName(chars(target), flags, chars(staging), kNameCapacity);
  if (status == KDRVX_ERR_RVI_FILE_NAME) {
    throw usageError(name +
                     ": the compact layout names the RVI file after the recording's extension "
                     ".rvx or .RVX; give a name that ends in it (and no directory named so)");
  }
  if (status != 0) throw ToolError(name + ": no staging name beside it: " + statusText(status));
  staging.resize(std::u16string_view(staging.c_str()).size());
  target.resize(std::u16string_view(target.c_str()).size());
  return staging;
}

}  // namespace

std::string withoutLongPathPrefix(const std::string& name) {
#if defined(_WIN32)
  constexpr std::string_view kPrefix = "\\\\?\\", kNetwork = "UNC\\";
  if (!name.starts_with(kPrefix)) return name;
  std::string path = name.substr(kPrefix.size());
  if (path.starts_with(kNetwork)) path = "\\\\" + path.substr(kNetwork.size());
  if (wideLength(path) < KDRVX_PATH_CAPACITY) return path;
  throw ToolError(name + ": the path is longer than the " +
                  std::to_string(KDRVX_PATH_CAPACITY - 1) +
                  " characters that the library takes, even without the \\\\?\\ prefix");
#else
  return name;
#endif
}

OutputTarget resolveOutput(const std::string& given, Existing existing) {
  const std::string name = withoutLongPathPrefix(given);
  if (name == "-") {
    throw usageError(
        "-o -: standard output takes the text of export and plot only; give a file name");
  }
  if (name.empty()) throw usageError("no output file given");
  OutputTarget target;
  target.name = name;
  target.existing = existing;
  std::error_code error;
  const fs::file_status status = fs::status(toPath(name), error);
  if (isDeviceTarget(name) ||
      (fs::exists(status) && !fs::is_regular_file(status) && !fs::is_directory(status))) {
    target.direct = true;
    return target;
  }
  requirePlaced(name, widePath(name), placeFlags(existing));
  return target;
}

OutputFile::OutputFile(const std::string& name, Existing existing)
    : target_(resolveOutput(name, existing)) {
  const std::string& path = target_.name;
  if (target_.direct) {
    descriptor_ = openForWriting(toPath(path));
  } else {
    std::u16string target = widePath(path);
    for (int attempt = 0; attempt < kStagingAttempts && descriptor_ < 0; ++attempt) {
      temporary_ = fs::path(stagingName(path, target, 0));
      descriptor_ = openNew(temporary_);
      if (descriptor_ < 0 && errno != EEXIST) break;
    }
    if (descriptor_ < 0) temporary_.clear();
  }
  if (descriptor_ < 0 && target_.direct && isConsole(path))
    throw ToolError(path + ": rvx has no console to write to here");
  if (descriptor_ < 0) throw ToolError(path + ": cannot create the file: " + lastSystemReason());
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
  if (descriptor_ >= 0) {
    // NFS and others report a full disk only when the file is closed.
    const bool closed = closeDescriptor(descriptor_);
    descriptor_ = -1;
    if (!closed) {
      const std::string reason = lastSystemReason();
      discard();
      throw ToolError(target_.name + ": writing failed: " + reason);
    }
  }
  if (target_.direct) return;
  const std::u16string staged = temporary_.u16string();
  KDRVX_Placement placement;
  const uint32_t status =
      place(&staged, widePath(target_.name), placeFlags(target_.existing), placement);
  if (status == 0) {
    temporary_.clear();
    return;
  }
  // A file with links rewritten only in part: the staging file is the one
  // complete copy of the new bytes, and stays.
  if (placement.step == KDRVX_PLACE_STEP_REWRITE) temporary_.clear();
  throw ToolError(placementFailure(target_.name, status, placement, toUtf8(staged)));
}

void copyFileInto(OutputFile& out, const std::string& source) {
  std::ifstream in(toPath(source), std::ios::binary);
  if (!in) throw ToolError(source + ": cannot open the file: " + unreadableReason(source));
  std::vector<char> buffer(1 << 20);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = in.gcount();
    if (got <= 0) break;
    out.write(buffer.data(), static_cast<size_t>(got));
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

void Output::flush() {
  if (!file_ && std::fflush(stdout) != 0) {
    throw ToolError(name_ + ": writing failed: " + lastSystemReason());
  }
}

void Output::commit() {
  if (file_) return file_->commit();
  flush();
}

StagedRecording::StagedRecording(const std::string& given, Existing existing, bool summary)
    : name_(withoutLongPathPrefix(given)),
      flags_(placeFlags(existing) | (summary ? KDRVX_PLACE_SUMMARY : 0)) {
  const std::string& name = name_;
  if (name == "-") {
    throw usageError(
        "-o -: standard output takes the text of export and plot only; give a file name");
  }
  if (name.empty()) throw usageError("no output file given");
  // A recording is a file: a device is refused as the library refuses one
  // where devices have names of their own.
  if (isDeviceTarget(name)) throw ToolError(name + ": is not a regular file");
  target_ = widePath(name);
  const std::u16string staged = stagingName(name, target_, flags_ | KDRVX_PLACE_CREATE);
  name_ = toUtf8(target_);
  requirePlaced(name_, target_, flags_);
  createPath_ = toUtf8(staged);
  if (summary) {
    std::u16string rvi(kNameCapacity, u'\0');
    if (KDRVX_GetSummaryFileName(chars(staged), 1, chars(rvi), kNameCapacity) == 0)
      summary_ = toUtf8(rvi.c_str());
  }
}

StagedRecording::~StagedRecording() { discard(); }

void StagedRecording::discard() {
  std::error_code ignored;
  if (made_ && !createPath_.empty()) fs::remove(toPath(createPath_), ignored);
  if (made_ && summary_) fs::remove(toPath(*summary_), ignored);
  createPath_.clear();
  summary_.reset();
}

void StagedRecording::commit() {
  const std::u16string staged = widePath(createPath_);
  KDRVX_Placement placement;
  const uint32_t status = place(&staged, target_, flags_, placement);
  if (status == 0) {
    createPath_.clear();
    summary_.reset();
    return;
  }
  if (placement.step == KDRVX_PLACE_STEP_REWRITE) createPath_.clear();
  throw ToolError(placementFailure(name_, status, placement, toUtf8(staged)));
}

}  // namespace rvx
