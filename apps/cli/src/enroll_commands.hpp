#pragma once

#include "cli_error.hpp"
#include "commands.hpp"
#include "console.hpp"

namespace zidazavavide {

// Enrollment with a control plane.
[[nodiscard]] CommandResult run_enroll_offer(const EnrollOffer& command, Console& console);
[[nodiscard]] CommandResult run_enroll_approve(const EnrollApprove& command, Console& console);
[[nodiscard]] CommandResult run_enroll_revoke(const EnrollRevoke& command, Console& console);

}  // namespace zidazavavide
