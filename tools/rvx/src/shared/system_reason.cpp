#include "shared/system_reason.h"

#include <cerrno>
#include <cstring>
#include <cwctype>
#include <filesystem>

#include "shared/file_patterns.h"
#include "shared/utf.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace rvx {

namespace {

constexpr const char* kDiskFull = "disk full";
constexpr const char* kInUse = "in use by another program";
constexpr const char* kNotFound = "no such file or directory";
constexpr const char* kDenied = "permission denied";
constexpr const char* kTooLarge = "file too large (over the file-size limit)";
constexpr const char* kOutOfMemory = "out of memory";

#if defined(_WIN32)
// Windows denies access to a file that another program holds open, where
// it is to be replaced or removed, as it denies it without permission: the
// file is held when an open of it that lets no one else in is refused for
// sharing.
bool heldByAnother(const std::string& path) {
  const HANDLE file = CreateFileW(toPath(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}
#else
bool heldByAnother(const std::string&) { return false; }
#endif

// Access is refused alike to a directory, a device, a file that another
// program holds and a file without permission; the path tells them apart.
std::string deniedReason(const std::string& path) {
  if (path.empty()) return kDenied;
  if (heldByAnother(path)) return kInUse;
  std::error_code ignored;
  const std::filesystem::file_status status = std::filesystem::status(toPath(path), ignored);
  if (std::filesystem::is_directory(status)) return "is a directory";
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    return "not a regular file";
  }
  return kDenied;
}

// A reason without words of rvx's own: the system's words where it has
// them.
std::string otherSystemReason(uint32_t error) {
#if defined(_WIN32)
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string words(reinterpret_cast<const char16_t*>(text), text != nullptr ? length : 0);
  LocalFree(text);
  while (!words.empty() && (words.back() == u'\r' || words.back() == u'\n' ||
                            words.back() == u'.' || words.back() == u' '))
    words.pop_back();
  if (!words.empty()) {
    words[0] = static_cast<char16_t>(std::towlower(words[0]));
    return toUtf8(words);
  }
#endif
  return "an error the system gives no words for (Windows error " + std::to_string(error) + ")";
}

}  // namespace

std::string errnoReason(int error) {
  switch (error) {
    case ENOENT:
      return kNotFound;
    case ENOTDIR:
      return "a part of the path is not a directory";
    case EACCES:
    case EPERM:
      return kDenied;
    case EROFS:
      return "read-only file system";
    case EISDIR:
      return "is a directory";
    case ENOSPC:
      return kDiskFull;
#if defined(EDQUOT)
    case EDQUOT:
      return "disk quota exceeded";
#endif
    case EFBIG:
      return kTooLarge;
    case EEXIST:
      return "already exists";
    case EBUSY:
#if defined(ETXTBSY)
    case ETXTBSY:
#endif
    case EWOULDBLOCK:
      return kInUse;
    case ENAMETOOLONG:
      return "file name too long";
    case EMFILE:
    case ENFILE:
      return "too many open files";
    case EIO:
      return "input/output error";
    case ENOMEM:
      return kOutOfMemory;
    case EXDEV:
      return "on another file system";
    default:
      return std::strerror(error);
  }
}

std::string windowsErrorReason(uint32_t error, const std::string& path) {
  switch (error) {
    case 2:
      return kNotFound;  // ERROR_FILE_NOT_FOUND
    case 3:
      return "no such directory";  // ERROR_PATH_NOT_FOUND
    case 4:
      return "too many open files";  // ERROR_TOO_MANY_OPEN_FILES
    case 5:
      return deniedReason(path);  // ERROR_ACCESS_DENIED
    case 8:
      return kOutOfMemory;  // ERROR_NOT_ENOUGH_MEMORY
    case 19:
      return "read-only medium";  // ERROR_WRITE_PROTECT
    case 32:                      // ERROR_SHARING_VIOLATION
    case 33:                      // ERROR_LOCK_VIOLATION
    case 170:
      return kInUse;  // ERROR_BUSY
    case 39:          // ERROR_HANDLE_DISK_FULL
    case 112:
      return kDiskFull;  // ERROR_DISK_FULL
    case 80:             // ERROR_FILE_EXISTS
    case 183:
      return "already exists";  // ERROR_ALREADY_EXISTS
    case 123:
      return "invalid file name";  // ERROR_INVALID_NAME
    case 206:
      return "file name too long";  // ERROR_FILENAME_EXCED_RANGE
    case 223:
      return kTooLarge;  // ERROR_FILE_TOO_LARGE
    case 1117:
      return "input/output error";  // ERROR_IO_DEVICE
    case 1921:
      return "too many levels of symbolic links";
    case 6:
      return "no such handle";  // ERROR_INVALID_HANDLE
    case 21:
      return "device not ready";  // ERROR_NOT_READY
    case 50:
      return "not supported";  // ERROR_NOT_SUPPORTED
    case 66:
      return "a device, not a file";  // ERROR_BAD_DEV_TYPE
    case 87:
      return "invalid parameter";  // ERROR_INVALID_PARAMETER
    default:
      return otherSystemReason(error);
  }
}

std::string errorCodeReason(const std::error_code& error) {
  if (error.category() == std::generic_category()) return errnoReason(error.value());
#if defined(_WIN32)
  if (error.category() == std::system_category()) {
    return windowsErrorReason(static_cast<uint32_t>(error.value()));
  }
#endif
  return error.message();
}

std::string lastSystemReason(bool windowsCall) {
#if defined(_WIN32)
  if (windowsCall) return windowsErrorReason(GetLastError());
#else
  (void)windowsCall;
#endif
  return errnoReason(errno);
}

std::string unreadableReason(const std::string& path) {
#if defined(_WIN32)
  // No Windows file name holds a wildcard: the name is a pattern that the
  // command line's expansion left as it was.
  if (isFilePattern(path)) return "no file matches this pattern";
  const int fd = _wopen(toPath(path).c_str(), _O_RDONLY | _O_BINARY);
#else
  const int fd = ::open(toPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
#endif
  if (fd < 0) {
    const int error = errno;
    return error == EACCES ? deniedReason(path) : errnoReason(error);
  }
#if defined(_WIN32)
  _close(fd);
#else
  ::close(fd);
#endif
  return deniedReason(path) == kDenied ? "cannot be read" : deniedReason(path);
}

}  // namespace rvx
