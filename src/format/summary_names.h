// The two rules that name the summary file beside an RVX file: the one of the
// writer, which looks for the extension, and the one of the reader, which
// replaces the last three characters whatever they are.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kdrvx::format {

// The capacity of a path given to create a file: 259 units and the
// terminator.
inline constexpr int kCreatePathCapacity = 260;

// Writing: replaces the first ".RVX" (else the first ".rvx") of `path` by
// ".RVI" and ends the path there, so that a folder named like an RVX file
// cuts the rest of the path away. False, with the path unchanged, when
// neither occurs; an extension in mixed case is not recognised.
bool makeSummaryName(char16_t (&path)[kCreatePathCapacity]);

// Reading: the RVX path with its last three characters replaced by "RVI",
// built in a buffer of 255 characters and the terminator. A path of fewer
// than three characters has no extension to replace, and one of 256
// characters or more does not fit: for both there is no name (false).
inline constexpr size_t kSummaryNameCapacity = 256;
bool readingSummaryName(const char16_t* path, char16_t (&name)[kSummaryNameCapacity]);

// Only the beginning of a summary file is read, in one read of at most this
// many bytes.
inline constexpr uint32_t kSummaryReadLimit = 10000;

}  // namespace kdrvx::format
