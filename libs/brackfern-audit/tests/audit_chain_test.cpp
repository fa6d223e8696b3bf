#include <brackfern/audit/audit_chain.hpp>
#include <brackfern/crypto/canonical_json.hpp>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace brackfern {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

SigningKey key_from(std::uint8_t fill) {
  std::array<std::uint8_t, 32> seed{};
  seed.fill(fill);
  return SigningKey::from_seed(seed);
}

AuditEvent event_number(int n) {
  return AuditEvent::create(ProductId::from_static("quillmere"), Actor{ActorType::System, std::nullopt, std::nullopt},
                            Target{"service_bundle", std::to_string(n)}, "node.bundle.applied", AuditResult::Success,
                            AuditCategory::ServiceLifecycle, Timestamp::from_unix(1772352900 + n));
}

std::vector<SignedAuditEvent> make_log(int count, const SigningKey& key) {
  AuditChain chain = AuditChain::create();
  std::vector<SignedAuditEvent> log;
  for (int i = 1; i <= count; ++i) log.push_back(chain.append(event_number(i), key).value());
  return log;
}

ContentHash hash_of(const AuditEvent& event) {
  return blake3_hash(audit_event_bytes(event).value());
}

std::string verify_message(const std::vector<SignedAuditEvent>& log, const VerifyingKey& key) {
  auto verified = verify_chain(log, key);
  return verified ? std::string("ok") : verified.error().message();
}

TEST(AuditChainTest, EventBytesAreTheCanonicalJsonOfTheEventAlone) {
  AuditEvent event = event_number(7);
  event.event_id = AuditEventId::from_str("9b2e4c1a-6f0d-4e8b-a7c3-5d1f2e3a4b5c").value();
  event.actor.actor_id = "caf\x65\xcc\x81";  // e + combining acute composes to é
  EXPECT_EQ(audit_event_bytes(event).value(),
            R"({"action":"node.bundle.applied","actor":{"actor_id":"caf)"
            "\xc3\xa9"
            R"(","actor_type":"system"},"category":"service_lifecycle",)"
            R"("event_id":"9b2e4c1a-6f0d-4e8b-a7c3-5d1f2e3a4b5c","occurred_at":"2026-03-01T08:15:07Z",)"
            R"("product_id":"quillmere","result":"success","retention_class":"operational","severity":"info",)"
            R"("target":{"target_id":"7","target_type":"service_bundle"}})");
}

TEST(AuditChainTest, AppendLinksNumbersAndSignsEachEvent) {
  const SigningKey key = key_from(1);
  AuditChain chain = AuditChain::create();
  EXPECT_EQ(chain.sequence(), 0U);
  EXPECT_FALSE(chain.head().has_value());

  const SignedAuditEvent first = chain.append(event_number(1), key).value();
  EXPECT_EQ(first.sequence, 1U);
  EXPECT_FALSE(first.event.previous_event_hash.has_value());
  EXPECT_EQ(chain.sequence(), 1U);
  ASSERT_TRUE(chain.head().has_value());
  EXPECT_EQ(*chain.head(), hash_of(first.event));
  EXPECT_EQ(chain.head()->to_string().size(), 71U);
  EXPECT_EQ(chain.head()->to_string().substr(0, 7), "blake3:");
  EXPECT_TRUE(key.verifying_key().verify(audit_event_bytes(first.event).value(), first.signature).has_value());

  const SignedAuditEvent second = chain.append(event_number(2), key).value();
  EXPECT_EQ(second.sequence, 2U);
  EXPECT_EQ(second.event.previous_event_hash, hash_of(first.event));
  EXPECT_EQ(*chain.head(), hash_of(second.event));
}

TEST(AuditChainTest, AppendReplacesALinkTheEventAlreadyHad) {
  const SigningKey key = key_from(1);
  AuditEvent event = event_number(1);
  event.previous_event_hash = blake3_hash(std::string_view("elsewhere"));
  AuditChain chain = AuditChain::create();
  const SignedAuditEvent entry = chain.append(std::move(event), key).value();
  EXPECT_FALSE(entry.event.previous_event_hash.has_value());
}

