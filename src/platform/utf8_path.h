// Paths cross the library as UTF-16; a POSIX file system takes bytes, which
// the library gives as UTF-8.
#pragma once

#include <string>

namespace kdrvx::platform {

// Converts the zero-terminated UTF-16 `path` to UTF-8. Fails on an unpaired
// surrogate, which names no file.
bool utf16ToUtf8Path(const char16_t* path, std::string& out);

// Converts the UTF-8 `path` back to UTF-16. Fails on bytes that are not
// UTF-8, which a UTF-16 path cannot name.
bool utf8ToUtf16Path(const std::string& path, std::u16string& out);

}  // namespace kdrvx::platform
