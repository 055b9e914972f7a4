// The summary file (.RVI) of a file created in the compact layout, rendered as
// its 8-bit bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "format/labels.h"
#include "format/layout.h"
#include "format/summary_names.h"

namespace kdrvx::format {

// The bytes of the summary file that summarises `header` with the labels of
// `labels`; `summaryName` is the summary file's own name (as makeSummaryName
// made it), shown in the directory and file-name lines.
std::string renderSummary(const char16_t* summaryName, const RVX_HEADER& header,
                          const LabelTable& labels);

// Where the file-name line's part of a summary file's own name begins:
// after its last directory separator, '\\' or ':' (and '/' where that is
// the system's separator), each unit judged by the byte the file shows, its
// low byte. The directory line shows the part before that separator, which
// belongs to neither line; a name without one has an empty directory line.
size_t summaryFileNameStart(std::u16string_view name);

// Makes the file-name line of `text`, a summary file rendered for
// `writtenAs`, show `placedAs` instead, as renderSummary would for that
// name: for a summary file written under a staging name and put in place
// under its final one, beside it in the same directory. False, with `text`
// unchanged, when the two names lie in different directories or the line
// is not found exactly once.
bool renameSummary(std::string& text, const char16_t* writtenAs, const char16_t* placedAs);

}  // namespace kdrvx::format
