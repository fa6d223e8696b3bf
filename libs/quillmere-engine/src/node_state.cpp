#include <quillmere/engine/node_state.hpp>

#include <brackfern/audit/audit_chain.hpp>
#include <brackfern/audit/written_entry.hpp>
#include <brackfern/contracts/hex.hpp>

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
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
  audit_log.for_each([&log](const brackfern::SignedAuditEvent& entry) {
    log.as_array()->push_back(entry.to_json());
    return true;
  });
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
                   AuditLog::from_entries(std::move(*audit_log))};
}

// ---- the audit log ----

StateFileText::~StateFileText() {
  const std::size_t end = std::min(secret_end, bytes.size());
  if (secret_begin < end) OPENSSL_cleanse(bytes.data() + secret_begin, end - secret_begin);
}

// How the state file's reader fills a log with entries kept as text.
struct AuditLogAccess {
  static void set_text(AuditLog& log, std::shared_ptr<const StateFileText> text) { log.text_ = std::move(text); }
  static void add_text(AuditLog& log, std::size_t offset, std::size_t length) {
    log.entries_.push_back(AuditLog::Entry{offset, static_cast<std::uint32_t>(length), 0});
  }
  static std::size_t entry_count(const AuditLog& log) { return log.entries_.size(); }
  static bool is_text(const AuditLog& log, std::size_t i) { return log.entries_[i].value == 0; }
  static std::size_t text_offset(const AuditLog& log, std::size_t i) { return log.entries_[i].offset; }
  static const brackfern::SignedAuditEvent& value(const AuditLog& log, std::size_t i) {
    return log.values_[log.entries_[i].value - 1];
  }
  static std::string_view file_text(const AuditLog& log) {
    return log.text_ ? std::string_view(log.text_->bytes) : std::string_view();
  }
};

AuditLog AuditLog::from_entries(std::vector<brackfern::SignedAuditEvent> entries) {
  AuditLog log;
  log.values_ = std::move(entries);
  log.entries_.resize(log.values_.size());
  for (std::size_t i = 0; i < log.entries_.size(); ++i) log.entries_[i].value = static_cast<std::uint32_t>(i + 1);
  return log;
}

void AuditLog::push_back(brackfern::SignedAuditEvent entry) {
  values_.push_back(std::move(entry));
  entries_.push_back(Entry{0, 0, static_cast<std::uint32_t>(values_.size())});
}

void AuditLog::replace(std::size_t i, brackfern::SignedAuditEvent entry) {
  if (entries_[i].value != 0) {
    values_[entries_[i].value - 1] = std::move(entry);
    return;
  }
  values_.push_back(std::move(entry));
  entries_[i] = Entry{0, 0, static_cast<std::uint32_t>(values_.size())};
}

std::string_view AuditLog::stored_text(std::size_t i) const {
  if (entries_[i].value != 0) return {};
  return std::string_view(text_->bytes).substr(entries_[i].offset, entries_[i].length);
}

const brackfern::SignedAuditEvent& AuditLog::decode(std::size_t i,
                                                    std::optional<brackfern::SignedAuditEvent>& scratch) const {
  if (entries_[i].value != 0) return values_[entries_[i].value - 1];
  // The text was read in this very form when the log was loaded.
  const std::size_t read = brackfern::read_written_entry(stored_text(i), 2, scratch);
  if (read != entries_[i].length) std::abort();
  return *scratch;
}

const brackfern::SignedAuditEvent AuditLog::operator[](std::size_t i) const {
  std::optional<brackfern::SignedAuditEvent> scratch;
  return decode(i, scratch);
}

bool operator==(const AuditLog& a, const AuditLog& b) {
  if (a.size() != b.size()) return false;
  std::optional<brackfern::SignedAuditEvent> scratch_a;
  std::optional<brackfern::SignedAuditEvent> scratch_b;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!(a.decode(i, scratch_a) == b.decode(i, scratch_b))) return false;
  }
  return true;
}

// ---- the state file ----

