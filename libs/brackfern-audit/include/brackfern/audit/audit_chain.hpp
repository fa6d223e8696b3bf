#pragma once

// The audit chain: every appended event is linked to the one before it by
// that event's BLAKE3 hash, numbered, and signed with the node's audit key.
// The chain itself holds only the last sequence number and the last hash.

#include <brackfern/audit/audit_event.hpp>
#include <brackfern/contracts/core_error.hpp>
#include <brackfern/crypto/content_hash.hpp>
#include <brackfern/crypto/keys.hpp>

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace brackfern {

// The bytes that are hashed and signed for an event: the canonical JSON of
// the event alone (absent members left out). Fails with the canonical JSON
// error (CanonicalSerialization).
[[nodiscard]] std::expected<std::string, CoreError> audit_event_bytes(const AuditEvent& event);

class AuditChain {
 public:
  // An empty chain: sequence 0, no head.
  [[nodiscard]] static AuditChain create() { return AuditChain(); }
  // Continues at `head` and `sequence`. Without a head the result is the
  // empty chain: `sequence` is ignored and the next event gets sequence 1.
  [[nodiscard]] static AuditChain resume(std::optional<ContentHash> head, std::uint64_t sequence);

  // Hash of the last event appended; absent for an empty chain.
  [[nodiscard]] const std::optional<ContentHash>& head() const { return head_; }
  // Sequence number of the last event appended; 0 for an empty chain.
  [[nodiscard]] std::uint64_t sequence() const { return sequence_; }

  // Links `event` to the head (replacing any previous_event_hash it had),
  // signs and hashes its canonical bytes, then advances the chain: the new
  // head is the event's hash and the sequence grows by one, staying at
  // 2^64 - 1 once there. On a canonical JSON failure the chain is unchanged
  // and the error is returned. Touches nothing but the new event.
  [[nodiscard]] std::expected<SignedAuditEvent, CoreError> append(AuditEvent event, const SigningKey& key);

 private:
  AuditChain() = default;
  std::optional<ContentHash> head_;
  std::uint64_t sequence_ = 0;
};

// Checks a stored log in order; the first failing check ends the walk. Per
// entry, always in this order: canonical bytes (the canonical JSON error),
// signature (SignatureInvalid), link to the previous entry's hash
// (Validation "audit chain broken at sequence N: ..."; the first entry must
// have no previous hash), sequence (Validation "audit chain sequence gap:
// expected E, found N"; the first entry's own sequence is not compared).
// An empty log verifies.
[[nodiscard]] std::expected<void, CoreError> verify_chain(std::span<const SignedAuditEvent> log,
                                                          const VerifyingKey& key);

// verify_chain one entry at a time, for logs that are decoded as they are
// walked: check(entry) for each entry in order; the first failure ends the walk.
class ChainVerifier {
 public:
  explicit ChainVerifier(const VerifyingKey& key) : signatures_(key) {}
  [[nodiscard]] std::expected<void, CoreError> check(const SignedAuditEvent& entry);
  // check() for an entry given as its event's signed bytes (what
  // audit_event_bytes gives), its signature, link and sequence.
  [[nodiscard]] std::expected<void, CoreError> check_signed(std::string_view bytes, const Signature& signature,
                                                            const std::optional<ContentHash>& previous_event_hash,
                                                            std::uint64_t sequence);

 private:
  SignatureVerifier signatures_;  // one verification context for the whole log
  std::optional<ContentHash> previous_;
  std::uint64_t expected_sequence_ = 0;
  std::string bytes_;  // reused for every entry
};

}  // namespace brackfern
