// The bytes of a CSV input as the reader takes them: the dialect told from
// the first bytes, and the input as UTF-8 in it. `rvx import` hands it the
// opened file or standard input; the fuzz target of the import hands it the
// bytes in memory, so that both run the same path.
#pragma once

#include <cstddef>
#include <istream>
#include <memory>
#include <string>

#include "inputs/csv_dialect.h"

namespace rvx {

// Bytes at the start of the input from which its dialect is told.
inline constexpr size_t kDialectHead = 64 << 10;

class CsvInput {
 public:
  // Reads the first bytes of `raw` and detects the dialect (what `options`
  // leave open; `name` names the input in refusals). A UTF-8 input that
  // can be read again from its start (`rewindable`: a file) is read from
  // `raw` itself; anything else through a DecodedInput, which gives back
  // the bytes read for the dialect first. `raw` must outlive this.
  CsvInput(std::istream& raw, bool rewindable, const DialectOptions& options,
           const std::string& name);
  ~CsvInput();
  CsvInput(const CsvInput&) = delete;
  CsvInput& operator=(const CsvInput&) = delete;

  std::istream& stream() { return *stream_; }
  const CsvDialect& dialect() const { return dialect_; }

 private:
  std::unique_ptr<DecodedInput> decoded_;
  std::istream* stream_ = nullptr;
  CsvDialect dialect_;
};

}  // namespace rvx
