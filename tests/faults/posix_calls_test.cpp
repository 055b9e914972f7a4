// The POSIX layer when the system refuses its calls. The program is linked
// with --wrap for each system call that posix.cpp makes, so that its calls
// reach the __wrap_ functions below first; a test arms one of them to fail
// once with a chosen errno (the other calls go through), and checks what the
// layer reports: the Windows error number, a retry after EINTR, a clean
// refusal. No rule of the record writer (record_writer.h) is checked here:
// the record writer meets these failures through the fault tests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <functional>
#include <string>

#include "platform/platform.h"
#include "support/test_support.h"

namespace {

// The call that fails next: its name, the errno, and how many of its calls
// pass before.
struct Armed {
  std::string call;
  int error = 0;
  int passing = 0;
};
Armed armed;

bool strikes(const char* call) {
  if (armed.call != call) return false;
  if (armed.passing-- > 0) return false;
  errno = armed.error;
  armed.call.clear();
  return true;
}

}  // namespace

extern "C" {
int __real_open(const char* path, int flags, ...);
int __real___open_2(const char* path, int flags);
ssize_t __real_read(int fd, void* buffer, size_t count);
ssize_t __real_write(int fd, const void* buffer, size_t count);
off_t __real_lseek(int fd, off_t offset, int whence);
int __real_ftruncate(int fd, off_t length);
int __real_fstat(int fd, struct stat* st);
int __real_flock(int fd, int operation);
int __real_lstat(const char* path, struct stat* st);
int __real_unlink(const char* path);
char* __real_realpath(const char* path, char* resolved);

int __wrap_open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const auto mode = static_cast<mode_t>((flags & O_CREAT) != 0 ? va_arg(rest, int) : 0);
  va_end(rest);
  return strikes("open") ? -1 : __real_open(path, flags, mode);
}
// A build with _FORTIFY_SOURCE (the released one) opens through __open_2
// where the flags are not known when compiling.
int __wrap___open_2(const char* path, int flags) {
  return strikes("open") ? -1 : __real___open_2(path, flags);
}
ssize_t __wrap_read(int fd, void* buffer, size_t count) {
  return strikes("read") ? -1 : __real_read(fd, buffer, count);
}
ssize_t __wrap_write(int fd, const void* buffer, size_t count) {
  return strikes("write") ? -1 : __real_write(fd, buffer, count);
}
off_t __wrap_lseek(int fd, off_t offset, int whence) {
  return strikes("lseek") ? -1 : __real_lseek(fd, offset, whence);
}
int __wrap_ftruncate(int fd, off_t length) {
  return strikes("ftruncate") ? -1 : __real_ftruncate(fd, length);
}
int __wrap_fstat(int fd, struct stat* st) { return strikes("fstat") ? -1 : __real_fstat(fd, st); }
int __wrap_flock(int fd, int operation) {
  return strikes("flock") ? -1 : __real_flock(fd, operation);
}
int __wrap_lstat(const char* path, struct stat* st) {
  return strikes("lstat") ? -1 : __real_lstat(path, st);
}
int __wrap_unlink(const char* path) { return strikes("unlink") ? -1 : __real_unlink(path); }
char* __wrap_realpath(const char* path, char* resolved) {
  return strikes("realpath") ? nullptr : __real_realpath(path, resolved);
}
}

namespace kdrvx::test {
namespace {

using platform::File;
using platform::OpenMode;

class PosixCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    writeBytes(dir.file("f.bin"), "0123456789");
    path = dir.wide("f.bin");
  }
  void TearDown() override { armed = Armed{}; }
  void arm(const char* call, int error, int passing = 0) { armed = Armed{call, error, passing}; }

  ScratchDir dir;
  std::u16string path;
};

// Every errno an open can meet, in the Windows numbering.
TEST_F(PosixCalls, OpenErrorsInTheWindowsNumbering) {
  const struct {
    int error;
    uint32_t expected;
  } cases[] = {
      {ENOTDIR, 3},        {EACCES, 5},
      {EPERM, 5},          {EROFS, 5},
      {EISDIR, 5},         {ETXTBSY, 5},
      {EWOULDBLOCK, 32},   {EEXIST, 80},
      {ENAMETOOLONG, 206}, {ELOOP, 1921},
      {EMFILE, 4},         {ENFILE, 4},
      {ENOMEM, 8},         {EBADF, 6},
      {ENOSPC, 112},       {EDQUOT, 112},
      {EFBIG, 223},        {EBUSY, 170},
      {EIO, 1117},         {EINVAL, 87},
      {EXDEV, 31},         {ENOENT, platform::kErrorFileNotFound},
  };
  for (const auto& each : cases) {
    File file;
    arm("open", each.error);
    EXPECT_FALSE(file.open(path.c_str(), OpenMode::ReadShared)) << each.error;
    EXPECT_EQ(platform::lastError(), each.expected) << each.error;
  }
}

