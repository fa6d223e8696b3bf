#include <brackfern/audit/audit_chain.hpp>

#include <brackfern/crypto/canonical_json.hpp>

#include <algorithm>
#include <charconv>
#include <iterator>
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

// The canonical JSON of an event written straight from its members: names
// in byte order (all are ASCII, so composing leaves them alone), absent
// members left out, text composed and escaped as canonical JSON does. It is
// the text canonicalize(event.to_json()) gives, without the two trees.
class EventBytes {
 public:
  explicit EventBytes(std::string& out) : out_(out) {}

  void event(const AuditEvent& e) {
    out_.push_back('{');
    first_ = true;
    name("action");
    text(e.action);
    name("actor");
    actor(e.actor);
    name("category");
    text(json_name(e.category));
    if (e.correlation_id) {
      name("correlation_id");
      text(*e.correlation_id);
    }
    name("event_id");
    uuid(e.event_id);
    if (e.metadata_encrypted) {
      name("metadata_encrypted");
      bytes(*e.metadata_encrypted);
    }
    name("occurred_at");
    text(e.occurred_at.to_rfc3339());
    if (e.previous_event_hash) {
      name("previous_event_hash");
      text(e.previous_event_hash->to_string());
    }
    name("product_id");
    text(e.product_id.str());
    if (e.received_at) {
      name("received_at");
      text(e.received_at->to_rfc3339());
    }
    if (!e.redaction_markers.empty()) {
      name("redaction_markers");
      out_.push_back('[');
      for (std::size_t i = 0; i < e.redaction_markers.size(); ++i) {
        if (i > 0) out_.push_back(',');
        marker(e.redaction_markers[i]);
      }
      out_.push_back(']');
      first_ = false;
    }
    name("result");
    text(json_name(e.result));
    name("retention_class");
    text(json_name(e.retention_class));
    name("severity");
    text(json_name(e.severity));
    if (e.source_node_id) {
      name("source_node_id");
      uuid(*e.source_node_id);
    }
    name("target");
    target(e.target);
    if (e.tenant_id) {
      name("tenant_id");
      uuid(*e.tenant_id);
    }
    if (e.workspace_id) {
      name("workspace_id");
      uuid(*e.workspace_id);
    }
    out_.push_back('}');
  }

 private:
  void name(std::string_view key) {
    if (!first_) out_.push_back(',');
    first_ = false;
    out_.push_back('"');
    out_.append(key);
    out_.append("\":");
  }

  void text(std::string_view value) {
    const bool ascii =
        std::all_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) {
      escaped(value);
    } else {
      escaped(compose_text(std::string(value)));
    }
  }

  template <class Id>
  void uuid(const Id& id) {
    escaped(id.to_string());
  }

  void escaped(std::string_view value) { write_escaped(value, out_); }

  void bytes(const ByteString& value) {
    out_.push_back('[');
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (i > 0) out_.push_back(',');
      char digits[4];
      const auto end = std::to_chars(std::begin(digits), std::end(digits), value[i]).ptr;
      out_.append(digits, end);
    }
    out_.push_back(']');
  }

  // Nested objects keep their own comma state.
  template <class Write>
  void object(Write write) {
    out_.push_back('{');
    first_ = true;
    write();
    out_.push_back('}');
    first_ = false;
  }

  void actor(const Actor& a) {
    object([&] {
      if (a.actor_id) {
        name("actor_id");
        text(*a.actor_id);
      }
      name("actor_type");
      text(json_name(a.actor_type));
      if (a.display_name_encrypted) {
        name("display_name_encrypted");
        bytes(*a.display_name_encrypted);
      }
    });
  }

  void target(const Target& t) {
    object([&] {
      if (t.target_id) {
        name("target_id");
        text(*t.target_id);
      }
      name("target_type");
      text(t.target_type);
    });
  }

  void marker(const RedactionMarker& m) {
    object([&] {
      if (m.applied_at) {
        name("applied_at");
        text(m.applied_at->to_rfc3339());
      }
      if (m.applied_by) {
        name("applied_by");
        uuid(*m.applied_by);
      }
      name("field_path");
      text(m.field_path);
      name("reason");
      text(json_name(m.reason));
      if (m.redaction_policy_id) {
        name("redaction_policy_id");
        uuid(*m.redaction_policy_id);
      }
    });
  }

  std::string& out_;
  bool first_ = true;
};

// Writes the event bytes into `out`, replacing what it held; verification
// reuses one buffer for the whole log. An event has no floating-point number
// and no two members whose names compose alike, so this cannot fail.
std::expected<void, CoreError> write_event_bytes(const AuditEvent& event, std::string& out) {
  out.clear();
  EventBytes(out).event(event);
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
  if (auto written = write_event_bytes(entry.event, bytes_); !written) {
    return std::unexpected(std::move(written.error()));
  }
  return check_signed(bytes_, entry.signature, entry.event.previous_event_hash, entry.sequence);
}

std::expected<void, CoreError> ChainVerifier::check_signed(std::string_view bytes, const Signature& signature,
                                                           const std::optional<ContentHash>& previous_event_hash,
                                                           std::uint64_t sequence) {
  // The same bytes are verified and then hashed for the next entry's link.
  if (auto verified = signatures_.verify(bytes, signature); !verified) {
    return std::unexpected(std::move(verified.error()));
  }
  // ContentHash equality covers both the algorithm and all 32 digest bytes;
  // the first entry must carry no link at all.
  if (previous_event_hash != previous_) return std::unexpected(broken_link(sequence));
  if (previous_ && sequence != expected_sequence_) {
    return std::unexpected(sequence_gap(expected_sequence_, sequence));
  }
  previous_ = blake3_hash(bytes);
  expected_sequence_ = next_sequence(sequence);
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
