// The program's JSON reader: a strict recursive-descent parser that builds a
// JsonValue tree, or hands a document's reader one value at a time (the text
// source), and reports problems with the messages and positions of the reader
// the documents were designed against.
//
// Positions: line is 1-based; column is the number of bytes consumed on the
// line when the problem was found. A byte that is itself the problem counts
// as consumed; running out of input reports the end of the input.

#include <brackfern/contracts/json_read.hpp>
#include <brackfern/contracts/json_value.hpp>
#include <brackfern/contracts/utf8.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_set>
#include <vector>

namespace brackfern {

namespace {

// Containers open at once before the reader gives up; the limit is reached
// when this many are open (so 127 nested levels read, 128 do not).
constexpr int kMaxDepth = 128;

// Objects with more members than this find duplicates through a hash set.
constexpr std::size_t kLinearDuplicateScan = 24;

constexpr std::string_view kEofValue = "EOF while parsing a value";
constexpr std::string_view kEofObject = "EOF while parsing an object";
constexpr std::string_view kEofList = "EOF while parsing a list";
constexpr std::string_view kEofString = "EOF while parsing a string";
constexpr std::string_view kExpectedValue = "expected value";
constexpr std::string_view kExpectedIdent = "expected ident";
constexpr std::string_view kKeyMustBeString = "key must be a string";
constexpr std::string_view kExpectedColon = "expected `:`";
constexpr std::string_view kExpectedObjectCommaOrEnd = "expected `,` or `}`";
constexpr std::string_view kExpectedListCommaOrEnd = "expected `,` or `]`";
constexpr std::string_view kTrailingComma = "trailing comma";
constexpr std::string_view kTrailingCharacters = "trailing characters";
constexpr std::string_view kControlCharacter = "control character (\\u0000-\\u001F) found while parsing a string";
constexpr std::string_view kInvalidEscape = "invalid escape";
constexpr std::string_view kLoneSurrogate = "lone leading surrogate in hex escape";
constexpr std::string_view kEndOfHexEscape = "unexpected end of hex escape";
constexpr std::string_view kInvalidCodePoint = "invalid unicode code point";
constexpr std::string_view kInvalidNumber = "invalid number";
constexpr std::string_view kNumberOutOfRange = "number out of range";
constexpr std::string_view kRecursionLimit = "recursion limit exceeded";

// Byte classes inside a string: 0 plain ASCII, 1 ends the fast scan
// (quote, backslash, control byte), 2 non-ASCII (needs UTF-8 checking).
constexpr std::array<std::uint8_t, 256> make_string_classes() {
  std::array<std::uint8_t, 256> classes{};
  for (std::size_t b = 0; b < 0x20; ++b) classes[b] = 1;
  classes['"'] = 1;
  classes['\\'] = 1;
  for (std::size_t b = 0x80; b < 256; ++b) classes[b] = 2;
  return classes;
}
constexpr std::array<std::uint8_t, 256> kStringClasses = make_string_classes();

constexpr int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

void append_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Hash and equality over member indexes of the object being read, so the set
// stays valid while the member vector grows.
struct MemberKeyHash {
  const JsonValue::Object* members;
  std::size_t operator()(std::size_t i) const { return std::hash<std::string>{}((*members)[i].key); }
};
struct MemberKeyEqual {
  const JsonValue::Object* members;
  bool operator()(std::size_t a, std::size_t b) const { return (*members)[a].key == (*members)[b].key; }
};
using MemberIndexSet = std::unordered_set<std::size_t, MemberKeyHash, MemberKeyEqual>;

}  // namespace

namespace detail {

class TextParser {
 public:
  explicit TextParser(std::string_view text, int open_containers = 0)
      : begin_(text.data()),
        p_(text.data()),
        end_(text.data() + text.size()),
        line_start_(text.data()),
        lines_counted_to_(text.data()),
        array_scratch_(kMaxDepth + 1),
        object_scratch_(kMaxDepth + 1),
        depth_(open_containers) {}

  friend class brackfern::TextSource;

  std::expected<JsonValue, JsonError> parse_document() {
    JsonValue value;
    if (!parse_value(value)) return std::unexpected(std::move(*error_));
    skip_whitespace();
    if (p_ != end_) return fail_unexpected(kTrailingCharacters);
    return value;
  }

 private:
  // ---- positions and errors ----

