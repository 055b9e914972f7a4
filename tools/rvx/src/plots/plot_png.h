// The plot as a PNG image, rendered by cairo. A build without cairo (the
// Windows one) has no PNG output and says so.
#pragma once

#include <string>

#include "plots/plot.h"

namespace rvx {

// Whether this rvx was built with PNG output.
bool pngAvailable();

// Why a PNG cannot be written by this rvx.
inline constexpr const char* kNoPngText =
    "this rvx was built without PNG output (no cairo); write SVG instead (-o NAME.svg)";

// The drawing as the bytes of a PNG file, one pixel per unit. Throws
// ToolError when cairo fails, or kNoPngText without cairo.
std::string renderPng(const Drawing& drawing);

}  // namespace rvx
