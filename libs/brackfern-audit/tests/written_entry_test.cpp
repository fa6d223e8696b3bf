#include <brackfern/audit/audit_chain.hpp>
#include <brackfern/audit/written_entry.hpp>
#include <brackfern/contracts/utf8.hpp>

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace brackfern {
namespace {

AuditEvent plain_event() {
  return AuditEvent::create(ProductId::from_static("quillmere"), Actor{ActorType::System, std::nullopt, std::nullopt},
                            Target{"service_bundle", "7"}, "node.bundle.applied", AuditResult::Failure,
                            AuditCategory::ServiceLifecycle, Timestamp::from_unix(1'772'352'900));
}

// Every optional member, markers, byte strings, and free text with each kind
// of escape the writer makes.
AuditEvent rich_event(std::string text) {
  AuditEvent e = plain_event();
  e.tenant_id = TenantId::create();
  e.workspace_id = WorkspaceId::create();
  e.source_node_id = NodeId::create();
  e.actor = Actor{ActorType::FederationPeer, text, ByteString{0, 9, 255}};
  e.target = Target{"t \"q\" \\ \x01\x1f\x7f\n\t", std::nullopt};
  e.received_at = Timestamp::from_unix(1'772'352'901, 120'000'000);
  e.correlation_id = "";
  e.metadata_encrypted = ByteString{};
  e.redaction_markers = {RedactionMarker{"actor.actor_id", RedactionReason::Oversized, PolicyId::create(),
                                         Timestamp::from_unix(5), IdentityId::create()},
                         RedactionMarker{"x", RedactionReason::Secret, std::nullopt, std::nullopt, std::nullopt}};
  e.previous_event_hash = blake3_hash(std::string_view("x"));
  return e;
}

std::string written(const SignedAuditEvent& entry) {
  std::string text;
  append_pretty_json(text, entry.to_json(), 2);
  return text;
}

SignedAuditEvent signed_entry(AuditEvent event, std::uint64_t sequence) {
  std::array<std::uint8_t, 32> seed{};
  seed.fill(3);
  const SigningKey key = SigningKey::from_seed(seed);
  AuditChain chain =
      sequence == 1 ? AuditChain::create() : AuditChain::resume(blake3_hash(std::string_view("x")), sequence - 1);
  return chain.append(std::move(event), key).value();
}

// Checking, listing and signing from the text agree with decoding the entry.
TEST(WrittenEntry, ChecksListsAndSignsAsTheDecodingReaderDoes) {
  AuditEvent escaped_action = plain_event();
  escaped_action.action = "node.\"quoted\"";
  // Free text that spells, escaped, the lines the listing looks for.
  AuditEvent decoy = plain_event();
  decoy.workspace_id = WorkspaceId::create();
  decoy.actor.actor_id = "\",\n        \"action\": \"forged\",\n      },";
  decoy.target.target_id = "\n      }";
  AuditEvent sparse = plain_event();
  sparse.tenant_id = TenantId::create();
  sparse.source_node_id = NodeId::create();
  const std::vector<SignedAuditEvent> entries = {signed_entry(plain_event(), 1),
                                                 signed_entry(rich_event("ascii"), 42),
                                                 signed_entry(rich_event("e\xcc\x81 \xe2\x98\x83"), 43),
                                                 signed_entry(escaped_action, 18'446'744'073'709'551'615u),
                                                 signed_entry(decoy, 7),
                                                 signed_entry(sparse, 8)};
  for (const SignedAuditEvent& entry : entries) {
    const std::string text = written(entry);
    SCOPED_TRACE(text);
    std::optional<SignedAuditEvent> read;
    ASSERT_EQ(read_written_entry(text, 2, read), text.size());
    EXPECT_EQ(*read, entry);
    ASSERT_EQ(check_written_entry(text, 2), text.size());

    std::string bytes;
    WrittenChainFields fields;
    const bool ascii = text.find('\xcc') == std::string::npos;
    ASSERT_EQ(written_signed_bytes(text, 2, bytes, fields), ascii);
    if (ascii) {
      EXPECT_EQ(bytes, audit_event_bytes(entry.event).value());
      EXPECT_EQ(fields.sequence, entry.sequence);
      EXPECT_EQ(fields.signature, entry.signature);
      EXPECT_EQ(fields.previous_event_hash, entry.event.previous_event_hash);
    }

    // Appended to a short line and to a long one that must grow.
    for (std::string prefix : {std::string("#"), std::string(100, '#')}) {
      std::string line = prefix;
      line.shrink_to_fit();
      const auto sequence = append_written_event_text(text, 2, line);
      if (entry.event.action.find('"') != std::string::npos) {
        EXPECT_FALSE(sequence.has_value());
      } else {
        EXPECT_EQ(sequence, entry.sequence);
        EXPECT_EQ(line, prefix + entry.event.to_string());
      }
    }
  }
}

// The check accepts exactly what the decoding reader accepts: timestamps
// only in the form they are written in, and any damage to the text.
TEST(WrittenEntry, TheCheckRefusesWhatTheDecodingReaderRefuses) {
  const std::string text = written(signed_entry(rich_event("ascii"), 42));
  const std::string occurred = "\"occurred_at\": \"2026-03-01T08:15:00Z\"";
  const std::size_t at = text.find(occurred);
  ASSERT_NE(at, std::string::npos);
  std::vector<std::string> variants;
  for (const std::string stamp : {"2026-03-01T08:15:00Z",
                                  "2026-03-01T08:15:00.5Z",
                                  "2026-03-01T08:15:00.50Z",
                                  "2026-03-01T08:15:00.123456789Z",
                                  "2026-03-01T08:15:00.1234567891Z",
                                  "2026-03-01T08:15:00.Z",
                                  "2026-03-01T08:15:00.0Z",
                                  "2026-03-01T08:15:00z",
                                  "2026-03-01t08:15:00Z",
                                  "2026-03-01T08:15:00+00:00",
                                  "2026-02-29T08:15:00Z",
                                  "2024-02-29T08:15:00Z",
                                  "0000-01-01T00:00:00Z",
                                  "9999-12-31T23:59:59Z",
                                  "2016-12-31T23:59:60Z",
                                  "2026-13-01T08:15:00Z",
                                  "2026-00-01T08:15:00Z",
                                  "2026-03-00T08:15:00Z",
                                  "2026-03-01T24:00:00Z",
                                  "2026-03-01T08:60:00Z",
                                  "2026-03-01T08:15:00",
                                  "-1"}) {
    const std::string variant =
        text.substr(0, at) + "\"occurred_at\": \"" + stamp + "\"" + text.substr(at + occurred.size());
    const auto parsed = Timestamp::from_str(stamp);
    EXPECT_EQ(check_written_entry(variant, 2) != 0, parsed && parsed->to_rfc3339() == stamp) << stamp;
    variants.push_back(variant);
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    for (const char flip : {'\x01', '\x08', '\x1f', '\x20', '\x40', '\x80'}) {
      std::string damaged = text;
      damaged[i] = static_cast<char>(damaged[i] ^ flip);
      variants.push_back(std::move(damaged));
    }
    // The bytes that end a run of plain text, at every place (in and out of
    // the eight-byte words strings are scanned in).
    for (const char end_of_run : {'"', '\\', '\n'}) {
      std::string damaged = text;
      damaged[i] = end_of_run;
      variants.push_back(std::move(damaged));
    }
    variants.push_back(text.substr(0, i));
  }
  for (const std::string& variant : variants) {
    std::optional<SignedAuditEvent> read;
    const std::size_t accepted = read_written_entry(variant, 2, read);
    ASSERT_EQ(check_written_entry(variant, 2), accepted) << variant;
    // Whatever is accepted is exactly what the writer makes of what was
    // read, and valid UTF-8 (which reading a state file relies on).
    if (accepted != 0) {
      EXPECT_EQ(written(*read), variant.substr(0, accepted)) << variant;
      EXPECT_TRUE(is_valid_utf8(variant.substr(0, accepted))) << variant;
    }
  }
}

}  // namespace
}  // namespace brackfern
