// MATLAB v7.3 files through libmatio: a column `time` in seconds (double),
// one column per channel (single; uint32 for a multichannel channel, its
// bits), appended block by block, and a struct `recording` with the
// header and the channels' texts (and the start as ISO 8601 text `start`
// when the header knows it, and as POSIX seconds `start_posix` with --tz).
#include <matio.h>

#include <cerrno>
#include <cstring>

#include "outputs/export_format.h"
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

class MatWriter : public ExportWriter {
 public:
  explicit MatWriter(const std::string& path) : path_(path) {}
  ~MatWriter() override {
    if (file_) Mat_Close(file_);
  }

  void begin(const ExportPlan& plan) override {
    plan_ = &plan;
    for (int index : plan.channels) {
      multiChannel_.push_back(plan.info.channels[index].multiChannelBits != 0);
    }
    errno = 0;
    file_ = Mat_CreateVer(path_.c_str(), nullptr, MAT_FT_MAT73);
    if (!file_) throw ToolError(writeFailure("libmatio", "create the MATLAB file"));
  }

  void write(const RecordBlock& block) override {
    errno = 0;
    columns_.take(*plan_, block);
    appendColumn("time", MAT_C_DOUBLE, MAT_T_DOUBLE, columns_.time.data(), block.count);
    for (size_t c = 0; c < columns_.values.size(); ++c) {
      const void* data = columns_.values[c].data();
      if (multiChannel_[c]) {
        appendColumn(plan_->names[c], MAT_C_UINT32, MAT_T_UINT32, data, block.count);
      } else {
        appendColumn(plan_->names[c], MAT_C_SINGLE, MAT_T_SINGLE, data, block.count);
      }
    }
    appended_ = true;
  }

  void finish() override {
    errno = 0;
    if (!appended_) {  // no records: empty columns
      appendEmpty("time", MAT_C_DOUBLE, MAT_T_DOUBLE);
      for (size_t c = 0; c < plan_->names.size(); ++c) {
        if (multiChannel_[c]) {
          appendEmpty(plan_->names[c], MAT_C_UINT32, MAT_T_UINT32);
        } else {
          appendEmpty(plan_->names[c], MAT_C_SINGLE, MAT_T_SINGLE);
        }
      }
    }
    Variable recording = recordingStruct(*plan_);
    if (!recording || Mat_VarWrite(file_, recording.get(), MAT_COMPRESSION_ZLIB) != 0) {
      throw ToolError(writeFailure("libmatio", "write the struct recording"));
    }
    const int closed = Mat_Close(file_);
    file_ = nullptr;
    if (closed != 0) throw ToolError(writeFailure("libmatio", "close the MATLAB file"));
  }

 private:
  void appendColumn(const std::string& name, matio_classes kind, matio_types type, const void* data,
                    size_t count) {
    size_t dims[2] = {count, 1};
    Variable column(Mat_VarCreate(name.c_str(), kind, type, 2, dims, const_cast<void*>(data),
                                  MAT_F_DONT_COPY_DATA));
    if (!column || Mat_VarWriteAppend(file_, column.get(), MAT_COMPRESSION_ZLIB, 1) != 0) {
      throw ToolError(writeFailure("libmatio", "write the column " + name));
    }
  }
  void appendEmpty(const std::string& name, matio_classes kind, matio_types type) {
    size_t dims[2] = {0, 1};
    Variable column(Mat_VarCreate(name.c_str(), kind, type, 2, dims, nullptr, 0));
    if (!column || Mat_VarWrite(file_, column.get(), MAT_COMPRESSION_NONE) != 0) {
      throw ToolError(writeFailure("libmatio", "write the column " + name));
    }
  }

  std::string path_;
  const ExportPlan* plan_ = nullptr;
  Columns columns_;
  std::vector<bool> multiChannel_;
  mat_t* file_ = nullptr;
  bool appended_ = false;
};

}  // namespace

std::unique_ptr<ExportWriter> matWriter(const std::string& path) {
#ifdef RVX_WITH_HDF5
  prepareHdf5();
#endif
  return std::make_unique<MatWriter>(path);
}

}  // namespace rvx
