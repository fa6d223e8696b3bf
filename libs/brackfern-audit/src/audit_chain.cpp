#include <brackfern/audit/audit_chain.hpp>

#include <brackfern/crypto/canonical_json.hpp>

#include <limits>
#include <utility>

namespace brackfern {

namespace {

std::uint64_t next_sequence(std::uint64_t sequence) {
  return sequence == std::numeric_limits<std::uint64_t>::max() ? sequence : sequence + 1;
}

CoreError broken_link(std::uint64_t sequence) {
  return CoreError::validation("audit chain broken at sequence " + std::to_string(sequence) +
                               ": previous-hash link does not match the preceding event");
}

CoreError sequence_gap(std::uint64_t expected, std::uint64_t found) {
  return CoreError::validation("audit chain sequence gap: expected " + std::to_string(expected) + ", found " +
                               std::to_string(found));
}

// Writes the event bytes into `out`, replacing what it held; verification
// reuses one buffer for the whole log.
std::expected<void, CoreError> write_event_bytes(const AuditEvent& event, std::string& out) {
  auto canonical = canonicalize(event.to_json());
  if (!canonical) return std::unexpected(std::move(canonical.error()));
  out.clear();
  write_value(*canonical, out);
  return {};
}

}  // namespace

std::expected<std::string, CoreError> audit_event_bytes(const AuditEvent& event) {
  std::string bytes;
  if (auto written = write_event_bytes(event, bytes); !written) return std::unexpected(std::move(written.error()));
  return bytes;
}

AuditChain AuditChain::resume(std::optional<ContentHash> head, std::uint64_t sequence) {
  AuditChain chain;
  if (head) {
    chain.head_ = std::move(head);
    chain.sequence_ = sequence;
  }
  return chain;
}

std::expected<SignedAuditEvent, CoreError> AuditChain::append(AuditEvent event, const SigningKey& key) {
  event.previous_event_hash = head_;
  auto bytes = audit_event_bytes(event);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  const Signature signature = key.sign_bytes(std::string_view(*bytes));
  ContentHash hash = blake3_hash(std::string_view(*bytes));

  head_ = std::move(hash);
  sequence_ = next_sequence(sequence_);
  return SignedAuditEvent{std::move(event), sequence_, signature};
}

std::expected<void, CoreError> ChainVerifier::check(const SignedAuditEvent& entry) {
  // The same bytes are verified and then hashed for the next entry's link.
  if (auto written = write_event_bytes(entry.event, bytes_); !written) {
    return std::unexpected(std::move(written.error()));
  }
  if (auto verified = key_.verify(std::string_view(bytes_), entry.signature); !verified) {
    return std::unexpected(std::move(verified.error()));
  }
  // ContentHash equality covers both the algorithm and all 32 digest bytes;
  // the first entry must carry no link at all.
  if (entry.event.previous_event_hash != previous_) return std::unexpected(broken_link(entry.sequence));
  if (previous_ && entry.sequence != expected_sequence_) {
    return std::unexpected(sequence_gap(expected_sequence_, entry.sequence));
  }
  previous_ = blake3_hash(std::string_view(bytes_));
  expected_sequence_ = next_sequence(entry.sequence);
  return {};
}

std::expected<void, CoreError> verify_chain(std::span<const SignedAuditEvent> log, const VerifyingKey& key) {
  ChainVerifier verifier(key);
  for (const SignedAuditEvent& entry : log) {
    if (auto checked = verifier.check(entry); !checked) return checked;
  }
  return {};
}

}  // namespace brackfern
