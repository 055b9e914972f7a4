// The formats of rvx export, and what the MATLAB and HDF5 writers share:
// the names of the channels' variables in the file, and the columns that
// the export hands them block by block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "shared/library.h"
#include "shared/time_window.h"

namespace rvx {

enum class ExportFormat { Csv, Mat, Hdf5 };

// --format as given, or else the output's extension (.csv, .mat, .h5,
// .hdf5; anything else, and standard output, is CSV). Throws a usage error
// for an unknown --format.
ExportFormat exportFormat(const std::string& format, const std::string& output);

// A name for each variable that MATLAB takes (a letter first, then letters,
// digits and '_', at most 63 characters) and that no other channel, nor any
// of `reserved`, has: "dp1" stays, "#3" becomes "ch_3", a second "p1"
// becomes "p1_2".
std::vector<std::string> fieldNames(const std::vector<std::string>& variables,
                                    const std::vector<std::string>& reserved);

// What a writer learns before the first block.
struct ExportPlan {
  std::string source;  // the recording, for messages
  RecordingInfo info;
  std::vector<int> channels;       // indexes into info.channels, in the file's order
  std::vector<std::string> names;  // the field name of each
  RecordSpan span;
};

// A MATLAB or HDF5 file being written at `path` (a temporary name).
class ColumnWriter {
 public:
  virtual ~ColumnWriter() = default;
  // `count` records: their times in seconds, and for each channel of the
  // plan its values (multichannel values as the 32-bit patterns they are).
  virtual void append(const double* time, const std::vector<std::vector<float>>& columns,
                      size_t count) = 0;
  // All records are in: `records` of them. Closes the file.
  virtual void finish(uint64_t records) = 0;
};

struct ExportOptions;
// rvx export to MATLAB or HDF5.
int runColumnExport(const ExportOptions& options, ExportFormat format);

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

// Throw a ToolError when this rvx was built without the format.
std::unique_ptr<ColumnWriter> openMatWriter(const std::string& path, const ExportPlan& plan);
std::unique_ptr<ColumnWriter> openHdf5Writer(const std::string& path, const ExportPlan& plan);

}  // namespace rvx
