// The formats of rvx export: one writer for each behind one interface, and
// what the MATLAB and HDF5 writers share: the names of the channels'
// variables in the file, and the columns of each block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "inputs/csv_dialect.h"
#include "shared/library.h"
#include "shared/time_window.h"
#include "shared/wall_time.h"

namespace rvx {

enum class ExportFormat { Csv, Mat, Hdf5 };

// --format as given, or else the output's extension (.csv, .mat, .h5,
// .hdf5; anything else, and standard output, is CSV). Throws a usage error
// for an unknown --format.
ExportFormat exportFormat(const std::string& format, const std::string& output);

// A name for each channel's label that MATLAB takes (a letter first, then
// letters, digits and '_', at most 63 characters) and that no other
// channel, nor any of `reserved`, has: "dp1" and "ch_3" stay, "dp 2" becomes
// "dp_2", a label that is one of `reserved` gets "_2" appended.
std::vector<std::string> fieldNames(const std::vector<std::string>& labels,
                                    const std::vector<std::string>& reserved);

// What a writer learns before the first block: the recording's metadata,
// the channels exported and the records they span.
struct ExportPlan {
  std::string source;  // the recording, for messages
  RecordingInfo info;
  std::vector<int> channels;       // indexes into info.channels, in the file's order
  std::vector<std::string> names;  // the field name of each
  RecordSpan span;
  TimeZone* zone = nullptr;  // --tz: the zone of the recording's wall-clock time
};

// The recording's start as an instant (seconds since the epoch, UTC) in the
// plan's zone. Throws ToolError for a start that is unknown or that the
// zone's clocks skip; the earlier instant of one they show twice.
int64_t startInstant(const ExportPlan& plan);
// Throws ToolError unless the plan's recording knows its start; `why`
// names what needs it.
void requireStart(const ExportPlan& plan, const std::string& why);

// Records as the reader delivers them: `count` records of all the
// recording's channels (`stride` floats each), the first of them record
// `first` of the recording.
struct RecordBlock {
  uint64_t first = 0;
  size_t count = 0;
  size_t stride = 0;
  const float* records = nullptr;
};

// One format of rvx export. The export hands every writer the same calls:
// begin once, write for each block of the plan's span in order, finish.
class ExportWriter {
 public:
  virtual ~ExportWriter() = default;
  virtual void begin(const ExportPlan& plan) = 0;
  virtual void write(const RecordBlock& block) = 0;
  // Hands the rows written so far to the output at once, for one who reads
  // it as it grows (rvx follow); the default keeps them for finish().
  virtual void flush() {}
  // All records are in; the file is complete.
  virtual void finish() = 0;
};

// The CSV text of an export, in the dialect given, to `out`.
struct CsvShape {
  CsvDialect dialect;
  bool time = true;           // the time column first
  bool milliseconds = false;  // its unit: ms rather than s
  bool wallClock = false;     // its times as timestamps, headed "timestamp"
  bool metadata = false;      // the block of header and channel properties first
  std::string target;         // the output, for messages
};
class Output;
std::unique_ptr<ExportWriter> csvWriter(Output& out, const CsvShape& shape);

// "LIBRARY failed to WHAT", with the system's reason: that of the system
// call that failed inside HDF5, else errno (which the writers clear before
// each block).
std::string writeFailure(const std::string& library, const std::string& what);

// Before the first use of HDF5 (which also writes the MATLAB files): no
// diagnostics on stderr, since failures become ToolError, and no clean-up
// at exit, which after a failed write would try to flush the file again
// without end. The writers close their files themselves.
void prepareHdf5();
// The errno of the system call that last failed inside HDF5, 0 for none.
int hdf5SystemError();

// A MATLAB or HDF5 file written at `path` (a temporary name). Throw a
// ToolError when this rvx was built without the format.
std::unique_ptr<ExportWriter> matWriter(const std::string& path);
std::unique_ptr<ExportWriter> hdf5Writer(const std::string& path);

// The columns a block gives a MATLAB or HDF5 file: the records of the plan's
// span, their times in seconds and each channel's values (multichannel
// values as the 32-bit patterns they are).
struct Columns {
  std::vector<double> time;
  std::vector<std::vector<float>> values;
  size_t count = 0;

  void take(const ExportPlan& plan, const RecordBlock& block);
};

}  // namespace rvx
