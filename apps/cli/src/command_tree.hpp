#pragma once

#include "commands.hpp"

#include <string>
#include <variant>
#include <vector>

namespace zidazavavide {

// The end of an invocation that the command line alone decides: a help text
// (status 0, on standard output) or a usage error or a group's help given
// without a subcommand (status 2, on standard error). Nothing is read or
// written besides these texts.
struct ParseExit {
  int status = 0;
  std::string out;  // text for standard output
  std::string err;  // text for standard error
};

using ParseOutcome = std::variant<Command, ParseExit>;

// Parses the words after the program name against the command tree:
// a leaf command with its arguments, or the exit that parsing settled.
// Never throws.
[[nodiscard]] ParseOutcome parse_command_line(const std::vector<std::string>& args);

}  // namespace zidazavavide
