// Preloaded into rvx by the fault tests (LD_PRELOAD) as RVX_FAULT says:
// "kill:write:N" or "kill:rename:N" kill the process with SIGKILL just
// before its N-th write to a file (standard output and error not counted)
// or its N-th rename; "full:write:N" fails that write and every later one
// as a full disk does. The library's writes and rvx's own go through the
// same calls, so a test ends or starves a command at an exact point.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Whether the fault for `call` is due: counts the calls.
bool due(const char* action, const char* call) {
  static long count[2] = {0, 0};
  const char* fault = std::getenv("RVX_FAULT");
  const size_t actionLength = std::strlen(action), callLength = std::strlen(call);
  if (fault == nullptr || std::strncmp(fault, action, actionLength) != 0) return false;
  fault += actionLength;
  if (std::strncmp(fault, call, callLength) != 0 || fault[callLength] != ':') return false;
  long& seen = count[call[0] == 'w' ? 0 : 1];
  const long wanted = std::atol(fault + callLength + 1);
  return ++seen >= wanted && (action[0] == 'f' || seen == wanted);
}

void killIfDue(const char* call) {
  if (due("kill:", call)) kill(getpid(), SIGKILL);
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
    if (due("full:", "write")) {
      errno = ENOSPC;
      return -1;
    }
  }
  return real(fd, data, size);
}

// HDF5, which writes the MATLAB and HDF5 exports, writes at offsets.
extern "C" ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  static const auto real = next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  if (fd > 2) {
    killIfDue("write");
    if (due("full:", "write")) {
      errno = ENOSPC;
      return -1;
    }
  }
  return real(fd, data, size, offset);
}

extern "C" ssize_t pwrite64(int fd, const void* data, size_t size, off_t offset) {
  return pwrite(fd, data, size, offset);
}

extern "C" int rename(const char* from, const char* to) {
  static const auto real = next<int (*)(const char*, const char*)>("rename");
  killIfDue("rename");
  return real(from, to);
}

extern "C" int renameat2(int fromDirectory, const char* from, int toDirectory, const char* to,
                         unsigned flags) {
  static const auto real = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  killIfDue("rename");
  return real(fromDirectory, from, toDirectory, to, flags);
}

extern "C" int link(const char* from, const char* to) {
  static const auto real = next<int (*)(const char*, const char*)>("link");
  killIfDue("rename");
  return real(from, to);
}
