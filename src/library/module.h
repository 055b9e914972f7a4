// The exports of the library as a whole: debug mask, last error, version
// text, trace sink and file deletion.
#pragma once

#include <cstdint>

#include "kdrvx/kdrvx.h"

namespace kdrvx::library {

uint32_t setDebugMask(int16_t mask);
uint32_t lastError();
uint32_t libVersion(char16_t* buffer, uint16_t capacity);
void setTraceSink(KDRVX_TraceSink sink, void* context);

// Deletes exactly the file named. A failure is only traced, whatever the
// debug mask; the caller learns of it by finding the file still there.
void deleteFile(const char16_t* path);

}  // namespace kdrvx::library
