// Writes a node state file with a long audit log, for timing whole commands
// on the state of a node that has run for years.
//
//   make_large_state <path> <events> [offer.json]
//
// The node is enrolled with a freshly generated control plane key, or with
// the control plane of a `dev-cp offer` file when one is given (so that
// `dev-cp bundle` can then mint bundles the node admits), and its log holds
// <events> valid, signed events that cycle through the outcomes a node records in ordinary life (offers,
// approvals, admitted/applied/committed bundles, refusals, pre-check failures
// and rollbacks), one minute apart. `audit verify` succeeds on the result.

#include <quillmere/contracts/enrollment.hpp>
#include <quillmere/engine/node_audit_events.hpp>
#include <quillmere/engine/node_state.hpp>

#include <brackfern/contracts/identifiers.hpp>
#include <brackfern/contracts/timestamp.hpp>
#include <brackfern/crypto/keys.hpp>
#include <quillmere/engine/file_io.hpp>

#include <charconv>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace {

constexpr std::int64_t kStart = 1640995200;  // 2022-01-01T00:00:00Z

// The event for the n-th step of the node's life.
brackfern::AuditEvent life_event(std::uint64_t n, const brackfern::ControlPlaneId& control_plane,
                                 brackfern::Timestamp at) {
  const auto version = static_cast<quillmere::BundleVersion>(n / 8 + 2);
  switch (n % 8) {
    case 0:
      return quillmere::bundle_admitted_event(version, at);
    case 1:
      return quillmere::bundle_applied_event(version, at);
    case 2:
      return quillmere::bundle_committed_event(version, at);
    case 3:
      return quillmere::bundle_refused_event("unknown_control_plane_key", std::nullopt, at);
    case 4:
      return quillmere::bundle_refused_event("downgrade", version - 1, at);
    case 5:
      return quillmere::precheck_failed_event(version, at);
    case 6:
      return quillmere::rolled_back_event(version, version - 1, at);
    default:
      return quillmere::offer_pending_event(control_plane, at);
  }
}

// The enrollment under the control plane that signed the offer at `path`,
// approved from the local configuration as `enroll approve --yes` would.
std::optional<quillmere::EnrollmentState::Enrolled> enrollment_from_offer(const std::string& path,
                                                                          brackfern::Timestamp at) {
  auto text = quillmere::read_text_file(path);
  if (!text) return std::nullopt;
  auto document = brackfern::parse_json(*text);
  if (!document) return std::nullopt;
  auto offer = brackfern::read_tree<quillmere::EnrollmentOffer>(*document);
  if (!offer) return std::nullopt;
  auto verified = quillmere::verify_offer(*offer, brackfern::Timestamp::now());
  if (!verified) return std::nullopt;
  const quillmere::EnrollmentOfferPayload& payload = verified->get();
  return quillmere::EnrollmentState::Enrolled{
      payload.control_plane_id, payload.key_id, payload.public_key, at,
      quillmere::LocalOwnerApproval{at, quillmere::LocalApprovalMethod::LocalConfigFile}};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::cerr << "usage: make_large_state <path> <events> [offer.json]\n";
    return 2;
  }
  const std::string path = argv[1];
  const std::string_view count_text = argv[2];
  std::uint64_t count = 0;
  const auto [end, ec] = std::from_chars(count_text.data(), count_text.data() + count_text.size(), count);
  if (ec != std::errc() || end != count_text.data() + count_text.size()) {
    std::cerr << "make_large_state: <events> must be a non-negative integer\n";
    return 2;
  }

  quillmere::NodeState state =
      quillmere::NodeState::create(quillmere::NodeIdentity::generate(brackfern::NodeId::create()));

  const brackfern::Timestamp enrolled_at = brackfern::Timestamp::from_unix(kStart);
  if (argc == 4) {
    auto enrolled = enrollment_from_offer(argv[3], enrolled_at);
    if (!enrolled) {
      std::cerr << "make_large_state: " << argv[3] << " is not a valid, verifying enrollment offer\n";
      return 1;
    }
    state.enrollment = std::move(*enrolled);
  } else {
    const brackfern::SigningKey control_plane_key = brackfern::SigningKey::generate();
    state.enrollment = quillmere::EnrollmentState::Enrolled{
        brackfern::ControlPlaneId::from_static("fleet-control"), brackfern::KeyId::create(),
        quillmere::ControlPlaneKeyMaterial(control_plane_key.verifying_key()), enrolled_at,
        quillmere::LocalOwnerApproval{enrolled_at, quillmere::LocalApprovalMethod::InteractiveConsole}};
  }
  const brackfern::ControlPlaneId control_plane =
      state.enrollment.get_if<quillmere::EnrollmentState::Enrolled>()->control_plane_id;

  for (std::uint64_t n = 0; n < count; ++n) {
    const brackfern::Timestamp at = brackfern::Timestamp::from_unix(kStart + 60 * static_cast<std::int64_t>(n + 1));
    if (auto recorded = quillmere::record_event(state, life_event(n, control_plane, at)); !recorded) {
      std::cerr << "make_large_state: recording event " << n << " failed\n";
      return 1;
    }
  }

  if (auto saved = quillmere::save_state(state, path); !saved) {
    std::cerr << "make_large_state: " << saved.error() << "\n";
    return 1;
  }
  return 0;
}
