// A subcommand of rvx as the command line knows it: its name and
// description as `rvx --help` lists them, the options it adds to its part
// of the command line, and what runs when it is chosen. Each subcommand
// defines its own in its file; subcommands.cpp lists them.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace rvx {

// Runs the chosen subcommand with the values its options received; returns
// the exit status or throws ToolError.
using Run = std::function<int()>;

struct Subcommand {
  const char* name;
  const char* description;
  // Adds the options to `command` and returns the run bound to their values.
  Run (*addOptions)(CLI::App& command);
};

// In the order of `rvx --help`.
std::span<const Subcommand* const> subcommands();

// An option that may be left out, told apart from one given empty.
template <typename T>
void optionalOption(CLI::App& command, const std::string& name, std::optional<T>& target,
                    const std::string& description) {
  command.add_option_function<T>(
      name, [&target](const T& value) { target = value; }, description);
}

}  // namespace rvx
