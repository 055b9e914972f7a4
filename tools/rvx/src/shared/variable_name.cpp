#include "shared/variable_name.h"

#include <string>

#include "shared/utf.h"

namespace rvx {

bool isVariableName(std::string_view utf8) { return kdrvx::format::isVariableName(toUtf16(utf8)); }

}  // namespace rvx
