// HDF5 files through libhdf5: /time in seconds (float64) and one dataset
// per channel in /channels (float32; uint32 for a multichannel channel, its
// bits), chunked and compressed, written block by block; the header's
// values and texts as attributes of the root, the channels' as attributes
// of their datasets. The README describes the layout.
#include <hdf5.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "outputs/export_format.h"
#include "shared/fields.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

constexpr hsize_t kChunkRecords = 65536;
constexpr unsigned kDeflateLevel = 4;

// An hid_t closed by its own close function at the end of its scope.
class Handle {
 public:
  Handle(hid_t id, herr_t (*close)(hid_t), const std::string& what) : id_(id), close_(close) {
    if (id < 0) throw ToolError(writeFailure("libhdf5", "create " + what));
  }
  ~Handle() { close_(id_); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  operator hid_t() const { return id_; }

 private:
  hid_t id_;
  herr_t (*close_)(hid_t);
};

void require(herr_t status, const std::string& what) {
  if (status < 0) throw ToolError(writeFailure("libhdf5", "write " + what));
}

void textAttribute(hid_t owner, const char* name, const std::string& utf8) {
  Handle type(H5Tcopy(H5T_C_S1), H5Tclose, name);
  require(H5Tset_size(type, H5T_VARIABLE), name);
  require(H5Tset_cset(type, H5T_CSET_UTF8), name);
  Handle space(H5Screate(H5S_SCALAR), H5Sclose, name);
  Handle attribute(H5Acreate2(owner, name, type, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose, name);
  const char* value = utf8.c_str();
  require(H5Awrite(attribute, type, &value), name);
}

template <typename T>
void numberAttribute(hid_t owner, const char* name, hid_t type, T value) {
  Handle space(H5Screate(H5S_SCALAR), H5Sclose, name);
  Handle attribute(H5Acreate2(owner, name, type, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose, name);
  require(H5Awrite(attribute, type, &value), name);
}

// A one-dimensional dataset that grows to `records` values, in chunks.
hid_t createColumn(hid_t group, const std::string& name, hid_t type, hsize_t records) {
  const hsize_t maximum = H5S_UNLIMITED;
  Handle space(H5Screate_simple(1, &records, &maximum), H5Sclose, name);
  Handle properties(H5Pcreate(H5P_DATASET_CREATE), H5Pclose, name);
  const hsize_t chunk = std::clamp<hsize_t>(records, 1, kChunkRecords);
  require(H5Pset_chunk(properties, 1, &chunk), name);
  require(H5Pset_shuffle(properties), name);
  require(H5Pset_deflate(properties, kDeflateLevel), name);
  const hid_t dataset =
      H5Dcreate2(group, name.c_str(), type, space, H5P_DEFAULT, properties, H5P_DEFAULT);
  if (dataset < 0) throw ToolError(writeFailure("libhdf5", "create the dataset " + name));
  return dataset;
}

void writeAt(hid_t dataset, hid_t type, hsize_t at, const void* data, hsize_t count,
             const std::string& name) {
  Handle file(H5Dget_space(dataset), H5Sclose, name);
  require(H5Sselect_hyperslab(file, H5S_SELECT_SET, &at, nullptr, &count, nullptr), name);
  Handle memory(H5Screate_simple(1, &count, nullptr), H5Sclose, name);
  require(H5Dwrite(dataset, type, memory, file, H5P_DEFAULT, data), name);
}

class Hdf5Writer : public ExportWriter {
 public:
  explicit Hdf5Writer(const std::string& path) : path_(path) {}
  ~Hdf5Writer() override {
    for (hid_t column : columns_) H5Dclose(column);
    if (time_ >= 0) H5Dclose(time_);
  }

  void begin(const ExportPlan& plan) override {
    plan_ = &plan;
    errno = 0;
    file_ = std::make_unique<Handle>(
        H5Fcreate(path_.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT), H5Fclose, path_);
    const hid_t file = *file_;
    const RecordingInfo& info = plan.info;
    const hsize_t records = plan.span.count();
    textAttribute(file, "source", plan.source);
    textAttribute(file, "date", info.date);
    textAttribute(file, "time", info.time);
    if (info.startIsKnown()) textAttribute(file, "start", isoText(info.startSeconds));
    if (plan.zone) {
      numberAttribute(file, "start_posix", H5T_NATIVE_DOUBLE,
                      static_cast<double>(startInstant(plan)));
    }
    numberAttribute(file, "scan_interval_us", H5T_NATIVE_INT64, info.scanInterval);
    numberAttribute(file, "first_record", H5T_NATIVE_UINT64, plan.span.first);
    numberAttribute(file, "trigger_record", H5T_NATIVE_UINT32, info.triggerRecord);
    for (const HeaderField& field : headerFields()) {
      textAttribute(file, field.exportKey, info.*field.text);
    }

    time_ = createColumn(file, "time", H5T_IEEE_F64LE, records);
    textAttribute(time_, "unit", "s");
    // The channels in the order of the export when listed.
    Handle order(H5Pcreate(H5P_GROUP_CREATE), H5Pclose, "the group channels");
    require(H5Pset_link_creation_order(order, H5P_CRT_ORDER_TRACKED | H5P_CRT_ORDER_INDEXED),
            "the group channels");
    Handle group(H5Gcreate2(file, "channels", H5P_DEFAULT, order, H5P_DEFAULT), H5Gclose,
                 "the group channels");
    for (size_t c = 0; c < plan.channels.size(); ++c) {
      const ChannelInfo& channel = info.channels[plan.channels[c]];
      const bool multi = channel.multiChannelBits != 0;
      types_.push_back(multi ? H5T_NATIVE_UINT32 : H5T_NATIVE_FLOAT);
      const hid_t column =
          createColumn(group, plan.names[c], multi ? H5T_STD_U32LE : H5T_IEEE_F32LE, records);
      columns_.push_back(column);
      for (const ChannelField& field : channelFields()) {
        if (field.exported) textAttribute(column, field.key, channel.*field.text);
      }
      numberAttribute(column, "multichannel_bits", H5T_NATIVE_INT32, channel.multiChannelBits);
      numberAttribute(column, "index", H5T_NATIVE_INT32, channel.index);
    }
  }

  void write(const RecordBlock& block) override {
    errno = 0;
    taken_.take(*plan_, block);
    writeAt(time_, H5T_NATIVE_DOUBLE, written_, taken_.time.data(), block.count, "time");
    for (size_t c = 0; c < columns_.size(); ++c) {
      writeAt(columns_[c], types_[c], written_, taken_.values[c].data(), block.count,
              plan_->names[c]);
    }
    written_ += block.count;
  }

  void finish() override {
    errno = 0;
    // A recording that held fewer records than its count: the datasets end
    // with the last record read.
    hsize_t size = written_;
    require(H5Dset_extent(time_, &size), "time");
    for (size_t c = 0; c < columns_.size(); ++c) {
      require(H5Dset_extent(columns_[c], &size), plan_->names[c]);
    }
    require(H5Fflush(*file_, H5F_SCOPE_GLOBAL), "the file");
  }

 private:
  std::string path_;
  const ExportPlan* plan_ = nullptr;
  Columns taken_;
  std::unique_ptr<Handle> file_;
  hid_t time_ = -1;
  std::vector<hid_t> columns_, types_;
  hsize_t written_ = 0;
};

}  // namespace

namespace {

int lastSystemError = 0;

// Called by HDF5 when one of its functions fails: keeps the errno that its
// file driver puts into its messages ("..., errno = 28, ...").
herr_t noteSystemError(hid_t stack, void*) {
  const auto note = [](unsigned, const H5E_error2_t* error, void*) -> herr_t {
    const char* at = error->desc ? std::strstr(error->desc, "errno = ") : nullptr;
    if (at) lastSystemError = std::atoi(at + std::strlen("errno = "));
    return 0;
  };
  H5Ewalk2(stack, H5E_WALK_DOWNWARD, note, nullptr);
  return 0;
}

}  // namespace

int hdf5SystemError() { return lastSystemError; }

void prepareHdf5() {
  static const bool prepared = [] {
    H5dont_atexit();
    H5Eset_auto2(H5E_DEFAULT, noteSystemError, nullptr);
    return true;
  }();
  (void)prepared;
}

std::unique_ptr<ExportWriter> hdf5Writer(const std::string& path) {
  prepareHdf5();
  return std::make_unique<Hdf5Writer>(path);
}

}  // namespace rvx
