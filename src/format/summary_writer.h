// Writing the RVI summary file of a file created in the compact layout.
#pragma once

#include <cstdint>

#include "format/labels.h"
#include "format/layout.h"

namespace kdrvx::format {

inline constexpr int kCreatePathCapacity = 260;

// Replaces the first ".RVX" (else the first ".rvx") of `path` by ".RVI" and
// ends the path there. False, with the path unchanged, when neither occurs;
// an extension in mixed case is not recognised.
bool makeSummaryName(char16_t (&path)[kCreatePathCapacity]);

// Turns `path` (the RVX file's path, zero-terminated) into the RVI name in
// place and writes the summary of `header` with the labels of `labels`. The
// file is created at `location` when that is not empty (the RVI name made
// absolute while the RVX file was created), else at the RVI name itself;
// its directory and file-name lines show the RVI name. Returns 0,
// ERR_RVI_FILE_NAME (no ".RVX"/".rvx" in the path; nothing created, path
// unchanged) or ERR_RVI_CREATE.
uint32_t writeSummaryFile(char16_t (&path)[kCreatePathCapacity], const char16_t* location,
                          const RVX_HEADER& header, const LabelTable& labels);

}  // namespace kdrvx::format
