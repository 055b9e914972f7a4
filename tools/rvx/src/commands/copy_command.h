// What the commands that copy a recording into a new one share (convert,
// cut, select): their files and flags, opening the source, and writing the
// copy through the create path.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "outputs/recording_copy.h"
#include "shared/library.h"

namespace rvx {

struct CopyOptions {
  std::string input, output;
  bool force = false;
  bool cutTexts = false;
  bool allRecords = false;
};

// IN and -o.
void addCopyFiles(CLI::App& command, CopyOptions& options);
// -f, --cut-texts and --all-records.
void addCopyFlags(CLI::App& command, CopyOptions& options);

// The recording to copy: a target that is the source is refused, the source
// is opened and judged by its findings, and its header and channels are
// read with the records to read.
struct CopySource {
  explicit CopySource(const CopyOptions& options);
  Warnings warnings;
  Reader reader;
  RecordingInfo info;
};

struct CopyResult {
  std::string file;  // the new file, as named
  uint64_t records = 0;
};

// The new recording: the header and channels of `source.info` starting at
// `when`, and the records of `span` of the channels `keep`, in that order.
CopyResult writeCopy(const CopyOptions& options, CopySource& source, const DateTime& when,
                     RecordSpan span, const std::vector<int>& keep, const char* activity);

}  // namespace rvx
