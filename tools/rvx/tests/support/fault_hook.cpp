// Preloaded into rvx by the fault tests (LD_PRELOAD) as RVX_FAULT says:
// "kill:write:N" or "kill:rename:N" kill the process with SIGKILL just
// before its N-th write to a file (standard output and error not counted)
// or its N-th rename; "full:write:N" fails that write and every later one
// as a full disk does; "fail:CALL:N:ERROR" fails the N-th call of CALL
// alone with the error ERROR (EIO, EMFILE, ...), and "full:CALL:N:ERROR"
// that call and every later one. CALL is write, read (of a file), rename,
// open (any open of a file), close (of a file) or fsync.
// The library's calls and rvx's own go through the same functions, so a
// test ends or starves a command at an exact point.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

constexpr const char* kCalls[] = {"write", "rename", "open", "close", "fsync", "read"};

struct NamedError {
  const char* name;
  int number;
};
// The errors that the tests give, by name.
#define NAMED(error) \
  { #error, error }
constexpr NamedError kErrors[] = {NAMED(EACCES), NAMED(EBUSY),  NAMED(EDQUOT),       NAMED(EEXIST),
                                  NAMED(EFBIG),  NAMED(EINTR),  NAMED(EINVAL),       NAMED(EIO),
                                  NAMED(ELOOP),  NAMED(EMFILE), NAMED(ENAMETOOLONG), NAMED(ENFILE),
                                  NAMED(ENOENT), NAMED(ENOMEM), NAMED(ENOSPC),       NAMED(ENOTDIR),
                                  NAMED(EPERM),  NAMED(EROFS),  NAMED(ENOTSUP)};
#undef NAMED

int errorNamed(const char* name) {
  for (const NamedError& error : kErrors)
    if (std::strcmp(error.name, name) == 0) return error.number;
  std::abort();  // a name the tests do not use
}

// Whether the fault `action` ("kill:", "full:", "fail:") for `call` is due
// now: counts the calls. `error` receives the error number of a "fail:".
bool due(const char* action, const char* call, int* error = nullptr) {
  static long count[std::size(kCalls)] = {};
  const char* fault = std::getenv("RVX_FAULT");
  const size_t actionLength = std::strlen(action), callLength = std::strlen(call);
  if (fault == nullptr || std::strncmp(fault, action, actionLength) != 0) return false;
  fault += actionLength;
  if (std::strncmp(fault, call, callLength) != 0 || fault[callLength] != ':') return false;
  size_t at = 0;
  while (std::strcmp(kCalls[at], call) != 0) ++at;
  long& seen = count[at];
  char* end = nullptr;
  const long wanted = std::strtol(fault + callLength + 1, &end, 10);
  if (error != nullptr) *error = *end == ':' ? errorNamed(end + 1) : ENOSPC;
  return ++seen >= wanted && (action[1] == 'u' || seen == wanted);
}

void killIfDue(const char* call) {
  if (due("kill:", call)) kill(getpid(), SIGKILL);
}

// Whether `call` fails now as a full disk or a single failure makes it;
// sets errno then.
bool failsNow(const char* call) {
  int error = 0;
  if (!due("full:", call, &error) && !due("fail:", call, &error)) return false;
  errno = error;
  return true;
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t size) {
  static const auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
  if (fd > 2) {
    killIfDue("write");
    if (failsNow("write")) return -1;
  }
  return real(fd, data, size);
}

// HDF5, which writes the MATLAB and HDF5 exports, writes at offsets.
extern "C" ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  static const auto real = next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  if (fd > 2) {
    killIfDue("write");
    if (failsNow("write")) return -1;
  }
  return real(fd, data, size, offset);
}

extern "C" ssize_t pwrite64(int fd, const void* data, size_t size, off_t offset) {
  return pwrite(fd, data, size, offset);
}

extern "C" int rename(const char* from, const char* to) {
  static const auto real = next<int (*)(const char*, const char*)>("rename");
  killIfDue("rename");
  if (failsNow("rename")) return -1;
  return real(from, to);
}

extern "C" int renameat2(int fromDirectory, const char* from, int toDirectory, const char* to,
                         unsigned flags) {
  static const auto real = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  killIfDue("rename");
  if (failsNow("rename")) return -1;
  return real(fromDirectory, from, toDirectory, to, flags);
}

extern "C" int link(const char* from, const char* to) {
  static const auto real = next<int (*)(const char*, const char*)>("link");
  killIfDue("rename");
  if (failsNow("rename")) return -1;
  return real(from, to);
}

namespace {

int openFile(const char* function, const char* path, int flags, va_list rest) {
  const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(rest, mode_t) : 0;
  if (failsNow("open")) return -1;
  static const auto real = next<int (*)(const char*, int, ...)>(function);
  return real(path, flags, mode);
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const int fd = openFile("open", path, flags, rest);
  va_end(rest);
  return fd;
}

extern "C" int open64(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const int fd = openFile("open64", path, flags, rest);
  va_end(rest);
  return fd;
}

// A build with _FORTIFY_SOURCE opens through __open_2 where the flags are
// not known when compiling (the released library does): such an open
// creates nothing and takes no mode.
extern "C" int __open_2(const char* path, int flags) {
  if (failsNow("open")) return -1;
  static const auto real = next<int (*)(const char*, int)>("__open_2");
  return real(path, flags);
}

// A failing close has closed the descriptor all the same, as after the
// late errors of network file systems.
extern "C" int close(int fd) {
  static const auto real = next<int (*)(int)>("close");
  const int result = real(fd);
  if (fd > 2 && result == 0 && failsNow("close")) return -1;
  return result;
}

extern "C" int fsync(int fd) {
  static const auto real = next<int (*)(int)>("fsync");
  if (failsNow("fsync")) return -1;
  return real(fd);
}

extern "C" ssize_t read(int fd, void* data, size_t size) {
  static const auto real = next<ssize_t (*)(int, void*, size_t)>("read");
  if (fd > 2 && failsNow("read")) return -1;
  return real(fd, data, size);
}
