// Paths cross the library as UTF-16; a POSIX file system takes bytes, which
// the library gives as UTF-8.
#pragma once

#include <string>

namespace kdrvx::platform {

// Converts the zero-terminated UTF-16 `path` to UTF-8. Fails on an unpaired
// surrogate, which names no file.
bool utf16ToUtf8Path(const char16_t* path, std::string& out);

}  // namespace kdrvx::platform
