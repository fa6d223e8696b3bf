#include <quillmere/contracts/enrollment.hpp>

#include <brackfern/contracts/hex.hpp>
#include <brackfern/contracts/json_value.hpp>

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <functional>
#include <string>
#include <variant>
#include <vector>

namespace quillmere {
namespace {

using brackfern::JsonValue;
using brackfern::KeyId;
using brackfern::SigningKey;
using brackfern::Timestamp;

const Timestamp kNow = Timestamp::from_unix(1772352900);  // 2026-03-01T08:15:00Z
const std::string kOfferContext(brackfern::kEnrollmentOfferContext);
const std::string kBundleContext(brackfern::kServiceBundleContext);

SigningKey key_from(std::uint8_t fill) {
  std::array<std::uint8_t, 32> seed{};
  seed.fill(fill);
  return SigningKey::from_seed(seed);
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

EnrollmentOfferPayload payload_for(const SigningKey& key) {
  return EnrollmentOfferPayload{brackfern::ControlPlaneId::from_static("cp-main"), KeyId::create(),
                                ControlPlaneKeyMaterial(key.verifying_key()), Timestamp::from_unix(1772352000),
                                std::nullopt};
}

EnrollmentOffer sign_offer(const SigningKey& key, EnrollmentOfferPayload payload,
                           std::vector<std::string> context = {kOfferContext}) {
  auto offer = EnrollmentOffer::sign(std::move(payload), KeyId::create(), key, kNow, std::move(context));
  EXPECT_TRUE(offer.has_value());
  return std::move(*offer);
}

// Signs the envelope again after its header or payload was changed.
void resign(EnrollmentOffer& offer, const SigningKey& key) {
  offer.signature = *key.sign(offer.signing_view());
}

// ---------------------------------------------------------------------------
// verify_offer

struct OfferCase {
  const char* name;
  std::function<EnrollmentOffer()> make;
  std::string expected_debug;  // empty: the offer verifies
  bool debug_is_prefix = false;
};

std::vector<OfferCase> offer_cases() {
  return {
      {"a self-signed offer verifies", [] { return sign_offer(key_from(1), payload_for(key_from(1))); }, ""},
      {"63-character key",
       [] {
         auto p = payload_for(key_from(1));
         p.public_key = ControlPlaneKeyMaterial(p.public_key.text().substr(1));
         return sign_offer(key_from(1), p);
       },
       R"(InvalidKeyMaterial("expected 64 lowercase hex characters, got 63 characters"))"},
      {"key material is checked before the context",
       [] {
         auto p = payload_for(key_from(1));
         p.public_key = ControlPlaneKeyMaterial(p.public_key.text().substr(1));
         return sign_offer(key_from(1), p, {kBundleContext});
       },
       R"(InvalidKeyMaterial("expected 64 lowercase hex characters, got 63 characters"))"},
      {"non-hex character",
       [] {
         auto p = payload_for(key_from(1));
         p.public_key = ControlPlaneKeyMaterial(std::string(63, 'a') + "g");
         return sign_offer(key_from(1), p);
       },
       R"(InvalidKeyMaterial("expected 64 lowercase hex characters, got 64 characters"))"},
      {"length counts bytes, not characters",
       [] {
         auto p = payload_for(key_from(1));
         p.public_key = ControlPlaneKeyMaterial(std::string(62, 'a') + "\xC3\xA9");
         return sign_offer(key_from(1), p);
       },
       R"(InvalidKeyMaterial("expected 64 lowercase hex characters, got 64 characters"))"},
      {"upper-case hex verifies like lower case",
       [] {
         auto p = payload_for(key_from(1));
         p.public_key = ControlPlaneKeyMaterial(upper(p.public_key.text()));
         return sign_offer(key_from(1), p);
       },
       ""},
      {"bytes that are no curve point",
       [] {
         auto p = payload_for(key_from(1));
         p.public_key = ControlPlaneKeyMaterial("02" + std::string(62, '0'));
         return sign_offer(key_from(1), p, {kBundleContext});
       },
       R"(Core(Validation("invalid ed25519 public key: )", true},
      {"bundle context", [] { return sign_offer(key_from(1), payload_for(key_from(1)), {kBundleContext}); },
       R"(Core(Validation("envelope associated data does not match the expected context")))"},
      {"the offer context twice",
       [] {
         return sign_offer(key_from(1), payload_for(key_from(1)), {kOfferContext, kOfferContext});
       },
       R"(Core(Validation("envelope associated data does not match the expected context")))"},
      {"no context", [] { return sign_offer(key_from(1), payload_for(key_from(1)), {}); },
       R"(Core(Validation("envelope associated data does not match the expected context")))"},
      {"format version 2",
       [] {
         auto offer = sign_offer(key_from(1), payload_for(key_from(1)));
         offer.header.format_version = 2;
         return offer;
       },
       R"(Core(UnsupportedVersion { requested: "2", min: "1", max: "1" }))"},
      {"signed by a key other than the one it carries",
       [] { return sign_offer(key_from(2), payload_for(key_from(1))); }, "Core(SignatureInvalid)"},
      {"expired one second ago",
       [] {
         auto offer = sign_offer(key_from(1), payload_for(key_from(1)));
         offer.header.expires_at = Timestamp::from_unix(1772352899);
         resign(offer, key_from(1));
         return offer;
       },
       R"(Core(Expired { expired_at: "2026-03-01T08:14:59Z" }))"},
      {"expiring right now is still valid",
       [] {
         auto offer = sign_offer(key_from(1), payload_for(key_from(1)));
         offer.header.expires_at = kNow;
         resign(offer, key_from(1));
         return offer;
       },
       ""},
      {"a hint naming another node is accepted",
       [] {
         auto p = payload_for(key_from(1));
         p.node_hint = brackfern::NodeId::create();
         return sign_offer(key_from(1), p);
       },
       ""},
  };
}

TEST(VerifyOfferTest, ChecksInOrderAndStopsAtTheFirstFailure) {
  for (const OfferCase& c : offer_cases()) {
    SCOPED_TRACE(c.name);
    const EnrollmentOffer offer = c.make();
    auto verified = verify_offer(offer, kNow);
    if (c.expected_debug.empty()) {
      ASSERT_TRUE(verified.has_value()) << verified.error().debug();
      EXPECT_EQ(&verified->get(), &offer.payload);
    } else if (c.debug_is_prefix) {
      ASSERT_FALSE(verified.has_value());
      EXPECT_EQ(verified.error().debug().substr(0, c.expected_debug.size()), c.expected_debug);
    } else {
      ASSERT_FALSE(verified.has_value());
      EXPECT_EQ(verified.error().debug(), c.expected_debug);
    }
  }
}

TEST(VerifyOfferTest, ShortKeyShowsTheExactRefusalText) {
  auto p = payload_for(key_from(1));
  p.public_key = ControlPlaneKeyMaterial(p.public_key.text().substr(0, 63));
  const EnrollmentOffer offer = sign_offer(key_from(1), p);
  auto verified = verify_offer(offer, kNow);
  ASSERT_FALSE(verified.has_value());
  EXPECT_EQ("offer refused: " + verified.error().message(),
            "offer refused: invalid control-plane key material: expected 64 lowercase hex characters, got 63 "
            "characters");
}

TEST(VerifyOfferTest, ExtraPayloadMemberSignedOverIsNotCoveredAndFails) {
  const SigningKey key = key_from(1);
  EnrollmentOffer offer = sign_offer(key, payload_for(key));
  JsonValue payload = offer.payload.to_json();
  payload.add("comment", "signed but unknown to the node");
  offer.signature = *key.sign(brackfern::detail::envelope_signing_view(offer.header, payload));

  // The file as the control plane wrote it: the extra member is in the payload.
  JsonValue file = offer.to_json();
  for (brackfern::JsonMember& member : *file.as_object()) {
    if (member.key == "payload") member.value = payload;
  }
  auto read = brackfern::read_tree<EnrollmentOffer>(file);
  ASSERT_TRUE(read.has_value()) << read.error().debug();
  auto verified = verify_offer(*read, kNow);
  ASSERT_FALSE(verified.has_value());
  EXPECT_EQ(verified.error().debug(), "Core(SignatureInvalid)");
  EXPECT_EQ(verified.error().message(), "signature verification failed");
}

TEST(VerifyOfferTest, OfferReadFromItsFileVerifies) {
  const SigningKey key = key_from(3);
  const EnrollmentOffer offer = sign_offer(key, payload_for(key));
  auto text = brackfern::write_pretty_json(offer.to_json());
  auto parsed = brackfern::parse_json(text);
  ASSERT_TRUE(parsed.has_value());
  auto read = brackfern::read_tree<EnrollmentOffer>(*parsed);
  ASSERT_TRUE(read.has_value()) << read.error().debug();
  EXPECT_EQ(read->payload, offer.payload);
  EXPECT_TRUE(verify_offer(*read, kNow).has_value());
}

// ---------------------------------------------------------------------------
// Key material

TEST(ControlPlaneKeyMaterialTest, WritesLowerCaseHexAndReadsEitherCase) {
  const SigningKey key = key_from(7);
  const ControlPlaneKeyMaterial material(key.verifying_key());
  EXPECT_EQ(material.text().size(), 64u);
  EXPECT_EQ(material.text(), brackfern::to_hex(key.verifying_key().bytes()));
  EXPECT_EQ(material.text().find_first_not_of("0123456789abcdef"), std::string::npos);

  for (const std::string& text : {material.text(), upper(material.text())}) {
    auto decoded = ControlPlaneKeyMaterial(text).to_verifying_key();
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, key.verifying_key());
  }
  auto empty = ControlPlaneKeyMaterial("").to_verifying_key();
  ASSERT_FALSE(empty.has_value());
  EXPECT_EQ(empty.error().message(),
            "invalid control-plane key material: expected 64 lowercase hex characters, got 0 characters");
}

// ---------------------------------------------------------------------------
// Transitions

const auto kOldCp = brackfern::ControlPlaneId::from_static("cp-old");
const auto kOldKeyId = *KeyId::from_str("0e8f5a4c-1b2d-4e3f-9a5b-6c7d8e9f0a1b");
const ControlPlaneKeyMaterial kOldKey("ab" + std::string(62, '1'));
const Timestamp kEarlier = Timestamp::from_unix(1772000000);

EnrollmentState unenrolled() {
  return EnrollmentState::Unenrolled{};
}
EnrollmentState pending() {
  return EnrollmentState::PendingOwnerApproval{kOldCp, kOldKeyId, kOldKey, kEarlier};
}
EnrollmentState enrolled() {
  return EnrollmentState::Enrolled{kOldCp, kOldKeyId, kOldKey, kEarlier,
                                   LocalOwnerApproval{kEarlier, LocalApprovalMethod::InteractiveConsole}};
}
EnrollmentState revoked() {
  return EnrollmentState::Revoked{kOldCp, kEarlier};
}

enum class Command { Offer, Approve, Revoke };

struct TransitionCase {
  const char* name;
  EnrollmentState from;
  Command command;
  std::variant<EnrollmentState, std::string> expected;  // the new state, or the refusal's debug form
};

TEST(EnrollmentTransitionTest, EveryStateUnderEveryCommand) {
  const SigningKey key = key_from(5);
  EnrollmentOfferPayload offer = payload_for(key);
  offer.control_plane_id = brackfern::ControlPlaneId::from_static("cp-new");
  offer.node_hint = brackfern::NodeId::create();
  const LocalOwnerApproval approval{kNow, LocalApprovalMethod::LocalConfigFile};

  const EnrollmentState fresh_pending =
      EnrollmentState::PendingOwnerApproval{offer.control_plane_id, offer.key_id, offer.public_key, kNow};
  const EnrollmentState approved = EnrollmentState::Enrolled{kOldCp, kOldKeyId, kOldKey, kNow, approval};
  const EnrollmentState revoked_now = EnrollmentState::Revoked{kOldCp, kNow};

  const std::vector<TransitionCase> cases = {
      {"unenrolled, offer", unenrolled(), Command::Offer, fresh_pending},
      {"unenrolled, approve", unenrolled(), Command::Approve, std::string("NoPendingEnrollment")},
      {"unenrolled, revoke", unenrolled(), Command::Revoke, std::string("NothingToRevoke")},
      {"pending, offer replaces the older offer", pending(), Command::Offer, fresh_pending},
      {"pending, approve", pending(), Command::Approve, approved},
      {"pending, revoke", pending(), Command::Revoke, revoked_now},
      {"enrolled, offer discards the enrollment", enrolled(), Command::Offer, fresh_pending},
      {"enrolled, approve", enrolled(), Command::Approve, std::string("NoPendingEnrollment")},
      {"enrolled, revoke", enrolled(), Command::Revoke, revoked_now},
      {"revoked, offer", revoked(), Command::Offer, fresh_pending},
      {"revoked, approve", revoked(), Command::Approve, std::string("NoPendingEnrollment")},
      {"revoked, revoke again", revoked(), Command::Revoke, std::string("NothingToRevoke")},
  };
  for (const TransitionCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::expected<EnrollmentState, QuillmereError> result = [&]() -> std::expected<EnrollmentState, QuillmereError> {
      switch (c.command) {
        case Command::Offer:
          return receive_enrollment_offer(offer, kNow);
        case Command::Approve:
          return approve_pending_enrollment(c.from, approval);
        case Command::Revoke:
          return revoke_enrollment_locally(c.from, kNow);
      }
      return std::unexpected(QuillmereError(quillmere_error::OfferInvalid{}));
    }();
    if (const auto* state = std::get_if<EnrollmentState>(&c.expected)) {
      ASSERT_TRUE(result.has_value()) << result.error().debug();
      EXPECT_EQ(*result, *state) << brackfern::write_pretty_json(result->to_json());
    } else {
      ASSERT_FALSE(result.has_value());
      EXPECT_EQ(result.error().debug(), std::get<std::string>(c.expected));
    }
  }
}

TEST(EnrollmentTransitionTest, RefusalMessages) {
  auto approve =
      approve_pending_enrollment(unenrolled(), LocalOwnerApproval{kNow, LocalApprovalMethod::LocalConfigFile});
  ASSERT_FALSE(approve.has_value());
  EXPECT_EQ(approve.error().message(), "cannot approve enrollment: no offer is pending local owner review");
  auto revoke = revoke_enrollment_locally(revoked(), kNow);
  ASSERT_FALSE(revoke.has_value());
  EXPECT_EQ(revoke.error().message(), "cannot revoke: node is not currently enrolled or pending");
}

// ---------------------------------------------------------------------------
// Documents

TEST(EnrollmentStateJsonTest, WritesStatusFirstThenTheVariantMembers) {
  struct Case {
    const char* name;
    EnrollmentState state;
    std::string text;
  };
  const std::string key_text = kOldKey.text();
  const std::vector<Case> cases = {
      {"unenrolled", unenrolled(), "{\n  \"status\": \"unenrolled\"\n}"},
      {"pending", pending(),
       "{\n  \"status\": \"pending_owner_approval\",\n  \"control_plane_id\": \"cp-old\",\n  \"key_id\": "
       "\"0e8f5a4c-1b2d-4e3f-9a5b-6c7d8e9f0a1b\",\n  \"public_key\": \"" +
           key_text + "\",\n  \"offered_at\": \"2026-02-25T06:13:20Z\"\n}"},
      {"enrolled", enrolled(),
       "{\n  \"status\": \"enrolled\",\n  \"control_plane_id\": \"cp-old\",\n  \"key_id\": "
       "\"0e8f5a4c-1b2d-4e3f-9a5b-6c7d8e9f0a1b\",\n  \"public_key\": \"" +
           key_text +
           "\",\n  \"enrolled_at\": \"2026-02-25T06:13:20Z\",\n  \"approval\": {\n    \"approved_at\": "
           "\"2026-02-25T06:13:20Z\",\n    \"method\": \"interactive_console\"\n  }\n}"},
      {"revoked", revoked(),
       "{\n  \"status\": \"revoked\",\n  \"previously\": \"cp-old\",\n  \"revoked_at\": \"2026-02-25T06:13:20Z\"\n}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.state.status(), c.name == std::string("pending") ? "pending_owner_approval" : c.name);
    EXPECT_EQ(brackfern::write_pretty_json(c.state.to_json()), c.text);
    auto parsed = brackfern::parse_json(c.text);
    ASSERT_TRUE(parsed.has_value());
    auto read = brackfern::read_tree<EnrollmentState>(*parsed);
    ASSERT_TRUE(read.has_value()) << read.error().debug();
    EXPECT_EQ(*read, c.state);
  }
}

TEST(EnrollmentStateJsonTest, ReadingFindsStatusAnywhereAndIgnoresOtherMembers) {
  struct Case {
    const char* name;
    std::string text;
    std::string error;  // empty: reads
  };
  const std::vector<Case> cases = {
      {"status last", R"({"previously": "cp-a", "revoked_at": "2026-03-01T08:15:00Z", "status": "revoked"})", ""},
      {"unknown members ignored", R"({"status": "unenrolled", "control_plane_id": 5})", ""},
      {"upper-case key kept as given",
       R"({"status": "pending_owner_approval", "control_plane_id": "cp-a", "key_id": "0e8f5a4c-1b2d-4e3f-9a5b-6c7d8e9f0a1b", "public_key": "ABCDEF", "offered_at": "2026-03-01T08:15:00Z"})",
       ""},
      {"no status", R"({"previously": "cp-a"})", "missing field `status`"},
      {"unknown status", R"({"status": "paused"})",
       "unknown variant `paused`, expected one of `unenrolled`, `pending_owner_approval`, `enrolled`, `revoked`"},
      {"variant member missing", R"({"status": "revoked", "previously": "cp-a"})", "missing field `revoked_at`"},
      {"approval method unknown",
       R"({"status": "enrolled", "control_plane_id": "cp-a", "key_id": "0e8f5a4c-1b2d-4e3f-9a5b-6c7d8e9f0a1b", "public_key": "00", "enrolled_at": "2026-03-01T08:15:00Z", "approval": {"approved_at": "2026-03-01T08:15:00Z", "method": "remote"}})",
       "unknown variant `remote`, expected `interactive_console` or `local_config_file`"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto parsed = brackfern::parse_json(c.text);
    ASSERT_TRUE(parsed.has_value());
    auto read = brackfern::read_tree<EnrollmentState>(*parsed);
    if (c.error.empty()) {
      ASSERT_TRUE(read.has_value()) << read.error().debug();
      EXPECT_EQ(brackfern::write_pretty_json(read->to_json()).find("\"status\""), 4u);
    } else {
      ASSERT_FALSE(read.has_value());
      EXPECT_EQ(read.error().message, c.error);
    }
  }
}

// The status is judged where it stands (before anything after it, even a
// syntax error); every other problem, a repeated name too, only once the
// whole object is read, so at its closing brace.
TEST(EnrollmentStateJsonTest, StatusIsJudgedWhereItIsAndTheRestAtTheClosingBrace) {
  struct Case {
    std::string text;
    std::string error;
  };
  const std::string approval_at = R"({"approved_at": "2026-03-01T08:15:00Z", "method": 7})";
  const std::string enrolled =
      R"({"status": "enrolled", "control_plane_id": "cp-a", "key_id": "0e8f5a4c-1b2d-4e3f-9a5b-6c7d8e9f0a1b", )"
      R"("public_key": "00", "enrolled_at": "2026-03-01T08:15:00Z", "approval": )" +
      approval_at + "}";
  const auto at_end = [](const std::string& message, const std::string& text) {
    return "Error(\"" + message + "\", line: 1, column: " + std::to_string(text.size()) + ")";
  };
  const std::string repeated_previously =
      R"({"status": "revoked", "previously": "cp-a", "previously": "cp-b", "revoked_at": "2026-03-01T08:15:00Z"})";
  std::string repeated_in_approval = enrolled;
  repeated_in_approval.replace(repeated_in_approval.find(R"("method": 7)"), 11,
                               R"("method": "local_config_file", "method": "interactive_console")");
  const std::string repeated_unknown = R"({"status": "unenrolled", "x": {"a": 1, "a": 2}})";
  const std::vector<Case> cases = {
      {R"({"status": 5})", R"(Error("invalid type: integer `5`, expected variant identifier", line: 1, column: 12))"},
      {R"({"status": ["revoked"]})",
       R"(Error("invalid type: sequence, expected variant identifier", line: 1, column: 11))"},
      {R"({"status": "paused", "x": 1})",
       R"(Error("unknown variant `paused`, expected one of `unenrolled`, `pending_owner_approval`, `enrolled`, `revoked`", line: 1, column: 19))"},
      {R"({"status": "revoked", "previously": 5, "revoked_at": "x"})",
       R"(Error("invalid type: integer `5`, expected a string", line: 1, column: 57))"},
      {R"({"previously": "cp-a", "revoked_at": "yesterday", "status": "revoked"})",
       R"(Error("validation failed: invalid RFC 3339 timestamp \"yesterday\": the 'year' component could not be parsed", line: 1, column: 70))"},
      {enrolled, at_end("expected value", enrolled)},
      {R"({"status": "paused", "x": tru})",
       R"(Error("unknown variant `paused`, expected one of `unenrolled`, `pending_owner_approval`, `enrolled`, `revoked`", line: 1, column: 19))"},
      {repeated_previously, at_end("duplicate field `previously`", repeated_previously)},
      {repeated_in_approval, at_end("duplicate field `method`", repeated_in_approval)},
      {repeated_unknown, at_end("duplicate field `a`", repeated_unknown)},
      // A syntax error after a repeated name comes before the object's end.
      {R"({"status": "revoked", "previously": "a", "previously": "b", "revoked_at": tru})",
       R"(Error("expected ident", line: 1, column: 78))"},
      {R"({"status": "unenrolled", "x": {"y": 1 "z": 2}})", R"(Error("expected `,` or `}`", line: 1, column: 39))"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto read = brackfern::read_document<EnrollmentState>(c.text);
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error().debug(), c.error);
  }
}

TEST(EnrollmentStateJsonTest, KeyMaterialIsKeptExactlyAsGiven) {
  auto parsed = brackfern::parse_json(
      R"({"status": "pending_owner_approval", "control_plane_id": "cp-a", "key_id": "0E8F5A4C-1B2D-4E3F-9A5B-6C7D8E9F0A1B", "public_key": "ABCDEF", "offered_at": "2026-03-01T08:15:00Z"})");
  ASSERT_TRUE(parsed.has_value());
  auto read = brackfern::read_tree<EnrollmentState>(*parsed);
  ASSERT_TRUE(read.has_value()) << read.error().debug();
  const auto* state = read->get_if<EnrollmentState::PendingOwnerApproval>();
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->public_key.text(), "ABCDEF");
  EXPECT_EQ(state->key_id.to_string(), "0e8f5a4c-1b2d-4e3f-9a5b-6c7d8e9f0a1b");
}

TEST(EnrollmentOfferPayloadTest, NodeHintIsOmittedWhenAbsentAndUnknownMembersAreIgnored) {
  EnrollmentOfferPayload payload = payload_for(key_from(1));
  const JsonValue without_hint = payload.to_json();
  EXPECT_EQ(without_hint.find("node_hint"), nullptr);
  const auto* members = without_hint.as_object();
  ASSERT_NE(members, nullptr);
  ASSERT_EQ(members->size(), 4u);
  EXPECT_EQ((*members)[0].key, "control_plane_id");
  EXPECT_EQ((*members)[3].key, "offered_at");

  payload.node_hint = brackfern::NodeId::create();
  JsonValue written = payload.to_json();
  ASSERT_NE(written.find("node_hint"), nullptr);
  written.add("extra", true);
  auto read = brackfern::read_tree<EnrollmentOfferPayload>(written);
  ASSERT_TRUE(read.has_value()) << read.error().debug();
  EXPECT_EQ(*read, payload);

  auto text = brackfern::parse_json(
      R"({"control_plane_id": "cp-a", "key_id": "0e8f5a4c-1b2d-4e3f-9a5b-6c7d8e9f0a1b", "public_key": "x", "offered_at": "2026-03-01T08:15:00Z", "node_hint": null})");
  ASSERT_TRUE(text.has_value());
  auto with_null = brackfern::read_tree<EnrollmentOfferPayload>(*text);
  ASSERT_TRUE(with_null.has_value()) << with_null.error().debug();
  EXPECT_FALSE(with_null->node_hint.has_value());
}

}  // namespace
}  // namespace quillmere
