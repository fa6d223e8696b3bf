#pragma once

#include "cli_error.hpp"
#include "commands.hpp"
#include "console.hpp"

namespace zidazavavide {

// The offline stand-in for a control plane: keys, offers and bundles.
[[nodiscard]] CommandResult run_dev_cp_keygen(const DevCpKeygen& command, Console& console);
[[nodiscard]] CommandResult run_dev_cp_offer(const DevCpOffer& command, Console& console);
[[nodiscard]] CommandResult run_dev_cp_bundle(const DevCpBundle& command, Console& console);

}  // namespace zidazavavide
