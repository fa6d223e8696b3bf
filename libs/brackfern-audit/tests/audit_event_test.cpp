#include <brackfern/audit/audit_event.hpp>

#include <brackfern/contracts/json_value.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace brackfern {
namespace {

Timestamp at(std::string_view text) { return Timestamp::from_str(text).value(); }

AuditEvent applied_event() {
  return AuditEvent::create(ProductId::from_static("quillmere"), Actor{ActorType::System, std::nullopt, std::nullopt},
                            Target{"service_bundle", "7"}, "node.bundle.applied", AuditResult::Success,
                            AuditCategory::ServiceLifecycle, at("2026-03-01T08:15:00Z"));
}

JsonValue parse(std::string_view text) {
  auto parsed = parse_json(text);
  EXPECT_TRUE(parsed.has_value()) << (parsed ? "" : parsed.error().debug());
  return parsed ? std::move(*parsed) : JsonValue();
}

TEST(AuditEventTest, FreshEventWritesExactlyItsTenMembersInOrder) {
  const AuditEvent event = applied_event();
  const std::string id = event.event_id.to_string();
  EXPECT_EQ(write_pretty_json(event.to_json()),
            "{\n"
            "  \"event_id\": \"" + id + "\",\n"
            "  \"product_id\": \"quillmere\",\n"
            "  \"actor\": {\n"
            "    \"actor_type\": \"system\"\n"
            "  },\n"
            "  \"target\": {\n"
            "    \"target_type\": \"service_bundle\",\n"
            "    \"target_id\": \"7\"\n"
            "  },\n"
            "  \"action\": \"node.bundle.applied\",\n"
            "  \"result\": \"success\",\n"
            "  \"severity\": \"info\",\n"
            "  \"category\": \"service_lifecycle\",\n"
            "  \"occurred_at\": \"2026-03-01T08:15:00Z\",\n"
            "  \"retention_class\": \"operational\"\n"
            "}");
}

TEST(AuditEventTest, FreshEventsHaveDistinctVersionFourIds) {
  const AuditEvent a = applied_event();
  const AuditEvent b = applied_event();
  EXPECT_NE(a.event_id, b.event_id);
  EXPECT_EQ(a.event_id.to_string()[14], '4');
  EXPECT_FALSE(a.previous_event_hash.has_value());
  EXPECT_TRUE(a.redaction_markers.empty());
}

TEST(AuditEventTest, ActorAndTargetWithoutIdsWriteOneMember) {
  EXPECT_EQ((Actor{ActorType::Unknown, std::nullopt, std::nullopt}.to_json()), parse(R"({"actor_type":"unknown"})"));
  EXPECT_EQ((Target{"control_plane", std::nullopt}.to_json()), parse(R"({"target_type":"control_plane"})"));
  EXPECT_EQ((Actor{ActorType::FederationPeer, "peer", ByteString{0, 9}}.to_json()),
            parse(R"({"actor_type":"federation_peer","actor_id":"peer","display_name_encrypted":[0,9]})"));
}

TEST(AuditEventTest, SeverityFollowsTheResult) {
  const struct {
    AuditResult result;
    Severity severity;
  } cases[] = {
      {AuditResult::Success, Severity::Info},   {AuditResult::Failure, Severity::Notice},
      {AuditResult::Denied, Severity::Notice},  {AuditResult::Cancelled, Severity::Info},
      {AuditResult::Expired, Severity::Notice}, {AuditResult::Partial, Severity::Info},
      {AuditResult::Unknown, Severity::Info},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(json_name(c.result));
    const AuditEvent event = AuditEvent::create(ProductId::from_static("quillmere"), Actor{}, Target{"x", {}}, "a",
                                                c.result, AuditCategory::Backup, at("2026-01-01T00:00:00Z"));
    EXPECT_EQ(event.severity, c.severity);
    EXPECT_EQ(event.result, c.result);
  }
}

TEST(AuditEventTest, RetentionClassFollowsTheCategory) {
  const struct {
    AuditCategory category;
    std::string_view retention;
  } cases[] = {
      {AuditCategory::Authentication, "security"},      {AuditCategory::Authorization, "security"},
      {AuditCategory::Configuration, "operational"},    {AuditCategory::KeyManagement, "security"},
      {AuditCategory::DeviceManagement, "operational"}, {AuditCategory::DataAccess, "operational"},
      {AuditCategory::ServiceLifecycle, "operational"}, {AuditCategory::NetworkExposure, "security"},
      {AuditCategory::Backup, "operational"},           {AuditCategory::Restore, "operational"},
      {AuditCategory::Federation, "operational"},       {AuditCategory::Policy, "operational"},
      {AuditCategory::Security, "security"},            {AuditCategory::Privacy, "privacy_sensitive"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(json_name(c.category));
    const AuditEvent event = AuditEvent::create(ProductId::from_static("quillmere"), Actor{}, Target{"x", {}}, "a",
                                                AuditResult::Success, c.category, at("2026-01-01T00:00:00Z"));
    EXPECT_EQ(json_name(event.retention_class), c.retention);
  }
}

TEST(AuditEventTest, EnumerationNamesReadBackAndUnknownNamesAreRefused) {
  const struct {
    std::string_view json;
    std::string_view display;
  } categories[] = {
      {"authentication", "Authentication"},       {"authorization", "Authorization"},
      {"configuration", "Configuration"},         {"key_management", "KeyManagement"},
      {"device_management", "DeviceManagement"},  {"data_access", "DataAccess"},
      {"service_lifecycle", "ServiceLifecycle"},  {"network_exposure", "NetworkExposure"},
      {"backup", "Backup"},                       {"restore", "Restore"},
      {"federation", "Federation"},               {"policy", "Policy"},
      {"security", "Security"},                   {"privacy", "Privacy"},
  };
  for (std::size_t i = 0; i < std::size(categories); ++i) {
    SCOPED_TRACE(categories[i].json);
    const auto value = static_cast<AuditCategory>(i);
    EXPECT_EQ(json_name(value), categories[i].json);
    EXPECT_EQ(display_name(value), categories[i].display);
    EXPECT_EQ(read_tree_with(JsonValue(categories[i].json), enum_from_json<AuditCategory>), value);
  }
  EXPECT_EQ(read_tree_with(JsonValue("federation_peer"), enum_from_json<ActorType>), ActorType::FederationPeer);
  EXPECT_EQ(read_tree_with(JsonValue("legal_hold"), enum_from_json<RetentionClass>), RetentionClass::LegalHold);
  EXPECT_EQ(read_tree_with(JsonValue("audience_restricted"), enum_from_json<RedactionReason>), RedactionReason::AudienceRestricted);
  EXPECT_EQ(display_name(Severity::Critical), "Critical");
  EXPECT_EQ(display_name(AuditResult::Cancelled), "Cancelled");

  const auto refused = read_tree_with(JsonValue("Info"), enum_from_json<Severity>);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().message,
            "unknown variant `Info`, expected one of `info`, `notice`, `warning`, `error`, `critical`");
}

TEST(AuditEventTest, TextFormNamesTimeProductCategoryActionResultAndSeverity) {
  EXPECT_EQ(applied_event().to_string(),
            "[2026-03-01T08:15:00Z] quillmere ServiceLifecycle node.bundle.applied result=Success severity=Info");
}

// The ten required members of an event, as JSON text, for building inputs.
std::vector<std::pair<std::string, std::string>> base_members() {
  return {
      {"event_id", R"("9b2e4c1a-6f0d-4e8b-a7c3-5d1f2e3a4b5c")"},
      {"product_id", R"("quillmere")"},
      {"actor", R"({"actor_type":"user","actor_id":"local-owner"})"},
      {"target", R"({"target_type":"control_plane","target_id":"cp-main"})"},
      {"action", R"("node.enrollment.approved")"},
      {"result", R"("success")"},
      {"severity", R"("info")"},
      {"category", R"("authorization")"},
      {"occurred_at", R"("2026-03-01T08:15:00Z")"},
      {"retention_class", R"("security")"},
  };
}

// Builds an event object text: the base members with `replace` applied (an
// empty value removes a member) and `extra` added, every member of the event
// record at its declaration position and any other name at the end.
std::string event_text(const std::vector<std::pair<std::string, std::string>>& replace,
                       const std::vector<std::pair<std::string, std::string>>& extra) {
  static const std::vector<std::string> order = {
      "event_id",    "tenant_id",   "workspace_id",   "product_id",         "source_node_id",  "actor",
      "target",      "action",      "result",         "severity",           "category",        "occurred_at",
      "received_at", "correlation_id", "metadata_encrypted", "retention_class", "redaction_markers",
      "previous_event_hash"};
  std::vector<std::pair<std::string, std::string>> members = base_members();
  for (const auto& [key, value] : replace) {
    for (auto& member : members) {
      if (member.first == key) member.second = value;
    }
  }
  members.insert(members.end(), extra.begin(), extra.end());
  const auto rank = [&](const std::string& key) {
    return static_cast<std::size_t>(std::find(order.begin(), order.end(), key) - order.begin());
  };
  std::stable_sort(members.begin(), members.end(),
                   [&](const auto& a, const auto& b) { return rank(a.first) < rank(b.first); });
  std::string out = "{";
  for (const auto& [key, value] : members) {
    if (value.empty()) continue;
    if (out.size() > 1) out += ",";
    out += "\"" + key + "\":" + value;
  }
  return out + "}";
}

TEST(AuditEventTest, ReadingAndWritingBackFollowsTheAbsenceRules) {
  const std::string base = event_text({}, {});
  const struct Case {
    const char* name;
    std::string input;
    std::string written;  // expected output, compact; members in written order
  } cases[] = {
      {"plain event round-trips", base, base},
      {"received_at null reads as absent", event_text({}, {{"received_at", "null"}}), base},
      {"every optional member null", event_text({}, {{"tenant_id", "null"}, {"workspace_id", "null"},
                                                     {"source_node_id", "null"}, {"correlation_id", "null"},
                                                     {"metadata_encrypted", "null"},
                                                     {"previous_event_hash", "null"}}),
       base},
      {"empty redaction_markers is left out", event_text({}, {{"redaction_markers", "[]"}}), base},
      {"empty metadata_encrypted is kept", event_text({}, {{"metadata_encrypted", "[]"}}),
       event_text({}, {{"metadata_encrypted", "[]"}})},
      {"unknown member is dropped", event_text({}, {{"origin", R"({"deep":[1,2]})"}}), base},
      {"actor ids null", event_text({{"actor", R"({"actor_type":"user","actor_id":null,"display_name_encrypted":null})"}}, {}),
       event_text({{"actor", R"({"actor_type":"user"})"}}, {})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto event = brackfern::read_tree<AuditEvent>(parse(c.input));
    ASSERT_TRUE(event.has_value()) << event.error().debug();
    EXPECT_EQ(event->to_json(), parse(c.written));
  }
}

TEST(AuditEventTest, EveryMemberPresentRoundTripsInDeclarationOrder) {
  const std::string full =
      R"({"event_id":"9b2e4c1a-6f0d-4e8b-a7c3-5d1f2e3a4b5c",)"
      R"("tenant_id":"00000000-0000-4000-8000-000000000001",)"
      R"("workspace_id":"00000000-0000-4000-8000-000000000002",)"
      R"("product_id":"quillmere",)"
      R"("source_node_id":"00000000-0000-4000-8000-000000000003",)"
      R"("actor":{"actor_type":"administrator","actor_id":"admin","display_name_encrypted":[1,2,255]},)"
      R"("target":{"target_type":"service_bundle","target_id":"4"},)"
      R"("action":"node.bundle.committed","result":"partial","severity":"critical","category":"restore",)"
      R"("occurred_at":"2026-03-01T08:15:00.5Z","received_at":"2026-03-01T08:15:01Z",)"
      R"("correlation_id":"run-17","metadata_encrypted":[0,128,255],"retention_class":"legal_hold",)"
      R"("redaction_markers":[{"field_path":"actor.actor_id","reason":"personal_data",)"
      R"("redaction_policy_id":"00000000-0000-4000-8000-000000000004","applied_at":"2026-03-02T00:00:00Z",)"
      R"("applied_by":"00000000-0000-4000-8000-000000000005"},{"field_path":"correlation_id","reason":"oversized"}],)"
      R"("previous_event_hash":"blake3:af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262"})";
  auto event = brackfern::read_tree<AuditEvent>(parse(full));
  ASSERT_TRUE(event.has_value()) << event.error().debug();
  EXPECT_EQ(event->to_json(), parse(full));
  ASSERT_EQ(event->redaction_markers.size(), 2U);
  EXPECT_EQ(event->redaction_markers[1].reason, RedactionReason::Oversized);
  EXPECT_EQ(event->metadata_encrypted, (ByteString{0, 128, 255}));
}

TEST(AuditEventTest, IdentifiersInOtherFormsAreWrittenBackHyphenatedLowerCase) {
  auto event = brackfern::read_tree<AuditEvent>(
      parse(event_text({{"event_id", R"("{9B2E4C1A-6F0D-4E8B-A7C3-5D1F2E3A4B5C}")"}},
                       {{"previous_event_hash",
                         R"("blake3:AF1349B9F5F9A1A6A0404DEA36DCC9499BCB25C9ADC112B7CC9A93CAE41F3262")"}})));
  ASSERT_TRUE(event.has_value()) << event.error().debug();
  EXPECT_EQ(event->event_id.to_string(), "9b2e4c1a-6f0d-4e8b-a7c3-5d1f2e3a4b5c");
  EXPECT_EQ(event->previous_event_hash->to_string(),
            "blake3:af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262");
}

TEST(AuditEventTest, MalformedEventsAreRefusedWithTheReadersMessage) {
  const struct Case {
    const char* name;
    std::string input;
    std::string message;
  } cases[] = {
      {"byte above 255", event_text({}, {{"metadata_encrypted", "[256]"}}),
       "invalid value: integer `256`, expected u8"},
      {"negative byte", event_text({}, {{"metadata_encrypted", "[1,-1]"}}),
       "invalid value: integer `-1`, expected u8"},
      {"missing action", event_text({{"action", ""}}, {}), "missing field `action`"},
      {"missing actor type", event_text({{"actor", R"({"actor_id":"x"})"}}, {}), "missing field `actor_type`"},
      {"required member null", event_text({{"action", "null"}}, {}), "invalid type: null, expected a string"},
      {"unknown result", event_text({{"result", R"("ok")"}}, {}),
       "unknown variant `ok`, expected one of `success`, `failure`, `denied`, `cancelled`, `expired`, `partial`, "
       "`unknown`"},
      {"redaction_markers null", event_text({}, {{"redaction_markers", "null"}}),
       "invalid type: null, expected a sequence"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto event = brackfern::read_tree<AuditEvent>(parse(c.input));
    ASSERT_FALSE(event.has_value());
    EXPECT_EQ(event.error().message, c.message);
  }
}

TEST(AuditEventTest, SignedEventRoundTripsAndNeedsAnUnsignedSequence) {
  const std::string signature(128, 'a');
  const std::string text = R"({"event":)" + event_text({}, {}) + R"(,"sequence":18446744073709551615,"signature":")" +
                           std::string(128, 'A') + "\"}";
  auto signed_event = brackfern::read_tree<SignedAuditEvent>(parse(text));
  ASSERT_TRUE(signed_event.has_value()) << signed_event.error().debug();
  EXPECT_EQ(signed_event->sequence, 18446744073709551615ULL);
  EXPECT_EQ(signed_event->to_json(),
            parse(R"({"event":)" + event_text({}, {}) + R"(,"sequence":18446744073709551615,"signature":")" +
                  signature + "\"}"));

  auto negative = brackfern::read_tree<SignedAuditEvent>(
      parse(R"({"event":)" + event_text({}, {}) + R"(,"sequence":-1,"signature":")" + signature + "\"}"));
  ASSERT_FALSE(negative.has_value());
  EXPECT_EQ(negative.error().message, "invalid value: integer `-1`, expected u64");

  auto unsigned_entry = brackfern::read_tree<SignedAuditEvent>(parse(R"({"event":)" + event_text({}, {}) + R"(,"sequence":1})"));
  ASSERT_FALSE(unsigned_entry.has_value());
  EXPECT_EQ(unsigned_entry.error().message, "missing field `signature`");
}

}  // namespace
}  // namespace brackfern
