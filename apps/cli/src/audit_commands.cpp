#include "audit_commands.hpp"

namespace zidazavavide {

CommandResult run_audit_show(const AuditShow& /*command*/, Console& /*console*/) {
  return text_error("`audit show` is not available yet");
}

CommandResult run_audit_verify(const AuditVerify& /*command*/, Console& /*console*/) {
  return text_error("`audit verify` is not available yet");
}

}  // namespace zidazavavide
