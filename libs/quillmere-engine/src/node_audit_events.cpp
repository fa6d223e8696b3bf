#include <quillmere/engine/node_audit_events.hpp>

#include <utility>

namespace quillmere {

namespace {

using brackfern::Actor;
using brackfern::ActorType;
using brackfern::AuditCategory;
using brackfern::AuditEvent;
using brackfern::AuditResult;
using brackfern::Target;
using brackfern::Timestamp;

constexpr std::string_view kProduct = "quillmere";
constexpr std::string_view kControlPlaneTarget = "control_plane";
constexpr std::string_view kServiceBundleTarget = "service_bundle";

Actor local_owner() { return Actor{ActorType::User, std::string("local-owner"), std::nullopt}; }
Actor known_control_plane(const brackfern::ControlPlaneId& id) {
  return Actor{ActorType::Service, id.str(), std::nullopt};
}
Actor unnamed_control_plane() { return Actor{ActorType::Service, std::nullopt, std::nullopt}; }
Actor node_itself() { return Actor{ActorType::System, std::nullopt, std::nullopt}; }
Actor unidentified_party() { return Actor{ActorType::Unknown, std::nullopt, std::nullopt}; }

Target control_plane_target(std::optional<std::string> id) {
  return Target{std::string(kControlPlaneTarget), std::move(id)};
}
Target bundle_target(std::string id) { return Target{std::string(kServiceBundleTarget), std::move(id)}; }

AuditEvent make(Actor actor, Target target, std::string_view action, AuditResult result, AuditCategory category,
                Timestamp now) {
  return AuditEvent::create(brackfern::ProductId::from_static(kProduct), std::move(actor), std::move(target),
                            std::string(action), result, category, now);
}

}  // namespace

AuditEvent offer_pending_event(const brackfern::ControlPlaneId& control_plane, Timestamp now) {
  return make(known_control_plane(control_plane), control_plane_target(control_plane.str()),
              "node.enrollment.offer_pending", AuditResult::Success, AuditCategory::DeviceManagement, now);
}

AuditEvent offer_refused_event(Timestamp now) {
  return make(unidentified_party(), control_plane_target(std::nullopt), "node.enrollment.offer_refused",
              AuditResult::Denied, AuditCategory::Authentication, now);
}

AuditEvent approved_event(const brackfern::ControlPlaneId& control_plane, Timestamp now) {
  return make(local_owner(), control_plane_target(control_plane.str()), "node.enrollment.approved",
              AuditResult::Success, AuditCategory::Authorization, now);
}

AuditEvent approve_refused_event(Timestamp now) {
  return make(local_owner(), control_plane_target(std::nullopt), "node.enrollment.approve_refused",
              AuditResult::Denied, AuditCategory::Authorization, now);
}

AuditEvent revoked_event(const brackfern::ControlPlaneId& control_plane, Timestamp now) {
  AuditEvent event = make(local_owner(), control_plane_target(control_plane.str()), "node.enrollment.revoked",
                          AuditResult::Success, AuditCategory::DeviceManagement, now);
  // A revocation is worth noticing although it succeeded.
  event.severity = brackfern::Severity::Notice;
  return event;
}

AuditEvent revoke_refused_event(Timestamp now) {
  return make(local_owner(), control_plane_target(std::nullopt), "node.enrollment.revoke_refused",
              AuditResult::Denied, AuditCategory::DeviceManagement, now);
}

AuditEvent bundle_admitted_event(BundleVersion version, Timestamp now) {
  return make(unnamed_control_plane(), bundle_target(std::to_string(version)), "node.bundle.admitted",
              AuditResult::Success, AuditCategory::ServiceLifecycle, now);
}

AuditEvent bundle_refused_event(std::string refusal_code, std::optional<BundleVersion> attempted, Timestamp now) {
  std::string target_id = attempted ? std::to_string(*attempted) : std::move(refusal_code);
  return make(unidentified_party(), bundle_target(std::move(target_id)), "node.bundle.refused", AuditResult::Denied,
              AuditCategory::Authorization, now);
}

AuditEvent precheck_failed_event(BundleVersion version, Timestamp now) {
  return make(node_itself(), bundle_target(std::to_string(version)), "node.bundle.precheck_failed",
              AuditResult::Failure, AuditCategory::ServiceLifecycle, now);
}

AuditEvent bundle_applied_event(BundleVersion version, Timestamp now) {
  return make(node_itself(), bundle_target(std::to_string(version)), "node.bundle.applied", AuditResult::Success,
              AuditCategory::ServiceLifecycle, now);
}

AuditEvent bundle_committed_event(BundleVersion version, Timestamp now) {
  return make(node_itself(), bundle_target(std::to_string(version)), "node.bundle.committed", AuditResult::Success,
              AuditCategory::ServiceLifecycle, now);
}

AuditEvent rolled_back_event(BundleVersion attempted, std::optional<BundleVersion> restored, Timestamp now) {
  std::string target_id =
      "attempted=" + std::to_string(attempted) + " restored=" + (restored ? std::to_string(*restored) : "none");
  return make(node_itself(), bundle_target(std::move(target_id)), "node.bundle.rolled_back", AuditResult::Failure,
              AuditCategory::ServiceLifecycle, now);
}

}  // namespace quillmere
