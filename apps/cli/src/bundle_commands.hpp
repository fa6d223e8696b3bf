#pragma once

#include "cli_error.hpp"
#include "commands.hpp"
#include "console.hpp"

namespace zidazavavide {

// Admitting and applying a signed service bundle.
[[nodiscard]] CommandResult run_bundle_apply(const BundleApply& command, Console& console);

}  // namespace zidazavavide
