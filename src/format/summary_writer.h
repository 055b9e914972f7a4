// Writing the RVI summary file of a file created in the compact layout.
#pragma once

#include <cstdint>

#include "format/labels.h"
#include "format/layout.h"

namespace kdrvx::format {

inline constexpr int kCreatePathCapacity = 260;

// Turns `path` (the RVX file's path, zero-terminated) into the RVI name in
// place and writes the summary of `header` there with the labels of
// `labels`. Returns 0, ERR_RVI_FILE_NAME (no ".RVX"/".rvx" in the path;
// nothing created, path unchanged) or ERR_RVI_CREATE.
uint32_t writeSummaryFile(char16_t (&path)[kCreatePathCapacity], const RVX_HEADER& header,
                          const LabelTable& labels);

}  // namespace kdrvx::format
