#pragma once

// The node state: everything the node knows about itself, kept as one JSON
// document in one file. Handlers touch the file and the audit log only through
// the operations declared here: load_state, save_state, record_event and
// verify_audit.

#include <quillmere/contracts/enrollment.hpp>
#include <quillmere/contracts/quillmere_error.hpp>
#include <quillmere/contracts/service_bundle.hpp>
#include <quillmere/engine/file_io.hpp>

#include <brackfern/audit/audit_event.hpp>
#include <brackfern/contracts/identifiers.hpp>
#include <brackfern/contracts/json_read.hpp>
#include <brackfern/contracts/json_value.hpp>
#include <brackfern/crypto/content_hash.hpp>
#include <brackfern/crypto/keys.hpp>

#include <cstddef>
#include <cstdint>
#include <expected>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quillmere {

// The node's own identity: its id and the seed of its audit signing key.
// JSON: {"node_id": "<uuid>", "audit_signing_key_seed": "<64 hex>"}, both required.
struct NodeIdentity {
  brackfern::NodeId node_id;
  // The node's only secret, as stored: normally 64 lower-case hex characters.
  // A malformed seed is kept as read; it fails only in signing_key().
  std::string audit_signing_key_seed;

  // The given id with a fresh random seed (stops the program if the system
  // random source fails).
  [[nodiscard]] static NodeIdentity generate(brackfern::NodeId node_id);

  // The Ed25519 key whose seed is audit_signing_key_seed (hex in either case).
  // Anything but exactly 64 hex characters is
  // InvalidKeyMaterial("node audit signing key seed is not 64 hex characters").
  [[nodiscard]] std::expected<brackfern::SigningKey, QuillmereError> signing_key() const;

  [[nodiscard]] brackfern::JsonValue to_json() const;
  [[nodiscard]] static brackfern::JsonResult<NodeIdentity> from_json(brackfern::JsonSource& source);
  friend bool operator==(const NodeIdentity&, const NodeIdentity&) = default;
};

// The text of a loaded state file, kept for as long as any state read from it
// refers to its log entries. The part that holds the seed (all of it unless
// the reader narrowed it down to the identity member) is wiped when released.
struct StateFileText {
  FileText text;
  std::size_t secret_begin = 0;
  std::size_t secret_end = std::string::npos;
  explicit StateFileText(FileText file) : text(std::move(file)) {}
  [[nodiscard]] std::string_view bytes() const { return text.view(); }
  StateFileText(const StateFileText&) = delete;
  StateFileText& operator=(const StateFileText&) = delete;
  ~StateFileText();
};

// The audit log, oldest first. An entry read from a state file in exactly
// the form the writer gives it stays as that text (offset and length into
// the file's text) and is copied as it stands when the state is saved; any
// other entry (appended, or read in another form) is held as a value and
// written anew. Entries are handed out as values, decoded one at a time.
class AuditLog {
 public:
  AuditLog() = default;

  [[nodiscard]] std::size_t size() const { return entries_.size(); }
  [[nodiscard]] bool empty() const { return entries_.empty(); }
  // A copy (const, so that changing it by mistake does not compile).
  [[nodiscard]] const brackfern::SignedAuditEvent operator[](std::size_t i) const;
  [[nodiscard]] const brackfern::SignedAuditEvent back() const { return (*this)[size() - 1]; }

  void push_back(brackfern::SignedAuditEvent entry);
  // Replaces entry i by a value (it is then written anew).
  void replace(std::size_t i, brackfern::SignedAuditEvent entry);

