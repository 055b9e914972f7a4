#include "commands/copy_command.h"

#include "files/output_file.h"
#include "inputs/findings.h"
#include "shared/terminal.h"

namespace rvx {

void addCopyFiles(CLI::App& command, CopyOptions& options) {
  command.add_option("IN", options.input, "RVX file of any layout")->required();
  command.add_option("-o,--output", options.output, "RVX file to create")->required();
}

void addCopyFlags(CLI::App& command, CopyOptions& options) {
  command.add_flag("-f,--force", options.force, "Replace an existing output file");
  command.add_flag("--cut-texts", options.cutTexts, kCutTextsHelp);
  command.add_flag("--all-records", options.allRecords, kAllRecordsHelp);
}

namespace {

const std::string& checkedInput(const CopyOptions& options) {
  refuseSameFile(options.input, options.output);
  return options.input;
}

}  // namespace

CopySource::CopySource(const CopyOptions& options)
    : warnings{options.input, options.cutTexts, {}}, reader(checkedInput(options)) {
  const RecordCount count = requireReadable(reader, options.allRecords);
  info = reader.info();
  info.records = count.toRead;
}

CopyResult writeCopy(const CopyOptions& options, CopySource& source, const DateTime& when,
                     RecordSpan span, const std::vector<int>& keep, const char* activity) {
  const RecordingInfo& info = source.info;
  CreateSession session(options.output, existingFrom(options.force), info.original, false,
                        kNoSummaryLanguage);
  startCopy(session, info, when, source.warnings);
  CopyResult result;
  result.records =
      copyRecords(session, source.reader, info.records, span, keep, activity, source.warnings);
  closeKeepingUnknownDate(session, when, info, source.warnings);
  result.file = session.file();
  return result;
}

}  // namespace rvx
