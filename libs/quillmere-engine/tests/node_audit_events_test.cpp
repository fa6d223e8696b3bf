#include <quillmere/engine/node_audit_events.hpp>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quillmere {
namespace {

using brackfern::AuditEvent;

brackfern::Timestamp when() { return brackfern::Timestamp::from_str("2026-03-01T08:15:00Z").value(); }
brackfern::ControlPlaneId cp() { return brackfern::ControlPlaneId::create("cp-main").value(); }

TEST(NodeAuditEventsTest, EveryEventCarriesItsFixedMemberValues) {
  const struct Case {
    AuditEvent event;
    std::string_view action;
    std::string_view actor_type;
    std::optional<std::string> actor_id;
    std::string_view target_type;
    std::optional<std::string> target_id;
    std::string_view result;
    std::string_view category;
    std::string_view severity;
    std::string_view retention;
  } cases[] = {
      {offer_pending_event(cp(), when()), "node.enrollment.offer_pending", "service", "cp-main", "control_plane",
       "cp-main", "success", "device_management", "info", "operational"},
      {offer_refused_event(when()), "node.enrollment.offer_refused", "unknown", std::nullopt, "control_plane",
       std::nullopt, "denied", "authentication", "notice", "security"},
      {approved_event(cp(), when()), "node.enrollment.approved", "user", "local-owner", "control_plane", "cp-main",
       "success", "authorization", "info", "security"},
      {approve_refused_event(when()), "node.enrollment.approve_refused", "user", "local-owner", "control_plane",
       std::nullopt, "denied", "authorization", "notice", "security"},
      {revoked_event(cp(), when()), "node.enrollment.revoked", "user", "local-owner", "control_plane", "cp-main",
       "success", "device_management", "notice", "operational"},
      {revoke_refused_event(when()), "node.enrollment.revoke_refused", "user", "local-owner", "control_plane",
       std::nullopt, "denied", "device_management", "notice", "operational"},
      {bundle_admitted_event(7, when()), "node.bundle.admitted", "service", std::nullopt, "service_bundle", "7",
       "success", "service_lifecycle", "info", "operational"},
      {bundle_refused_event("downgrade", 3, when()), "node.bundle.refused", "unknown", std::nullopt,
       "service_bundle", "3", "denied", "authorization", "notice", "security"},
      {bundle_refused_event("wrong_node", std::nullopt, when()), "node.bundle.refused", "unknown", std::nullopt,
       "service_bundle", "wrong_node", "denied", "authorization", "notice", "security"},
      {precheck_failed_event(2, when()), "node.bundle.precheck_failed", "system", std::nullopt, "service_bundle",
       "2", "failure", "service_lifecycle", "notice", "operational"},
      {bundle_applied_event(18446744073709551615ULL, when()), "node.bundle.applied", "system", std::nullopt,
       "service_bundle", "18446744073709551615", "success", "service_lifecycle", "info", "operational"},
      {bundle_committed_event(5, when()), "node.bundle.committed", "system", std::nullopt, "service_bundle", "5",
       "success", "service_lifecycle", "info", "operational"},
      {rolled_back_event(4, 3, when()), "node.bundle.rolled_back", "system", std::nullopt, "service_bundle",
       "attempted=4 restored=3", "failure", "service_lifecycle", "notice", "operational"},
      {rolled_back_event(1, std::nullopt, when()), "node.bundle.rolled_back", "system", std::nullopt,
       "service_bundle", "attempted=1 restored=none", "failure", "service_lifecycle", "notice", "operational"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.action) + " " + c.event.target.target_id.value_or("-"));
    const AuditEvent& e = c.event;
    EXPECT_EQ(e.action, c.action);
    EXPECT_EQ(e.product_id.str(), "quillmere");
    EXPECT_EQ(brackfern::json_name(e.actor.actor_type), c.actor_type);
    EXPECT_EQ(e.actor.actor_id, c.actor_id);
    EXPECT_FALSE(e.actor.display_name_encrypted.has_value());
    EXPECT_EQ(e.target.target_type, c.target_type);
    EXPECT_EQ(e.target.target_id, c.target_id);
    EXPECT_EQ(brackfern::json_name(e.result), c.result);
    EXPECT_EQ(brackfern::json_name(e.category), c.category);
    EXPECT_EQ(brackfern::json_name(e.severity), c.severity);
    EXPECT_EQ(brackfern::json_name(e.retention_class), c.retention);
    EXPECT_EQ(e.occurred_at, when());
    EXPECT_FALSE(e.tenant_id || e.workspace_id || e.source_node_id || e.received_at || e.correlation_id ||
                 e.metadata_encrypted || e.previous_event_hash);
    EXPECT_TRUE(e.redaction_markers.empty());
  }
}

TEST(NodeAuditEventsTest, RefusedOfferWritesActorAndTargetWithoutIds) {
  const brackfern::JsonValue json = offer_refused_event(when()).to_json();
  EXPECT_EQ(brackfern::write_pretty_json(*json.find("actor")), "{\n  \"actor_type\": \"unknown\"\n}");
  EXPECT_EQ(brackfern::write_pretty_json(*json.find("target")), "{\n  \"target_type\": \"control_plane\"\n}");
}

TEST(NodeAuditEventsTest, TextFormOfARollbackEndsWithFailureAndNotice) {
  EXPECT_EQ(rolled_back_event(4, 3, when()).to_string(),
            "[2026-03-01T08:15:00Z] quillmere ServiceLifecycle node.bundle.rolled_back result=Failure severity=Notice");
  EXPECT_EQ(bundle_applied_event(7, when()).to_string(),
            "[2026-03-01T08:15:00Z] quillmere ServiceLifecycle node.bundle.applied result=Success severity=Info");
}

TEST(NodeAuditEventsTest, EachEventHasAFreshId) {
  EXPECT_NE(bundle_committed_event(5, when()).event_id, bundle_committed_event(5, when()).event_id);
}

}  // namespace
}  // namespace quillmere
