// Win32 implementation of the platform layer: the file calls with their
// sharing modes, GetLastError, Sleep, the local time and
// OutputDebugStringW.
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <memory>
#include <random>
#include <string>

namespace kdrvx::platform {
namespace {

// Windows text and the library's text are the same UTF-16 code units.
static_assert(sizeof(wchar_t) == sizeof(char16_t));
const wchar_t* toWindows(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

HANDLE toHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

bool failed(DWORD error) {
  ::SetLastError(error);
  return false;
}

bool toLocalTime(const SYSTEMTIME& parts, LocalTime& out) {
  out.year = parts.wYear;
  out.month = parts.wMonth;
  out.day = parts.wDay;
  out.hour = parts.wHour;
  out.minute = parts.wMinute;
  out.second = parts.wSecond;
  return true;
}

}  // namespace

File::~File() { close(); }

bool File::open(const char16_t* path, OpenMode mode) {
  close();
  if (path == nullptr) return failed(ERROR_PATH_NOT_FOUND);

  DWORD access = GENERIC_READ;
  DWORD share = 0;
  DWORD disposition = OPEN_EXISTING;
  switch (mode) {
    case OpenMode::ReadShared: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    case OpenMode::ReadExclusive: break;
    case OpenMode::CreateReadWrite:
      access |= GENERIC_WRITE;
      disposition = CREATE_ALWAYS;
      break;
    case OpenMode::OpenReadWrite: access |= GENERIC_WRITE; break;
    case OpenMode::CreateNew:
      access |= GENERIC_WRITE;
      disposition = CREATE_NEW;
      break;
    case OpenMode::CreateLive:
      access |= GENERIC_WRITE;
      share = FILE_SHARE_READ;
      disposition = CREATE_ALWAYS;
      break;
    case OpenMode::CreateNewLive:
      access |= GENERIC_WRITE;
      share = FILE_SHARE_READ;
      disposition = CREATE_NEW;
      break;
  }
  HANDLE handle = ::CreateFileW(toWindows(path), access, share, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;  // GetLastError tells why
  // Only files on a disk: a device, pipe or console is refused as a
  // directory is.
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    return failed(ERROR_ACCESS_DENIED);
  }
  // Creating over an existing file reports ERROR_ALREADY_EXISTS on success;
  // the open as such succeeded.
  ::SetLastError(0);
  handle_ = reinterpret_cast<intptr_t>(handle);
  return true;
}

// Windows names ignore case already.
bool File::openIgnoringCase(const char16_t* path, OpenMode mode) { return open(path, mode); }

void File::close() {
  if (handle_ == kClosed) return;
  ::CloseHandle(toHandle(handle_));
  handle_ = kClosed;
}

uint32_t File::read(void* buffer, uint32_t count) {
  readFailed_ = false;
  if (handle_ == kClosed) {
    readFailed_ = true;
    failed(ERROR_INVALID_HANDLE);
    return 0;
  }
  auto* bytes = static_cast<unsigned char*>(buffer);
  uint32_t total = 0;
  while (total < count) {
    DWORD got = 0;
    if (!::ReadFile(toHandle(handle_), bytes + total, count - total, &got, nullptr)) {
      readFailed_ = true;
      failed(::GetLastError());
      break;
    }
    if (got == 0) break;  // end of file
    total += got;
  }
  return total;
}

bool File::write(const void* buffer, uint32_t count) {
  if (handle_ == kClosed) return failed(ERROR_INVALID_HANDLE);
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  uint32_t total = 0;
  while (total < count) {
    DWORD put = 0;
    if (!::WriteFile(toHandle(handle_), bytes + total, count - total, &put, nullptr)) return false;
    if (put == 0) return failed(ERROR_WRITE_FAULT);
    total += put;
  }
  return true;
}

bool File::seekFromStart(int64_t offset) {
  if (handle_ == kClosed) return failed(ERROR_INVALID_HANDLE);
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  return ::SetFilePointerEx(toHandle(handle_), distance, nullptr, FILE_BEGIN) != 0;
}

bool File::truncate(int64_t length) {
  if (handle_ == kClosed) return failed(ERROR_INVALID_HANDLE);
  LARGE_INTEGER here{};
  LARGE_INTEGER target;
  target.QuadPart = length;
  if (!::SetFilePointerEx(toHandle(handle_), here, &here, FILE_CURRENT)) return false;
  if (!::SetFilePointerEx(toHandle(handle_), target, nullptr, FILE_BEGIN)) return false;
  const bool cut = ::SetEndOfFile(toHandle(handle_)) != 0;
  const DWORD error = ::GetLastError();
  ::SetFilePointerEx(toHandle(handle_), here, nullptr, FILE_BEGIN);
  return cut || failed(error);
}

bool File::seekFromEnd(int64_t offset) {
  if (handle_ == kClosed) return failed(ERROR_INVALID_HANDLE);
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  return ::SetFilePointerEx(toHandle(handle_), distance, nullptr, FILE_END) != 0;
}

int64_t File::length() {
  if (handle_ == kClosed) {
    failed(ERROR_INVALID_HANDLE);
    return -1;
  }
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(toHandle(handle_), &size)) return -1;
  return size.QuadPart;
}

bool File::modificationTime(LocalTime& out) {
  if (handle_ == kClosed) return failed(ERROR_INVALID_HANDLE);
  FILETIME written;
  FILETIME local;
  SYSTEMTIME parts;
  if (!::GetFileTime(toHandle(handle_), nullptr, nullptr, &written)) return false;
  if (!::FileTimeToLocalFileTime(&written, &local)) return false;
  if (!::FileTimeToSystemTime(&local, &parts)) return false;
  return toLocalTime(parts, out);
}

// A writer holds the file when an open that lets nobody else write fails
// with a sharing violation; it is a live writer when an open that lets
// others write too succeeds. Either open reads only, so no opener that
// shares reading is disturbed.
bool probeHolder(const char16_t* path, Holder& out) {
  if (path == nullptr) return failed(ERROR_PATH_NOT_FOUND);
  const auto tryOpen = [&](DWORD share) {
    HANDLE handle = ::CreateFileW(toWindows(path), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return ::GetLastError();
    const DWORD type = ::GetFileType(handle);
    ::CloseHandle(handle);
    return type == FILE_TYPE_DISK ? DWORD{ERROR_SUCCESS} : DWORD{ERROR_ACCESS_DENIED};
  };
  DWORD error = tryOpen(FILE_SHARE_READ);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    out = Holder::Missing;
    return true;
  }
  if (error == ERROR_SUCCESS) {
    out = Holder::Nobody;
    return true;
  }
  if (error != ERROR_SHARING_VIOLATION) return failed(error);
  error = tryOpen(FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (error != ERROR_SUCCESS && error != ERROR_SHARING_VIOLATION) return failed(error);
  out = error == ERROR_SUCCESS ? Holder::LiveWriter : Holder::Exclusive;
  return true;
}

bool removeFile(const char16_t* path) {
  if (path == nullptr) return failed(ERROR_PATH_NOT_FOUND);
  return ::DeleteFileW(toWindows(path)) != 0;
}

bool absolutePath(const char16_t* path, std::u16string& out) {
  out.clear();
  if (path == nullptr || path[0] == 0) return false;
  const DWORD needed = ::GetFullPathNameW(toWindows(path), 0, nullptr, nullptr);
  if (needed == 0) return false;
  std::wstring full(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(toWindows(path), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return false;
  out.assign(reinterpret_cast<const char16_t*>(full.data()), length);
  return true;
}

uint32_t lastError() { return ::GetLastError(); }

void sleepMilliseconds(uint32_t milliseconds) { ::Sleep(milliseconds); }

bool localTimeNow(LocalTime& out) {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return toLocalTime(now, out);
}

void writeDefaultTrace(const char16_t* line) { ::OutputDebugStringW(toWindows(line)); }

// ---- Putting a finished file in its place ----

namespace {

// Closes a handle when it goes out of scope.
struct Handle {
  HANDLE handle;
  explicit Handle(HANDLE h) : handle(h) {}
  ~Handle() {
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool open() const { return handle != INVALID_HANDLE_VALUE; }
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

bool examinePath(const char16_t* path, PathStatus& out) {
  out = PathStatus{};
  if (path == nullptr) return failed(ERROR_PATH_NOT_FOUND);
  const DWORD attributes = ::GetFileAttributesW(toWindows(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || failed(error);
  }
  out.exists = true;
  out.regular = (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
  out.directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  out.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  out.links = 1;
  const Handle file(::CreateFileW(toWindows(path), 0, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
  BY_HANDLE_FILE_INFORMATION information;
  if (file.open() && ::GetFileInformationByHandle(file.handle, &information))
    out.links = information.nNumberOfLinks;
  return true;
}

bool followLinks(const char16_t* path, std::u16string& out) {
  if (path == nullptr) return failed(ERROR_PATH_NOT_FOUND);
  out = path;
  // Only a link is resolved: the final path of anything else would be
  // absolute, and longer than the path as given.
  const DWORD attributes = ::GetFileAttributesW(toWindows(path));
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    return true;
  const Handle file(::CreateFileW(toWindows(path), 0, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.open()) return false;
  std::wstring final(MAX_PATH, L'\0');
  DWORD length = ::GetFinalPathNameByHandleW(file.handle, final.data(),
                                             static_cast<DWORD>(final.size()), 0);
  if (length >= final.size()) {
    final.resize(length);
    length = ::GetFinalPathNameByHandleW(file.handle, final.data(),
                                         static_cast<DWORD>(final.size()), 0);
  }
  if (length == 0 || length >= final.size()) return false;
  final.resize(length);
  // "\\?\C:\..." names the same file as "C:\..."; the short form keeps
  // the path within the limit of the ordinary calls.
  if (final.rfind(L"\\\\?\\", 0) == 0 && final.rfind(L"\\\\?\\UNC\\", 0) != 0) final.erase(0, 4);
  out.assign(reinterpret_cast<const char16_t*>(final.data()), final.size());
  return true;
}

bool flushFile(const char16_t* path) {
  if (path == nullptr) return failed(ERROR_PATH_NOT_FOUND);
  // Flushing a file takes write access.
  const Handle file(::CreateFileW(toWindows(path), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.open() && ::FlushFileBuffers(file.handle) != 0;
}

bool copyOwnerAndMode(const char16_t* model, const char16_t* file) {
  if (model == nullptr || file == nullptr) return failed(ERROR_PATH_NOT_FOUND);
  return true;
}

bool moveFile(const char16_t* from, const char16_t* to, bool replace) {
  if (from == nullptr || to == nullptr) return failed(ERROR_PATH_NOT_FOUND);
  if (replace && ::GetFileAttributesW(toWindows(to)) != INVALID_FILE_ATTRIBUTES) {
    // ReplaceFileW is given whole paths: some implementations look for the
    // directory of a bare file name and fail with ERROR_DIRECTORY.
    std::u16string target, source;
    if (!absolutePath(to, target) || !absolutePath(from, source)) return false;
    return ::ReplaceFileW(toWindows(target.c_str()), toWindows(source.c_str()), nullptr,
                          REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0;
  }
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (::MoveFileExW(toWindows(from), toWindows(to), flags)) return true;
  const DWORD error = ::GetLastError();
  return failed(error == ERROR_ALREADY_EXISTS ? kErrorFileExists : error);
}

bool rewriteFile(const char16_t* from, const char16_t* to) {
  if (from == nullptr || to == nullptr) return failed(ERROR_PATH_NOT_FOUND);
  const Handle out(::CreateFileW(toWindows(to), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.open()) return false;
  const Handle in(::CreateFileW(toWindows(from), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!in.open()) return false;
  constexpr DWORD kBlock = DWORD{1} << 20;
  const std::unique_ptr<char[]> buffer(new char[kBlock]);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(in.handle, buffer.get(), kBlock, &got, nullptr)) return false;
    if (got == 0) break;
    for (DWORD put = 0; put < got;) {
      DWORD n = 0;
      if (!::WriteFile(out.handle, buffer.get() + put, got - put, &n, nullptr)) return false;
      if (n == 0) return failed(ERROR_WRITE_FAULT);
      put += n;
    }
  }
  return ::SetEndOfFile(out.handle) != 0 && ::FlushFileBuffers(out.handle) != 0;
}

void flushDirectoryOf(const char16_t*) {}

uint32_t randomNumber() { return std::random_device{}(); }

}  // namespace kdrvx::platform