  [[nodiscard]] std::size_t offset(const char* at) const { return static_cast<std::size_t>(at - begin_); }

  // Lines are counted only when a position is asked for, from where the
  // last count stopped: stepping over a long stretch of text costs nothing
  // until a position after it is needed.
  [[nodiscard]] JsonPos here() { return position_at(p_); }

  [[nodiscard]] JsonPos position_at(const char* at) {
    if (at < lines_counted_to_) {
      // Behind the count: start again from the beginning (rare).
      line_ = 1;
      line_start_ = begin_;
      lines_counted_to_ = begin_;
    }
    const char* p = lines_counted_to_;
    while (const void* newline = std::memchr(p, '\n', static_cast<std::size_t>(at - p))) {
      ++line_;
      p = static_cast<const char*>(newline) + 1;
      line_start_ = p;
    }
    lines_counted_to_ = at;
    constexpr std::size_t kMax = std::numeric_limits<std::uint32_t>::max();
    const auto column = std::min(static_cast<std::size_t>(at - line_start_), kMax);
    return JsonPos{line_, static_cast<std::uint32_t>(column)};
  }

  // Records the error at byte offset `index` (the bytes before it count as
  // consumed) and returns false for the caller to pass up.
  bool fail_at(std::size_t index, std::string_view message) {
    const char* at = begin_ + index;
    const std::size_t newlines = static_cast<std::size_t>(std::count(begin_, at, '\n'));
    std::size_t column = index;
    if (newlines > 0) {
      const char* last = at;
      while (*(last - 1) != '\n') --last;
      column = static_cast<std::size_t>(at - last);
    }
    error_ = JsonError{std::string(message), newlines + 1, column};
    return false;
  }
  // The problem is the byte at p_ (counted), or the end of the input.
  bool fail_here(std::string_view message) { return fail_at(p_ == end_ ? offset(end_) : offset(p_) + 1, message); }
  // The problem was found with everything up to p_ consumed.
  bool fail_consumed(std::string_view message) { return fail_at(offset(p_), message); }
  bool fail_eof(std::string_view message) { return fail_at(offset(end_), message); }

  std::unexpected<JsonError> fail_unexpected(std::string_view message) {
    fail_here(message);
    return std::unexpected(std::move(*error_));
  }

  // ---- grammar ----

  void skip_whitespace() {
    while (p_ != end_) {
      const char c = *p_;
      if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return;
      ++p_;
    }
  }

  bool parse_value(JsonValue& out) {
    skip_whitespace();
    if (p_ == end_) return fail_eof(kEofValue);
    out.begin = here();
    switch (*p_) {
      case 'n':
        ++p_;
        if (!parse_ident("ull")) return false;
        out.data = nullptr;
        break;
      case 't':
        ++p_;
        if (!parse_ident("rue")) return false;
        out.data = true;
        break;
      case 'f':
        ++p_;
        if (!parse_ident("alse")) return false;
        out.data = false;
        break;
      case '-':
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        if (!parse_number(out)) return false;
        break;
      case '"': {
        ++p_;
        std::string& text = out.data.emplace<std::string>();
        if (!parse_string(text)) return false;
        break;
      }
      case '[':
        if (!enter()) return false;
        ++p_;
        if (!parse_into_exact(array_scratch_, out.data.emplace<JsonValue::Array>(),
                              [this](JsonValue::Array& items) { return parse_array(items); })) {
          return false;
        }
        --depth_;
        break;
      case '{':
        if (!enter()) return false;
        ++p_;
        if (!parse_into_exact(object_scratch_, out.data.emplace<JsonValue::Object>(),
                              [this](JsonValue::Object& members) { return parse_object(members); })) {
          return false;
        }
        --depth_;
        break;
      default:
        return fail_here(kExpectedValue);
    }
    out.end = here();
    return true;
  }

  // Parses a container's elements into the scratch vector of the current
  // depth (which keeps its capacity from one container to the next), then
  // moves them into `out` allocated at its exact size: one allocation per
  // container instead of one per doubling, and no unused capacity kept.
  template <class Container, class Parse>
  bool parse_into_exact(std::vector<Container>& scratch_by_depth, Container& out, Parse parse) {
    Container& scratch = scratch_by_depth[static_cast<std::size_t>(depth_)];
    scratch.clear();
    const bool parsed = parse(scratch);
    if (parsed) {
      out.reserve(scratch.size());
      std::move(scratch.begin(), scratch.end(), std::back_inserter(out));
    }
    scratch.clear();
    return parsed;
  }

