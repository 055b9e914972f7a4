#include "outputs/export_format.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>

#include "shared/system_reason.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

constexpr size_t kMatlabNameLimit = 63;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string validName(const std::string& label) {
  std::string name;
  for (char c : label) {
    const bool keep = isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_';
    if (keep || (!name.empty() && name.back() != '_')) name += keep ? c : '_';
  }
  while (!name.empty() && name.back() == '_') name.pop_back();
  if (name.empty() || !isAsciiLetter(name.front())) name = "ch_" + name;
  if (name.size() > kMatlabNameLimit) name.resize(kMatlabNameLimit);
  return name;
}

}  // namespace

ExportFormat exportFormat(const std::string& format, const std::string& output) {
  const std::string name = lower(format);
  if (name == "csv") return ExportFormat::Csv;
  if (name == "mat") return ExportFormat::Mat;
  if (name == "hdf5" || name == "h5") return ExportFormat::Hdf5;
  if (!name.empty()) throw usageError("--format: expected csv, mat or hdf5, not " + format);
  const std::string extension = lower(std::filesystem::path(output).extension().string());
  if (extension == ".mat") return ExportFormat::Mat;
  if (extension == ".h5" || extension == ".hdf5") return ExportFormat::Hdf5;
  return ExportFormat::Csv;
}

std::vector<std::string> fieldNames(const std::vector<std::string>& labels,
                                    const std::vector<std::string>& reserved) {
  std::vector<std::string> taken = reserved;
  std::vector<std::string> names;
  for (const std::string& label : labels) {
    const std::string base = validName(label);
    std::string name = base;
    for (int number = 2; std::find(taken.begin(), taken.end(), name) != taken.end(); ++number) {
      const std::string suffix = "_" + std::to_string(number);
      name = base.substr(0, kMatlabNameLimit - suffix.size()) + suffix;
    }
    taken.push_back(name);
    names.push_back(name);
  }
  return names;
}

std::string writeFailure(const std::string& library, const std::string& what) {
  int error = errno;
#ifdef RVX_WITH_HDF5
  if (hdf5SystemError() != 0) error = hdf5SystemError();
#endif
  std::string text = library + " failed to " + what;
  if (error != 0) text += ": " + errnoReason(error);
  return text;
}

#ifndef RVX_WITH_MATIO
std::unique_ptr<ExportWriter> matWriter(const std::string&) {
  throw usageError(
      "this rvx was built without MATLAB export (libmatio); --format csv writes CSV");
}
#endif
#ifndef RVX_WITH_HDF5
std::unique_ptr<ExportWriter> hdf5Writer(const std::string&) {
  throw usageError("this rvx was built without HDF5 export (libhdf5); --format csv writes CSV");
}
#endif

void requireStart(const ExportPlan& plan, const std::string& why) {
  if (plan.info.startIsKnown()) return;
  const bool date = (plan.info.startKnown & KDRVX_START_DATE) != 0;
  throw ToolError(plan.source + ": the recording's start is unknown (" +
                  (date ? "its time" : "its date") + "), which " + why + " needs");
}

// The header keeps the start as wall-clock time without its offset, so a
// start that the zone shows twice or never cannot be placed: refused, as
// the binding refuses it, with the offset as the way out.
int64_t startInstant(const ExportPlan& plan) {
  requireStart(plan, "--tz");
  const std::vector<int64_t> instants = plan.zone->instantsOf(plan.info.startSeconds);
  if (instants.size() == 1) return instants.front();
  const int64_t wall = plan.info.startSeconds;
  const std::string remedy =
      "give --tz as the offset from UTC that the recorder's clock kept, e.g. --tz=+01:00";
  if (instants.empty()) {
    throw ToolError(plan.source + ": the recording's start " + isoText(wall) +
                    " does not exist in " + plan.zone->name() +
                    ", whose clocks skip that hour, and its header keeps no offset from UTC; " +
                    remedy);
  }
  const auto shown = [&](int64_t instant) {
    char offset[8] = {};
    writeOffset(offset, static_cast<int32_t>(wall - instant));
    return isoText(wall) + offset;
  };
  throw ToolError(plan.source + ": the recording's start " + isoText(wall) + " is ambiguous in " +
                  plan.zone->name() + ", whose clocks show that hour twice (" +
                  shown(instants.front()) + " or " + shown(instants.back()) +
                  "), and its header keeps no offset from UTC; " + remedy);
}

void Columns::take(const ExportPlan& plan, const RecordBlock& block) {
  if (time.size() < block.count) {
    time.resize(block.count);
    values.assign(plan.channels.size(), std::vector<float>(block.count));
  }
  const auto interval = static_cast<double>(plan.info.scanInterval);
  for (size_t i = 0; i < block.count; ++i) {
    time[i] = static_cast<double>(block.first + i) * interval / 1e6;
    const float* record = block.records + i * block.stride;
    for (size_t c = 0; c < plan.channels.size(); ++c) {
      values[c][i] = record[static_cast<size_t>(plan.channels[c])];
    }
  }
  count = block.count;
}

}  // namespace rvx
