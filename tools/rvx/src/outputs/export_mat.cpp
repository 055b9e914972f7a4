// MATLAB v7.3 files: a column `time` in seconds (double),
// one column per channel (single; uint32 for a multichannel channel, its
// bits), appended block by block, and a struct `recording` with the
// header and the channels' texts (and the start as ISO 8601 text `start`
// when the header knows it, and as POSIX seconds `start_posix` with --tz).
#include <matio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "outputs/export_format.h"
#include "outputs/hdf5_column.h"
#include "shared/fields.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

struct VariableFree {
  void operator()(matvar_t* variable) const { Mat_VarFree(variable); }
};
using Variable = std::unique_ptr<matvar_t, VariableFree>;

// A char array of the text's UTF-16 units, as MATLAB holds text.
Variable text(const char* name, const std::string& utf8) {
  std::u16string units = wide(utf8);
  size_t dims[2] = {1, units.size()};
  if (units.empty()) dims[0] = 0;
  return Variable(Mat_VarCreate(name, MAT_C_CHAR, MAT_T_UINT16, 2, dims, units.data(), 0));
}

Variable number(const char* name, double value) {
  size_t dims[2] = {1, 1};
  return Variable(Mat_VarCreate(name, MAT_C_DOUBLE, MAT_T_DOUBLE, 2, dims, &value, 0));
}

// A scalar struct of the fields given; the struct owns them.
Variable structOf(const char* name, std::vector<Variable> fields) {
  std::vector<matvar_t*> list;
  for (Variable& field : fields) list.push_back(field.release());
  list.push_back(nullptr);
  size_t dims[2] = {1, 1};
  return Variable(Mat_VarCreate(name, MAT_C_STRUCT, MAT_T_STRUCT, 2, dims, list.data(), 0));
}

Variable channelStruct(const std::string& name, const ChannelInfo& channel) {
  std::vector<Variable> fields;
  for (const ChannelField& field : channelFields()) {
    if (field.exported) fields.push_back(text(field.key, channel.*field.text));
  }
  fields.push_back(number("multichannel_bits", channel.multiChannelBits));
  return structOf(name.c_str(), std::move(fields));
}

Variable recordingStruct(const ExportPlan& plan) {
  const RecordingInfo& info = plan.info;
  std::vector<Variable> fields;
  fields.push_back(text("source", plan.source));
  fields.push_back(text("date", info.date));
  fields.push_back(text("time", info.time));
  if (info.startIsKnown()) fields.push_back(text("start", isoText(info.startSeconds)));
  if (plan.zone) {
    fields.push_back(number("start_posix", static_cast<double>(startInstant(plan))));
  }
  fields.push_back(number("scan_interval", static_cast<double>(info.scanInterval) / 1e6));
  fields.push_back(number("first_record", static_cast<double>(plan.span.first)));
  fields.push_back(number("trigger_record", info.triggerRecord));
  for (const HeaderField& field : headerFields()) {
    fields.push_back(text(field.exportKey, info.*field.text));
  }
  std::vector<Variable> channels;
  for (size_t c = 0; c < plan.channels.size(); ++c) {
    channels.push_back(channelStruct(plan.names[c], info.channels[plan.channels[c]]));
  }
  fields.push_back(structOf("channels", std::move(channels)));
  return structOf("recording", std::move(fields));
}

// The MATLAB class of a column, as MATLAB marks its variables in a v7.3
// file: a fixed-length ASCII text.
void classAttribute(hid_t column, const char* matlabClass) {
  const std::string what = "the class of a column";
  Handle type(H5Tcopy(H5T_C_S1), H5Tclose, what);
  require(H5Tset_size(type, std::strlen(matlabClass)), what);
  Handle space(H5Screate(H5S_SCALAR), H5Sclose, what);
  Handle attribute(H5Acreate2(column, "MATLAB_class", type, space, H5P_DEFAULT, H5P_DEFAULT),
                   H5Aclose, what);
  require(H5Awrite(attribute, type, matlabClass), what);
}

// libmatio makes the file (the MATLAB header before the HDF5 data) and
// writes the struct `recording`; the columns go through libhdf5 directly,
// chunked and compressed as in the HDF5 export and written block by block.
// Through libmatio a column's chunks follow the first block (a few
// thousand values, not aligned with the blocks for many channels) under
// deflate at its highest level without shuffle: several times slower.
class MatWriter : public ExportWriter {
 public:
  explicit MatWriter(const std::string& path) : path_(path) {}
  ~MatWriter() override {
    if (matFile_) Mat_Close(matFile_);
  }

