#include <brackfern/audit/audit_event.hpp>

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

namespace brackfern {

namespace {

// JSON strings of each enumeration, in declaration order.
template <class Enum>
struct EnumNames;

template <>
struct EnumNames<ActorType> {
  static constexpr std::array<std::string_view, 8> json{"user",    "administrator",   "device", "service",
                                                        "product", "federation_peer", "system", "unknown"};
};
template <>
struct EnumNames<AuditResult> {
  static constexpr std::array<std::string_view, 7> json{"success", "failure", "denied", "cancelled",
                                                        "expired", "partial", "unknown"};
  static constexpr std::array<std::string_view, 7> display{"Success", "Failure", "Denied", "Cancelled",
                                                           "Expired", "Partial", "Unknown"};
};
template <>
struct EnumNames<Severity> {
  static constexpr std::array<std::string_view, 5> json{"info", "notice", "warning", "error", "critical"};
  static constexpr std::array<std::string_view, 5> display{"Info", "Notice", "Warning", "Error", "Critical"};
};
template <>
struct EnumNames<AuditCategory> {
  static constexpr std::array<std::string_view, 14> json{
      "authentication",    "authorization",    "configuration", "key_management", "device_management", "data_access",
      "service_lifecycle", "network_exposure", "backup",        "restore",        "federation",        "policy",
      "security",          "privacy"};
  static constexpr std::array<std::string_view, 14> display{
      "Authentication", "Authorization",    "Configuration",   "KeyManagement", "DeviceManagement",
      "DataAccess",     "ServiceLifecycle", "NetworkExposure", "Backup",        "Restore",
      "Federation",     "Policy",           "Security",        "Privacy"};
};
template <>
struct EnumNames<RetentionClass> {
  static constexpr std::array<std::string_view, 8> json{"ephemeral",       "operational",       "security",
                                                        "compliance",      "privacy_sensitive", "debug",
                                                        "user_controlled", "legal_hold"};
};
template <>
struct EnumNames<RedactionReason> {
  static constexpr std::array<std::string_view, 8> json{"personal_data",       "secret",          "location",
                                                        "user_content",        "policy_required", "subject_request",
                                                        "audience_restricted", "oversized"};
};

template <class Enum>
std::string_view json_name_of(Enum value) {
  return EnumNames<Enum>::json[static_cast<std::size_t>(value)];
}

template <class Enum>
std::string_view display_name_of(Enum value) {
  return EnumNames<Enum>::display[static_cast<std::size_t>(value)];
}

template <class Enum>
JsonValue enum_to_json(Enum value) {
  return JsonValue(json_name_of(value));
}

JsonValue bytes_to_json(const ByteString& bytes) {
  JsonValue::Array items;
  items.reserve(bytes.size());
  for (const std::uint8_t byte : bytes) items.emplace_back(static_cast<std::uint64_t>(byte));
  return JsonValue(std::move(items));
}

JsonResult<ByteString> bytes_from_json(JsonSource& source) {
  return read_array(source, read_u8);
}

// A field whose reader's result is stored into `slot` (an std::optional of
// the reader's value type, or of the optional that a nullable reader gives).
template <class Slot, class Read>
JsonField field(std::string_view name, bool required, Slot& slot, Read read) {
  return JsonField{name, required, [&slot, read](JsonSource& source) -> std::expected<void, JsonError> {
                     auto got = read(source);
                     if (!got) return std::unexpected(std::move(got.error()));
                     slot = std::move(*got);
                     return {};
                   }};
}

// Reads text that goes through a parser (identifiers, timestamps, hashes).
template <class T>
auto parsed_with(std::expected<T, CoreError> (*parse)(std::string_view)) {
  return [parse](JsonSource& source) { return read_parsed(source, parse); };
}

// Null reads as absent; anything else through `inner`.
template <class Inner>
auto nullable(Inner inner) {
  return [inner](JsonSource& source) { return read_nullable(source, inner); };
}

template <class Enum>
auto enum_reader() {
  return [](JsonSource& source) { return enum_from_json<Enum>(source); };
}

const auto kReadString = [](JsonSource& source) { return read_string(source); };
const auto kReadBytes = [](JsonSource& source) { return bytes_from_json(source); };

template <class T>
void add_if(JsonValue& object, std::string_view key, const std::optional<T>& value, JsonValue (*write)(const T&)) {
  if (value) object.add(std::string(key), write(*value));
}

JsonValue write_text(const std::string& text) {
  return JsonValue(text);
}
JsonValue write_timestamp(const Timestamp& t) {
  return JsonValue(t.to_rfc3339());
}
template <class Id>
JsonValue write_uuid(const Id& id) {
  return JsonValue(id.to_string());
}
JsonValue write_hash(const ContentHash& hash) {
  return JsonValue(hash.to_string());
}

}  // namespace

std::string_view json_name(ActorType value) {
  return json_name_of(value);
}
std::string_view json_name(AuditResult value) {
  return json_name_of(value);
}
std::string_view json_name(Severity value) {
  return json_name_of(value);
}
std::string_view json_name(AuditCategory value) {
  return json_name_of(value);
}
std::string_view json_name(RetentionClass value) {
  return json_name_of(value);
}
std::string_view json_name(RedactionReason value) {
  return json_name_of(value);
}

std::string_view display_name(AuditResult value) {
  return display_name_of(value);
}
std::string_view display_name(Severity value) {
  return display_name_of(value);
}
std::string_view display_name(AuditCategory value) {
  return display_name_of(value);
}

template <class Enum>
JsonResult<Enum> enum_from_json(JsonSource& source) {
  const auto& names = EnumNames<Enum>::json;
  auto index = read_enum_index(source, std::span<const std::string_view>(names.data(), names.size()));
  if (!index) return std::unexpected(std::move(index.error()));
  return static_cast<Enum>(*index);
}

template <class Enum>
std::optional<Enum> enum_from_name(std::string_view name) {
  const auto& names = EnumNames<Enum>::json;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return static_cast<Enum>(i);
  }
  return std::nullopt;
}

