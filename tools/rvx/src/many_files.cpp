#include "many_files.h"

#include <iostream>

#include "tool_error.h"

namespace rvx {

int FileTally::exitStatus() const { return findings + failed == 0 ? kExitOk : kExitFailure; }

std::string FileTally::summary(const char* cleanWord, const char* uncleanWord) const {
  std::string text = std::to_string(files()) + " files: " + std::to_string(clean) + " " + cleanWord;
  if (findings > 0) text += ", " + std::to_string(findings) + " " + uncleanWord;
  if (failed > 0) text += ", " + std::to_string(failed) + " not read";
  return text;
}

FileTally forEachFile(const std::vector<std::string>& files,
                      const std::function<FileOutcome(const std::string&)>& each) {
  FileTally tally;
  for (const std::string& file : files) {
    FileOutcome outcome = FileOutcome::Failed;
    try {
      outcome = each(file);
    } catch (const ToolError& error) {
      std::cout.flush();
      std::cerr << "rvx: " << error.what() << '\n';
    }
    switch (outcome) {
      case FileOutcome::Clean:
        ++tally.clean;
        break;
      case FileOutcome::Findings:
        ++tally.findings;
        break;
      case FileOutcome::Failed:
        ++tally.failed;
        break;
    }
  }
  return tally;
}

}  // namespace rvx
