#pragma once

// The twelve audit events the node records at each outcome of enrollment and
// of a bundle apply. Every builder returns a complete event for product
// "quillmere" at the given time, cannot fail and changes nothing; the caller
// records it on the node state at once.

#include <brackfern/audit/audit_event.hpp>
#include <brackfern/contracts/identifiers.hpp>
#include <brackfern/contracts/timestamp.hpp>
#include <quillmere/contracts/quillmere_error.hpp>

#include <optional>
#include <string>

namespace quillmere {

// "node.enrollment.offer_pending": the control plane's offer is parked for approval.
[[nodiscard]] brackfern::AuditEvent offer_pending_event(const brackfern::ControlPlaneId& control_plane,
                                                        brackfern::Timestamp now);
// "node.enrollment.offer_refused": an offer from an unidentified party was refused.
[[nodiscard]] brackfern::AuditEvent offer_refused_event(brackfern::Timestamp now);
// "node.enrollment.approved": the local owner approved the pending offer.
[[nodiscard]] brackfern::AuditEvent approved_event(const brackfern::ControlPlaneId& control_plane,
                                                   brackfern::Timestamp now);
// "node.enrollment.approve_refused": approval was refused (nothing pending, or declined).
[[nodiscard]] brackfern::AuditEvent approve_refused_event(brackfern::Timestamp now);
// "node.enrollment.revoked": the owner revoked the enrollment; severity notice.
[[nodiscard]] brackfern::AuditEvent revoked_event(const brackfern::ControlPlaneId& control_plane,
                                                  brackfern::Timestamp now);
// "node.enrollment.revoke_refused": there was nothing to revoke.
[[nodiscard]] brackfern::AuditEvent revoke_refused_event(brackfern::Timestamp now);

// "node.bundle.admitted": target id is the decimal bundle version.
[[nodiscard]] brackfern::AuditEvent bundle_admitted_event(BundleVersion version, brackfern::Timestamp now);
// "node.bundle.refused": target id is the decimal attempted version for a
// downgrade (`attempted` present), otherwise the refusal code
// ("not_enrolled", "unknown_control_plane_key", "envelope_invalid", "wrong_node").
[[nodiscard]] brackfern::AuditEvent bundle_refused_event(std::string refusal_code,
                                                         std::optional<BundleVersion> attempted,
                                                         brackfern::Timestamp now);
// "node.bundle.precheck_failed", "node.bundle.applied", "node.bundle.committed".
[[nodiscard]] brackfern::AuditEvent precheck_failed_event(BundleVersion version, brackfern::Timestamp now);
[[nodiscard]] brackfern::AuditEvent bundle_applied_event(BundleVersion version, brackfern::Timestamp now);
[[nodiscard]] brackfern::AuditEvent bundle_committed_event(BundleVersion version, brackfern::Timestamp now);
// "node.bundle.rolled_back": target id "attempted=4 restored=3", or
// "attempted=1 restored=none" when no bundle is in force again.
[[nodiscard]] brackfern::AuditEvent rolled_back_event(BundleVersion attempted, std::optional<BundleVersion> restored,
                                                      brackfern::Timestamp now);

}  // namespace quillmere