template std::optional<ActorType> enum_from_name<ActorType>(std::string_view);
template std::optional<AuditResult> enum_from_name<AuditResult>(std::string_view);
template std::optional<Severity> enum_from_name<Severity>(std::string_view);
template std::optional<AuditCategory> enum_from_name<AuditCategory>(std::string_view);
template std::optional<RetentionClass> enum_from_name<RetentionClass>(std::string_view);
template std::optional<RedactionReason> enum_from_name<RedactionReason>(std::string_view);

template JsonResult<ActorType> enum_from_json<ActorType>(JsonSource&);
template JsonResult<AuditResult> enum_from_json<AuditResult>(JsonSource&);
template JsonResult<Severity> enum_from_json<Severity>(JsonSource&);
template JsonResult<AuditCategory> enum_from_json<AuditCategory>(JsonSource&);
template JsonResult<RetentionClass> enum_from_json<RetentionClass>(JsonSource&);
template JsonResult<RedactionReason> enum_from_json<RedactionReason>(JsonSource&);

Severity severity_for(AuditResult result) {
  switch (result) {
    case AuditResult::Failure:
    case AuditResult::Denied:
    case AuditResult::Expired:
      return Severity::Notice;
    case AuditResult::Success:
    case AuditResult::Cancelled:
    case AuditResult::Partial:
    case AuditResult::Unknown:
      return Severity::Info;
  }
  return Severity::Info;
}

RetentionClass retention_class_for(AuditCategory category) {
  switch (category) {
    case AuditCategory::Authentication:
    case AuditCategory::Authorization:
    case AuditCategory::KeyManagement:
    case AuditCategory::NetworkExposure:
    case AuditCategory::Security:
      return RetentionClass::Security;
    case AuditCategory::Privacy:
      return RetentionClass::PrivacySensitive;
    case AuditCategory::Configuration:
    case AuditCategory::DeviceManagement:
    case AuditCategory::DataAccess:
    case AuditCategory::ServiceLifecycle:
    case AuditCategory::Backup:
    case AuditCategory::Restore:
    case AuditCategory::Federation:
    case AuditCategory::Policy:
      return RetentionClass::Operational;
  }
  return RetentionClass::Operational;
}

// ---- Actor ----

JsonValue Actor::to_json() const {
  JsonValue out = JsonValue::empty_object();
  out.add("actor_type", enum_to_json(actor_type));
  add_if(out, "actor_id", actor_id, write_text);
  if (display_name_encrypted) out.add("display_name_encrypted", bytes_to_json(*display_name_encrypted));
  return out;
}

JsonResult<Actor> Actor::from_json(JsonSource& source) {
  std::optional<ActorType> actor_type;
  Actor actor;
  auto read =
      read_object(source, "struct Actor",
                  {
                      field("actor_type", true, actor_type, enum_reader<ActorType>()),
                      field("actor_id", false, actor.actor_id, nullable(kReadString)),
                      field("display_name_encrypted", false, actor.display_name_encrypted, nullable(kReadBytes)),
                  });
  if (!read) return std::unexpected(std::move(read.error()));
  actor.actor_type = *actor_type;
  return actor;
}

// ---- Target ----

JsonValue Target::to_json() const {
  JsonValue out = JsonValue::empty_object();
  out.add("target_type", JsonValue(target_type));
  add_if(out, "target_id", target_id, write_text);
  return out;
}

