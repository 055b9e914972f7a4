// Win32 implementation of the platform layer: the file calls with their
// sharing modes, GetLastError, Sleep, the local time and
// OutputDebugStringW.
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

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
  if (handle_ == kClosed) {
    failed(ERROR_INVALID_HANDLE);
    return 0;
  }
  auto* bytes = static_cast<unsigned char*>(buffer);
  uint32_t total = 0;
  while (total < count) {
    DWORD got = 0;
    if (!::ReadFile(toHandle(handle_), bytes + total, count - total, &got, nullptr)) break;
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

}  // namespace kdrvx::platform
