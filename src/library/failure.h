// The one way an export fails: the failure is traced under the errors bit,
// stored as the last error and returned, so that an export ends with
// `return library::fail(status);`.
#pragma once

#include <cstdint>

namespace kdrvx::library {

// Traces "KDrvxLibrary: <symbolic name of status>".
uint32_t fail(uint32_t status);

// A failure the operating system caused: traces "KDrvxLibrary: Error
// 0x%08X" with its error number instead of the status's name.
uint32_t failWithSystemError(uint32_t status, uint32_t systemError);

}  // namespace kdrvx::library
