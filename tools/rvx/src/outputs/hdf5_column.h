// What the HDF5 and the MATLAB v7.3 writers share (a MATLAB v7.3 file is
// an HDF5 file): handles closed at the end of their scope, and the columns
// of an export, chunked and compressed alike and written block by block.
#pragma once

#include <hdf5.h>

#include <string>

namespace rvx {

// An hid_t closed by its own close function at the end of its scope.
class Handle {
 public:
  Handle(hid_t id, herr_t (*close)(hid_t), const std::string& what);
  ~Handle();
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  operator hid_t() const { return id_; }

 private:
  hid_t id_;
  herr_t (*close_)(hid_t);
};

// Throws ToolError naming `what` for a failed HDF5 call.
void require(herr_t status, const std::string& what);

// A column of an export: a dataset that grows by the blocks appended to it,
// created for `records` values (the span of the export) and cut to the
// values appended when it ends. Chunks of up to 65536 values, each through
// shuffle and deflate: large enough that the compression and the chunk
// index cost little per value, small enough for the chunk cache to hold
// one chunk of every column while the blocks fill it, whatever the number
// of channels.
class Hdf5Column {
 public:
  enum class Shape {
    Vector,       // one dimension of n values
    MatlabColumn  // a MATLAB n x 1 column: HDF5 lists MATLAB's dimensions
                  // in reverse, so 1 x n
  };
  // `fileType` is the type stored, `memoryType` that of the values appended.
  Hdf5Column(hid_t group, const std::string& name, hid_t fileType, hid_t memoryType,
             hsize_t records, Shape shape);
  ~Hdf5Column();
  Hdf5Column(const Hdf5Column&) = delete;
  Hdf5Column& operator=(const Hdf5Column&) = delete;
  operator hid_t() const { return dataset_; }

  void append(const void* values, hsize_t count);
  // The dataset ends with the last value appended: a recording may hold
  // fewer records than its header counts.
  void end();

 private:
  std::string name_;
  hid_t memoryType_;
  int rank_;
  hid_t dataset_ = -1;
  hsize_t appended_ = 0;
};

}  // namespace rvx
