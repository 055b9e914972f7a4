// POSIX implementation of the platform layer.
//
// Windows sharing modes are emulated with non-blocking flock() on the open
// descriptor: an open without sharing takes LOCK_EX, an open that shares
// reading and writing takes LOCK_SH. A live writer, which lets others read
// but no second writer in, takes LOCK_SH and, as its mark, a write lock of
// its open file description on one byte far beyond any data
// (kLiveMarkOffset), which a follower can see and a second live writer
// cannot take. A lock that cannot be had closes the descriptor and fails
// the open with the sharing-violation error 32. A
// file whose mode has no write bit at all stands in for the read-only
// attribute and refuses writing opens and deletion, for root as well.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <random>
#include <string>

#include "platform/platform.h"
#include "platform/utf8_path.h"

namespace kdrvx::platform {
namespace {

constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNegativeSeek = 131;

thread_local uint32_t tLastError = 0;

// The byte whose lock marks a live writer: no file reaches it, so the lock
// never covers data that anything else locks.
constexpr off_t kLiveMarkOffset = INT64_MAX - 1;

struct flock liveMark(short type) {
  struct flock mark {};
  mark.l_type = type;
  mark.l_whence = SEEK_SET;
  mark.l_start = kLiveMarkOffset;
  mark.l_len = 1;
  return mark;
}

// Records `error` as the thread's last error; returns false for the caller
// to pass on.
bool failed(uint32_t error) {
  tLastError = error;
  return false;
}

bool hasNoWriteBit(const struct stat& st) {
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// Windows tells a missing file (2) from a missing directory on the way to it
// (3); POSIX says ENOENT for both, so look at the parent directory.
uint32_t missingEntryError(const std::string& path) {
  std::string::size_type slash = path.find_last_of('/');
  if (slash == std::string::npos) return kErrorFileNotFound;
  std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
  struct stat st;
  if (::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return kErrorFileNotFound;
  return kErrorPathNotFound;
}

uint32_t windowsError(int error, const std::string& path) {
  switch (error) {
    case 0: return 0;
    case ENOENT: return missingEntryError(path);
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY: return kErrorAccessDenied;
    case EWOULDBLOCK: return kErrorSharingViolation;
    case EEXIST: return kErrorFileExists;
    case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
    case ELOOP: return 1921;        // ERROR_CANT_RESOLVE_FILENAME
    case EMFILE:
    case ENFILE: return 4;          // ERROR_TOO_MANY_OPEN_FILES
    case ENOMEM: return kErrorNotEnoughMemory;
    case EBADF: return kErrorInvalidHandle;
    case ENOSPC:
    case EDQUOT: return 112;        // ERROR_DISK_FULL
    case EFBIG: return 223;         // ERROR_FILE_TOO_LARGE
    case EBUSY: return 170;         // ERROR_BUSY
    case EIO: return kErrorIoDevice;
    case EINVAL: return 87;         // ERROR_INVALID_PARAMETER
    default: return 31;             // ERROR_GEN_FAILURE
  }
}

int toFd(intptr_t handle) { return static_cast<int>(handle); }

// Opens `name` with `flags`. A create opens a new file exclusively, so that
// it knows whether the file was there before; `created` says which. With
// O_EXCL only a new file will do.
int openDescriptor(const std::string& name, int flags, bool& created) {
  created = false;
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd;
    if ((flags & O_CREAT) != 0) {
      do {
        fd = ::open(name.c_str(), flags | O_EXCL, 0666);
      } while (fd < 0 && errno == EINTR);
      if (fd >= 0) {
        created = true;
        return fd;
      }
      if (errno != EEXIST || (flags & O_EXCL) != 0) return -1;
    }
    do {
      fd = ::open(name.c_str(), flags & ~O_CREAT);
    } while (fd < 0 && errno == EINTR);
    // A file removed between the two opens: create it after all.
    if (fd >= 0 || errno != ENOENT || (flags & O_CREAT) == 0) return fd;
  }
  return -1;
}

bool sameIgnoringAsciiCase(const char* a, const std::string& b) {
  const auto lower = [](unsigned char ch) {
    return ch >= 'A' && ch <= 'Z' ? ch + ('a' - 'A') : ch;
  };
  size_t i = 0;
  for (; a[i] != '\0' && i < b.size(); ++i) {
    if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return a[i] == '\0' && i == b.size();
}

// The path of the one entry of `path`'s directory whose name differs from
// its last component only in ASCII case (bytes of UTF-8 beyond ASCII must
// match as they are). False when there is none, or more than one.
bool entryIgnoringCase(const std::string& path, std::string& found) {
  const std::string::size_type slash = path.find_last_of('/');
  const std::string prefix = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string last = path.substr(prefix.size());
  DIR* directory = ::opendir(prefix.empty() ? "." : prefix.c_str());
  if (directory == nullptr) return false;
  int matches = 0;
  while (const struct dirent* entry = ::readdir(directory)) {
    if (!sameIgnoringAsciiCase(entry->d_name, last)) continue;
    if (++matches > 1) break;
    found = prefix + entry->d_name;
  }
  ::closedir(directory);
  return matches == 1;
}

}  // namespace

File::~File() { close(); }

bool File::openIgnoringCase(const char16_t* path, OpenMode mode) {
  if (open(path, mode)) return true;
  if (tLastError != kErrorFileNotFound) return false;
  std::string name;
  std::string found;
  std::u16string wide;
  if (!utf16ToUtf8Path(path, name) || !entryIgnoringCase(name, found) ||
      !utf8ToUtf16Path(found, wide))
    return failed(kErrorFileNotFound);
  return open(wide.c_str(), mode);
}

bool File::open(const char16_t* path, OpenMode mode) {
  close();
  std::string name;
  if (path == nullptr) return failed(kErrorPathNotFound);
  if (!utf16ToUtf8Path(path, name)) return failed(kErrorInvalidName);
  if (name.empty()) return failed(kErrorPathNotFound);

  // Non-blocking, so that a named pipe or a device never holds the open;
  // anything but a regular file is refused below. For regular files the
  // flag changes nothing.
  int flags = O_CLOEXEC | O_NONBLOCK;
  int lock = LOCK_EX;
  bool writes = false;
  switch (mode) {
    case OpenMode::ReadShared: flags |= O_RDONLY; lock = LOCK_SH; break;
    case OpenMode::ReadExclusive: flags |= O_RDONLY; break;
    case OpenMode::CreateReadWrite: flags |= O_RDWR | O_CREAT; writes = true; break;
    case OpenMode::OpenReadWrite: flags |= O_RDWR; writes = true; break;
    case OpenMode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; writes = true; break;
    case OpenMode::CreateLive: flags |= O_RDWR | O_CREAT; writes = true; lock = LOCK_SH; break;
    case OpenMode::CreateNewLive:
      flags |= O_RDWR | O_CREAT | O_EXCL;
      writes = true;
      lock = LOCK_SH;
      break;
  }
  const bool live = mode == OpenMode::CreateLive || mode == OpenMode::CreateNewLive;
  const bool truncates = mode == OpenMode::CreateReadWrite || mode == OpenMode::CreateLive;

  bool created = false;
  const int fd = openDescriptor(name, flags, created);
  if (fd < 0) return failed(windowsError(errno, name));

  // What the path names is examined before the lock and before anything is
  // read, so that a directory fails here as Windows' open fails for it.
  struct stat st {};
  uint32_t error = 0;
  if (::fstat(fd, &st) != 0) {
    error = windowsError(errno, name);
  } else if (!S_ISREG(st.st_mode) || (writes && !created && hasNoWriteBit(st))) {
    error = kErrorAccessDenied;
  } else if (::flock(fd, lock | LOCK_NB) != 0) {
    error = windowsError(errno, name);
  } else if (struct flock mark = liveMark(F_WRLCK);
             live && ::fcntl(fd, F_OFD_SETLK, &mark) != 0) {
    error = errno == EAGAIN || errno == EACCES ? kErrorSharingViolation : windowsError(errno, name);
  } else if (truncates && !created && ::ftruncate(fd, 0) != 0) {
    // The lock is held before truncating, so a file in use is never emptied.
    error = windowsError(errno, name);
  } else if (created && hasNoWriteBit(st)) {
    // A umask without write bits would make the new file count as read-only,
    // and the library reopens the files it creates for writing. Windows
    // never creates a read-only file here; the owner keeps writing.
    ::fchmod(fd, (st.st_mode & 07777) | S_IWUSR);
  }
  if (error != 0) {
    ::close(fd);
    return failed(error);
  }
  handle_ = fd;
  lengthAtOpen_ = created || truncates ? 0 : static_cast<int64_t>(st.st_size);
  tLastError = 0;
  return true;
}

void File::close() {
  if (handle_ == kClosed) return;
  ::close(toFd(handle_));  // closing the descriptor releases its flock
  handle_ = kClosed;
}

uint32_t File::read(void* buffer, uint32_t count) {
  readFailed_ = false;
  if (handle_ == kClosed) {
    readFailed_ = true;
    failed(kErrorInvalidHandle);
    return 0;
  }
  auto* bytes = static_cast<unsigned char*>(buffer);
  uint32_t total = 0;
  while (total < count) {
    ssize_t n = ::read(toFd(handle_), bytes + total, count - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      readFailed_ = true;
      failed(windowsError(errno, {}));
      break;
    }
    if (n == 0) break;
    total += static_cast<uint32_t>(n);
  }
  return total;
}

bool File::write(const void* buffer, uint32_t count) {
  if (handle_ == kClosed) return failed(kErrorInvalidHandle);
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  uint32_t total = 0;
  while (total < count) {
    ssize_t n = ::write(toFd(handle_), bytes + total, count - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failed(windowsError(errno, {}));
    }
    total += static_cast<uint32_t>(n);
  }
  return true;
}

bool File::seekFromStart(int64_t offset) {
  if (handle_ == kClosed) return failed(kErrorInvalidHandle);
  if (offset < 0) return failed(kErrorNegativeSeek);
  if (::lseek(toFd(handle_), static_cast<off_t>(offset), SEEK_SET) < 0)
    return failed(windowsError(errno, {}));
  return true;
}

bool File::truncate(int64_t length) {
  if (handle_ == kClosed) return failed(kErrorInvalidHandle);
  if (length < 0) return failed(kErrorNegativeSeek);
  int result;
  do {
    result = ::ftruncate(toFd(handle_), static_cast<off_t>(length));
  } while (result != 0 && errno == EINTR);
  if (result != 0) return failed(windowsError(errno, {}));
  return true;
}

bool File::seekFromEnd(int64_t offset) {
  if (handle_ == kClosed) return failed(kErrorInvalidHandle);
  if (::lseek(toFd(handle_), static_cast<off_t>(offset), SEEK_END) < 0)
    return failed(windowsError(errno, {}));
  return true;
}

int64_t File::length() {
  if (handle_ == kClosed) {
    failed(kErrorInvalidHandle);
    return -1;
  }
  struct stat st;
  if (::fstat(toFd(handle_), &st) != 0) {
    failed(windowsError(errno, {}));
    return -1;
  }
  return static_cast<int64_t>(st.st_size);
}

namespace {
bool toLocalTime(time_t when, LocalTime& out) {
  struct tm parts;
  if (::localtime_r(&when, &parts) == nullptr) return false;
  out.year = parts.tm_year + 1900;
  out.month = parts.tm_mon + 1;
  out.day = parts.tm_mday;
  out.hour = parts.tm_hour;
  out.minute = parts.tm_min;
  out.second = parts.tm_sec > 59 ? 59 : parts.tm_sec;  // no leap seconds
  return true;
}
}  // namespace

bool File::modificationTime(LocalTime& out) {
  if (handle_ == kClosed) return failed(kErrorInvalidHandle);
  struct stat st;
  if (::fstat(toFd(handle_), &st) != 0) return failed(windowsError(errno, {}));
  return toLocalTime(st.st_mtime, out);
}

bool probeHolder(const char16_t* path, Holder& out) {
  std::string name;
  if (path == nullptr) return failed(kErrorPathNotFound);
  if (!utf16ToUtf8Path(path, name)) return failed(kErrorInvalidName);
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const uint32_t error = windowsError(errno, name);
    if (error != kErrorFileNotFound && error != kErrorPathNotFound) return failed(error);
    out = Holder::Missing;
    return true;
  }
  struct stat st {};
  uint32_t error = 0;
  struct flock mark = liveMark(F_RDLCK);
  if (::fstat(fd, &st) != 0) {
    error = windowsError(errno, name);
  } else if (!S_ISREG(st.st_mode)) {
    error = kErrorAccessDenied;
  } else if (::fcntl(fd, F_OFD_GETLK, &mark) != 0) {
    error = windowsError(errno, name);
  } else if (mark.l_type != F_UNLCK) {
    out = Holder::LiveWriter;
  } else if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) error = windowsError(errno, name);
    out = Holder::Exclusive;
  } else {
    out = Holder::Nobody;  // closing the descriptor lets go of the shared lock at once
  }
  ::close(fd);
  return error == 0 ? true : failed(error);
}

