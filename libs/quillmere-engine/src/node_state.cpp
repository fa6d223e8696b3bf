#include <quillmere/engine/node_state.hpp>

#include <brackfern/audit/audit_chain.hpp>
#include <brackfern/contracts/hex.hpp>

#include <openssl/crypto.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace quillmere {

using brackfern::JsonError;
using brackfern::JsonField;
using brackfern::JsonResult;
using brackfern::JsonValue;

namespace {

constexpr const char* kBadSeedText = "node audit signing key seed is not 64 hex characters";

// Wipes a copy of key material when it goes out of scope.
template <std::size_t N>
struct WipedBytes {
  std::array<std::uint8_t, N> bytes{};
  WipedBytes() = default;
  WipedBytes(const WipedBytes&) = delete;
  WipedBytes& operator=(const WipedBytes&) = delete;
  ~WipedBytes() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

// Stores a successfully read value into `slot`.
template <class T, class Read>
auto store_into(std::optional<T>& slot, Read read) {
  return [&slot, read](const JsonValue& v) -> std::expected<void, JsonError> {
    auto value = read(v);
    if (!value) return std::unexpected(std::move(value.error()));
    slot = std::move(*value);
    return {};
  };
}

JsonValue nullable_to_json(const std::optional<CommittedBundle>& bundle) {
  return bundle ? bundle->to_json() : JsonValue(nullptr);
}

}  // namespace

// ---- NodeIdentity ----

NodeIdentity NodeIdentity::generate(brackfern::NodeId node_id) {
  const brackfern::SigningKey key = brackfern::SigningKey::generate();
  WipedBytes<32> seed;
  seed.bytes = key.seed();
  return NodeIdentity{std::move(node_id), brackfern::to_hex(seed.bytes)};
}

std::expected<brackfern::SigningKey, QuillmereError> NodeIdentity::signing_key() const {
  auto decoded = brackfern::decode_hex_exact<32>(audit_signing_key_seed);
  if (!decoded) return std::unexpected(QuillmereError(quillmere_error::InvalidKeyMaterial{kBadSeedText}));
  WipedBytes<32> seed;
  seed.bytes = *decoded;
  OPENSSL_cleanse(decoded->data(), decoded->size());
  return brackfern::SigningKey::from_seed(seed.bytes);
}

JsonValue NodeIdentity::to_json() const {
  JsonValue out = JsonValue::empty_object();
  out.add("node_id", node_id.to_string());
  out.add("audit_signing_key_seed", audit_signing_key_seed);
  return out;
}

JsonResult<NodeIdentity> NodeIdentity::from_json(const JsonValue& value) {
  std::optional<brackfern::NodeId> node_id;
  std::optional<std::string> seed;
  const auto read = brackfern::read_object(
      value, "struct NodeIdentity",
      {
          JsonField{
              "node_id", true,
              store_into(node_id,
                         [](const JsonValue& v) { return brackfern::read_parsed(v, brackfern::NodeId::from_str); })},
          JsonField{"audit_signing_key_seed", true, store_into(seed, brackfern::read_string)},
      });
  if (!read) return std::unexpected(read.error());
  return NodeIdentity{std::move(*node_id), std::move(*seed)};
}

// ---- NodeState ----

NodeState NodeState::create(NodeIdentity identity) {
  return NodeState{std::move(identity),
                   EnrollmentState(EnrollmentState::Unenrolled{}),
                   std::nullopt,
                   std::nullopt,
                   std::nullopt,
                   0,
                   {}};
}

namespace {

// Every member of the state document but the last, the audit log.
JsonValue members_before_log(const NodeState& state) {
  JsonValue out = JsonValue::empty_object();
  out.add("identity", state.identity.to_json());
  out.add("enrollment", state.enrollment.to_json());
  out.add("committed", nullable_to_json(state.committed));
  out.add("previous_committed", nullable_to_json(state.previous_committed));
  out.add("audit_head", state.audit_head ? JsonValue(state.audit_head->to_string()) : JsonValue(nullptr));
  out.add("audit_sequence", state.audit_sequence);
  return out;
}

}  // namespace

JsonValue NodeState::to_json() const {
  JsonValue out = members_before_log(*this);
  JsonValue log = JsonValue::empty_array();
  log.as_array()->reserve(audit_log.size());
  for (const brackfern::SignedAuditEvent& entry : audit_log) log.as_array()->push_back(entry.to_json());
  out.add("audit_log", std::move(log));
  return out;
}

JsonResult<NodeState> NodeState::from_json(const JsonValue& value) {
  std::optional<NodeIdentity> identity;
  std::optional<EnrollmentState> enrollment;
  std::optional<std::optional<CommittedBundle>> committed;
  std::optional<std::optional<CommittedBundle>> previous_committed;
  std::optional<std::optional<brackfern::ContentHash>> audit_head;
  std::optional<std::uint64_t> audit_sequence;
  std::optional<std::vector<brackfern::SignedAuditEvent>> audit_log;

  const auto read_bundle = [](const JsonValue& v) { return brackfern::read_nullable(v, CommittedBundle::from_json); };
  const auto read = brackfern::read_object(
      value, "struct NodeState",
      {
          JsonField{"identity", true, store_into(identity, NodeIdentity::from_json)},
          JsonField{"enrollment", true, store_into(enrollment, EnrollmentState::from_json)},
          JsonField{"committed", false, store_into(committed, read_bundle)},
          JsonField{"previous_committed", false, store_into(previous_committed, read_bundle)},
          JsonField{"audit_head", false,
                    store_into(audit_head,
                               [](const JsonValue& v) {
                                 return brackfern::read_nullable(v, [](const JsonValue& inner) {
                                   return brackfern::read_parsed(inner, brackfern::ContentHash::from_str);
                                 });
                               })},
          JsonField{"audit_sequence", true, store_into(audit_sequence, brackfern::read_u64)},
          JsonField{"audit_log", true,
                    store_into(audit_log,
                               [](const JsonValue& v) {
                                 return brackfern::read_array(v, brackfern::SignedAuditEvent::from_json);
                               })},
      });
  if (!read) return std::unexpected(read.error());
  return NodeState{std::move(*identity),
                   std::move(*enrollment),
                   committed.value_or(std::nullopt),
                   previous_committed.value_or(std::nullopt),
                   audit_head.value_or(std::nullopt),
                   *audit_sequence,
                   std::move(*audit_log)};
}

// ---- the state file ----

std::expected<NodeState, LoadStateError> load_state(const std::string& path) {
  auto text = read_text_file(path);
  if (!text) return std::unexpected(LoadStateError("reading node state at " + path + ": " + text.error().display()));
  auto document = brackfern::parse_json(*text);
  if (!document) return std::unexpected(LoadStateError(std::move(document.error())));
  auto state = NodeState::from_json(*document);
  if (!state) return std::unexpected(LoadStateError(std::move(state.error())));
  return std::move(*state);
}

// The bytes of write_pretty_json(state.to_json()), written one log entry at a
// time: a long log is never held as one JSON tree beside its text.
std::string state_file_text(const NodeState& state) {
  constexpr std::size_t kBytesBeforeLog = 4096;
  constexpr std::size_t kBytesPerEntry = 1024;  // an entry is about 820 bytes in the file
  std::string out;
  out.reserve(kBytesBeforeLog + kBytesPerEntry * state.audit_log.size());
  const auto append_name = [&out](const std::string& name, bool first) {
    out += first ? "\n  " : ",\n  ";
    brackfern::append_pretty_json(out, JsonValue(name), 1);
    out += ": ";
  };

  out.push_back('{');
  const JsonValue head = members_before_log(state);
  bool first = true;
  for (const brackfern::JsonMember& member : *head.as_object()) {
    append_name(member.key, first);
    brackfern::append_pretty_json(out, member.value, 1);
    first = false;
  }
  append_name("audit_log", first);
  if (state.audit_log.empty()) {
    out += "[]";
  } else {
    out.push_back('[');
    for (std::size_t i = 0; i < state.audit_log.size(); ++i) {
      out += i == 0 ? "\n    " : ",\n    ";
      brackfern::append_pretty_json(out, state.audit_log[i].to_json(), 2);
    }
    out += "\n  ]";
  }
  out += "\n}";
  return out;
}

namespace detail {

std::expected<void, std::string> save_state(const NodeState& state, const std::string& path,
                                            const BeforeRename& before_rename) {
  std::string text = state_file_text(state);
  const std::string_view piece = text;
  auto written = write_file_atomically(path, std::span<const std::string_view>(&piece, 1), FileSecrecy::Secret,
                                       before_rename);
  OPENSSL_cleanse(text.data(), text.size());  // the text holds the seed
  if (!written) return std::unexpected("writing node state to " + path + ": " + written.error().display());
  return {};
}

}  // namespace detail

std::expected<void, std::string> save_state(const NodeState& state, const std::string& path) {
  return detail::save_state(state, path, nullptr);
}

// ---- the audit log ----

std::expected<void, QuillmereError> record_event(NodeState& state, brackfern::AuditEvent event) {
  auto key = state.identity.signing_key();
  if (!key) return std::unexpected(std::move(key.error()));
  brackfern::AuditChain chain = brackfern::AuditChain::resume(state.audit_head, state.audit_sequence);
  auto signed_event = chain.append(std::move(event), *key);
  if (!signed_event) return std::unexpected(QuillmereError(std::move(signed_event.error())));
  state.audit_head = chain.head();
  state.audit_sequence = chain.sequence();
  state.audit_log.push_back(std::move(*signed_event));
  return {};
}

std::expected<void, QuillmereError> verify_audit(const NodeState& state) {
  auto key = state.identity.signing_key();
  if (!key) return std::unexpected(std::move(key.error()));
  auto verified = brackfern::verify_chain(state.audit_log, key->verifying_key());
  if (!verified) return std::unexpected(QuillmereError(std::move(verified.error())));
  return {};
}

}  // namespace quillmere
