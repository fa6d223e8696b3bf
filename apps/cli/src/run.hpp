#pragma once

#include "cli_error.hpp"
#include "commands.hpp"
#include "console.hpp"

#include <iosfwd>
#include <string>
#include <vector>

namespace zidazavavide {

// Runs one leaf command through its handler.
[[nodiscard]] CommandResult dispatch(const Command& command, Console& console);

// The whole program: parses `args` (the words AFTER the program name, i.e.
// argv[1..argc)), runs the chosen command and reports its outcome.
// Returns the exit status: 0 success or help; 1 the command failed, or its
// output could not be written to `out` (the OS error), reported as one
// "Error: <debug form>" line on `err`; 2 a usage error, reported on `err`
// (a group without its subcommand shows the group's help there).
// Never throws.
[[nodiscard]] int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace zidazavavide