  bool enter() {
    if (++depth_ >= kMaxDepth) return fail_here(kRecursionLimit);
    return true;
  }

  bool parse_ident(std::string_view rest) {
    for (const char expected : rest) {
      if (p_ == end_) return fail_eof(kEofValue);
      const char c = *p_++;
      if (c != expected) return fail_consumed(kExpectedIdent);
    }
    return true;
  }

  bool parse_array(JsonValue::Array& items) {
    skip_whitespace();
    if (p_ == end_) return fail_eof(kEofList);
    if (*p_ == ']') {
      ++p_;
      return true;
    }
    for (;;) {
      if (!parse_value(items.emplace_back())) return false;
      skip_whitespace();
      if (p_ == end_) return fail_eof(kEofList);
      if (*p_ == ']') {
        ++p_;
        return true;
      }
      if (*p_ != ',') return fail_here(kExpectedListCommaOrEnd);
      ++p_;
      skip_whitespace();
      if (p_ == end_) return fail_eof(kEofValue);
      if (*p_ == ']') return fail_here(kTrailingComma);
    }
  }

  bool parse_object(JsonValue::Object& members) {
    skip_whitespace();
    if (p_ == end_) return fail_eof(kEofObject);
    if (*p_ == '}') {
      ++p_;
      return true;
    }
    std::optional<MemberIndexSet> index;
    for (;;) {
      if (*p_ != '"') return fail_here(kKeyMustBeString);
      ++p_;
      JsonMember& member = members.emplace_back();
      if (!parse_string(member.key)) return false;
      skip_whitespace();
      member.key_end = here();
      if (!check_unique(members, index)) return false;
      if (p_ == end_) return fail_eof(kEofObject);
      if (*p_ != ':') return fail_here(kExpectedColon);
      ++p_;
      if (!parse_value(members.back().value)) return false;
      skip_whitespace();
      if (p_ == end_) return fail_eof(kEofObject);
      if (*p_ == '}') {
        ++p_;
        return true;
      }
      if (*p_ != ',') return fail_here(kExpectedObjectCommaOrEnd);
      ++p_;
      skip_whitespace();
      if (p_ == end_) return fail_eof(kEofValue);
      if (*p_ == '}') return fail_here(kTrailingComma);
    }
  }

  // The last member's name must not occur earlier in the object; reported
  // after the repeated name and any white space that follows it.
  bool check_unique(const JsonValue::Object& members, std::optional<MemberIndexSet>& index) {
    const std::size_t last = members.size() - 1;
    bool unique = true;
    if (index) {
      unique = index->insert(last).second;
    } else if (members.size() <= kLinearDuplicateScan) {
      const std::string& key = members[last].key;
      for (std::size_t i = 0; i < last && unique; ++i) unique = members[i].key != key;
    } else {
      index.emplace(members.size() * 2, MemberKeyHash{&members}, MemberKeyEqual{&members});
      for (std::size_t i = 0; i <= last && unique; ++i) unique = index->insert(i).second;
    }
    if (unique || keep_duplicates_) return true;
    return fail_consumed("duplicate field `" + members[last].key + "`");
  }

  // ---- strings ----

  // Reads the rest of a string whose opening quote was consumed, decoding
  // escapes into `out`.
  bool parse_string(std::string& out) {
    const char* start = p_;
    bool non_ascii = false;
    for (;;) {
      while (p_ != end_) {
        const std::uint8_t cls = kStringClasses[static_cast<unsigned char>(*p_)];
        if (cls == 1) break;
        non_ascii |= cls == 2;
        ++p_;
      }
      if (p_ == end_) return fail_eof(kEofString);
      const char c = *p_;
      if (c == '"') {
        out.append(start, p_);
        ++p_;
        if (non_ascii && !brackfern::is_valid_utf8(out)) return fail_consumed(kInvalidCodePoint);
        return true;
      }
      if (c == '\\') {
        out.append(start, p_);
        ++p_;
        if (!parse_escape(out)) return false;
        start = p_;
        continue;
      }
      ++p_;
      return fail_consumed(kControlCharacter);
    }
  }