bool removeFile(const char16_t* path) {
  std::string name;
  if (path == nullptr) return failed(kErrorPathNotFound);
  if (!utf16ToUtf8Path(path, name)) return failed(kErrorInvalidName);
  if (name.empty()) return failed(kErrorPathNotFound);

  struct stat st;
  if (::lstat(name.c_str(), &st) != 0) return failed(windowsError(errno, name));
  // A symbolic link is removed itself, as Windows removes a link. Anything
  // else but a regular file (directory, pipe, device, socket) is refused.
  const bool link = S_ISLNK(st.st_mode);
  if ((!link && !S_ISREG(st.st_mode)) || hasNoWriteBit(st)) return failed(kErrorAccessDenied);

  // Refuse a file that somebody holds open through this layer (a lock of
  // either kind), as Windows refuses to delete a file opened without delete
  // sharing. The lock is kept until the name is gone.
  int fd = -1;
  if (!link) {
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    fd = ::open(name.c_str(), O_RDONLY | kFlags);
    if (fd < 0 && errno == EACCES) fd = ::open(name.c_str(), O_WRONLY | kFlags);
  }
  if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    uint32_t error = windowsError(errno, name);
    ::close(fd);
    return failed(error);
  }
  bool removed = ::unlink(name.c_str()) == 0;
  uint32_t error = removed ? 0 : windowsError(errno, name);
  if (fd >= 0) ::close(fd);
  if (!removed) return failed(error);
  tLastError = 0;
  return true;
}

