// The rows of a CSV as the records of a recording, the core of
// `rvx import`: the heading row names the channels, an optional first
// column holds each row's time, and every row after the heading becomes
// one record of floats. The input is read once; a row of plain numbers is
// parsed in place in the reader's buffer, any other row field by field,
// with the same result and the same refusals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "inputs/csv.h"
#include "inputs/csv_dialect.h"
#include "inputs/csv_metadata.h"
#include "shared/arguments.h"
#include "shared/library.h"
#include "shared/wall_time.h"

namespace rvx {

struct CsvColumn {
  std::string heading;
  ColumnHeading parts;
  uint16_t bits = 0;  // multichannel: the field is an unsigned integer
};

class CsvRows;
class WallTimes;

// Records that are handed on together.
inline constexpr size_t kCsvBlockRecords = 4096;

// The wall-clock time of the first row of a time column of timestamps.
struct WallStart {
  int64_t wallSeconds = 0;
  int32_t nanoseconds = 0;
};

class CsvRecords {
 public:
  // Reads the heading row and finds the scan interval: `scanInterval`, the
  // option's text in whole microseconds, or else that of a metadata block
  // before the heading, or else from the time column: the distance of its
  // first two times when it holds seconds, and for timestamps the distance
  // from the first to the last divided by the steps between them, to the
  // nearest microsecond, which read() finds (interval() is the first step
  // until then). `in` gives UTF-8 (see DecodedInput); `dialect` tells its
  // delimiter and decimal separator. `zone` (may be null) is the zone of
  // --tz, into whose wall-clock time timestamps with a UTC offset are
  // converted. `name` names the input in messages. Throws ToolError, and
  // CsvError for text that is no CSV.
  CsvRecords(std::istream& in, const std::string& name,
             const std::vector<MultiChannelDeclaration>& declarations,
             const std::optional<std::string>& scanInterval, const CsvDialect& dialect = {},
             TimeZone* zone = nullptr);
  ~CsvRecords();
  CsvRecords(const CsvRecords&) = delete;
  CsvRecords& operator=(const CsvRecords&) = delete;

  // The channels' columns, in their order.
  const std::vector<CsvColumn>& columns() const { return columns_; }
  int64_t interval() const { return interval_; }
  // The first row's wall-clock time when the time column holds timestamps.
  const std::optional<WallStart>& wallStart() const { return wallStart_; }
  // The metadata block before the heading, when there is one.
  const std::optional<CsvMetadata>& metadata() const { return metadata_; }

  // Every row after the heading as a record of columns().size() floats:
  // numbers as floats, multichannel fields as the bit patterns of unsigned
  // integers. Hands them on in blocks of up to kCsvBlockRecords, record
  // after record; returns their number. A row that is refused ends the
  // reading with ToolError (or CsvError) before its block is handed on;
  // timestamps whose steps stray more than 1% from the scan interval are
  // refused at the end, naming the first such row.
  using BlockSink = std::function<void(const float* records, size_t count)>;
  uint64_t read(const BlockSink& sink);
  // Bytes of the input consumed so far, for progress.
  uint64_t consumed() const { return reader_.consumed(); }

 private:
  template <char Delimiter, bool DecimalComma>
  uint64_t readRows(const BlockSink& sink);
  void readMetadata(std::vector<std::string_view>& fields);
  void finishWallTimes(const WallTimes& times);

  CsvReader reader_;
  std::unique_ptr<CsvRows> rows_;
  CsvDialect dialect_;
  bool timeColumn_ = false;
  TimeUnit timeUnit_ = TimeUnit::Seconds;
  std::optional<CsvMetadata> metadata_;
  size_t width_ = 0;  // fields per row, without the empty ones a spreadsheet pads it with
  std::vector<CsvColumn> columns_;
  int64_t interval_ = 0;
  bool intervalGiven_ = false;
  bool intervalKnown_ = false;  // given, or from the metadata
  TimeZone* zone_ = nullptr;
  std::optional<WallStart> wallStart_;
};

// The channels of a recording made from `columns`: variable, unit and
// multichannel bits of each, in their order.
std::vector<ChannelInfo> channelsOfColumns(const std::vector<CsvColumn>& columns);

}  // namespace rvx