  // Calls visit(const SignedAuditEvent&) for each entry in order, decoding
  // into one reused value; stops at the first visit that returns false.
  template <class Visit>
  void for_each(Visit&& visit) const {
    std::optional<brackfern::SignedAuditEvent> scratch;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (!visit(decode(i, scratch))) return;
    }
  }

  // Calls visit(sequence, text) for each entry in order, where text is what
  // the entry's event.to_string() gives, read straight from the stored text
  // where it can be; stops at the first visit that returns false.
  template <class Visit>
  void for_each_event_text(Visit&& visit) const {
    std::string text;
    std::optional<brackfern::SignedAuditEvent> scratch;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      text.clear();
      const std::uint64_t sequence = event_text(i, text, scratch);
      if (!visit(sequence, std::string_view(text))) return;
    }
  }

  // Checks the log as brackfern::verify_chain does, with the entries kept as
  // text signed from that text where it can be.
  [[nodiscard]] std::expected<void, brackfern::CoreError> verify_chain(const brackfern::VerifyingKey& key) const;

  // The stored text of entry i when it is kept as read, else empty.
  [[nodiscard]] std::string_view stored_text(std::size_t i) const;

  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = brackfern::SignedAuditEvent;
    using difference_type = std::ptrdiff_t;
    Iterator(const AuditLog* log, std::size_t i) : log_(log), i_(i) {}
    brackfern::SignedAuditEvent operator*() const { return (*log_)[i_]; }
    Iterator& operator++() {
      ++i_;
      return *this;
    }
    bool operator==(const Iterator& other) const { return i_ == other.i_; }

   private:
    const AuditLog* log_;
    std::size_t i_;
  };
  [[nodiscard]] Iterator begin() const { return Iterator(this, 0); }
  [[nodiscard]] Iterator end() const { return Iterator(this, size()); }

  friend bool operator==(const AuditLog& a, const AuditLog& b);

 private:
  friend struct AuditLogAccess;
  // An entry kept as text has value == 0; otherwise it is values_[value - 1].
  struct Entry {
    std::uint64_t offset = 0;
    std::uint32_t length = 0;
    std::uint32_t value = 0;
  };
  const brackfern::SignedAuditEvent& decode(std::size_t i, std::optional<brackfern::SignedAuditEvent>& scratch) const;
  std::uint64_t event_text(std::size_t i, std::string& text, std::optional<brackfern::SignedAuditEvent>& scratch) const;

  std::shared_ptr<const StateFileText> text_;
  std::vector<Entry> entries_;
  std::vector<brackfern::SignedAuditEvent> values_;
};

// The whole state document. Members are written in declaration order; the
// three optional members are written as null when absent (unlike every other
// document, which leaves absent members out). On reading, identity,
// enrollment, audit_sequence and audit_log are required; committed,
// previous_committed and audit_head may be null or missing; members of other
// names are ignored and dropped on the next save.
struct NodeState {
  NodeIdentity identity;
  EnrollmentState enrollment;
  std::optional<CommittedBundle> committed;
  std::optional<CommittedBundle> previous_committed;
  std::optional<brackfern::ContentHash> audit_head;  // hash of the newest audit event
  std::uint64_t audit_sequence = 0;                  // the chain's sequence counter
  AuditLog audit_log;                                // oldest first; only ever grows

  // A new node: unenrolled, nothing committed, an empty audit log.
  [[nodiscard]] static NodeState create(NodeIdentity identity);

  [[nodiscard]] brackfern::JsonValue to_json() const;
  // Fails with the reader's error and position ("missing field `identity`",
  // "invalid type: ..., expected struct NodeState", ...).
  [[nodiscard]] static brackfern::JsonResult<NodeState> from_json(brackfern::JsonSource& source);
  friend bool operator==(const NodeState&, const NodeState&) = default;
};

// Why the state file could not be loaded: a text message ("reading node state
// at {path}: {os error}") when the file cannot be read as UTF-8 text, or the
// JSON reader's own error when the text is not a NodeState.
using LoadStateError = std::variant<std::string, brackfern::JsonError>;

// Reads the whole file at `path` and parses it as one NodeState. The path
// appears in messages exactly as given.
[[nodiscard]] std::expected<NodeState, LoadStateError> load_state(const std::string& path);

// Parses the text of a state file (what load_state does after reading it).
// The state keeps the text for its log entries.
[[nodiscard]] brackfern::JsonResult<NodeState> read_state_text(FileText text);
[[nodiscard]] brackfern::JsonResult<NodeState> read_state_text(std::string text);

// The file form of the state: indented JSON, two spaces per level, no newline
// after the closing brace.
[[nodiscard]] std::string state_file_text(const NodeState& state);

// Writes the state to `path` so that the path always holds either the old or
// the new complete document (see write_file_atomically). A new file gets mode
// 0600 (the seed is a secret); an existing file keeps its mode. Failure is the
// text "writing node state to {path}: {os error}", and the old file is intact.
[[nodiscard]] std::expected<void, std::string> save_state(const NodeState& state, const std::string& path);

namespace detail {
// save_state with the file writer's test seam (see detail::write_file_atomically).
[[nodiscard]] std::expected<void, std::string> save_state(const NodeState& state, const std::string& path,
                                                          const BeforeRename& before_rename);
}  // namespace detail

// Signs `event` with the node's audit key and appends it to the state's audit
// chain: audit_head, audit_sequence and audit_log change together, and only on
// success. A null audit_head starts a fresh chain (the stored sequence is then
// not used). Fails with the error of NodeIdentity::signing_key or with the
// chain's CoreError (as Core), leaving the state untouched. Writes no file.
[[nodiscard]] std::expected<void, QuillmereError> record_event(NodeState& state, brackfern::AuditEvent event);

// Verifies the whole audit log, in stored order, against the node's audit key.
// Fails with the error of NodeIdentity::signing_key or the chain's first
// CoreError (as Core). audit_head and audit_sequence are not compared.
[[nodiscard]] std::expected<void, QuillmereError> verify_audit(const NodeState& state);

}  // namespace quillmere