bool absolutePath(const char16_t* path, std::u16string& out) {
  out.clear();
  std::string name;
  if (path == nullptr || !utf16ToUtf8Path(path, name) || name.empty()) return false;
  const std::string::size_type slash = name.find_last_of('/');
  const std::string directory = slash == std::string::npos ? std::string(".")
                                : slash == 0               ? std::string("/")
                                                           : name.substr(0, slash);
  const std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
  char* resolved = ::realpath(directory.c_str(), nullptr);
  if (resolved == nullptr) return false;
  std::string absolute(resolved);
  std::free(resolved);
  if (absolute.back() != '/') absolute += '/';
  absolute += last;
  if (!utf8ToUtf16Path(absolute, out)) {
    out.clear();
    return false;
  }
  return true;
}

uint32_t lastError() { return tLastError; }

void sleepMilliseconds(uint32_t milliseconds) {
  struct timespec wanted;
  wanted.tv_sec = static_cast<time_t>(milliseconds / 1000);
  wanted.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (::nanosleep(&wanted, &wanted) != 0 && errno == EINTR) {
  }
}

bool localTimeNow(LocalTime& out) { return toLocalTime(::time(nullptr), out); }

void writeDefaultTrace(const char16_t*) {
  // No debugger channel on POSIX: the line is discarded.
}

