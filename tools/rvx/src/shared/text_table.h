// A table for the terminal: rows of texts in columns as wide as their
// widest entry (as the terminal shows UTF-8), two blanks apart, each line
// indented by two, with no blanks at its end.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace rvx {

class TextTable {
 public:
  explicit TextTable(std::vector<std::string> headings) { rows_.push_back(std::move(headings)); }
  void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  void print(std::ostream& out) const;

 private:
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace rvx
