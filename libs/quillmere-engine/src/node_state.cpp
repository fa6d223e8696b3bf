#include <quillmere/engine/node_state.hpp>

#include <brackfern/audit/audit_chain.hpp>
#include <brackfern/audit/written_entry.hpp>
#include <brackfern/contracts/hex.hpp>
#include <brackfern/contracts/utf8.hpp>

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
  return [&slot, read](brackfern::JsonSource& source) -> std::expected<void, JsonError> {
    auto value = read(source);
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

JsonResult<NodeIdentity> NodeIdentity::from_json(brackfern::JsonSource& source) {
  std::optional<brackfern::NodeId> node_id;
  std::optional<std::string> seed;
  const auto read =
      brackfern::read_object(source, "struct NodeIdentity",
                             {
                                 JsonField{"node_id", true,
                                           store_into(node_id,
                                                      [](brackfern::JsonSource& in) {
                                                        return brackfern::read_parsed(in, brackfern::NodeId::from_str);
                                                      })},
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

// ---- the audit log ----

StateFileText::~StateFileText() { text.wipe(secret_begin, secret_end); }

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
    return log.text_ ? log.text_->bytes() : std::string_view();
  }
};

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
  return text_->bytes().substr(entries_[i].offset, entries_[i].length);
}

const brackfern::SignedAuditEvent& AuditLog::decode(std::size_t i,
                                                    std::optional<brackfern::SignedAuditEvent>& scratch) const {
  if (entries_[i].value != 0) return values_[entries_[i].value - 1];
  // The text was read in this very form when the log was loaded.
  const std::size_t read = brackfern::read_written_entry(stored_text(i), 2, scratch);
  if (read != entries_[i].length) std::abort();
  return *scratch;
}

std::uint64_t AuditLog::event_text(std::size_t i, std::string& text,
                                   std::optional<brackfern::SignedAuditEvent>& scratch) const {
  if (entries_[i].value == 0) {
    if (const auto sequence = brackfern::append_written_event_text(stored_text(i), 2, text)) return *sequence;
    text.clear();
  }
  const brackfern::SignedAuditEvent& entry = decode(i, scratch);
  text += entry.event.to_string();
  return entry.sequence;
}

std::expected<void, brackfern::CoreError> AuditLog::verify_chain(const brackfern::VerifyingKey& key) const {
  brackfern::ChainVerifier verifier(key);
  std::string bytes;
  brackfern::WrittenChainFields fields;
  std::optional<brackfern::SignedAuditEvent> scratch;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const bool from_text = entries_[i].value == 0 && brackfern::written_signed_bytes(stored_text(i), 2, bytes, fields);
    auto checked = from_text
                       ? verifier.check_signed(bytes, fields.signature, fields.previous_event_hash, fields.sequence)
                       : verifier.check(decode(i, scratch));
    if (!checked) return checked;
  }
  return {};
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

namespace {
// Reads the log. From the state file's text, an entry written exactly as the
// writer writes it is checked in that form and kept as its span of the text;
// any other entry is read as a value.
JsonResult<AuditLog> read_audit_log(brackfern::JsonSource& source, const std::shared_ptr<StateFileText>& file) {
  if (auto entered = brackfern::enter_array(source, "a sequence"); !entered) {
    return std::unexpected(std::move(entered.error()));
  }
  AuditLog log;
  if (file) AuditLogAccess::set_text(log, file);
  for (;;) {
    auto more = source.next_element();
    if (!more) return std::unexpected(std::move(more.error()));
    if (!*more) return log;
    if (file) {
      const std::string_view ahead = source.text_ahead();
      const std::size_t offset = source.text_offset();
      const std::size_t written = ahead.starts_with('{') ? brackfern::check_written_entry(ahead, 2) : 0;
      if (written > 0 && written <= std::numeric_limits<std::uint32_t>::max()) {
        AuditLogAccess::add_text(log, offset, written);
        source.skip_text(written);
        continue;
      }
    }
    auto entry = brackfern::SignedAuditEvent::from_json(source);
    if (!entry) return std::unexpected(std::move(entry.error()));
    log.push_back(std::move(*entry));
  }
}

// Reads the state document; with `file` (whose text `source` reads), log
// entries stay as text and only the identity's part of the text is wiped
// when it is released.
JsonResult<NodeState> read_state(brackfern::JsonSource& source, const std::shared_ptr<StateFileText>& file) {
  std::optional<NodeIdentity> identity;
  std::optional<EnrollmentState> enrollment;
  std::optional<std::optional<CommittedBundle>> committed;
  std::optional<std::optional<CommittedBundle>> previous_committed;
  std::optional<std::optional<brackfern::ContentHash>> audit_head;
  std::optional<std::uint64_t> audit_sequence;
  std::optional<AuditLog> audit_log;

  const auto read_identity = [&identity, &file](brackfern::JsonSource& in) -> std::expected<void, JsonError> {
    const std::size_t begin = in.text_offset();
    auto read = NodeIdentity::from_json(in);
    if (!read) return std::unexpected(std::move(read.error()));
    identity = std::move(*read);
    if (file) {
      file->secret_begin = begin;
      file->secret_end = in.text_offset();
    }
    return {};
  };
  const auto read_bundle = [](brackfern::JsonSource& in) {
    return brackfern::read_nullable(in, CommittedBundle::from_json);
  };
  const auto read_head = [](brackfern::JsonSource& in) {
    return brackfern::read_nullable(in, [](brackfern::JsonSource& inner) {
      return brackfern::read_parsed(inner, brackfern::ContentHash::from_str);
    });
  };
  const auto read = brackfern::read_object(
      source, "struct NodeState",
      {
          JsonField{"identity", true, read_identity},
          JsonField{"enrollment", true, store_into(enrollment, EnrollmentState::from_json)},
          JsonField{"committed", false, store_into(committed, read_bundle)},
          JsonField{"previous_committed", false, store_into(previous_committed, read_bundle)},
          JsonField{"audit_head", false, store_into(audit_head, read_head)},
          JsonField{"audit_sequence", true, store_into(audit_sequence, brackfern::read_u64)},
          JsonField{"audit_log", true,
                    store_into(audit_log, [&file](brackfern::JsonSource& in) { return read_audit_log(in, file); })},
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

}  // namespace

JsonResult<NodeState> NodeState::from_json(brackfern::JsonSource& source) {
  return read_state(source, nullptr);
}

// ---- the state file ----

namespace {

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

namespace {

brackfern::JsonResult<NodeState> read_state_file(const std::shared_ptr<StateFileText>& file) {
  brackfern::TextSource source(file->bytes());
  auto state = read_state(source, file);
  if (!state) return state;
  if (auto end = source.finish(); !end) return std::unexpected(std::move(end.error()));
  return state;
}

}  // namespace

brackfern::JsonResult<NodeState> read_state_text(FileText text) {
  return read_state_file(std::make_shared<StateFileText>(std::move(text)));
}

brackfern::JsonResult<NodeState> read_state_text(std::string text) { return read_state_text(FileText(std::move(text))); }

std::expected<NodeState, LoadStateError> load_state(const std::string& path) {
  const auto read_error = [&path](const OsError& error) {
    return LoadStateError("reading node state at " + path + ": " + error.display());
  };
  auto text = map_file(path);
  if (!text) return std::unexpected(read_error(text.error()));
  // A text that is not valid UTF-8 is refused as a read error, before any
  // other problem. Reading proves every text it accepts valid: each string
  // is checked as it is read (a log entry in the writer's form included),
  // and every byte outside strings must be ASCII to be accepted at all. So
  // only a refused text needs a pass of its own.
  const auto file = std::make_shared<StateFileText>(std::move(*text));
  auto state = read_state_file(file);
  if (!state) {
    if (!brackfern::is_valid_utf8(file->bytes())) return std::unexpected(read_error(OsError::invalid_utf8()));
    return std::unexpected(LoadStateError(std::move(state.error())));
  }
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
  auto verified = state.audit_log.verify_chain(key->verifying_key());
  if (!verified) return std::unexpected(QuillmereError(std::move(verified.error())));
  return {};
}

}  // namespace quillmere