// ---- Putting a finished file in its place ----

namespace {

constexpr int kLinkHops = 40;
constexpr uint32_t kErrorCantResolveFilename = 1921;

// The UTF-8 name of `path`, or false with the error of a path that names
// nothing.
bool nameOf(const char16_t* path, std::string& name) {
  if (path == nullptr) return failed(kErrorPathNotFound);
  if (!utf16ToUtf8Path(path, name)) return failed(kErrorInvalidName);
  if (name.empty()) return failed(kErrorPathNotFound);
  return true;
}

int openRetrying(const std::string& name, int flags) {
  int fd;
  do {
    fd = ::open(name.c_str(), flags | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Closes a descriptor when it goes out of scope.
struct Descriptor {
  int fd;
  explicit Descriptor(int descriptor) : fd(descriptor) {}
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
};

// Holds the file at `name` as an exclusive open of the library does (an
// flock), so that a file another opener holds is refused: false with 32
// then. Nothing to hold (no file, or one this process may not open) is no
// refusal.
bool holdExclusively(const std::string& name, Descriptor& held) {
  held.fd = openRetrying(name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
  if (held.fd < 0) return true;
  if (::flock(held.fd, LOCK_EX | LOCK_NB) == 0) return true;
  return failed(windowsError(errno, name));
}

bool fsyncRetrying(int fd) {
  int result;
  do {
    result = ::fsync(fd);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

}  // namespace

bool examinePath(const char16_t* path, PathStatus& out) {
  out = PathStatus{};
  std::string name;
  if (!nameOf(path, name)) return false;
  struct stat st;
  if (::lstat(name.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    return failed(windowsError(errno, name));
  }
  out.exists = true;
  out.regular = S_ISREG(st.st_mode);
  out.directory = S_ISDIR(st.st_mode);
  out.readOnly = hasNoWriteBit(st);
  out.links = static_cast<uint32_t>(st.st_nlink);
  return true;
}

bool followLinks(const char16_t* path, std::u16string& out) {
  std::string name;
  if (!nameOf(path, name)) return false;
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (::lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    if (hops == kLinkHops) return failed(kErrorCantResolveFilename);
    std::string next(static_cast<size_t>(st.st_size) + 1, '\0');
    const ssize_t length = ::readlink(name.c_str(), next.data(), next.size());
    if (length < 0) return failed(windowsError(errno, name));
    next.resize(static_cast<size_t>(length));
    const std::string::size_type slash = name.find_last_of('/');
    if (!next.empty() && next.front() != '/' && slash != std::string::npos)
      next = name.substr(0, slash + 1) + next;
    name = next;
  }
  if (!utf8ToUtf16Path(name, out)) return failed(kErrorInvalidName);
  return true;
}

bool flushFile(const char16_t* path) {
  std::string name;
  if (!nameOf(path, name)) return false;
  const Descriptor file(openRetrying(name, O_RDONLY | O_NONBLOCK));
  if (file.fd < 0 || !fsyncRetrying(file.fd)) return failed(windowsError(errno, name));
  return true;
}

bool copyOwnerAndMode(const char16_t* model, const char16_t* file) {
  std::string from, to;
  if (!nameOf(model, from) || !nameOf(file, to)) return false;
  struct stat st;
  if (::stat(from.c_str(), &st) != 0) return failed(windowsError(errno, from));
  // Only root gives a file to another owner, and a process only the groups
  // it belongs to; what it may not set stays the process's own. The mode
  // comes last, as a change of owner clears the set-id bits.
  if (::chown(to.c_str(), st.st_uid, st.st_gid) != 0) {
    // A group the process may not give either leaves the file with the
    // process's own group: that refusal is no failure of the placing.
    const bool groupGiven = ::chown(to.c_str(), static_cast<uid_t>(-1), st.st_gid) == 0;
    static_cast<void>(groupGiven);
  }
  if (::chmod(to.c_str(), st.st_mode & 07777) != 0) return failed(windowsError(errno, to));
  return true;
}

bool moveFile(const char16_t* from, const char16_t* to, bool replace) {
  std::string source, target;
  if (!nameOf(from, source) || !nameOf(to, target)) return false;
  if (replace) {
    Descriptor held(-1);
    if (!holdExclusively(target, held)) return false;
    if (::rename(source.c_str(), target.c_str()) != 0) return failed(windowsError(errno, target));
    return true;
  }
#if defined(RENAME_NOREPLACE)
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return failed(windowsError(errno, target));
#endif
  // A file system without that rename: a second name, then the first goes.
  if (::link(source.c_str(), target.c_str()) != 0) return failed(windowsError(errno, target));
  ::unlink(source.c_str());
  return true;
}

bool rewriteFile(const char16_t* from, const char16_t* to) {
  std::string source, target;
  if (!nameOf(from, source) || !nameOf(to, target)) return false;
  const Descriptor out(openRetrying(target, O_WRONLY | O_NONBLOCK | O_NOFOLLOW));
  if (out.fd < 0) return failed(windowsError(errno, target));
  if (::flock(out.fd, LOCK_EX | LOCK_NB) != 0) return failed(windowsError(errno, target));
  const Descriptor in(openRetrying(source, O_RDONLY));
  if (in.fd < 0) return failed(windowsError(errno, source));
  constexpr size_t kBlock = size_t{1} << 20;
  const std::unique_ptr<char[]> buffer(new char[kBlock]);
  off_t total = 0;
  for (;;) {
    const ssize_t got = ::read(in.fd, buffer.get(), kBlock);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return failed(windowsError(errno, source));
    if (got == 0) break;
    for (ssize_t put = 0; put < got;) {
      const ssize_t n =
          ::pwrite(out.fd, buffer.get() + put, static_cast<size_t>(got - put), total + put);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return failed(windowsError(n < 0 ? errno : ENOSPC, target));
      put += n;
    }
    total += got;
  }
  if (::ftruncate(out.fd, total) != 0 || !fsyncRetrying(out.fd))
    return failed(windowsError(errno, target));
  return true;
}

void flushDirectoryOf(const char16_t* path) {
  std::string name;
  if (!nameOf(path, name)) return;
  const std::string::size_type slash = name.find_last_of('/');
  const std::string directory = slash == std::string::npos ? std::string(".")
                                : slash == 0               ? std::string("/")
                                                           : name.substr(0, slash);
  const Descriptor held(openRetrying(directory, O_RDONLY | O_DIRECTORY));
  if (held.fd >= 0) fsyncRetrying(held.fd);
}

uint32_t randomNumber() { return std::random_device{}(); }

}  // namespace kdrvx::platform
