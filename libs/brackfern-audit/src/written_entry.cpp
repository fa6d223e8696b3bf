#include <brackfern/audit/written_entry.hpp>

#include <brackfern/contracts/utf8.hpp>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>

namespace brackfern {

namespace {

using namespace std::string_view_literals;

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

// Checks exactly 2 * N lower-case hex digits, and decodes them into `out`
// unless it is null.
template <std::size_t N>
bool lower_hex(const char* text, std::array<std::uint8_t, N>* out) {
  int bad = 0;
  for (std::size_t i = 0; i < N; ++i) {
    const int high = kLowerHex[static_cast<unsigned char>(text[2 * i])];
    const int low = kLowerHex[static_cast<unsigned char>(text[2 * i + 1])];
    bad |= high | low;
    if (out != nullptr) (*out)[i] = static_cast<std::uint8_t>(((high & 0xF) << 4) | (low & 0xF));
  }
  return bad >= 0;
}

// Whether all bytes of a word are lower-case hex digits, a byte's range
// tested in its top bit: adding 0x80 - lo sets it exactly when the byte is
// at least lo, which carries into no other byte while every byte is ASCII.
template <class Word>
bool word_is_lower_hex(Word x) {
  constexpr Word kOnes = static_cast<Word>(0x0101010101010101u);
  constexpr Word kTop = kOnes * 0x80;
  const Word at_least_0 = x + kOnes * (0x80 - '0');
  const Word above_9 = x + kOnes * (0x80 - '9' - 1);
  const Word at_least_a = x + kOnes * (0x80 - 'a');
  const Word above_f = x + kOnes * (0x80 - 'f' - 1);
  const Word hex = ((at_least_0 & ~above_9) | (at_least_a & ~above_f)) & kTop;
  return (x & kTop) == 0 && hex == kTop;
}

std::uint64_t load8(const char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
std::uint32_t load4(const char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Whether the `n` (at least 4) bytes at `text` are all lower-case hex
// digits: what lower_hex judges, a word at a time.
// Whether sixteen bytes are all lower-case hex digits, judged as one vector
// (SSE2 on every x86-64; the compiler spells it out on a target without).
using Bytes16 = unsigned char __attribute__((vector_size(16)));

bool sixteen_lower_hex(const char* text) {
  Bytes16 v;
  std::memcpy(&v, text, sizeof v);
  const auto hex = ((v >= '0') & (v <= '9')) | ((v >= 'a') & (v <= 'f'));
  std::uint64_t halves[2];
  std::memcpy(halves, &hex, sizeof halves);
  return (halves[0] & halves[1]) == ~std::uint64_t{0};
}

bool all_lower_hex(const char* text, std::size_t n) {
  if (n < 8) return word_is_lower_hex(load4(text)) && word_is_lower_hex(load4(text + n - 4));
  if (n >= 16) {
    for (std::size_t i = 0; i + 16 < n; i += 16) {
      if (!sixteen_lower_hex(text + i)) return false;
    }
    return sixteen_lower_hex(text + n - 16);
  }
  for (std::size_t i = 0; i + 8 < n; i += 8) {
    if (!word_is_lower_hex(load8(text + i))) return false;
  }
  return word_is_lower_hex(load8(text + n - 8));
}

constexpr std::uint64_t kOneInEachByte = 0x0101010101010101u;
constexpr std::uint64_t kTopBits = kOneInEachByte * 0x80;

// The top bit of every byte of `word` below `bound` (at most 0x80), exact
// up to and including the lowest such byte: subtracting `bound` from every
// byte borrows into a byte's top bit where that byte was smaller, or where
// a lower byte already was, so only bits above the first true one can be
// false.
constexpr std::uint64_t bytes_below(std::uint64_t word, std::uint8_t bound) {
  return (word - kOneInEachByte * bound) & ~word & kTopBits;
}

// The bytes of a string's text in `word` that are a quote, a backslash or a
// control character, the bytes that end a run of plain text, marked as
// bytes_below marks them.
constexpr std::uint64_t plain_run_ends(std::uint64_t word) {
  return bytes_below(word, 0x20) | bytes_below(word ^ (kOneInEachByte * '"'), 1) |
         bytes_below(word ^ (kOneInEachByte * '\\'), 1);
}

// The first byte from `p` on that ends a run of plain text, or `end`; sets
// `non_ascii` when a byte passed over is beyond ASCII. Sixteen and then
// eight bytes at a time, the lowest marked byte telling where the run ends.
inline const char* end_of_plain_run(const char* p, const char* end, bool& non_ascii) {
  if constexpr (std::endian::native == std::endian::little) {
    // Sixteen bytes at a time as one vector, most strings ending in the
    // first; the words of the same bytes tell what lies before the end.
    while (end - p >= 16) {
      Bytes16 v;
      std::memcpy(&v, p, sizeof v);
      const auto ends = (v < 0x20) | (v == '"') | (v == '\\');
      std::uint64_t marks[2];
      std::memcpy(marks, &ends, sizeof marks);
      const std::uint64_t low = load8(p);
      const std::uint64_t high = load8(p + 8);
      if ((marks[0] | marks[1]) == 0) {
        non_ascii |= ((low | high) & kTopBits) != 0;
        p += 16;
        continue;
      }
      // A marked byte is all ones: the bits below the lowest one cover
      // exactly the bytes before it.
      if (marks[0] != 0) {
        non_ascii |= (low & kTopBits & ((marks[0] & -marks[0]) - 1)) != 0;
        return p + std::countr_zero(marks[0]) / 8;
      }
      non_ascii |= (low & kTopBits) != 0 || (high & kTopBits & ((marks[1] & -marks[1]) - 1)) != 0;
      return p + 8 + std::countr_zero(marks[1]) / 8;
    }
  }
  while (end - p >= 8) {
    const std::uint64_t word = load8(p);
    const std::uint64_t ends = plain_run_ends(word);
    if constexpr (std::endian::native == std::endian::little) {
      if (ends != 0) {
        // The bits below the lowest mark cover exactly the bytes before it.
        non_ascii |= (word & kTopBits & ((ends & -ends) - 1)) != 0;
        return p + std::countr_zero(ends) / 8;
      }
    } else if (ends != 0) {
      break;
    }
    non_ascii |= (word & kTopBits) != 0;
    p += 8;
  }
  for (; p != end; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\' || c < 0x20) break;
    non_ascii |= c >= 0x80;
  }
  return p;
}

// Compares the short literals of the written form with word loads rather
// than a library call per literal.
[[gnu::always_inline]] inline bool same_bytes(const char* a, const char* b, std::size_t n) {
  if (n >= 8) {
    const char* const a_last = a + n - 8;
    const char* const b_last = b + n - 8;
    for (; n > 8; n -= 8, a += 8, b += 8) {
      if (load8(a) != load8(b)) return false;
    }
    return load8(a_last) == load8(b_last);
  }
  if (n >= 4) return load4(a) == load4(b) && load4(a + n - 4) == load4(b + n - 4);
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// The instant whose to_rfc3339() is exactly `text`, if there is one: four
// digit year, `T`, `Z`, a valid calendar date and time of day with no leap
// second, and a fraction of one to nine digits without a trailing zero, or
// none. Reads without building the text back.
std::optional<Timestamp> written_timestamp(std::string_view text) {
  namespace chr = std::chrono;
  if (text.size() < 20) return std::nullopt;
  const char* const c = text.data();
  const auto two = [c](std::size_t i) {
    return is_digit(c[i]) && is_digit(c[i + 1]) ? (c[i] - '0') * 10 + (c[i + 1] - '0') : -1;
  };
  const int century = two(0);
  const int year_of_century = two(2);
  const int month = two(5);
  const int day = two(8);
  const int hour = two(11);
  const int minute = two(14);
  const int second = two(17);
  if ((century | year_of_century | month | day | hour | minute | second) < 0 || c[4] != '-' || c[7] != '-' ||
      c[10] != 'T' || c[13] != ':' || c[16] != ':' || text.back() != 'Z') {
    return std::nullopt;
  }
  std::uint32_t nanos = 0;
  if (text.size() > 20) {
    const std::size_t digits = text.size() - 21;
    if (c[19] != '.' || digits < 1 || digits > 9 || c[text.size() - 2] == '0') return std::nullopt;
    std::uint32_t scale = 100'000'000;
    for (std::size_t i = 0; i < digits; ++i, scale /= 10) {
      if (!is_digit(c[20 + i])) return std::nullopt;
      nanos += static_cast<std::uint32_t>(c[20 + i] - '0') * scale;
    }
  }
  if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
  const chr::year_month_day date{chr::year{century * 100 + year_of_century}, chr::month{static_cast<unsigned>(month)},
                                 chr::day{static_cast<unsigned>(day)}};
  if (!date.ok()) return std::nullopt;
  const std::int64_t days = chr::sys_days{date}.time_since_epoch().count();
  return Timestamp::from_unix(days * 86'400 + hour * 3600 + minute * 60 + second, nanos);
}

// A comma, then a line break followed by the indentation of up to 40 levels.
constexpr std::string_view kCommaLineBreak =
    ",\n                                                                                ";
constexpr std::string_view kLineBreak = kCommaLineBreak.substr(1);

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
// the same content is refused rather than understood. With kDecode it also
// stores what it reads; without, every output pointer is null and only the
// text is judged, by the very same steps.
template <bool kDecode>
class WrittenForm {
 public:
  explicit WrittenForm(std::string_view text) : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()) {}

  [[nodiscard]] std::size_t consumed() const { return static_cast<std::size_t>(p_ - begin_); }

  [[gnu::always_inline]] inline bool entry(SignedAuditEvent* out, std::size_t depth) {
    Object o{depth};
    return literal("{"sv) && member(o, "\"event\": "sv) && event(part(out, &SignedAuditEvent::event), depth + 1) &&
           member(o, "\"sequence\": "sv) && u64(part(out, &SignedAuditEvent::sequence)) &&
           member(o, "\"signature\": "sv) && signature(part(out, &SignedAuditEvent::signature)) && close(o);
  }

 private:
  // An object being read. The separator after each member is read once,
  // before the next member's name is compared with each member the
  // declaration allows at that place.
  struct Object {
    std::size_t depth;
    enum class At { Start, AfterValue, Name, Closed, Broken } at = At::Start;
  };

  // The member `member` of `*whole`, or null when only checking.
  template <class Whole, class Member>
  static Member* part(Whole* whole, Member Whole::*member) {
    if constexpr (kDecode) {
      return &(whole->*member);
    } else {
      return nullptr;
    }
  }

  // Checks 2 * N lower-case hex digits, and decodes them into `out` when
  // decoding.
  template <std::size_t N>
  static bool hex(const char* text, std::array<std::uint8_t, N>& out) {
    if constexpr (kDecode) {
      return lower_hex(text, &out);
    } else {
      return all_lower_hex(text, 2 * N);
    }
  }

  [[gnu::always_inline]] inline bool literal(std::string_view s) {
    if (static_cast<std::size_t>(end_ - p_) < s.size() || !same_bytes(p_, s.data(), s.size())) return false;
    p_ += s.size();
    return true;
  }

  // A line break and the indentation of `depth` levels.
  [[gnu::always_inline]] inline bool line_break(std::size_t depth) {
    const std::size_t n = 1 + 2 * depth;
    return n <= kLineBreak.size() && literal(std::string_view(kLineBreak.data(), n));
  }

  // Reads what follows the `{` or the last value: the line break before the
  // next member's name, or the object's end.
  [[gnu::always_inline]] inline void settle(Object& o) {
    using At = typename Object::At;
    if (o.at == At::Start) {
      o.at = line_break(o.depth + 1) ? At::Name : At::Broken;
    } else if (o.at == At::AfterValue) {
      if (p_ != end_ && *p_ == ',') {
        const std::size_t n = 2 + 2 * (o.depth + 1);
        o.at =
            n <= kCommaLineBreak.size() && literal(std::string_view(kCommaLineBreak.data(), n)) ? At::Name : At::Broken;
      } else {
        o.at = line_break(o.depth) && literal("}"sv) ? At::Closed : At::Broken;
      }
    }
  }

  // Consumes the name of the next member when it is `name`, given as it is
  // written: in quotes, then a colon and a space.
  [[gnu::always_inline]] inline bool member(Object& o, std::string_view name) {
    settle(o);
    if (o.at != Object::At::Name || !literal(name)) return false;
    o.at = Object::At::AfterValue;
    return true;
  }

  [[gnu::always_inline]] inline bool close(Object& o) {
    settle(o);
    return o.at == Object::At::Closed;
  }

  // A string without escapes (identifiers, names, hex and timestamps).
  [[gnu::always_inline]] inline bool plain_string(std::string_view& out) {
    if (p_ == end_ || *p_ != '"') return false;
    const char* const start = ++p_;
    bool non_ascii = false;
    p_ = end_of_plain_run(p_, end_, non_ascii);
    if (p_ == end_ || *p_ != '"') return false;
    out = std::string_view(start, static_cast<std::size_t>(p_ - start));
    ++p_;
    return true;
  }

  // A string of exactly 2 * N characters that are all lower-case hex digits,
  // decoded into `out` when decoding. (Hex digits are neither quotes,
  // backslashes nor control characters, so this is the plain string of that
  // length.)
  template <std::size_t N>
  bool hex_string(std::array<std::uint8_t, N>& out) {
    if (static_cast<std::size_t>(end_ - p_) < 2 * N + 2 || p_[0] != '"' || p_[2 * N + 1] != '"' || !hex(p_ + 1, out)) {
      return false;
    }
    p_ += 2 * N + 2;
    return true;
  }

  // Free text; the only escapes are those the writer makes.
  bool string(std::string* out) {
    if (p_ == end_ || *p_ != '"') return false;
    ++p_;
    if constexpr (kDecode) out->clear();
    const char* const first = p_;
    const char* start = p_;
    bool non_ascii = false;
    for (;;) {
      p_ = end_of_plain_run(p_, end_, non_ascii);
      if (p_ == end_ || *p_ != (*p_ == '"' ? '"' : '\\')) return false;
      if constexpr (kDecode) out->append(start, p_);
      if (*p_ == '"') {
        // Escapes stand for ASCII characters only, so the text is valid
        // UTF-8 exactly when its written form is.
        const std::string_view written(first, static_cast<std::size_t>(p_ - first));
        ++p_;
        return !non_ascii || is_valid_utf8(written);
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
          if constexpr (kDecode) out->push_back(decoded);
          p_ += 6;
          start = p_;
          continue;
        }
        default:
          return false;
      }
      if constexpr (kDecode) out->push_back(decoded);
      p_ += 2;
      start = p_;
    }
  }

  bool u64(std::uint64_t* out) {
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
    if (out != nullptr) *out = value;  // also when checking: a byte's range is judged on it
    return true;
  }

  // The hyphenated lower-case form, 8-4-4-4-12 digits.
  template <class Id>
  bool uuid(Id* out) {
    if (static_cast<std::size_t>(end_ - p_) < 38 || p_[0] != '"' || p_[37] != '"') return false;
    const char* const text = p_ + 1;
    if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return false;
    std::array<std::uint8_t, 4> a{};
    std::array<std::uint8_t, 2> b{};
    std::array<std::uint8_t, 2> c{};
    std::array<std::uint8_t, 2> d{};
    std::array<std::uint8_t, 6> e{};
    if (!hex(text, a) || !hex(text + 9, b) || !hex(text + 14, c) || !hex(text + 19, d) || !hex(text + 24, e)) {
      return false;
    }
    p_ += 38;
    if constexpr (kDecode) {
      Uuid uuid;
      auto at = std::copy(a.begin(), a.end(), uuid.bytes.begin());
      at = std::copy(b.begin(), b.end(), at);
      at = std::copy(c.begin(), c.end(), at);
      at = std::copy(d.begin(), d.end(), at);
      std::copy(e.begin(), e.end(), at);
      *out = Id::from_uuid(uuid);
    }
    return true;
  }

  bool product(ProductId* out) {
    std::string_view text;
    if (!plain_string(text)) return false;
    if constexpr (kDecode) {
      if (text == out->str()) return true;
      auto parsed = ProductId::from_str(text);
      if (!parsed) return false;
      *out = std::move(*parsed);
      return true;
    } else {
      return Slug::validate(text).has_value();
    }
  }

  bool timestamp(Timestamp* out) {
    std::string_view text;
    if (!plain_string(text)) return false;
    const auto parsed = written_timestamp(text);
    if (!parsed) return false;
    if constexpr (kDecode) *out = *parsed;
    return true;
  }

  // "blake3:" or "sha256:" and 64 lower-case hex digits.
  bool hash(ContentHash* out) {
    constexpr std::size_t kLength = 1 + 7 + 64 + 1;
    if (static_cast<std::size_t>(end_ - p_) < kLength || p_[0] != '"' || p_[kLength - 1] != '"') return false;
    HashAlgorithm algorithm{};
    if (same_bytes(p_ + 1, "blake3:", 7)) {
      algorithm = HashAlgorithm::Blake3;
    } else if (same_bytes(p_ + 1, "sha256:", 7)) {
      algorithm = HashAlgorithm::Sha256;
    } else {
      return false;
    }
    std::array<std::uint8_t, 32> digest{};
    if (!hex(p_ + 8, digest)) return false;
    p_ += kLength;
    if constexpr (kDecode) *out = ContentHash(algorithm, digest);
    return true;
  }

  bool signature(Signature* out) {
    std::array<std::uint8_t, 64> bytes{};
    if (!hex_string(bytes)) return false;
    if constexpr (kDecode) *out = Signature(bytes);
    return true;
  }

  template <class Enum>
  bool enumeration(Enum* out) {
    std::string_view text;
    if (!plain_string(text)) return false;
    const auto value = enum_from_name<Enum>(text);
    if (!value) return false;
    if constexpr (kDecode) *out = *value;
    return true;
  }

  // A byte string: never empty-bracketed unless empty, one number per line.
  bool bytes(ByteString* out, std::size_t depth) {
    if constexpr (kDecode) out->clear();
    if (literal("[]"sv)) return true;
    if (!literal("["sv)) return false;
    do {
      std::uint64_t byte = 0;
      if (!line_break(depth + 1) || !u64(&byte) || byte > 255) return false;
      if constexpr (kDecode) out->push_back(static_cast<std::uint8_t>(byte));
    } while (literal(","sv));
    return line_break(depth) && literal("]"sv);
  }

  // An optional member: present (and then read) or left out, never null.
  template <class T, class Read>
  [[gnu::always_inline]] inline bool optional(Object& o, std::string_view name, std::optional<T>* slot, Read read) {
    if (!member(o, name)) {
      if constexpr (kDecode) slot->reset();
      return true;
    }
    if constexpr (kDecode) {
      if (!*slot) slot->emplace(placeholder<T>());
      return read(&**slot);
    } else {
      return read(static_cast<T*>(nullptr));
    }
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

  [[gnu::always_inline]] inline bool actor(Actor* out, std::size_t depth) {
    Object o{depth};
    return literal("{"sv) && member(o, "\"actor_type\": "sv) && enumeration(part(out, &Actor::actor_type)) &&
           optional(o, "\"actor_id\": "sv, part(out, &Actor::actor_id), [this](std::string* s) { return string(s); }) &&
           optional(o, "\"display_name_encrypted\": "sv, part(out, &Actor::display_name_encrypted),
                    [this, depth](ByteString* b) { return bytes(b, depth + 1); }) &&
           close(o);
  }

  [[gnu::always_inline]] inline bool target(Target* out, std::size_t depth) {
    Object o{depth};
    return literal("{"sv) && member(o, "\"target_type\": "sv) && string(part(out, &Target::target_type)) &&
           optional(o, "\"target_id\": "sv, part(out, &Target::target_id),
                    [this](std::string* s) { return string(s); }) &&
           close(o);
  }

  bool marker(RedactionMarker* out, std::size_t depth) {
    Object o{depth};
    return literal("{"sv) && member(o, "\"field_path\": "sv) && string(part(out, &RedactionMarker::field_path)) &&
           member(o, "\"reason\": "sv) && enumeration(part(out, &RedactionMarker::reason)) &&
           optional(o, "\"redaction_policy_id\": "sv, part(out, &RedactionMarker::redaction_policy_id),
                    [this](PolicyId* id) { return uuid(id); }) &&
           optional(o, "\"applied_at\": "sv, part(out, &RedactionMarker::applied_at),
                    [this](Timestamp* t) { return timestamp(t); }) &&
           optional(o, "\"applied_by\": "sv, part(out, &RedactionMarker::applied_by),
                    [this](IdentityId* id) { return uuid(id); }) &&
           close(o);
  }

  // Written only when there is at least one marker.
  bool markers(std::vector<RedactionMarker>* out, std::size_t depth) {
    if (!literal("["sv)) return false;
    std::size_t count = 0;
    do {
      RedactionMarker* slot = nullptr;
      if constexpr (kDecode) {
        if (count == out->size()) out->emplace_back();
        slot = &(*out)[count];
      }
      if (!line_break(depth + 1) || !marker(slot, depth + 1)) return false;
      ++count;
    } while (literal(","sv));
    if constexpr (kDecode) out->resize(count);
    return line_break(depth) && literal("]"sv);
  }

  [[gnu::always_inline]] inline bool event(AuditEvent* e, std::size_t depth) {
    Object o{depth};
    const auto text = [this](std::string* s) { return string(s); };
    if (!literal("{"sv) || !member(o, "\"event_id\": "sv) || !uuid(part(e, &AuditEvent::event_id)) ||
        !optional(o, "\"tenant_id\": "sv, part(e, &AuditEvent::tenant_id), [this](TenantId* id) { return uuid(id); }) ||
        !optional(o, "\"workspace_id\": "sv, part(e, &AuditEvent::workspace_id),
                  [this](WorkspaceId* id) { return uuid(id); }) ||
        !member(o, "\"product_id\": "sv) || !product(part(e, &AuditEvent::product_id)) ||
        !optional(o, "\"source_node_id\": "sv, part(e, &AuditEvent::source_node_id),
                  [this](NodeId* id) { return uuid(id); }) ||
        !member(o, "\"actor\": "sv) || !actor(part(e, &AuditEvent::actor), depth + 1) || !member(o, "\"target\": "sv) ||
        !target(part(e, &AuditEvent::target), depth + 1) || !member(o, "\"action\": "sv) ||
        !string(part(e, &AuditEvent::action)) || !member(o, "\"result\": "sv) ||
        !enumeration(part(e, &AuditEvent::result)) || !member(o, "\"severity\": "sv) ||
        !enumeration(part(e, &AuditEvent::severity)) || !member(o, "\"category\": "sv) ||
        !enumeration(part(e, &AuditEvent::category)) || !member(o, "\"occurred_at\": "sv) ||
        !timestamp(part(e, &AuditEvent::occurred_at)) ||
        !optional(o, "\"received_at\": "sv, part(e, &AuditEvent::received_at),
                  [this](Timestamp* t) { return timestamp(t); }) ||
        !optional(o, "\"correlation_id\": "sv, part(e, &AuditEvent::correlation_id), text) ||
        !optional(o, "\"metadata_encrypted\": "sv, part(e, &AuditEvent::metadata_encrypted),
                  [this, depth](ByteString* b) { return bytes(b, depth + 1); }) ||
        !member(o, "\"retention_class\": "sv) || !enumeration(part(e, &AuditEvent::retention_class))) {
      return false;
    }
    if (member(o, "\"redaction_markers\": "sv)) {
      if (!markers(part(e, &AuditEvent::redaction_markers), depth + 1)) return false;
    } else {
      if constexpr (kDecode) e->redaction_markers.clear();
    }
    return optional(o, "\"previous_event_hash\": "sv, part(e, &AuditEvent::previous_event_hash),
                    [this](ContentHash* h) { return hash(h); }) &&
           close(o);
  }

  const char* begin_;
  const char* p_;
  const char* end_;
};

// ---------------------------------------------------------------------------
// Reading checked text

// The members (or elements) of an object (or array) in the writer's form
// that has already been checked: one member per line at the container's
// indentation, a nested container closing on a line of that same
// indentation (text holds no raw line break, and deeper lines are indented
// further).
class WrittenContainer {
 public:
  // `open` points at the container's opening bracket, standing at `depth`;
  // the text ends before `end`.
  WrittenContainer(const char* open, const char* end, std::size_t depth)
      : p_(open + 1), end_(end), indent_(2 * (depth + 1)), object_(*open == '{'), done_(*p_ != '\n') {}

  // The next member's name (empty in an array) and its value's text, a
  // scalar as written or a container from its opening to its closing
  // bracket; false after the last.
  bool next(std::string_view& name, std::string_view& value) {
    if (done_) return false;
    if (!first_ && *p_++ != ',') {
      done_ = true;
      return false;
    }
    first_ = false;
    const char* q = p_ + 1 + indent_;  // past the line break and the indentation
    name = {};
    if (object_) {
      const char* const name_end = find('"', q + 1);
      name = std::string_view(q + 1, static_cast<std::size_t>(name_end - q - 1));
      q = name_end + 3;  // past `": `
    }
    const char* value_end = nullptr;
    if ((*q == '{' || *q == '[') && q[1] == '\n') {
      const char* line = q + 1;
      while (line[1 + indent_] == ' ') line = find('\n', line + 1);
      value_end = line + 1 + indent_ + 1;
    } else {
      value_end = find('\n', q);
      if (value_end[-1] == ',') --value_end;
    }
    value = std::string_view(q, static_cast<std::size_t>(value_end - q));
    p_ = value_end;
    return true;
  }

 private:
  // The checked text always has the byte before its end.
  const char* find(char c, const char* from) const {
    return static_cast<const char*>(std::memchr(from, c, static_cast<std::size_t>(end_ - from)));
  }

  const char* p_;
  const char* end_;
  std::size_t indent_;
  bool object_;
  bool done_;
  bool first_ = true;
};

bool is_ascii(std::string_view text) {
  std::uint64_t seen = 0;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) seen |= load8(text.data() + i);
  for (; i < text.size(); ++i) seen |= static_cast<unsigned char>(text[i]);
  return (seen & 0x8080808080808080u) == 0;
}

struct NamedValue {
  std::string_view name;
  std::string_view value;
};

// The members of an audit record's object: at most as many as an event has.
using Members = std::array<NamedValue, 18>;

std::size_t collect_members(WrittenContainer& object, Members& members) {
  std::size_t count = 0;
  NamedValue member;
  while (object.next(member.name, member.value)) {
    if (count == members.size()) std::abort();  // a checked entry has no more
    members[count++] = member;
  }
  return count;
}

void append_canonical(std::string& out, std::string_view value, const char* end, std::size_t depth);

// The canonical form of an object: its members in byte order of their
// names, which are plain ASCII and so need no escape or composition.
void append_canonical_members(std::string& out, Members& members, std::size_t count, const char* end,
                              std::size_t depth) {
  // The names are non-empty and most differ in their first byte, which
  // spares the full comparison nearly every time.
  std::sort(members.begin(), members.begin() + static_cast<std::ptrdiff_t>(count),
            [](const NamedValue& a, const NamedValue& b) {
              const auto first_a = static_cast<unsigned char>(a.name[0]);
              const auto first_b = static_cast<unsigned char>(b.name[0]);
              return first_a != first_b ? first_a < first_b : a.name < b.name;
            });
  out.push_back('{');
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) out.push_back(',');
    out.push_back('"');
    out.append(members[i].name);
    out.append("\":");
    append_canonical(out, members[i].value, end, depth + 1);
  }
  out.push_back('}');
}

// Appends the canonical form of a checked ASCII value in the writer's form,
// standing at `depth`. Both forms escape strings alike and write integers
// alike, so scalars are copied as they stand.
void append_canonical(std::string& out, std::string_view value, const char* end, std::size_t depth) {
  if (value.size() <= 2 || (value[0] != '{' && value[0] != '[')) {
    out.append(value);
    return;
  }
  WrittenContainer items(value.data(), end, depth);
  if (value[0] == '[') {
    out.push_back('[');
    std::string_view name;
    std::string_view item;
    for (bool first = true; items.next(name, item); first = false) {
      if (!first) out.push_back(',');
      append_canonical(out, item, end, depth + 1);
    }
    out.push_back(']');
    return;
  }
  Members members;
  const std::size_t count = collect_members(items, members);
  append_canonical_members(out, members, count, end, depth);
}

std::uint64_t checked_u64(std::string_view digits) {
  std::uint64_t value = 0;
  for (const char c : digits) value = value * 10 + static_cast<std::uint64_t>(c - '0');
  return value;
}

template <class Enum>
bool read_enum(std::string_view text, Enum& out) {
  const auto value = enum_from_name<Enum>(text);
  if (value) out = *value;
  return value.has_value();
}

// Where a checked entry's parts stand: the event's opening brace is the
// first after the entry's own, and the entry ends with its sequence's
// digits and a tail of fixed length: `,`, the signature's line (128 hex
// digits in quotes) and the closing brace's.
struct EntryParts {
  const char* event;
  std::string_view sequence;
  const char* signature;
};

EntryParts entry_parts(std::string_view entry, std::size_t depth) {
  constexpr std::size_t kHexDigits = 128;
  const std::size_t closing = 1 + 2 * depth + 1;
  const std::size_t signature_begin = entry.size() - closing - 1 - kHexDigits;
  const std::size_t digits_end =
      signature_begin - std::string_view("\"signature\": \"").size() - 2 * (depth + 1) - std::string_view(",\n").size();
  std::size_t digits_begin = digits_end;
  while (is_digit(entry[digits_begin - 1])) --digits_begin;
  return EntryParts{entry.data() + entry.find('{', 1), entry.substr(digits_begin, digits_end - digits_begin),
                    entry.data() + signature_begin};
}

// The text between the quotes of a checked string.
std::string_view unquoted(std::string_view value) {
  return value.substr(1, value.size() - 2);
}

}  // namespace

std::size_t read_written_entry(std::string_view text, std::size_t depth, std::optional<SignedAuditEvent>& out) {
  if (!out) out.emplace(placeholder_entry());
  WrittenForm<true> form(text);
  if (!form.entry(&*out, depth)) return 0;
  return form.consumed();
}

std::size_t check_written_entry(std::string_view text, std::size_t depth) {
  WrittenForm<false> form(text);
  // A state file's entries stand at depth 2: checked with that depth known
  // to the compiler, every line break is a literal of known length.
  if (!(depth == 2 ? form.entry(nullptr, 2) : form.entry(nullptr, depth))) return 0;
  return form.consumed();
}

}  // namespace brackfern

