#include "enroll_commands.hpp"

namespace zidazavavide {

CommandResult run_enroll_offer(const EnrollOffer& /*command*/, Console& /*console*/) {
  return text_error("`enroll offer` is not available yet");
}

CommandResult run_enroll_approve(const EnrollApprove& /*command*/, Console& /*console*/) {
  return text_error("`enroll approve` is not available yet");
}

CommandResult run_enroll_revoke(const EnrollRevoke& /*command*/, Console& /*console*/) {
  return text_error("`enroll revoke` is not available yet");
}

}  // namespace zidazavavide