// A failing call of an open file: its result and error, and that an
// interrupted call is repeated.
TEST_F(PosixCalls, FileCallsFailOrRepeat) {
  char buffer[16] = {};
  platform::LocalTime time;
  const struct {
    const char* name;
    const char* call;
    int error;
    std::function<bool(File&)> action;
    bool succeeds;
    uint32_t expected;  // the error when it fails
  } cases[] = {
      {"read", "read", EIO, [&](File& f) { return f.read(buffer, 4) == 4; }, false, 1117},
      {"read interrupted", "read", EINTR, [&](File& f) { return f.read(buffer, 4) == 4; }, true, 0},
      {"write", "write", ENOSPC, [](File& f) { return f.write("ab", 2); }, false, 112},
      {"write interrupted", "write", EINTR, [](File& f) { return f.write("ab", 2); }, true, 0},
      {"seek", "lseek", EINVAL, [](File& f) { return f.seekFromStart(3); }, false, 87},
      {"seek from end", "lseek", EINVAL, [](File& f) { return f.seekFromEnd(0); }, false, 87},
      {"truncate", "ftruncate", EIO, [](File& f) { return f.truncate(2); }, false, 1117},
      {"truncate interrupted", "ftruncate", EINTR, [](File& f) { return f.truncate(2); }, true, 0},
      {"length", "fstat", EIO, [](File& f) { return f.length() >= 0; }, false, 1117},
      {"modification time", "fstat", EIO, [&](File& f) { return f.modificationTime(time); }, false,
       1117},
  };
  for (const auto& each : cases) {
    File file;
    ASSERT_TRUE(file.open(path.c_str(), OpenMode::OpenReadWrite));
    arm(each.call, each.error);
    EXPECT_EQ(each.action(file), each.succeeds) << each.name;
    if (!each.succeeds) {
      EXPECT_EQ(platform::lastError(), each.expected) << each.name;
    }
  }
  File closed;
  EXPECT_EQ(closed.read(buffer, 1), 0u);
  EXPECT_FALSE(closed.write("a", 1));
  EXPECT_FALSE(closed.seekFromStart(0));
  EXPECT_FALSE(closed.seekFromEnd(0));
  EXPECT_FALSE(closed.truncate(0));
  EXPECT_EQ(closed.length(), -1);
  EXPECT_EQ(closed.lengthAtOpen(), -1);
  EXPECT_FALSE(closed.modificationTime(time));
  EXPECT_EQ(platform::lastError(), 6u);  // the invalid handle
}

// The steps of an open after the descriptor: the status, the lock, the
// truncation of a create; a refused step closes the descriptor again.
TEST_F(PosixCalls, OpenStepsThatFail) {
  const struct {
    const char* call;
    int error;
    OpenMode mode;
    uint32_t expected;
  } cases[] = {
      {"fstat", EIO, OpenMode::ReadShared, 1117},
      {"flock", EWOULDBLOCK, OpenMode::ReadExclusive, platform::kErrorSharingViolation},
      {"ftruncate", EIO, OpenMode::CreateReadWrite, 1117},
  };
  for (const auto& each : cases) {
    File file;
    arm(each.call, each.error);
    EXPECT_FALSE(file.open(path.c_str(), each.mode)) << each.call;
    EXPECT_EQ(platform::lastError(), each.expected) << each.call;
  }
  EXPECT_EQ(readBytes(dir.file("f.bin")), "0123456789") << "a refused create emptied the file";
  File file;
  arm("open", EINTR);
  EXPECT_TRUE(file.open(path.c_str(), OpenMode::ReadShared)) << "an interrupted open is repeated";
}

// Removal: the status of the name, the open that holds it, the lock, the
// unlink; and an absolute path whose folder cannot be resolved.
TEST_F(PosixCalls, RemovalAndAbsolutePathFail) {
  const struct {
    const char* call;
    int error;
    uint32_t expected;
  } cases[] = {
      {"lstat", EIO, 1117},
      {"flock", EWOULDBLOCK, platform::kErrorSharingViolation},
      {"unlink", EBUSY, 170},
  };
  for (const auto& each : cases) {
    arm(each.call, each.error);
    EXPECT_FALSE(platform::removeFile(path.c_str())) << each.call;
    EXPECT_EQ(platform::lastError(), each.expected) << each.call;
  }
  // A file that cannot be opened for reading is held through a writing open.
  arm("open", EACCES);
  EXPECT_TRUE(platform::removeFile(path.c_str()));
  EXPECT_FALSE(std::filesystem::exists(dir.file("f.bin")));

  std::u16string absolute;
  arm("realpath", ENOENT);
  EXPECT_FALSE(platform::absolutePath(path.c_str(), absolute));
  EXPECT_TRUE(absolute.empty());
}

}  // namespace
}  // namespace kdrvx::test
