#include "enroll_commands.hpp"

#include "command_steps.hpp"
#include "state_session.hpp"

#include <brackfern/contracts/timestamp.hpp>
#include <quillmere/contracts/enrollment.hpp>
#include <quillmere/engine/node_audit_events.hpp>

#include <array>
#include <cerrno>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace zidazavavide {
namespace {

using quillmere::EnrollmentState;

constexpr std::string_view kApprovalPrompt =
    "Approve this enrollment at this node's own console? Type 'yes' to confirm: ";

// White space as a line of console text may carry it: the ASCII controls
// tab to carriage return, the space, and the Unicode spaces and separators
// (as UTF-8).
constexpr std::array<std::string_view, 25> kWhiteSpace = {
    "\t",           "\n",           "\v",           "\f",           "\r",           " ",
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE3\x80\x80",
};

std::string_view trim_white_space(std::string_view text) {
  for (bool trimmed = true; trimmed && !text.empty();) {
    trimmed = false;
    for (std::string_view space : kWhiteSpace) {
      if (text.starts_with(space)) {
        text.remove_prefix(space.size());
        trimmed = true;
      }
      if (text.ends_with(space)) {
        text.remove_suffix(space.size());
        trimmed = true;
      }
    }
  }
  return text;
}

// The OS error behind a failed console stream; a stream that failed without
// telling why is reported as an input/output error.
quillmere::OsError console_error(int error_number) {
  return quillmere::OsError::from_errno(error_number != 0 ? error_number : EIO);
}

// Asks the owner at the console. Returns whether the answer, trimmed, is
// exactly "yes"; end of input is an empty answer. A failed flush or read is
// the OS error.
std::expected<bool, CliError> owner_confirms_at_console(Console& console) {
  errno = 0;
  console.out << kApprovalPrompt << std::flush;
  if (!console.out) return std::unexpected(CliError(console_error(errno)));

  std::string line;
  errno = 0;
  std::getline(console.in, line);
  if (console.in.bad()) return std::unexpected(CliError(console_error(errno)));
  return trim_white_space(line) == "yes";
}

}  // namespace

CommandResult run_enroll_offer(const EnrollOffer& command, Console& console) {
  auto session = open_state_for_update(command.state);
  if (!session) return std::unexpected(std::move(session.error()));
  auto offer = read_document<quillmere::EnrollmentOffer>(command.offer);
  if (!offer) return std::unexpected(std::move(offer.error()));
  const brackfern::Timestamp now = brackfern::Timestamp::now();

  // The current enrollment is not consulted: a verified offer always parks
  // the node as pending, discarding any earlier offer or enrollment.
  auto verified = quillmere::verify_offer(*offer, now);
  if (!verified) {
    return refuse(*session, quillmere::offer_refused_event(now), "offer refused: " + verified.error().message());
  }
  const quillmere::EnrollmentOfferPayload& payload = verified->get();
  session->state.enrollment = quillmere::receive_enrollment_offer(payload, now);
  return succeed(*session, quillmere::offer_pending_event(payload.control_plane_id, now),
                 "offer accepted for review: control plane '" + payload.control_plane_id.str() +
                     "' — run `enroll approve` at this node's own console to continue.",
                 console);
}

CommandResult run_enroll_approve(const EnrollApprove& command, Console& console) {
  auto session = open_state_for_update(command.state);
  if (!session) return std::unexpected(std::move(session.error()));
  const brackfern::Timestamp now = brackfern::Timestamp::now();

  if (!session->state.enrollment.is<EnrollmentState::PendingOwnerApproval>()) {
    return refuse(*session, quillmere::approve_refused_event(now), "refused: nothing is pending local owner approval");
  }
  if (!command.yes) {
    auto confirmed = owner_confirms_at_console(console);
    if (!confirmed) return std::unexpected(std::move(confirmed.error()));
    if (!*confirmed) return refuse(*session, quillmere::approve_refused_event(now), "approval declined at console");
  }

  // The approval time is when the command started, not when yes was typed.
  const quillmere::LocalOwnerApproval approval{now, command.yes ? quillmere::LocalApprovalMethod::LocalConfigFile
                                                                : quillmere::LocalApprovalMethod::InteractiveConsole};
  auto approved = quillmere::approve_pending_enrollment(session->state.enrollment, approval);
  if (!approved) return std::unexpected(CliError(std::move(approved.error())));
  const auto* enrolled = approved->get_if<EnrollmentState::Enrolled>();
  if (enrolled == nullptr) return text_error("internal: approval did not produce Enrolled");
  const brackfern::ControlPlaneId control_plane = enrolled->control_plane_id;

  session->state.enrollment = std::move(*approved);
  return succeed(*session, quillmere::approved_event(control_plane, now),
                 "enrolled with control plane '" + control_plane.str() + "'", console);
}

CommandResult run_enroll_revoke(const EnrollRevoke& command, Console& console) {
  auto session = open_state_for_update(command.state);
  if (!session) return std::unexpected(std::move(session.error()));
  const brackfern::Timestamp now = brackfern::Timestamp::now();

  auto revoked = quillmere::revoke_enrollment_locally(session->state.enrollment, now);
  if (!revoked) {
    return refuse(*session, quillmere::revoke_refused_event(now), "revoke refused: " + revoked.error().message());
  }
  const auto* revoked_state = revoked->get_if<EnrollmentState::Revoked>();
  if (revoked_state == nullptr) {
    unreachable(console, "revoke_enrollment_locally only ever returns Revoked on success");
  }
  const brackfern::ControlPlaneId previously = revoked_state->previously;

  session->state.enrollment = std::move(*revoked);
  return succeed(*session, quillmere::revoked_event(previously, now),
                 "revoked. control plane '" + previously.str() + "' no longer has any authority over this node.",
                 console);
}

}  // namespace zidazavavide