  void begin(const ExportPlan& plan) override {
    plan_ = &plan;
    errno = 0;
    matFile_ = Mat_CreateVer(path_.c_str(), nullptr, MAT_FT_MAT73);
    if (!matFile_) throw ToolError(writeFailure("libmatio", "create the MATLAB file"));
    closeMat("create the MATLAB file");
    file_ = std::make_unique<Handle>(H5Fopen(path_.c_str(), H5F_ACC_RDWR, H5P_DEFAULT), H5Fclose,
                                     "the MATLAB file");
  }

  void write(const RecordBlock& block) override {
    errno = 0;
    if (!time_) createColumns(block.count);
    taken_.take(*plan_, block);
    time_->append(taken_.time.data(), block.count);
    for (size_t c = 0; c < columns_.size(); ++c) {
      columns_[c]->append(taken_.values[c].data(), block.count);
    }
  }

  void finish() override {
    errno = 0;
    const bool appended = time_ != nullptr;
    if (appended) {
      time_->end();
      for (const auto& column : columns_) column->end();
    }
    require(H5Fflush(*file_, H5F_SCOPE_GLOBAL), "the MATLAB file");
    // libmatio opens the file again for the struct: the columns and the
    // file are closed first.
    columns_.clear();
    time_.reset();
    file_.reset();
    matFile_ = Mat_Open(path_.c_str(), MAT_ACC_RDWR);
    if (!matFile_) throw ToolError(writeFailure("libmatio", "open the MATLAB file again"));
    if (!appended) {  // no records: empty columns, as libmatio writes them
      appendEmpty("time", MAT_C_DOUBLE, MAT_T_DOUBLE);
      for (size_t c = 0; c < plan_->names.size(); ++c) {
        if (multiChannel(c)) {
          appendEmpty(plan_->names[c], MAT_C_UINT32, MAT_T_UINT32);
        } else {
          appendEmpty(plan_->names[c], MAT_C_SINGLE, MAT_T_SINGLE);
        }
      }
    }
    Variable recording = recordingStruct(*plan_);
    if (!recording || Mat_VarWrite(matFile_, recording.get(), MAT_COMPRESSION_ZLIB) != 0) {
      throw ToolError(writeFailure("libmatio", "write the struct recording"));
    }
    closeMat("close the MATLAB file");
  }

 private:
  bool multiChannel(size_t c) const {
    return plan_->info.channels[plan_->channels[c]].multiChannelBits != 0;
  }

  void closeMat(const std::string& what) {
    const int closed = Mat_Close(matFile_);
    matFile_ = nullptr;
    if (closed != 0) throw ToolError(writeFailure("libmatio", what));
  }

  // The columns of the span, at the first block: a recording without
  // records gets libmatio's empty variables instead.
  void createColumns(size_t firstBlock) {
    const hsize_t records = std::max<hsize_t>(plan_->span.count(), firstBlock);
    time_ = column("time", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, "double", records);
    for (size_t c = 0; c < plan_->names.size(); ++c) {
      if (multiChannel(c)) {
        columns_.push_back(
            column(plan_->names[c], H5T_STD_U32LE, H5T_NATIVE_UINT32, "uint32", records));
      } else {
        columns_.push_back(
            column(plan_->names[c], H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, "single", records));
      }
    }
  }
  std::unique_ptr<Hdf5Column> column(const std::string& name, hid_t fileType, hid_t memoryType,
                                     const char* matlabClass, hsize_t records) {
    auto made = std::make_unique<Hdf5Column>(*file_, name, fileType, memoryType, records,
                                             Hdf5Column::Shape::MatlabColumn);
    classAttribute(*made, matlabClass);
    return made;
  }

  void appendEmpty(const std::string& name, matio_classes kind, matio_types type) {
    size_t dims[2] = {0, 1};
    Variable column(Mat_VarCreate(name.c_str(), kind, type, 2, dims, nullptr, 0));
    if (!column || Mat_VarWrite(matFile_, column.get(), MAT_COMPRESSION_NONE) != 0) {
      throw ToolError(writeFailure("libmatio", "write the column " + name));
    }
  }

  std::string path_;
  const ExportPlan* plan_ = nullptr;
  Columns taken_;
  mat_t* matFile_ = nullptr;
  std::unique_ptr<Handle> file_;
  // Declared after the file: closed before it.
  std::unique_ptr<Hdf5Column> time_;
  std::vector<std::unique_ptr<Hdf5Column>> columns_;
};

}  // namespace

std::unique_ptr<ExportWriter> matWriter(const std::string& path) {
  prepareHdf5();
  return std::make_unique<MatWriter>(path);
}

}  // namespace rvx
