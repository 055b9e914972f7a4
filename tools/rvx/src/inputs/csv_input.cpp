#include "inputs/csv_input.h"

#include <utility>

namespace rvx {

CsvInput::CsvInput(std::istream& raw, bool rewindable, const DialectOptions& options,
                   const std::string& name) {
  std::string head(kDialectHead, '\0');
  raw.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(raw.gcount()));
  const bool whole = head.size() < kDialectHead;
  dialect_ = detectDialect(head, whole, options, name);
  const bool utf8 =
      dialect_.encoding == TextEncoding::Utf8 || dialect_.encoding == TextEncoding::Utf8Bom;
  if (utf8 && rewindable) {
    raw.clear();
    raw.seekg(0);
    stream_ = &raw;
  } else {
    decoded_ = std::make_unique<DecodedInput>(std::move(head), raw, dialect_.encoding);
    stream_ = decoded_.get();
  }
}

CsvInput::~CsvInput() = default;

}  // namespace rvx
