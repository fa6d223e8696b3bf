#pragma once

// The audit event record: what one entry of a node's audit log says, its JSON
// form (the input of canonical JSON when the chain hashes and signs it, and
// the form stored in the state file) and its one-line text form.
//
// JSON rules shared by every record here: members are written in declaration
// order; an optional member without a value is left out (never null);
// `redaction_markers` is left out when empty. On reading, required members
// must be present, optional ones may be missing or null (both meaning
// absent), and members of other names are ignored. Byte strings are arrays of
// integers 0–255.

#include <brackfern/contracts/identifiers.hpp>
#include <brackfern/contracts/json_read.hpp>
#include <brackfern/contracts/json_value.hpp>
#include <brackfern/contracts/timestamp.hpp>
#include <brackfern/crypto/content_hash.hpp>
#include <brackfern/crypto/keys.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brackfern {

// Opaque bytes (encrypted metadata, encrypted display names).
using ByteString = std::vector<std::uint8_t>;

enum class ActorType { User, Administrator, Device, Service, Product, FederationPeer, System, Unknown };
enum class AuditResult { Success, Failure, Denied, Cancelled, Expired, Partial, Unknown };
enum class Severity { Info, Notice, Warning, Error, Critical };
enum class AuditCategory {
  Authentication,
  Authorization,
  Configuration,
  KeyManagement,
  DeviceManagement,
  DataAccess,
  ServiceLifecycle,
  NetworkExposure,
  Backup,
  Restore,
  Federation,
  Policy,
  Security,
  Privacy,
};
enum class RetentionClass {
  Ephemeral,
  Operational,
  Security,
  Compliance,
  PrivacySensitive,
  Debug,
  UserControlled,
  LegalHold,
};
enum class RedactionReason {
  PersonalData,
  Secret,
  Location,
  UserContent,
  PolicyRequired,
  SubjectRequest,
  AudienceRestricted,
  Oversized,
};

// The JSON string of each value ("federation_peer", "key_management", ...).
[[nodiscard]] std::string_view json_name(ActorType value);
[[nodiscard]] std::string_view json_name(AuditResult value);
[[nodiscard]] std::string_view json_name(Severity value);
[[nodiscard]] std::string_view json_name(AuditCategory value);
[[nodiscard]] std::string_view json_name(RetentionClass value);
[[nodiscard]] std::string_view json_name(RedactionReason value);

// The display names used by the event's text form ("Success", "KeyManagement").
[[nodiscard]] std::string_view display_name(AuditResult value);
[[nodiscard]] std::string_view display_name(Severity value);
[[nodiscard]] std::string_view display_name(AuditCategory value);

// Reads one of the six enumerations from its JSON string; any other value is
// "unknown variant `x`, expected one of ..." listing every JSON string.
// Instantiated for the six enumerations above only.
template <class Enum>
[[nodiscard]] JsonResult<Enum> enum_from_json(JsonSource& source);

// The value whose JSON string is exactly `name`, if any (same six enumerations).
template <class Enum>
[[nodiscard]] std::optional<Enum> enum_from_name(std::string_view name);

// "notice" for failure, denied and expired; "info" for every other result.
[[nodiscard]] Severity severity_for(AuditResult result);
// "security" for authentication, authorization, key management, network
// exposure and security; "privacy_sensitive" for privacy; otherwise "operational".
[[nodiscard]] RetentionClass retention_class_for(AuditCategory category);

struct Actor {
  ActorType actor_type = ActorType::Unknown;
  std::optional<std::string> actor_id;
  std::optional<ByteString> display_name_encrypted;

  [[nodiscard]] JsonValue to_json() const;
  [[nodiscard]] static JsonResult<Actor> from_json(JsonSource& source);
  friend bool operator==(const Actor&, const Actor&) = default;
};

struct Target {
  std::string target_type;  // free text: the node uses "control_plane" and "service_bundle"
  std::optional<std::string> target_id;

  [[nodiscard]] JsonValue to_json() const;
  [[nodiscard]] static JsonResult<Target> from_json(JsonSource& source);
  friend bool operator==(const Target&, const Target&) = default;
};

// Names a redacted member of an event by its path, with why, under which
// policy, when and by whom.
struct RedactionMarker {
  std::string field_path;
  RedactionReason reason = RedactionReason::PolicyRequired;
  std::optional<PolicyId> redaction_policy_id;
  std::optional<Timestamp> applied_at;
  std::optional<IdentityId> applied_by;

  [[nodiscard]] JsonValue to_json() const;
  [[nodiscard]] static JsonResult<RedactionMarker> from_json(JsonSource& source);
  friend bool operator==(const RedactionMarker&, const RedactionMarker&) = default;
};

struct AuditEvent {
  AuditEventId event_id;
  std::optional<TenantId> tenant_id;
  std::optional<WorkspaceId> workspace_id;
  ProductId product_id;
  std::optional<NodeId> source_node_id;
  Actor actor;
  Target target;
  std::string action;  // dotted action name, e.g. "node.bundle.committed"
  AuditResult result;
  Severity severity;
  AuditCategory category;
  Timestamp occurred_at;
  std::optional<Timestamp> received_at;
  std::optional<std::string> correlation_id;
  std::optional<ByteString> metadata_encrypted;
  RetentionClass retention_class;
  std::vector<RedactionMarker> redaction_markers;
  std::optional<ContentHash> previous_event_hash;  // set by the chain on append

  // A fresh event: new random id, severity from the result, retention class
  // from the category, every optional member absent, no redaction markers.
  // Cannot fail (stops the program only if the random source fails).
  [[nodiscard]] static AuditEvent create(ProductId product_id, Actor actor, Target target, std::string action,
                                         AuditResult result, AuditCategory category, Timestamp occurred_at);

  [[nodiscard]] JsonValue to_json() const;
  // Fails on a missing required member, a malformed identifier, timestamp or
  // content hash, an unknown enumeration string or a byte outside 0–255.
  [[nodiscard]] static JsonResult<AuditEvent> from_json(JsonSource& source);

  // "[occurred_at] product Category action result=Result severity=Severity".
  [[nodiscard]] std::string to_string() const;

  friend bool operator==(const AuditEvent&, const AuditEvent&) = default;
};

// What the one-line text form of an event shows, as text where the event
// holds a value.
struct EventTextParts {
  std::string_view occurred_at;  // as to_rfc3339 writes it
  std::string_view product_id;
  AuditCategory category = AuditCategory::Security;
  std::string_view action;
  AuditResult result = AuditResult::Unknown;
  Severity severity = Severity::Info;
};

// Appends the text form AuditEvent::to_string gives for these parts.
void append_event_text(std::string& out, const EventTextParts& parts);

// An event as stored in the log: the event as hashed and signed, its position
// in the chain and the Ed25519 signature over the event's canonical bytes.
struct SignedAuditEvent {
  AuditEvent event;
  std::uint64_t sequence = 0;
  Signature signature;

  [[nodiscard]] JsonValue to_json() const;
  [[nodiscard]] static JsonResult<SignedAuditEvent> from_json(JsonSource& source);
  friend bool operator==(const SignedAuditEvent&, const SignedAuditEvent&) = default;
};

}  // namespace brackfern