  bool parse_escape(std::string& out) {
    if (p_ == end_) return fail_eof(kEofString);
    const char c = *p_++;
    switch (c) {
      case '"':
        out.push_back('"');
        return true;
      case '\\':
        out.push_back('\\');
        return true;
      case '/':
        out.push_back('/');
        return true;
      case 'b':
        out.push_back('\b');
        return true;
      case 'f':
        out.push_back('\f');
        return true;
      case 'n':
        out.push_back('\n');
        return true;
      case 'r':
        out.push_back('\r');
        return true;
      case 't':
        out.push_back('\t');
        return true;
      case 'u':
        return parse_unicode_escape(out);
      default:
        return fail_consumed(kInvalidEscape);
    }
  }

  // Four hex digits after "\u"; all four are consumed before they are judged.
  bool decode_hex_escape(std::uint32_t& value) {
    if (end_ - p_ < 4) {
      p_ = end_;
      return fail_eof(kEofString);
    }
    int n = 0;
    bool valid = true;
    for (int i = 0; i < 4; ++i) {
      const int digit = hex_value(static_cast<unsigned char>(p_[i]));
      valid = valid && digit >= 0;
      n = (n << 4) | (digit & 0xF);
    }
    p_ += 4;
    if (!valid) return fail_consumed(kInvalidEscape);
    value = static_cast<std::uint32_t>(n);
    return true;
  }

  bool parse_unicode_escape(std::string& out) {
    std::uint32_t first = 0;
    if (!decode_hex_escape(first)) return false;
    if (first >= 0xDC00 && first <= 0xDFFF) return fail_consumed(kLoneSurrogate);
    if (first < 0xD800 || first > 0xDBFF) {
      append_utf8(out, first);
      return true;
    }
    // A leading surrogate must be followed at once by "\u" and a trailing one.
    for (const char expected : {'\\', 'u'}) {
      if (p_ == end_) return fail_eof(kEofString);
      if (*p_++ != expected) return fail_consumed(kEndOfHexEscape);
    }
    std::uint32_t second = 0;
    if (!decode_hex_escape(second)) return false;
    if (second < 0xDC00 || second > 0xDFFF) return fail_consumed(kLoneSurrogate);
    append_utf8(out, (((first - 0xD800) << 10) | (second - 0xDC00)) + 0x10000);
    return true;
  }

  // ---- numbers ----

  // Integers that fit are kept as unsigned (non-negative) or signed
  // (negative) integers; everything else becomes the nearest double. "-0" is
  // the double -0.0.
  bool parse_number(JsonValue& out) {
    const char* start = p_;
    const bool negative = *p_ == '-';
    if (negative) ++p_;
    if (p_ == end_) return fail_eof(kEofValue);

    std::uint64_t significand = 0;
    bool fits_u64 = true;
    bool nonzero_digit = false;
    if (*p_ == '0') {
      ++p_;
      if (p_ != end_ && is_digit(*p_)) return fail_here(kInvalidNumber);
    } else if (is_digit(*p_)) {
      constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
      nonzero_digit = true;
      while (p_ != end_ && is_digit(*p_)) {
        const auto digit = static_cast<std::uint64_t>(*p_ - '0');
        if (fits_u64 && (significand > (kMax - digit) / 10)) fits_u64 = false;
        if (fits_u64) significand = significand * 10 + digit;
        ++p_;
      }
    } else {
      ++p_;
      return fail_consumed(kInvalidNumber);
    }

    bool is_float = !fits_u64;
    if (p_ != end_ && *p_ == '.') {
      ++p_;
      is_float = true;
      const char* digits = p_;
      while (p_ != end_ && is_digit(*p_)) {
        nonzero_digit = nonzero_digit || *p_ != '0';
        ++p_;
      }
      if (p_ == digits) return p_ == end_ ? fail_eof(kEofValue) : fail_here(kInvalidNumber);
    }
    if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
      ++p_;
      is_float = true;
      bool positive_exponent = true;
      if (p_ != end_ && (*p_ == '+' || *p_ == '-')) {
        positive_exponent = *p_ == '+';
        ++p_;
      }
      if (p_ == end_) return fail_eof(kEofValue);
      if (!is_digit(*p_++)) return fail_consumed(kInvalidNumber);
      // An exponent beyond the range of a 32-bit integer makes any non-zero
      // number with a positive exponent too large; the rest reads as zero.
      std::int64_t exponent = p_[-1] - '0';
      bool exponent_overflow = false;
      while (p_ != end_ && is_digit(*p_)) {
        exponent = exponent * 10 + (*p_ - '0');
        ++p_;
        if (exponent > std::numeric_limits<std::int32_t>::max()) {
          if (nonzero_digit && positive_exponent) return fail_consumed(kNumberOutOfRange);
          exponent_overflow = true;
          while (p_ != end_ && is_digit(*p_)) ++p_;
        }
      }
      if (exponent_overflow) {
        out.data = negative ? -0.0 : 0.0;
        return true;
      }
    }

