// Why the operating system refused something, in the words rvx prints after
// a file name: "no such file or directory", "permission denied", "is a
// directory", "in use by another program", "disk full".
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

namespace rvx {

// A C library error number (errno).
std::string errnoReason(int error);

// A Windows system error number, the numbering in which the library reports
// the system's errors on every platform. `path`, when given, tells an access
// that was denied because the path names a directory or no regular file from
// one denied by permissions.
std::string windowsErrorReason(uint32_t error, const std::string& path = {});

// An error that std::filesystem reports.
std::string errorCodeReason(const std::error_code& error);

// The reason for the last failed call of this thread: errno, or on Windows
// GetLastError() for calls that set it (`windowsCall`).
std::string lastSystemReason(bool windowsCall = false);

// Why `path` cannot be opened for reading, found out by looking at it.
std::string unreadableReason(const std::string& path);

}  // namespace rvx
