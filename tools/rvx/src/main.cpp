// rvx: look into RVX recordings, get their data out, mend and upgrade them.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <optional>

#include "library.h"
#include "subcommand.h"
#include "terminal.h"
#include "tool_error.h"
#include "utf.h"

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

using namespace rvx;

constexpr const char* kDescription =
    "rvx: look into RVX recordings, export and import their data, check, repair, convert and plot them.";

// The arguments as UTF-8, whatever the console's code page.
std::vector<std::string> utf8Arguments(int argc, char** argv) {
  std::vector<std::string> result;
#if defined(_WIN32)
  (void)argc, (void)argv;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; i < count; ++i) {
    result.push_back(toUtf8(std::u16string(reinterpret_cast<const char16_t*>(wide[i]))));
  }
  LocalFree(wide);
#else
  for (int i = 1; i < argc; ++i) result.emplace_back(argv[i]);
#endif
  return result;
}

// A subcommand on the command line and its run.
struct Choice {
  CLI::App* command;
  Run run;
};

// The tool's own flags and every subcommand of the list with its options.
std::vector<Choice> describeCommandLine(CLI::App& app) {
  app.set_version_flag("--version", [] { return libraryVersion(); }, "Print the library's version and exit");
  app.require_subcommand(1);
  app.fallthrough(false);
  std::vector<Choice> choices;
  for (const Subcommand* subcommand : subcommands()) {
    CLI::App* command = app.add_subcommand(subcommand->name, subcommand->description);
    choices.push_back({command, subcommand->addOptions(*command)});
  }
  return choices;
}

// The exit status when the command line is wrong or asks for help or the
// version, which CLI11 answers itself; none when a subcommand is to run.
std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv) {
  try {
    std::vector<std::string> args = utf8Arguments(argc, argv);
    std::reverse(args.begin(), args.end());  // CLI11 takes them from the back
    app.parse(args);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? kExitOk : kExitUsage;
  }
  return std::nullopt;
}

// The message on stderr, after what the subcommand already wrote to stdout.
int reportFailure(const char* message, int status) {
  std::cout.flush();
  std::cerr << "rvx: " << message << '\n';
  if (status == kExitUsage) std::cerr << "Run with --help for more information.\n";
  return status;
}

int runChosen(const std::vector<Choice>& choices) {
  try {
    for (const Choice& choice : choices) {
      if (*choice.command) return choice.run();
    }
  } catch (const ToolError& error) {
    return reportFailure(error.what(), error.status());
  } catch (const std::exception& error) {
    return reportFailure(error.what(), kExitFailure);
  }
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  prepareStandardStreams();
  CLI::App app{kDescription, "rvx"};
  const std::vector<Choice> choices = describeCommandLine(app);
  if (const std::optional<int> status = parseCommandLine(app, argc, argv)) return *status;
  return runChosen(choices);
}
