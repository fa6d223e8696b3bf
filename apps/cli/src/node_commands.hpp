#pragma once

#include "cli_error.hpp"
#include "commands.hpp"
#include "console.hpp"

namespace zidazavavide {

// The node's own identity and state file.
[[nodiscard]] CommandResult run_node_init(const NodeInit& command, Console& console);
[[nodiscard]] CommandResult run_node_status(const NodeStatus& command, Console& console);

}  // namespace zidazavavide