namespace {

// The member names the state document knows; any other is read and dropped.
constexpr std::array<std::string_view, 7> kStateMembers{
    "identity", "enrollment", "committed", "previous_committed", "audit_head", "audit_sequence", "audit_log"};

constexpr bool is_space(char c) {
  return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

// Reads a state file in one pass over its text for the common case: the
// document is well formed, every member name is plain, and the log's entries
// are (mostly) in the writer's own form, which are then kept as spans of the
// text. Anything else, and every error, is left to the general reader (an
// empty result), which decides with its own messages and positions. Every
// value other than the log is read by the general reader as it stands, so
// both agree on what a text means.
class StateScan {
 public:
  explicit StateScan(std::shared_ptr<StateFileText> file)
      : file_(std::move(file)), begin_(file_->bytes.data()), p_(begin_), end_(begin_ + file_->bytes.size()) {}

  std::optional<NodeState> read() {
    skip_space();
    if (!take('{')) return std::nullopt;
    skip_space();
    JsonValue head = JsonValue::empty_object();
    std::size_t identity_begin = 0;
    std::size_t identity_end = 0;
    std::array<bool, kStateMembers.size()> seen{};
    std::vector<std::string_view> others;
    AuditLog log;
    do {
      skip_space();
      std::string_view name;
      if (!plain_name(name)) return std::nullopt;
      const auto known = std::find(kStateMembers.begin(), kStateMembers.end(), name);
      if (known != kStateMembers.end()) {
        const auto index = static_cast<std::size_t>(known - kStateMembers.begin());
        if (seen[index]) return std::nullopt;
        seen[index] = true;
      } else {
        if (std::find(others.begin(), others.end(), name) != others.end()) return std::nullopt;
        others.push_back(name);
      }
      skip_space();
      if (!take(':')) return std::nullopt;
      skip_space();
      if (name == "audit_log") {
        if (!read_log(log)) return std::nullopt;
      } else {
        const auto value_begin = static_cast<std::size_t>(p_ - begin_);
        auto value = read_value(1);
        if (!value) return std::nullopt;
        if (known != kStateMembers.end()) head.add(std::string(name), std::move(*value));
        if (name == "identity") {
          identity_begin = value_begin;
          identity_end = static_cast<std::size_t>(p_ - begin_);
        }
      }
      skip_space();
      if (take('}')) break;
      if (!take(',')) return std::nullopt;
    } while (true);
    skip_space();
    if (p_ != end_ || !seen.back()) return std::nullopt;
    head.add("audit_log", JsonValue::empty_array());
    auto state = NodeState::from_json(head);
    if (!state) return std::nullopt;
    // Only the identity holds the seed.
    file_->secret_begin = identity_begin;
    file_->secret_end = identity_end;
    AuditLogAccess::set_text(log, file_);
    state->audit_log = std::move(log);
    return std::move(*state);
  }

 private:
  void skip_space() {
    while (p_ != end_ && is_space(*p_)) ++p_;
  }

  bool take(char c) {
    if (p_ == end_ || *p_ != c) return false;
    ++p_;
    return true;
  }

  // A member name of printable ASCII without escapes (any other name is
  // left to the general reader, which also checks its UTF-8).
  bool plain_name(std::string_view& out) {
    if (!take('"')) return false;
    const char* const start = p_;
    while (p_ != end_ && *p_ != '"') {
      const auto c = static_cast<unsigned char>(*p_);
      if (c == '\\' || c < 0x20 || c >= 0x80) return false;
      ++p_;
    }
    if (p_ == end_) return false;
    out = std::string_view(start, static_cast<std::size_t>(p_ - start));
    ++p_;
    return true;
  }

  // Where the value at p_ ends, following strings and brackets only: the
  // general reader then judges the value itself.
  const char* value_end() const {
    const char* p = p_;
    int depth = 0;
    while (p != end_) {
      const char c = *p;
      if (c == '"') {
        for (++p; p != end_ && *p != '"'; ++p) {
          if (*p == '\\' && ++p == end_) return nullptr;
        }
        if (p == end_) return nullptr;
        ++p;
        if (depth == 0) return p;
      } else if (c == '[' || c == '{') {
        ++depth;
        ++p;
      } else if (c == ']' || c == '}') {
        if (depth == 0) return p;
        ++p;
        if (--depth == 0) return p;
      } else if (depth == 0 && (c == ',' || is_space(c))) {
        return p;
      } else {
        ++p;
      }
    }
    return depth == 0 ? p : nullptr;
  }

  // The value at p_, standing inside `open_containers` containers.
  std::optional<JsonValue> read_value(int open_containers) {
    const char* const end = value_end();
    if (end == nullptr || end == p_) return std::nullopt;
    auto value =
        brackfern::detail::parse_json_nested(std::string_view(p_, static_cast<std::size_t>(end - p_)), open_containers);
    if (!value) return std::nullopt;
    p_ = end;
    return std::move(*value);
  }

  bool read_log(AuditLog& log) {
    if (!take('[')) return false;
    skip_space();
    if (take(']')) return true;
    std::optional<brackfern::SignedAuditEvent> scratch;
    do {
      skip_space();
      if (p_ == end_ || *p_ != '{') return false;
      const auto offset = static_cast<std::size_t>(p_ - begin_);
      const std::size_t written =
          brackfern::read_written_entry(std::string_view(p_, static_cast<std::size_t>(end_ - p_)), 2, scratch);
      if (written > 0 && written <= std::numeric_limits<std::uint32_t>::max()) {
        AuditLogAccess::add_text(log, offset, written);
        p_ += written;
      } else {
        auto value = read_value(2);
        if (!value) return false;
        auto entry = brackfern::SignedAuditEvent::from_json(*value);
        if (!entry) return false;
        log.push_back(std::move(*entry));
      }
      skip_space();
      if (take(']')) return true;
    } while (take(','));
    return false;
  }

  std::shared_ptr<StateFileText> file_;
  const char* begin_;
  const char* p_;
  const char* end_;
};

constexpr std::string_view kFirstEntry = "\n    ";
constexpr std::string_view kNextEntry = ",\n    ";

// The state's file form as consecutive pieces: the members before the log
// (rendered into `head`), each log entry (its stored text, with runs of
// entries that stand in the file exactly as written taken as one piece, or
// its value rendered into `rendered`), and the closing brackets.
std::vector<std::string_view> file_pieces(const NodeState& state, std::string& head, std::string& rendered) {
  const auto append_name = [&head](std::string_view name, bool first) {
    head += first ? "\n  " : ",\n  ";
    brackfern::append_pretty_json(head, JsonValue(name), 1);
    head += ": ";
  };
  head.push_back('{');
  const JsonValue before_log = members_before_log(state);
  bool first = true;
  for (const brackfern::JsonMember& member : *before_log.as_object()) {
    append_name(member.key, first);
    brackfern::append_pretty_json(head, member.value, 1);
    first = false;
  }
  append_name("audit_log", first);

  const AuditLog& log = state.audit_log;
  const std::size_t count = AuditLogAccess::entry_count(log);
  std::vector<std::size_t> rendered_end;  // per entry held as a value, where its text ends in `rendered`
  for (std::size_t i = 0; i < count; ++i) {
    if (AuditLogAccess::is_text(log, i)) continue;
    brackfern::append_pretty_json(rendered, AuditLogAccess::value(log, i).to_json(), 2);
    rendered_end.push_back(rendered.size());
  }

  std::vector<std::string_view> pieces;
  pieces.push_back(head);
  if (count == 0) {
    pieces.emplace_back("[]\n}");
    return pieces;
  }
  pieces.emplace_back("[");
  const std::string_view file = AuditLogAccess::file_text(log);
  std::size_t next_value = 0;
  std::size_t run_end = 0;  // end in the file of the previous entry when it was taken from the file
  for (std::size_t i = 0; i < count; ++i) {
    if (AuditLogAccess::is_text(log, i)) {
      const std::string_view text = log.stored_text(i);
      const std::size_t offset = AuditLogAccess::text_offset(log, i);
      if (run_end != 0 && offset >= run_end && file.substr(run_end, offset - run_end) == kNextEntry) {
        // The separator in the file is the one the writer puts: extend the run.
        const std::string_view& last = pieces.back();
        pieces.back() = std::string_view(last.data(), last.size() + (offset - run_end) + text.size());
      } else {
        pieces.push_back(i == 0 ? kFirstEntry : kNextEntry);
        pieces.push_back(text);
      }
      run_end = offset + text.size();
    } else {
      const std::size_t start = next_value == 0 ? 0 : rendered_end[next_value - 1];
      pieces.push_back(i == 0 ? kFirstEntry : kNextEntry);
      pieces.push_back(std::string_view(rendered).substr(start, rendered_end[next_value] - start));
      ++next_value;
      run_end = 0;
    }
  }
  pieces.emplace_back("\n  ]\n}");
  return pieces;
}

}  // namespace

brackfern::JsonResult<NodeState> read_state_text(std::string text) {
  auto file = std::make_shared<StateFileText>(std::move(text));
  if (auto state = StateScan(file).read()) return std::move(*state);
  auto document = brackfern::parse_json(file->bytes);
  if (!document) return std::unexpected(std::move(document.error()));
  return NodeState::from_json(*document);
}

std::expected<NodeState, LoadStateError> load_state(const std::string& path) {
  auto text = read_text_file(path);
  if (!text) return std::unexpected(LoadStateError("reading node state at " + path + ": " + text.error().display()));
  auto state = read_state_text(std::move(*text));
  if (!state) return std::unexpected(LoadStateError(std::move(state.error())));
  return std::move(*state);
}

// The bytes of write_pretty_json(state.to_json()).
std::string state_file_text(const NodeState& state) {
  std::string head;
  std::string rendered;
  std::string out;
  const std::vector<std::string_view> pieces = file_pieces(state, head, rendered);
  std::size_t size = 0;
  for (const std::string_view piece : pieces) size += piece.size();
  out.reserve(size);
  for (const std::string_view piece : pieces) out += piece;
  OPENSSL_cleanse(head.data(), head.size());
  return out;
}

namespace detail {

std::expected<void, std::string> save_state(const NodeState& state, const std::string& path,
                                            const BeforeRename& before_rename) {
  std::string head;
  std::string rendered;
  const std::vector<std::string_view> pieces = file_pieces(state, head, rendered);
  auto written = write_file_atomically(path, pieces, FileSecrecy::Secret, before_rename);
  OPENSSL_cleanse(head.data(), head.size());  // the head holds the seed
  if (!written) return std::unexpected("writing node state to " + path + ": " + written.error().display());
  return {};
}

}  // namespace detail

std::expected<void, std::string> save_state(const NodeState& state, const std::string& path) {
  return detail::save_state(state, path, nullptr);
}

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
  brackfern::ChainVerifier verifier(key->verifying_key());
  std::expected<void, brackfern::CoreError> verified;
  state.audit_log.for_each([&](const brackfern::SignedAuditEvent& entry) {
    verified = verifier.check(entry);
    return verified.has_value();
  });
  if (!verified) return std::unexpected(QuillmereError(std::move(verified.error())));
  return {};
}

}  // namespace quillmere
