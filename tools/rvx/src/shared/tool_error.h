// How a subcommand gives up: a message for stderr and the exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace rvx {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the work failed, or `check` found something
inline constexpr int kExitUsage = 2;    // the command line is wrong
inline constexpr int kExitTimeout = 3;  // follow: no record came within --timeout

class ToolError : public std::runtime_error {
 public:
  ToolError(const std::string& message, int status = kExitFailure)
      : std::runtime_error(message), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

inline ToolError usageError(const std::string& message) { return ToolError(message, kExitUsage); }

}  // namespace rvx