JsonResult<Target> Target::from_json(JsonSource& source) {
  std::optional<std::string> target_type;
  Target target;
  auto read = read_object(source, "struct Target",
                          {
                              field("target_type", true, target_type, kReadString),
                              field("target_id", false, target.target_id, nullable(kReadString)),
                          });
  if (!read) return std::unexpected(std::move(read.error()));
  target.target_type = std::move(*target_type);
  return target;
}

// ---- RedactionMarker ----

JsonValue RedactionMarker::to_json() const {
  JsonValue out = JsonValue::empty_object();
  out.add("field_path", JsonValue(field_path));
  out.add("reason", enum_to_json(reason));
  add_if(out, "redaction_policy_id", redaction_policy_id, write_uuid<PolicyId>);
  add_if(out, "applied_at", applied_at, write_timestamp);
  add_if(out, "applied_by", applied_by, write_uuid<IdentityId>);
  return out;
}

JsonResult<RedactionMarker> RedactionMarker::from_json(JsonSource& source) {
  std::optional<std::string> field_path;
  std::optional<RedactionReason> reason;
  RedactionMarker marker;
  auto read = read_object(
      source, "struct RedactionMarker",
      {
          field("field_path", true, field_path, kReadString),
          field("reason", true, reason, enum_reader<RedactionReason>()),
          field("redaction_policy_id", false, marker.redaction_policy_id, nullable(parsed_with(&PolicyId::from_str))),
          field("applied_at", false, marker.applied_at, nullable(parsed_with(&Timestamp::from_str))),
          field("applied_by", false, marker.applied_by, nullable(parsed_with(&IdentityId::from_str))),
      });
  if (!read) return std::unexpected(std::move(read.error()));
  marker.field_path = std::move(*field_path);
  marker.reason = *reason;
  return marker;
}

// ---- AuditEvent ----

AuditEvent AuditEvent::create(ProductId product_id, Actor actor, Target target, std::string action, AuditResult result,
                              AuditCategory category, Timestamp occurred_at) {
  return AuditEvent{
      .event_id = AuditEventId::create(),
      .tenant_id = std::nullopt,
      .workspace_id = std::nullopt,
      .product_id = std::move(product_id),
      .source_node_id = std::nullopt,
      .actor = std::move(actor),
      .target = std::move(target),
      .action = std::move(action),
      .result = result,
      .severity = severity_for(result),
      .category = category,
      .occurred_at = occurred_at,
      .received_at = std::nullopt,
      .correlation_id = std::nullopt,
      .metadata_encrypted = std::nullopt,
      .retention_class = retention_class_for(category),
      .redaction_markers = {},
      .previous_event_hash = std::nullopt,
  };
}

JsonValue AuditEvent::to_json() const {
  JsonValue out = JsonValue::empty_object();
  out.add("event_id", write_uuid(event_id));
  add_if(out, "tenant_id", tenant_id, write_uuid<TenantId>);
  add_if(out, "workspace_id", workspace_id, write_uuid<WorkspaceId>);
  out.add("product_id", JsonValue(product_id.str()));
  add_if(out, "source_node_id", source_node_id, write_uuid<NodeId>);
  out.add("actor", actor.to_json());
  out.add("target", target.to_json());
  out.add("action", JsonValue(action));
  out.add("result", enum_to_json(result));
  out.add("severity", enum_to_json(severity));
  out.add("category", enum_to_json(category));
  out.add("occurred_at", write_timestamp(occurred_at));
  add_if(out, "received_at", received_at, write_timestamp);
  add_if(out, "correlation_id", correlation_id, write_text);
  if (metadata_encrypted) out.add("metadata_encrypted", bytes_to_json(*metadata_encrypted));
  out.add("retention_class", enum_to_json(retention_class));
  if (!redaction_markers.empty()) {
    JsonValue::Array markers;
    markers.reserve(redaction_markers.size());
    for (const RedactionMarker& marker : redaction_markers) markers.push_back(marker.to_json());
    out.add("redaction_markers", JsonValue(std::move(markers)));
  }
  add_if(out, "previous_event_hash", previous_event_hash, write_hash);
  return out;
}

