#include "shared/text_table.h"

#include <algorithm>

#include "shared/utf.h"

namespace rvx {

void TextTable::print(std::ostream& out) const {
  std::vector<size_t> widths(rows_.front().size(), 0);
  for (const auto& row : rows_) {
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], displayWidth(row[i]));
  }
  for (const auto& row : rows_) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - displayWidth(row[i]) + 2, ' ');
    }
    // An empty last column leaves no blanks at the end.
    line.erase(line.find_last_not_of(' ') + 1);
    out << "  " << line << '\n';
  }
}

}  // namespace rvx