namespace brackfern {

bool written_signed_bytes(std::string_view entry, std::size_t depth, std::string& bytes, WrittenChainFields& fields) {
  if (!is_ascii(entry)) return false;
  const char* const end = entry.data() + entry.size();
  const EntryParts at = entry_parts(entry, depth);
  WrittenContainer event(at.event, end, depth + 1);
  Members members;
  const std::size_t count = collect_members(event, members);
  fields.previous_event_hash.reset();
  for (std::size_t i = 0; i < count; ++i) {
    if (members[i].name != "previous_event_hash") continue;
    const std::string_view text = unquoted(members[i].value);
    std::array<std::uint8_t, 32> digest{};
    static_cast<void>(lower_hex(text.data() + 7, &digest));
    fields.previous_event_hash.emplace(text[0] == 'b' ? HashAlgorithm::Blake3 : HashAlgorithm::Sha256, digest);
  }
  bytes.clear();
  append_canonical_members(bytes, members, count, end, depth + 1);
  fields.sequence = checked_u64(at.sequence);
  std::array<std::uint8_t, 64> signature{};
  static_cast<void>(lower_hex(at.signature, &signature));
  fields.signature = Signature(signature);
  return true;
}

// The first `byte` from `p` on, which the caller knows is there: the
// closing quote of a checked string the writer puts no escape in (an
// identifier, a name, a timestamp), or the line break ending a line. Such
// spans are short, and one byte is all there is to look for.
template <char kByte>
const char* next_byte(const char* p) {
  if constexpr (std::endian::native == std::endian::little) {
    for (;; p += 8) {
      const std::uint64_t found = bytes_below(load8(p) ^ (kOneInEachByte * static_cast<std::uint8_t>(kByte)), 1);
      if (found != 0) return p + std::countr_zero(found) / 8;
    }
  }
  while (*p != kByte) ++p;
  return p;
}

std::optional<std::uint64_t> append_written_event_text(std::string_view entry, std::size_t depth, std::string& out) {
  // The event's members come in the writer's order, each on a line of its
  // own at the event's indentation; the lines of a nested object stand
  // deeper and its closing brace at that same indentation. occurred_at is
  // the last member the text shows, and never the event's last, so every
  // value read here is followed by a comma and a line break, and the
  // signature's 128 digits lie beyond: no look-ahead below leaves the entry.
  const EntryParts at = entry_parts(entry, depth);
  const std::size_t indent = 2 * (depth + 2);
  const char* p = at.event + 1;  // the line break before a member
  const char* const end = entry.data() + entry.size();
  // `name` as the check takes it: quoted, with its colon and space.
  const auto member = [&](std::string_view name) __attribute__((always_inline)) {
    const char* const q = p + 1 + indent;
    if (!same_bytes(q, name.data(), name.size())) return false;
    p = q + name.size();
    return true;
  };
  constexpr std::size_t kQuotedUuid = 38;
  const auto skip_uuid = [&] { p += kQuotedUuid + 1; };
  const auto skip_object = [&] {
    const char* line = p + 1;
    while (line[1 + indent] == ' ') line = next_byte<'\n'>(line + 1);
    p = line + 1 + indent + 2;  // past `},`
  };
  // Free text, or nothing when it holds an escape. In a checked
  // string every control character is escaped, so the first byte that ends
  // the plain run is its closing quote exactly when there is no escape.
  const auto free_text = [&](std::string_view& value) {
    bool non_ascii = false;
    const char* const close = end_of_plain_run(p + 1, end, non_ascii);
    if (*close != '"') return false;
    value = std::string_view(p + 1, static_cast<std::size_t>(close - p - 1));
    p = close + 2;  // past `",`
    return true;
  };
  const auto plain_text = [&] {
    const char* const close = next_byte<'"'>(p + 1);
    const std::string_view value(p + 1, static_cast<std::size_t>(close - p - 1));
    p = close + 2;  // past `",`
    return value;
  };
  EventTextParts parts;
  std::string_view result;
  std::string_view severity;
  std::string_view category;
  if (!member("\"event_id\": "sv)) return std::nullopt;
  skip_uuid();
  if (member("\"tenant_id\": "sv)) skip_uuid();
  if (member("\"workspace_id\": "sv)) skip_uuid();
  if (!member("\"product_id\": "sv)) return std::nullopt;
  parts.product_id = plain_text();
  if (member("\"source_node_id\": "sv)) skip_uuid();
  if (!member("\"actor\": "sv)) return std::nullopt;
  skip_object();
  if (!member("\"target\": "sv)) return std::nullopt;
  skip_object();
  if (!member("\"action\": "sv) || !free_text(parts.action) || !member("\"result\": "sv)) return std::nullopt;
  result = plain_text();
  if (!member("\"severity\": "sv)) return std::nullopt;
  severity = plain_text();
  if (!member("\"category\": "sv)) return std::nullopt;
  category = plain_text();
  if (!member("\"occurred_at\": "sv)) return std::nullopt;
  parts.occurred_at = plain_text();
  if (!read_enum(result, parts.result) || !read_enum(severity, parts.severity) ||
      !read_enum(category, parts.category)) {
    return std::nullopt;
  }
  append_event_text(out, parts);
  return checked_u64(at.sequence);
}

}  // namespace brackfern
