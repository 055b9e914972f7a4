// HDF5 files through libhdf5: /time in seconds (float64) and one dataset
// per channel in /channels (float32; uint32 for a multichannel channel, its
// bits), chunked and compressed, written block by block; the header's
// values and texts as attributes of the root, the channels' as attributes
// of their datasets. The README describes the layout.
#include <hdf5.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "outputs/export_format.h"
#include "outputs/hdf5_column.h"
#include "shared/fields.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

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

class Hdf5Writer : public ExportWriter {
 public:
  explicit Hdf5Writer(const std::string& path) : path_(path) {}

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

    time_ = std::make_unique<Hdf5Column>(file, "time", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, records,
                                         Hdf5Column::Shape::Vector);
    textAttribute(*time_, "unit", "s");
    // The channels in the order of the export when listed.
    Handle order(H5Pcreate(H5P_GROUP_CREATE), H5Pclose, "the group channels");
    require(H5Pset_link_creation_order(order, H5P_CRT_ORDER_TRACKED | H5P_CRT_ORDER_INDEXED),
            "the group channels");
    Handle group(H5Gcreate2(file, "channels", H5P_DEFAULT, order, H5P_DEFAULT), H5Gclose,
                 "the group channels");
    for (size_t c = 0; c < plan.channels.size(); ++c) {
      const ChannelInfo& channel = info.channels[plan.channels[c]];
      const bool multi = channel.multiChannelBits != 0;
      const Hdf5Column& column = *columns_.emplace_back(std::make_unique<Hdf5Column>(
          group, plan.names[c], multi ? H5T_STD_U32LE : H5T_IEEE_F32LE,
          multi ? H5T_NATIVE_UINT32 : H5T_NATIVE_FLOAT, records, Hdf5Column::Shape::Vector));
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
    time_->append(taken_.time.data(), block.count);
    for (size_t c = 0; c < columns_.size(); ++c) {
      columns_[c]->append(taken_.values[c].data(), block.count);
    }
  }

  void finish() override {
    errno = 0;
    time_->end();
    for (const auto& column : columns_) column->end();
    require(H5Fflush(*file_, H5F_SCOPE_GLOBAL), "the file");
  }

 private:
  std::string path_;
  const ExportPlan* plan_ = nullptr;
  Columns taken_;
  std::unique_ptr<Handle> file_;
  // Declared after the file: closed before it.
  std::unique_ptr<Hdf5Column> time_;
  std::vector<std::unique_ptr<Hdf5Column>> columns_;
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
