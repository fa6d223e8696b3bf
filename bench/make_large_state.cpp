// Writes a node state file with a long audit log, for timing whole commands
// on the state of a node that has run for years.
//
//   make_large_state <path> <events>
//
// The node is enrolled with a freshly generated control plane key, and its
// log holds <events> valid, signed events that
// cycle through the outcomes a node records in ordinary life (offers,
// approvals, admitted/applied/committed bundles, refusals, pre-check failures
// and rollbacks), one minute apart. `audit verify` succeeds on the result.

#include <quillmere/contracts/enrollment.hpp>
#include <quillmere/engine/node_audit_events.hpp>
#include <quillmere/engine/node_state.hpp>

#include <brackfern/contracts/identifiers.hpp>
#include <brackfern/contracts/timestamp.hpp>
#include <brackfern/crypto/keys.hpp>

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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_large_state <path> <events>\n";
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

  const brackfern::SigningKey control_plane_key = brackfern::SigningKey::generate();
  const brackfern::ControlPlaneId control_plane = brackfern::ControlPlaneId::from_static("fleet-control");
  const brackfern::Timestamp enrolled_at = brackfern::Timestamp::from_unix(kStart);
  state.enrollment = quillmere::EnrollmentState::Enrolled{
      control_plane, brackfern::KeyId::create(), quillmere::ControlPlaneKeyMaterial(control_plane_key.verifying_key()),
      enrolled_at, quillmere::LocalOwnerApproval{enrolled_at, quillmere::LocalApprovalMethod::InteractiveConsole}};

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