TEST(AuditChainTest, ResumeContinuesAtTheStoredHeadAndSequence) {
  const SigningKey key = key_from(1);
  std::vector<SignedAuditEvent> log = make_log(3, key);
  AuditChain chain = AuditChain::resume(hash_of(log.back().event), 3);
  EXPECT_EQ(chain.sequence(), 3U);
  log.push_back(chain.append(event_number(4), key).value());
  EXPECT_EQ(log.back().sequence, 4U);
  EXPECT_EQ(verify_message(log, key.verifying_key()), "ok");
}

TEST(AuditChainTest, ResumeWithoutHeadStartsAFreshChain) {
  const SigningKey key = key_from(1);
  std::vector<SignedAuditEvent> log = make_log(4, key);
  AuditChain chain = AuditChain::resume(std::nullopt, 4);
  EXPECT_EQ(chain.sequence(), 0U);
  const SignedAuditEvent entry = chain.append(event_number(5), key).value();
  EXPECT_EQ(entry.sequence, 1U);
  EXPECT_FALSE(entry.event.previous_event_hash.has_value());
  log.push_back(entry);
  EXPECT_EQ(verify_message(log, key.verifying_key()),
            "validation failed: audit chain broken at sequence 1: previous-hash link does not match the preceding "
            "event");
}

TEST(AuditChainTest, SequenceSaturatesAtTheLargestValue) {
  const SigningKey key = key_from(1);
  AuditChain fresh = AuditChain::create();
  SignedAuditEvent first = fresh.append(event_number(1), key).value();
  first.sequence = kMax;  // a chain that has reached the top; the first entry's own number is not compared
  AuditChain chain = AuditChain::resume(fresh.head(), kMax);
  const SignedAuditEvent second = chain.append(event_number(2), key).value();
  EXPECT_EQ(second.sequence, kMax);
  EXPECT_EQ(chain.sequence(), kMax);
  EXPECT_EQ(chain.append(event_number(3), key).value().sequence, kMax);
  EXPECT_EQ(verify_message({first, second}, key.verifying_key()), "ok");
}

TEST(AuditChainTest, ShortLogsVerify) {
  const SigningKey key = key_from(1);
  EXPECT_EQ(verify_message({}, key.verifying_key()), "ok");
  std::vector<SignedAuditEvent> one = make_log(1, key);
  one[0].sequence = 7;
  EXPECT_EQ(verify_message(one, key.verifying_key()), "ok");
}

TEST(AuditChainTest, TamperedLogsFailAtTheFirstBadEntryInCheckOrder) {
  using Log = std::vector<SignedAuditEvent>;
  const std::string broken = "validation failed: audit chain broken at sequence ";
  const std::string link = ": previous-hash link does not match the preceding event";
  const std::string invalid = "signature verification failed";
  const struct Case {
    const char* name;
    std::function<void(Log&)> tamper;
    std::string message;
  } cases[] = {
      {"untouched", [](Log&) {}, "ok"},
      {"edited action of the second entry", [](Log& log) { log[1].event.action = "node.bundle.committed"; }, invalid},
      {"edited first entry", [](Log& log) { log[0].event.severity = Severity::Critical; }, invalid},
      {"edit before a sequence gap reports the edit",
       [](Log& log) {
         log[1].event.target.target_id = "99";
         log[2].sequence = 9;
       },
       invalid},
      {"sequence gap before an edit reports the gap",
       [](Log& log) {
         log[1].sequence = 9;
         log[2].event.target.target_id = "99";
       },
       "validation failed: audit chain sequence gap: expected 2, found 9"},
      {"edited entry with a wrong sequence reports the signature",
       [](Log& log) {
         log[1].event.action = "x";
         log[1].sequence = 9;
       },
       invalid},
      {"first entry removed", [](Log& log) { log.erase(log.begin()); }, broken + "2" + link},
      {"middle entry removed", [](Log& log) { log.erase(log.begin() + 1); }, broken + "3" + link},
      {"newest entries removed", [](Log& log) { log.erase(log.begin() + 2, log.end()); }, "ok"},
      {"entries out of order", [](Log& log) { std::swap(log[1], log[2]); }, broken + "3" + link},
      {"second sequence 2 to 5", [](Log& log) { log[1].sequence = 5; },
       "validation failed: audit chain sequence gap: expected 2, found 5"},
      {"first sequence 1 to 5", [](Log& log) { log[0].sequence = 5; },
       "validation failed: audit chain sequence gap: expected 6, found 2"},
      {"link hash of another algorithm",
       [](Log& log) {
         const ContentHash& h = *log[1].event.previous_event_hash;
         log[1].event.previous_event_hash = ContentHash(HashAlgorithm::Sha256, h.digest());
       },
       invalid},
      {"signature of another entry", [](Log& log) { log[1].signature = log[2].signature; }, invalid},
  };
  const SigningKey key = key_from(1);
  const Log original = make_log(4, key);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Log log = original;
    c.tamper(log);
    EXPECT_EQ(verify_message(log, key.verifying_key()), c.message);
  }
}