    if (!is_float) {
      if (!negative) {
        out.data = significand;
      } else if (significand == 0) {
        out.data = -0.0;
      } else if (significand <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1) {
        out.data = static_cast<std::int64_t>(0 - significand);
      } else {
        is_float = true;
      }
      if (!is_float) return true;
    }
    return parse_double(start, out);
  }

  // Converts the already checked number text [start, p_) to the nearest double.
  bool parse_double(const char* start, JsonValue& out) {
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(start, p_, value);
    if (ec == std::errc::result_out_of_range) {
      if (is_large_magnitude(start, p_)) return fail_consumed(kNumberOutOfRange);
      value = *start == '-' ? -0.0 : 0.0;
    } else if (ec != std::errc() || ptr != p_) {
      return fail_consumed(kInvalidNumber);
    }
    out.data = value;
    return true;
  }

  // For a number too large or too small for a double: true when its decimal
  // magnitude is at least 1 (overflow), false when it is below 1 (underflow).
  static bool is_large_magnitude(const char* p, const char* end) {
    if (*p == '-') ++p;
    std::int64_t magnitude = 0;  // position of the first significant digit
    bool seen_significant = false;
    bool in_fraction = false;
    for (; p != end && *p != 'e' && *p != 'E'; ++p) {
      if (*p == '.') {
        in_fraction = true;
      } else if (!seen_significant && *p == '0') {
        if (in_fraction) --magnitude;
      } else if (!in_fraction) {
        seen_significant = true;
        ++magnitude;
      } else {
        seen_significant = true;
      }
    }
    if (!seen_significant) return false;
    std::int64_t exponent = 0;
    if (p != end) {
      ++p;
      const bool negative = *p == '-';
      if (*p == '+' || *p == '-') ++p;
      for (; p != end; ++p) exponent = std::min<std::int64_t>(exponent * 10 + (*p - '0'), 1'000'000'000'000);
      if (negative) exponent = -exponent;
    }
    return magnitude + exponent > 0;
  }

  std::unexpected<JsonError> take_error() { return std::unexpected(std::move(*error_)); }

  // ---- one value at a time, for TextSource ----

  // The colon after a member name that next_member handed out, checked when
  // its value is read.
  bool take_pending_colon() {
    if (!colon_pending_) return true;
    if (p_ == end_) return fail_eof(kEofObject);
    if (*p_ != ':') return fail_here(kExpectedColon);
    ++p_;
    colon_pending_ = false;
    return true;
  }

  bool peek(JsonKind& kind) {
    if (!take_pending_colon()) return false;
    skip_whitespace();
    if (p_ == end_) return fail_eof(kEofValue);
    switch (*p_) {
      case 'n':
        kind = JsonKind::Null;
        return true;
      case 't':
      case 'f':
        kind = JsonKind::Boolean;
        return true;
      case '"':
        kind = JsonKind::String;
        return true;
      case '[':
        kind = JsonKind::Array;
        return true;
      case '{':
        kind = JsonKind::Object;
        return true;
      default:
        break;
    }
    if (*p_ == '-' || is_digit(*p_)) {
      kind = JsonKind::Number;
      return true;
    }
    return fail_here(kExpectedValue);
  }

  bool value(JsonValue& out, DuplicateMembers duplicates) {
    if (!take_pending_colon()) return false;
    keep_duplicates_ = duplicates == DuplicateMembers::Keep;
    const bool read = parse_value(out);
    keep_duplicates_ = false;
    return read;
  }

  // Steps over the bracket at p_ (peek() found it).
  bool open_container() {
    if (!enter()) return false;
    ++p_;
    first_in_container_ = true;
    return true;
  }

