#include "shared/system_reason.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

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

// Access is refused alike to a directory, a device and a file without
// permission; the path tells them apart.
std::string deniedReason(const std::string& path) {
  if (path.empty()) return kDenied;
  std::error_code ignored;
  const std::filesystem::file_status status = std::filesystem::status(toPath(path), ignored);
  if (std::filesystem::is_directory(status)) return "is a directory";
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    return "not a regular file";
  }
  return kDenied;
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
      return "out of memory";  // ERROR_NOT_ENOUGH_MEMORY
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
    default:
      return "system error " + std::to_string(error);
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
