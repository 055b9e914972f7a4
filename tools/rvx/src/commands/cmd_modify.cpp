// rvx modify: comment and measurement name changed through the library's
// modify context; the data records are not touched. The change is made in
// a copy that replaces the file when it is complete, so that a modify that
// fails leaves the file as it was.
#include <iostream>
#include <optional>

#include "commands/commands.h"
#include "commands/subcommand.h"
#include "files/output_file.h"
#include "inputs/findings.h"
#include "shared/fields.h"
#include "shared/tool_error.h"
#include "shared/utf.h"

namespace rvx {

namespace {

struct ModifyOptions {
  std::string file;
  std::optional<std::string> comment, nameMeasurement;
};

void checkLength(const std::string& text, size_t limit, const std::string& option) {
  const size_t length = wideLength(text);
  if (length > limit) {
    throw usageError(option + " has " + std::to_string(length) + " characters; at most " +
                     std::to_string(limit) + " fit");
  }
}

std::string shown(const std::string& text) { return "\"" + fromCrLf(text) + "\""; }

int runModify(const ModifyOptions& options) {
  if (options.file.empty()) throw usageError("modify: no file given; name the recording to change");
  if (!options.comment && !options.nameMeasurement) {
    throw usageError("modify: nothing to change; give --comment and/or --name");
  }
  const std::string comment = options.comment ? toCrLf(*options.comment) : std::string();
  if (options.comment) checkLength(comment, fieldLimit(&RecordingInfo::comment), "--comment");
  if (options.nameMeasurement) {
    checkLength(*options.nameMeasurement, fieldLimit(&RecordingInfo::nameMeasurement), "--name");
  }

  // The library changes a complete copy, which then takes the file's place.
  // The file stays open for reading meanwhile: the library's open fails
  // while a recording still holds it, and no recording starts on it then.
  // It would write a whole header over a file that ends inside its header,
  // and so grow it.
  OutputFile copy(options.file, Existing::Replace);
  std::optional<Reader> held(std::in_place, options.file);
  requireReadable(*held, false);
  copyFileInto(copy, options.file);
  ModifySession session(copy.handOver(), options.file);
  std::string oldComment, oldName;
  if (options.comment) oldComment = session.comment(comment);
  if (options.nameMeasurement) oldName = session.nameMeasurement(*options.nameMeasurement);
  session.close();
  held.reset();
  copy.commit();

  if (options.comment) {
    std::cout << options.file << ": comment " << shown(oldComment) << " -> " << shown(comment)
              << '\n';
  }
  if (options.nameMeasurement) {
    std::cout << options.file << ": measurement name " << shown(oldName) << " -> "
              << shown(*options.nameMeasurement) << '\n';
  }
  return kExitOk;
}

Run addModifyOptions(CLI::App& command) {
  auto options = std::make_shared<ModifyOptions>();
  command.add_option("FILE", options->file, "RVX file of the current layout")->required();
  optionalOption(command, "--comment", options->comment,
                 "New comment (at most " + std::to_string(fieldLimit(&RecordingInfo::comment)) +
                     " characters)");
  optionalOption(command, "--name", options->nameMeasurement,
                 "New measurement name (at most " +
                     std::to_string(fieldLimit(&RecordingInfo::nameMeasurement)) + " characters)");
  return [options] { return runModify(*options); };
}

}  // namespace

extern const Subcommand kModifySubcommand{"modify", "Change comment and measurement name in place",
                                          addModifyOptions};

}  // namespace rvx
