#include <brackfern/audit/written_entry.hpp>

#include <brackfern/contracts/utf8.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace brackfern {

namespace {

constexpr bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
constexpr bool is_lower_hex(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f');
}

// Value of each lower-case hex digit; -1 for every other byte.
constexpr std::array<std::int8_t, 256> make_lower_hex() {
  std::array<std::int8_t, 256> values{};
  for (auto& v : values) v = -1;
  for (int c = '0'; c <= '9'; ++c) values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'a' + 10);
  return values;
}
constexpr std::array<std::int8_t, 256> kLowerHex = make_lower_hex();

// Decodes exactly 2 * N lower-case hex digits.
template <std::size_t N>
bool decode_lower_hex(const char* text, std::array<std::uint8_t, N>& out) {
  for (std::size_t i = 0; i < N; ++i) {
    const int high = kLowerHex[static_cast<unsigned char>(text[2 * i])];
    const int low = kLowerHex[static_cast<unsigned char>(text[2 * i + 1])];
    if ((high | low) < 0) return false;
    out[i] = static_cast<std::uint8_t>((high << 4) | low);
  }
  return true;
}

// A line break followed by the indentation of up to 40 levels.
constexpr std::string_view kLineBreak =
    "\n                                                                                ";

// An entry to decode into the first time: every member is overwritten.
SignedAuditEvent placeholder_entry() {
  return SignedAuditEvent{AuditEvent{
                              .event_id = AuditEventId::from_uuid(Uuid{}),
                              .tenant_id = std::nullopt,
                              .workspace_id = std::nullopt,
                              .product_id = ProductId::from_static("x"),
                              .source_node_id = std::nullopt,
                              .actor = Actor{},
                              .target = Target{},
                              .action = {},
                              .result = AuditResult::Unknown,
                              .severity = Severity::Info,
                              .category = AuditCategory::Security,
                              .occurred_at = Timestamp::from_unix(0),
                              .received_at = std::nullopt,
                              .correlation_id = std::nullopt,
                              .metadata_encrypted = std::nullopt,
                              .retention_class = RetentionClass::Security,
                              .redaction_markers = {},
                              .previous_event_hash = std::nullopt,
                          },
                          0, Signature(std::array<std::uint8_t, 64>{})};
}