  // Before the next element or member: true when there is one, false with
  // no error once the container's closing bracket is read.
  bool next_in_container(char close, std::string_view eof_message, std::string_view comma_or_end, bool& more) {
    skip_whitespace();
    if (p_ == end_) return fail_eof(eof_message);
    if (*p_ == close) {
      ++p_;
      --depth_;
      closed_at_ = p_;
      more = false;
      first_in_container_ = false;
      return true;
    }
    if (!first_in_container_) {
      if (*p_ != ',') return fail_here(comma_or_end);
      ++p_;
      skip_whitespace();
      if (p_ == end_) return fail_eof(kEofValue);
      if (*p_ == close) return fail_here(kTrailingComma);
    }
    first_in_container_ = false;
    more = true;
    return true;
  }

  bool next_member(std::optional<std::string>& name, JsonPos& key_end) {
    bool more = false;
    if (!next_in_container('}', kEofObject, kExpectedObjectCommaOrEnd, more)) return false;
    if (!more) return true;
    if (*p_ != '"') return fail_here(kKeyMustBeString);
    ++p_;
    std::string& key = name.emplace();
    if (!parse_string(key)) return false;
    skip_whitespace();
    key_end = here();
    colon_pending_ = true;
    return true;
  }

  const char* begin_;
  const char* p_;
  const char* end_;
  std::uint32_t line_ = 1;
  const char* line_start_;
  const char* lines_counted_to_;
  std::optional<JsonError> error_;
  bool keep_duplicates_ = false;
  bool colon_pending_ = false;
  // Whether the container entered last has had no element or member yet; a
  // reader finishes each element before asking for the next, so one flag is enough.
  bool first_in_container_ = false;
  const char* closed_at_ = nullptr;  // just after the closing bracket read last
  std::vector<JsonValue::Array> array_scratch_;    // one per nesting depth
  std::vector<JsonValue::Object> object_scratch_;  // one per nesting depth
  int depth_ = 0;
};

std::expected<JsonValue, JsonError> parse_json_nested(std::string_view text, int open_containers) {
  if (open_containers < 0 || open_containers >= kMaxDepth) open_containers = kMaxDepth - 1;
  return TextParser(text, open_containers).parse_document();
}

}  // namespace detail

std::expected<JsonValue, JsonError> parse_json(std::string_view text) {
  return detail::TextParser(text).parse_document();
}

// ---- TextSource ----

TextSource::TextSource(std::string_view text) : parser_(std::make_unique<detail::TextParser>(text)) {}

TextSource::~TextSource() = default;

JsonResult<JsonKind> TextSource::peek() {
  JsonKind kind = JsonKind::Null;
  if (!parser_->peek(kind)) return parser_->take_error();
  return kind;
}

JsonPos TextSource::value_begin() {
  return parser_->here();
}

JsonResult<JsonValue> TextSource::value(DuplicateMembers duplicates) {
  JsonValue out;
  if (!parser_->value(out, duplicates)) return parser_->take_error();
  return out;
}

std::expected<void, JsonError> TextSource::enter_array() {
  if (!parser_->open_container()) return parser_->take_error();
  return {};
}

std::expected<void, JsonError> TextSource::enter_object() {
  if (!parser_->open_container()) return parser_->take_error();
  return {};
}

JsonResult<bool> TextSource::next_element() {
  bool more = false;
  if (!parser_->next_in_container(']', kEofList, kExpectedListCommaOrEnd, more)) return parser_->take_error();
  return more;
}

JsonResult<std::optional<std::string>> TextSource::next_member(JsonPos& key_end) {
  std::optional<std::string> name;
  if (!parser_->next_member(name, key_end)) return parser_->take_error();
  return name;
}

JsonPos TextSource::closed_at() {
  return parser_->position_at(parser_->closed_at_);
}

std::string_view TextSource::text_ahead() {
  JsonKind kind = JsonKind::Null;
  if (!parser_->peek(kind)) {
    // The reader that asked finds the same problem when it reads the value.
    parser_->error_.reset();
    return {};
  }
  return std::string_view(parser_->p_, static_cast<std::size_t>(parser_->end_ - parser_->p_));
}

void TextSource::skip_text(std::size_t bytes) {
  parser_->p_ += std::min(bytes, static_cast<std::size_t>(parser_->end_ - parser_->p_));
}

std::size_t TextSource::text_offset() const {
  return parser_->offset(parser_->p_);
}

std::expected<void, JsonError> TextSource::finish() {
  parser_->skip_whitespace();
  if (parser_->p_ != parser_->end_) return parser_->fail_unexpected(kTrailingCharacters);
  return {};
}

}  // namespace brackfern
