// The modify context: one existing current-layout file opened to change its
// comment and measurement name in place. Records may be appended to it
// while no file is under creation.
#pragma once

#include <cstdint>

namespace kdrvx::modify {

uint32_t openModify(const char16_t* path);
// Each hands the current text to `current` (room for 292 and 24 units) and
// then, when a new text is given, takes it.
uint32_t modifyComment(char16_t* current, const char16_t* comment);
uint32_t modifyNameMeasurement(char16_t* current, const char16_t* name);
uint32_t closeModify();

// Appends `count` records at the end of the file open for modification.
// Fails with ERR_RVX_NOT_OPEN_MODIFY (stored and traced) when none is open.
uint32_t addRecords(const float* records, uint32_t count);

}  // namespace kdrvx::modify