JsonResult<AuditEvent> AuditEvent::from_json(JsonSource& source) {
  std::optional<AuditEventId> event_id;
  std::optional<TenantId> tenant_id;
  std::optional<WorkspaceId> workspace_id;
  std::optional<ProductId> product_id;
  std::optional<NodeId> source_node_id;
  std::optional<Actor> actor;
  std::optional<Target> target;
  std::optional<std::string> action;
  std::optional<AuditResult> result;
  std::optional<Severity> severity;
  std::optional<AuditCategory> category;
  std::optional<Timestamp> occurred_at;
  std::optional<Timestamp> received_at;
  std::optional<std::string> correlation_id;
  std::optional<ByteString> metadata_encrypted;
  std::optional<RetentionClass> retention_class;
  std::optional<std::vector<RedactionMarker>> redaction_markers;
  std::optional<ContentHash> previous_event_hash;

  const auto read_markers = [](JsonSource& in) { return read_array(in, RedactionMarker::from_json); };
  auto read = read_object(
      source, "struct AuditEvent",
      {
          field("event_id", true, event_id, parsed_with(&AuditEventId::from_str)),
          field("tenant_id", false, tenant_id, nullable(parsed_with(&TenantId::from_str))),
          field("workspace_id", false, workspace_id, nullable(parsed_with(&WorkspaceId::from_str))),
          field("product_id", true, product_id, parsed_with(&ProductId::from_str)),
          field("source_node_id", false, source_node_id, nullable(parsed_with(&NodeId::from_str))),
          field("actor", true, actor, Actor::from_json),
          field("target", true, target, Target::from_json),
          field("action", true, action, kReadString),
          field("result", true, result, enum_reader<AuditResult>()),
          field("severity", true, severity, enum_reader<Severity>()),
          field("category", true, category, enum_reader<AuditCategory>()),
          field("occurred_at", true, occurred_at, parsed_with(&Timestamp::from_str)),
          field("received_at", false, received_at, nullable(parsed_with(&Timestamp::from_str))),
          field("correlation_id", false, correlation_id, nullable(kReadString)),
          field("metadata_encrypted", false, metadata_encrypted, nullable(kReadBytes)),
          field("retention_class", true, retention_class, enum_reader<RetentionClass>()),
          field("redaction_markers", false, redaction_markers, read_markers),
          field("previous_event_hash", false, previous_event_hash, nullable(parsed_with(&ContentHash::from_str))),
      });
  if (!read) return std::unexpected(std::move(read.error()));

  return AuditEvent{
      .event_id = *event_id,
      .tenant_id = tenant_id,
      .workspace_id = workspace_id,
      .product_id = std::move(*product_id),
      .source_node_id = source_node_id,
      .actor = std::move(*actor),
      .target = std::move(*target),
      .action = std::move(*action),
      .result = *result,
      .severity = *severity,
      .category = *category,
      .occurred_at = *occurred_at,
      .received_at = received_at,
      .correlation_id = std::move(correlation_id),
      .metadata_encrypted = std::move(metadata_encrypted),
      .retention_class = *retention_class,
      .redaction_markers = redaction_markers ? std::move(*redaction_markers) : std::vector<RedactionMarker>{},
      .previous_event_hash = previous_event_hash,
  };
}

void append_event_text(std::string& out, const EventTextParts& parts) {
  // Sized once and copied piece by piece: a log is listed a line per entry.
  const std::array<std::string_view, 12> pieces = {
      "[", parts.occurred_at, "] ",       parts.product_id,           " ",          display_name(parts.category),
      " ", parts.action,      " result=", display_name(parts.result), " severity=", display_name(parts.severity)};
  std::size_t length = 0;
  for (const std::string_view piece : pieces) length += piece.size();
  const std::size_t start = out.size();
  out.resize_and_overwrite(start + length, [&](char* text, std::size_t) {
    char* at = text + start;
    for (const std::string_view piece : pieces) at = std::copy(piece.begin(), piece.end(), at);
    return start + length;
  });
}

std::string AuditEvent::to_string() const {
  const std::string occurred = occurred_at.to_rfc3339();
  std::string out;
  out.reserve(64 + action.size());
  append_event_text(out, EventTextParts{occurred, product_id.str(), category, action, result, severity});
  return out;
}

// ---- SignedAuditEvent ----

JsonValue SignedAuditEvent::to_json() const {
  JsonValue out = JsonValue::empty_object();
  out.add("event", event.to_json());
  out.add("sequence", JsonValue(sequence));
  out.add("signature", JsonValue(signature.to_hex()));
  return out;
}

JsonResult<SignedAuditEvent> SignedAuditEvent::from_json(JsonSource& source) {
  std::optional<AuditEvent> event;
  std::optional<std::uint64_t> sequence;
  std::optional<Signature> signature;
  auto read = read_object(
      source, "struct SignedAuditEvent",
      {
          field("event", true, event, AuditEvent::from_json),
          field("sequence", true, sequence, read_u64),
          field("signature", true, signature, [](JsonSource& in) { return read_parsed(in, &Signature::from_hex); }),
      });
  if (!read) return std::unexpected(std::move(read.error()));
  return SignedAuditEvent{std::move(*event), *sequence, *signature};
}

}  // namespace brackfern
