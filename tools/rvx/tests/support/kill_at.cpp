// Preloaded into rvx by the fault tests (LD_PRELOAD): kills the process
// with SIGKILL just before the N-th write to a file (standard output and
// error not counted) or the N-th rename, as RVX_KILL_AT says ("write:40",
// "rename:2"), so that a test ends a command at an exact point of its work.
// The library's writes and rvx's own go through the same calls.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

void killIfDue(const char* call) {
  static long count = 0;
  const char* wanted = std::getenv("RVX_KILL_AT");
  const size_t length = std::strlen(call);
  if (wanted == nullptr || std::strncmp(wanted, call, length) != 0 || wanted[length] != ':') return;
  if (++count == std::atol(wanted + length + 1)) kill(getpid(), SIGKILL);
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t size) {
  static const auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
  if (fd > 2) killIfDue("write");
  return real(fd, data, size);
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