TEST(AuditChainTest, LogOfAnotherNodesKeyFailsAtItsFirstEntry) {
  const SigningKey ours = key_from(1);
  const SigningKey theirs = key_from(2);
  EXPECT_EQ(verify_message(make_log(3, theirs), ours.verifying_key()), "signature verification failed");
  auto result = verify_chain(make_log(3, theirs), ours.verifying_key());
  ASSERT_FALSE(result.has_value());
  EXPECT_TRUE(result.error().is<core_error::SignatureInvalid>());
}

TEST(AuditChainTest, BrokenLinkAndGapAreValidationErrors) {
  const SigningKey key = key_from(1);
  std::vector<SignedAuditEvent> log = make_log(3, key);
  log[2].sequence = 4;
  auto gap = verify_chain(log, key.verifying_key());
  ASSERT_FALSE(gap.has_value());
  EXPECT_EQ(gap.error(), CoreError::validation("audit chain sequence gap: expected 3, found 4"));
}

TEST(AuditChainTest, StoredEntriesReadBackAndStillVerifyWithUnknownMembers) {
  const SigningKey key = key_from(3);
  std::vector<SignedAuditEvent> log = make_log(3, key);
  std::vector<SignedAuditEvent> reread;
  for (const SignedAuditEvent& entry : log) {
    JsonValue stored = entry.to_json();
    stored.as_object()->front().value.add("annotation", JsonValue("added later"));
    auto text = parse_json(write_pretty_json(stored));
    ASSERT_TRUE(text.has_value());
    auto back = brackfern::read_tree<SignedAuditEvent>(*text);
    ASSERT_TRUE(back.has_value()) << back.error().debug();
    EXPECT_EQ(*back, entry);
    reread.push_back(std::move(*back));
  }
  EXPECT_EQ(verify_message(reread, key.verifying_key()), "ok");
}

}  // namespace
}  // namespace brackfern

namespace brackfern {
namespace {

// The signed bytes are written straight from the event; they must be the
// canonical JSON of the event's JSON form, for every shape an event takes.
TEST(AuditEventBytes, AreTheCanonicalJsonOfTheEventsJsonForm) {
  AuditEvent plain = event_number(1);
  AuditEvent rich = event_number(2);
  rich.tenant_id = TenantId::create();
  rich.workspace_id = WorkspaceId::create();
  rich.source_node_id = NodeId::create();
  rich.actor =
      Actor{ActorType::FederationPeer, "e\xcc\x81 \"q\" \\ \x01\x1f\x7f\n\t\b\f\r \xe2\x98\x83", ByteString{0, 9, 255}};
  rich.target = Target{"t\xc3\xa9", std::nullopt};
  rich.action = "A\xcc\x8a-ohm-\xe2\x84\xa6";
  rich.received_at = Timestamp::from_unix(1'772'352'901, 120'000'000);
  rich.correlation_id = "";
  rich.metadata_encrypted = ByteString{};
  rich.redaction_markers = {RedactionMarker{"actor.actor_id", RedactionReason::Oversized, PolicyId::create(),
                                            Timestamp::from_unix(5), IdentityId::create()},
                            RedactionMarker{"x", RedactionReason::Secret, std::nullopt, std::nullopt, std::nullopt}};
  rich.previous_event_hash = blake3_hash(std::string_view("x"));
  AuditEvent far = event_number(3);
  far.occurred_at = Timestamp::from_unix(-99'999'999'999);
  for (const AuditEvent* e : {&plain, &rich, &far}) {
    EXPECT_EQ(audit_event_bytes(*e).value(), canonical_bytes(e->to_json()).value()) << e->action;
  }
}

}  // namespace
}  // namespace brackfern