// A cursor that accepts only the writer's own text: any other spelling of
// the same content is refused rather than understood.
class WrittenForm {
 public:
  explicit WrittenForm(std::string_view text) : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()) {}

  [[nodiscard]] std::size_t consumed() const { return static_cast<std::size_t>(p_ - begin_); }

  bool entry(SignedAuditEvent& out, std::size_t depth) {
    Object o{depth};
    return literal("{") && member(o, "event") && event(out.event, depth + 1) && member(o, "sequence") &&
           u64(out.sequence) && member(o, "signature") && signature(out.signature) && close(o);
  }

 private:
  // An object being read: the name of its next member is looked at once and
  // then compared with each member the declaration allows at that place.
  struct Object {
    std::size_t depth;
    bool first = true;
    bool peeked = false;
    std::string_view next = {};   // the next member's name, when peeked and present
    const char* after = nullptr;  // just after that name's `": `; nullptr when there is none
  };

  bool literal(std::string_view s) {
    if (static_cast<std::size_t>(end_ - p_) < s.size() || std::memcmp(p_, s.data(), s.size()) != 0) return false;
    p_ += s.size();
    return true;
  }

  // A line break and the indentation of `depth` levels.
  bool line_break(std::size_t depth) {
    const std::size_t n = 1 + 2 * depth;
    return n <= kLineBreak.size() && literal(kLineBreak.substr(0, n));
  }

  // Looks at `,` (after the first member), the line break and `"name": `
  // without consuming them.
  void peek(Object& o) {
    o.peeked = true;
    o.after = nullptr;
    const char* const start = p_;
    if ((o.first || literal(",")) && line_break(o.depth + 1) && literal("\"")) {
      const char* const name = p_;
      while (p_ != end_ && *p_ != '"' && *p_ != '\\' && static_cast<unsigned char>(*p_) >= 0x20) ++p_;
      const char* const name_end = p_;
      if (literal("\": ")) {
        o.next = std::string_view(name, static_cast<std::size_t>(name_end - name));
        o.after = p_;
      }
    }
    p_ = start;
  }

  // Consumes the next member's separator and name when the member is `name`.
  bool member(Object& o, std::string_view name) {
    if (!o.peeked) peek(o);
    if (o.after == nullptr || o.next != name) return false;
    p_ = o.after;
    o.first = false;
    o.peeked = false;
    return true;
  }

  bool close(Object& o) {
    if (!o.peeked) peek(o);
    return o.after == nullptr && !o.first && line_break(o.depth) && literal("}");
  }

  // A string without escapes (identifiers, names, hex and timestamps).
  bool plain_string(std::string_view& out) {
    if (p_ == end_ || *p_ != '"') return false;
    const char* const start = ++p_;
    while (p_ != end_ && *p_ != '"') {
      if (*p_ == '\\' || static_cast<unsigned char>(*p_) < 0x20) return false;
      ++p_;
    }
    if (p_ == end_) return false;
    out = std::string_view(start, static_cast<std::size_t>(p_ - start));
    ++p_;
    return true;
  }

  // Free text; the only escapes are those the writer makes.
  bool string(std::string& out) {
    if (p_ == end_ || *p_ != '"') return false;
    ++p_;
    out.clear();
    const char* start = p_;
    bool non_ascii = false;
    for (;;) {
      while (p_ != end_) {
        const auto c = static_cast<unsigned char>(*p_);
        if (c == '"' || c == '\\' || c < 0x20) break;
        non_ascii |= c >= 0x80;
        ++p_;
      }
      if (p_ == end_ || *p_ != (*p_ == '"' ? '"' : '\\')) return false;
      out.append(start, p_);
      if (*p_ == '"') {
        ++p_;
        return !non_ascii || is_valid_utf8(out);
      }
      if (end_ - p_ < 2) return false;
      char decoded = 0;
      switch (p_[1]) {
        case '"':
          decoded = '"';
          break;
        case '\\':
          decoded = '\\';
          break;
        case 'b':
          decoded = '\b';
          break;
        case 'f':
          decoded = '\f';
          break;
        case 'n':
          decoded = '\n';
          break;
        case 'r':
          decoded = '\r';
          break;
        case 't':
          decoded = '\t';
          break;
        case 'u': {
          // Only control characters without a short escape, in lower-case hex.
          if (end_ - p_ < 6 || p_[2] != '0' || p_[3] != '0' || (p_[4] != '0' && p_[4] != '1') || !is_lower_hex(p_[5])) {
            return false;
          }
          const int low = is_digit(p_[5]) ? p_[5] - '0' : p_[5] - 'a' + 10;
          decoded = static_cast<char>((p_[4] - '0') * 16 + low);
          if (decoded == '\b' || decoded == '\f' || decoded == '\n' || decoded == '\r' || decoded == '\t') {
            return false;
          }
          out.push_back(decoded);
          p_ += 6;
          start = p_;
          continue;
        }
        default:
          return false;
      }
      out.push_back(decoded);
      p_ += 2;
      start = p_;
    }
  }

  bool u64(std::uint64_t& out) {
    if (p_ == end_ || !is_digit(*p_)) return false;
    std::uint64_t value = 0;
    if (*p_ == '0') {
      ++p_;
    } else {
      constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
      while (p_ != end_ && is_digit(*p_)) {
        const auto digit = static_cast<std::uint64_t>(*p_ - '0');
        if (value > (kMax - digit) / 10) return false;
        value = value * 10 + digit;
        ++p_;
      }
    }
    if (p_ != end_ && (is_digit(*p_) || *p_ == '.' || *p_ == 'e' || *p_ == 'E')) return false;
    out = value;
    return true;
  }

  // The hyphenated lower-case form, 8-4-4-4-12 digits.
  template <class Id>
  bool uuid(Id& out) {
    std::string_view text;
    if (!plain_string(text) || text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
        text[23] != '-') {
      return false;
    }
    Uuid uuid;
    std::array<std::uint8_t, 4> a{};
    std::array<std::uint8_t, 2> b{};
    std::array<std::uint8_t, 2> c{};
    std::array<std::uint8_t, 2> d{};
    std::array<std::uint8_t, 6> e{};
    if (!decode_lower_hex(text.data(), a) || !decode_lower_hex(text.data() + 9, b) ||
        !decode_lower_hex(text.data() + 14, c) || !decode_lower_hex(text.data() + 19, d) ||
        !decode_lower_hex(text.data() + 24, e)) {
      return false;
    }
    auto at = std::copy(a.begin(), a.end(), uuid.bytes.begin());
    at = std::copy(b.begin(), b.end(), at);
    at = std::copy(c.begin(), c.end(), at);
    at = std::copy(d.begin(), d.end(), at);
    std::copy(e.begin(), e.end(), at);
    out = Id::from_uuid(uuid);
    return true;
  }

  bool product(ProductId& out) {
    std::string_view text;
    if (!plain_string(text)) return false;
    if (text == out.str()) return true;
    auto parsed = ProductId::from_str(text);
    if (!parsed) return false;
    out = std::move(*parsed);
    return true;
  }

  bool timestamp(Timestamp& out) {
    std::string_view text;
    if (!plain_string(text)) return false;
    auto parsed = Timestamp::from_str(text);
    if (!parsed || parsed->to_rfc3339() != text) return false;
    out = *parsed;
    return true;
  }

  bool hash(ContentHash& out) {
    std::string_view text;
    if (!plain_string(text) || text.size() != 7 + 64) return false;
    HashAlgorithm algorithm{};
    if (text.starts_with("blake3:")) {
      algorithm = HashAlgorithm::Blake3;
    } else if (text.starts_with("sha256:")) {
      algorithm = HashAlgorithm::Sha256;
    } else {
      return false;
    }
    std::array<std::uint8_t, 32> digest{};
    if (!decode_lower_hex(text.data() + 7, digest)) return false;
    out = ContentHash(algorithm, digest);
    return true;
  }

  bool signature(Signature& out) {
    std::string_view text;
    std::array<std::uint8_t, 64> bytes{};
    if (!plain_string(text) || text.size() != 128 || !decode_lower_hex(text.data(), bytes)) return false;
    out = Signature(bytes);
    return true;
  }

  template <class Enum>
  bool enumeration(Enum& out) {
    std::string_view text;
    if (!plain_string(text)) return false;
    const auto value = enum_from_name<Enum>(text);
    if (!value) return false;
    out = *value;
    return true;
  }

  // A byte string: never empty-bracketed unless empty, one number per line.
  bool bytes(ByteString& out, std::size_t depth) {
    out.clear();
    if (literal("[]")) return true;
    if (!literal("[")) return false;
    do {
      std::uint64_t byte = 0;
      if (!line_break(depth + 1) || !u64(byte) || byte > 255) return false;
      out.push_back(static_cast<std::uint8_t>(byte));
    } while (literal(","));
    return line_break(depth) && literal("]");
  }

  // An optional member: present (and then read) or left out, never null.
  template <class T, class Read>
  bool optional(Object& o, std::string_view name, std::optional<T>& slot, Read read) {
    if (!member(o, name)) {
      slot.reset();
      return true;
    }
    if (!slot) slot.emplace(placeholder<T>());
    return read(*slot);
  }

  template <class T>
  static T placeholder() {
    if constexpr (std::is_same_v<T, Timestamp>) {
      return Timestamp::from_unix(0);
    } else if constexpr (std::is_same_v<T, ContentHash>) {
      return ContentHash(HashAlgorithm::Blake3, {});
    } else if constexpr (requires { T::from_uuid(Uuid{}); }) {
      return T::from_uuid(Uuid{});
    } else {
      return T{};
    }
  }

  bool actor(Actor& out, std::size_t depth) {
    Object o{depth};
    return literal("{") && member(o, "actor_type") && enumeration(out.actor_type) &&
           optional(o, "actor_id", out.actor_id, [this](std::string& s) { return string(s); }) &&
           optional(o, "display_name_encrypted", out.display_name_encrypted,
                    [this, depth](ByteString& b) { return bytes(b, depth + 1); }) &&
           close(o);
  }

  bool target(Target& out, std::size_t depth) {
    Object o{depth};
    return literal("{") && member(o, "target_type") && string(out.target_type) &&
           optional(o, "target_id", out.target_id, [this](std::string& s) { return string(s); }) && close(o);
  }

  bool marker(RedactionMarker& out, std::size_t depth) {
    Object o{depth};
    return literal("{") && member(o, "field_path") && string(out.field_path) && member(o, "reason") &&
           enumeration(out.reason) &&
           optional(o, "redaction_policy_id", out.redaction_policy_id, [this](PolicyId& id) { return uuid(id); }) &&
           optional(o, "applied_at", out.applied_at, [this](Timestamp& t) { return timestamp(t); }) &&
           optional(o, "applied_by", out.applied_by, [this](IdentityId& id) { return uuid(id); }) && close(o);
  }

  // Written only when there is at least one marker.
  bool markers(std::vector<RedactionMarker>& out, std::size_t depth) {
    if (!literal("[")) return false;
    std::size_t count = 0;
    do {
      if (count == out.size()) out.emplace_back();
      if (!line_break(depth + 1) || !marker(out[count], depth + 1)) return false;
      ++count;
    } while (literal(","));
    out.resize(count);
    return line_break(depth) && literal("]");
  }

  bool event(AuditEvent& e, std::size_t depth) {
    Object o{depth};
    const auto text = [this](std::string& s) { return string(s); };
    if (!literal("{") || !member(o, "event_id") || !uuid(e.event_id) ||
        !optional(o, "tenant_id", e.tenant_id, [this](TenantId& id) { return uuid(id); }) ||
        !optional(o, "workspace_id", e.workspace_id, [this](WorkspaceId& id) { return uuid(id); }) ||
        !member(o, "product_id") || !product(e.product_id) ||
        !optional(o, "source_node_id", e.source_node_id, [this](NodeId& id) { return uuid(id); }) ||
        !member(o, "actor") || !actor(e.actor, depth + 1) || !member(o, "target") || !target(e.target, depth + 1) ||
        !member(o, "action") || !string(e.action) || !member(o, "result") || !enumeration(e.result) ||
        !member(o, "severity") || !enumeration(e.severity) || !member(o, "category") || !enumeration(e.category) ||
        !member(o, "occurred_at") || !timestamp(e.occurred_at) ||
        !optional(o, "received_at", e.received_at, [this](Timestamp& t) { return timestamp(t); }) ||
        !optional(o, "correlation_id", e.correlation_id, text) ||
        !optional(o, "metadata_encrypted", e.metadata_encrypted,
                  [this, depth](ByteString& b) { return bytes(b, depth + 1); }) ||
        !member(o, "retention_class") || !enumeration(e.retention_class)) {
      return false;
    }
    if (member(o, "redaction_markers")) {
      if (!markers(e.redaction_markers, depth + 1)) return false;
    } else {
      e.redaction_markers.clear();
    }
    return optional(o, "previous_event_hash", e.previous_event_hash, [this](ContentHash& h) { return hash(h); }) &&
           close(o);
  }

  const char* begin_;
  const char* p_;
  const char* end_;
};

}  // namespace

std::size_t read_written_entry(std::string_view text, std::size_t depth, std::optional<SignedAuditEvent>& out) {
  if (!out) out.emplace(placeholder_entry());
  WrittenForm form(text);
  if (!form.entry(*out, depth)) return 0;
  return form.consumed();
}

}  // namespace brackfern
