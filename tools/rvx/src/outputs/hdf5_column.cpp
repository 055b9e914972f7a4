#include "outputs/hdf5_column.h"

#include <algorithm>

#include "outputs/export_format.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

constexpr hsize_t kChunkRecords = 65536;
constexpr unsigned kDeflateLevel = 4;

}  // namespace

Handle::Handle(hid_t id, herr_t (*close)(hid_t), const std::string& what)
    : id_(id), close_(close) {
  if (id < 0) throw ToolError(writeFailure("libhdf5", "create " + what));
}

Handle::~Handle() { close_(id_); }

void require(herr_t status, const std::string& what) {
  if (status < 0) throw ToolError(writeFailure("libhdf5", "write " + what));
}

Hdf5Column::Hdf5Column(hid_t group, const std::string& name, hid_t fileType, hid_t memoryType,
                       hsize_t records, Shape shape)
    : name_(name), memoryType_(memoryType), rank_(shape == Shape::Vector ? 1 : 2) {
  // The values run along the last dimension; a MATLAB column has one row.
  // A vector takes the last entry of each of these only.
  const hsize_t dimensions[2] = {1, records};
  const hsize_t maximum[2] = {1, H5S_UNLIMITED};
  const hsize_t chunk[2] = {1, std::clamp<hsize_t>(records, 1, kChunkRecords)};
  const int skip = 2 - rank_;
  Handle space(H5Screate_simple(rank_, dimensions + skip, maximum + skip), H5Sclose, name);
  Handle properties(H5Pcreate(H5P_DATASET_CREATE), H5Pclose, name);
  require(H5Pset_chunk(properties, rank_, chunk + skip), name);
  require(H5Pset_shuffle(properties), name);
  require(H5Pset_deflate(properties, kDeflateLevel), name);
  dataset_ = H5Dcreate2(group, name.c_str(), fileType, space, H5P_DEFAULT, properties, H5P_DEFAULT);
  if (dataset_ < 0) throw ToolError(writeFailure("libhdf5", "create the dataset " + name));
}

Hdf5Column::~Hdf5Column() { H5Dclose(dataset_); }

void Hdf5Column::append(const void* values, hsize_t count) {
  const hsize_t start[2] = {0, appended_};
  const hsize_t size[2] = {1, count};
  const hsize_t* const at = start + 2 - rank_;
  const hsize_t* const extent = size + 2 - rank_;
  Handle file(H5Dget_space(dataset_), H5Sclose, name_);
  require(H5Sselect_hyperslab(file, H5S_SELECT_SET, at, nullptr, extent, nullptr), name_);
  Handle memory(H5Screate_simple(1, &count, nullptr), H5Sclose, name_);
  require(H5Dwrite(dataset_, memoryType_, memory, file, H5P_DEFAULT, values), name_);
  appended_ += count;
}

void Hdf5Column::end() {
  const hsize_t size[2] = {1, appended_};
  require(H5Dset_extent(dataset_, size + 2 - rank_), name_);
}

}  // namespace rvx
