// rvx: look into RVX recordings, get their data out, mend and upgrade them.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <csignal>
#include <iostream>
#include <optional>

#include "commands/subcommand.h"
#include "shared/file_patterns.h"
#include "shared/library.h"
#include "shared/terminal.h"
#include "shared/tool_error.h"
#include "shared/utf.h"

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#endif

namespace {

using namespace rvx;

constexpr const char* kDescription =
    "rvx: look into RVX recordings, export and import their data, check, repair, convert and plot "
    "them.";

// The arguments as UTF-8, whatever the console's code page; on Windows with
// the wildcards of file arguments expanded, which no shell does there.
std::vector<std::string> utf8Arguments(int argc, char** argv) {
  std::vector<std::string> result;
#if defined(_WIN32)
  (void)argc, (void)argv;
  const auto* line = reinterpret_cast<const char16_t*>(GetCommandLineW());
  const std::vector<bool> quoted = quotedArguments(line);
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<CommandArgument> arguments;
  for (int i = 1; i < count; ++i) {
    // Where the two splits disagree, nothing is taken for a pattern.
    const bool asGiven = quoted.size() != static_cast<size_t>(count) || quoted[i];
    arguments.push_back(
        {toUtf8(std::u16string(reinterpret_cast<const char16_t*>(wide[i]))), asGiven});
  }
  LocalFree(wide);
  result = expandFilePatterns(arguments);
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
  app.set_version_flag(
      "--version", [] { return libraryVersion(); }, "Print the library's version and exit");
  app.require_subcommand(1);
  app.fallthrough(false);
  std::vector<Choice> choices;
  for (const Subcommand* subcommand : subcommands()) {
    CLI::App* command = app.add_subcommand(subcommand->name, subcommand->description);
    choices.push_back({command, subcommand->addOptions(*command)});
  }
  return choices;
}

// The message on stderr, after what the subcommand already wrote to stdout.
// A usage error tells where the help is: `command` names the subcommand.
int reportFailure(const std::string& message, int status, const std::string& command = {}) {
  std::cout.flush();
  std::cerr << "rvx: " << message;
  if (status == kExitUsage) {
    std::cerr << " (rvx " << (command.empty() ? "" : command + " ") << "--help tells more)";
  }
  std::cerr << '\n';
  return status;
}

// The first word that is no option must name a subcommand.
std::optional<std::string> unknownSubcommand(const std::vector<std::string>& args) {
  const auto word = std::find_if(args.begin(), args.end(), [](const std::string& arg) {
    return arg.empty() || arg[0] != '-';
  });
  if (word == args.end()) return std::nullopt;
  for (const Subcommand* subcommand : subcommands()) {
    if (*word == subcommand->name) return std::nullopt;
  }
  std::string known;
  for (const Subcommand* subcommand : subcommands()) {
    known += std::string(known.empty() ? "" : ", ") + subcommand->name;
  }
  return "unknown subcommand '" + *word + "'; the subcommands are " + known;
}

// The exit status when the command line is wrong or asks for help or the
// version, which CLI11 answers itself; none when a subcommand is to run.
std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv) {
  std::vector<std::string> args = utf8Arguments(argc, argv);
  if (const auto unknown = unknownSubcommand(args)) return reportFailure(*unknown, kExitUsage);
  try {
    std::reverse(args.begin(), args.end());  // CLI11 takes them from the back
    app.parse(args);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
    const std::vector<CLI::App*> chosen = app.get_subcommands();
    return reportFailure(error.what(), kExitUsage,
                         chosen.empty() ? "" : chosen.front()->get_name());
  }
  return std::nullopt;
}

int runChosen(const std::vector<Choice>& choices) {
  for (const Choice& choice : choices) {
    if (!*choice.command) continue;
    try {
      return choice.run();
    } catch (const ToolError& error) {
      return reportFailure(error.what(), error.status(), choice.command->get_name());
    } catch (const std::exception& error) {
      return reportFailure(error.what(), kExitFailure);
    }
  }
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  prepareStandardStreams();
#if defined(SIGXFSZ)
  // Beyond the file-size limit a write fails and is reported, instead of
  // ending the process with a partial file.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  followLibraryFailures();
  CLI::App app{kDescription, "rvx"};
  const std::vector<Choice> choices = describeCommandLine(app);
  if (const std::optional<int> status = parseCommandLine(app, argc, argv)) return *status;
  return runChosen(choices);
}
