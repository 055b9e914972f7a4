#include "outputs/export_format.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <iostream>

#include "commands/commands.h"
#include "files/output_file.h"
#include "inputs/claims.h"
#include "shared/system_reason.h"
#include "shared/terminal.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

constexpr size_t kMatlabNameLimit = 63;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string validName(const std::string& variable) {
  std::string name;
  for (char c : variable) {
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

std::vector<std::string> fieldNames(const std::vector<std::string>& variables,
                                    const std::vector<std::string>& reserved) {
  std::vector<std::string> taken = reserved;
  std::vector<std::string> names;
  for (const std::string& variable : variables) {
    const std::string base = validName(variable);
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
std::unique_ptr<ColumnWriter> openMatWriter(const std::string&, const ExportPlan&) {
  throw ToolError("this rvx was built without MATLAB export (libmatio); --format csv writes CSV");
}
#endif
#ifndef RVX_WITH_HDF5
std::unique_ptr<ColumnWriter> openHdf5Writer(const std::string&, const ExportPlan&) {
  throw ToolError("this rvx was built without HDF5 export (libhdf5); --format csv writes CSV");
}
#endif

namespace {

// The records of the plan, read block by block, into the writer; returns
// the reader's shortfall ("" when every record came).
std::string writeColumns(ExportFormat format, const std::string& path, const ExportPlan& plan) {
  errno = 0;
  std::unique_ptr<ColumnWriter> writer =
      format == ExportFormat::Mat ? openMatWriter(path, plan) : openHdf5Writer(path, plan);
  const RecordingInfo& info = plan.info;
  const size_t channels = info.channels.size();
  const size_t block = RecordReader::blockRecords(channels);
  std::vector<float> records(block * std::max<size_t>(1, channels));
  std::vector<std::vector<float>> columns(plan.channels.size(), std::vector<float>(block));
  std::vector<double> time(block);
  RecordReader reader(channels, plan.span.end);
  Progress progress("export", plan.span.end);
  const auto interval = static_cast<double>(info.scanInterval);
  uint64_t written = 0;
  while (const size_t got = reader.read(records.data(), block)) {
    const uint64_t blockFirst = reader.delivered() - got;
    size_t count = 0;
    for (size_t i = 0; i < got; ++i) {
      const uint64_t index = blockFirst + i;
      if (index < plan.span.first) continue;
      time[count] = static_cast<double>(index) * interval / 1e6;
      for (size_t c = 0; c < plan.channels.size(); ++c) {
        columns[c][count] = records[i * channels + static_cast<size_t>(plan.channels[c])];
      }
      ++count;
    }
    errno = 0;
    if (count > 0) writer->append(time.data(), columns, count);
    written += count;
    progress.update(reader.delivered());
  }
  errno = 0;
  writer->finish(written);
  progress.finish();
  return shortfallText(reader, plan.span.end);
}

}  // namespace

int runColumnExport(const ExportOptions& options, ExportFormat format) {
  if (options.output.empty() || options.output == "-") {
    throw usageError("MATLAB and HDF5 exports go to a file: give -o FILE");
  }
  refuseSameFile(options.file, options.output);
  ExportPlan plan;
  plan.source = options.file;
  {
    ReadSession session(options.file);
    plan.info = queryRecording(session);
  }
  RecordingInfo& info = plan.info;
  info.records = countRecords(options.file, info.records, options.allRecords).toRead;
  plan.span = recordSpan(options.window, info.scanInterval, info.records);
  plan.channels = selectChannels(info, options.channels);
  std::vector<std::string> variables;
  for (int index : plan.channels) variables.push_back(info.channels[index].variable);
  plan.names = fieldNames(variables, {"time", "recording"});

  OutputFile out(options.output, existingFrom(options.force));
  const std::string path = out.handOver();
  ReadSession session(options.file);
  std::string shortfall;
  try {
    shortfall = writeColumns(format, path, plan);
  } catch (const ToolError& error) {
    throw ToolError(options.output + ": " + error.what(), error.status());
  }
  out.commit();
  if (!shortfall.empty()) {
    std::cerr << "rvx: " << options.file << ": warning: " << shortfall << '\n';
  }
  return kExitOk;
}

}  // namespace rvx
