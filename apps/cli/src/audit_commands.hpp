#pragma once

#include "cli_error.hpp"
#include "commands.hpp"
#include "console.hpp"

namespace zidazavavide {

// Listing and verifying the node's audit log.
[[nodiscard]] CommandResult run_audit_show(const AuditShow& command, Console& console);
[[nodiscard]] CommandResult run_audit_verify(const AuditVerify& command, Console& console);

}  // namespace zidazavavide
