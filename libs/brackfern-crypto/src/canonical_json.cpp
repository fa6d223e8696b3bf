#include <brackfern/crypto/canonical_json.hpp>

#include <brackfern/contracts/debug_quote.hpp>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace brackfern {
namespace {

// ---------------------------------------------------------------------------
// Composition
//
// The only pairs that compose are an ASCII letter followed by one of seven
// combining marks, all of which are encoded as 0xCC followed by one byte. So
// composition can work on bytes: at an ASCII letter, look at the next two
// bytes; every other byte (including all bytes of multi-byte characters) is
// copied. For valid UTF-8 this is the same as walking characters with one
// character of look-ahead, and it never produces invalid UTF-8 from valid
// input.

constexpr unsigned char kMarkLead = 0xCC;

// Index of a combining mark's second byte in the table columns, or -1.
constexpr int mark_column(unsigned char second) {
  switch (second) {
    case 0x80:
      return 0;  // U+0300 grave
    case 0x81:
      return 1;  // U+0301 acute
    case 0x82:
      return 2;  // U+0302 circumflex
    case 0x83:
      return 3;  // U+0303 tilde
    case 0x88:
      return 4;  // U+0308 diaeresis
    case 0x8A:
      return 5;  // U+030A ring above
    case 0x8C:
      return 6;  // U+030C caron
    default:
      return -1;
  }
}

// Precomposed code point for (base letter, mark column), or 0.
constexpr char32_t composed_character(char base, int column) {
  struct Row {
    char base;
    char32_t by_mark[7];
  };
  constexpr Row kRows[] = {
      {'A', {0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0}},
      {'a', {0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0}},
      {'C', {0, 0, 0, 0, 0, 0, 0x10C}},
      {'c', {0, 0, 0, 0, 0, 0, 0x10D}},
      {'E', {0xC8, 0xC9, 0xCA, 0, 0xCB, 0, 0}},
      {'e', {0xE8, 0xE9, 0xEA, 0, 0xEB, 0, 0}},
      {'I', {0xCC, 0xCD, 0xCE, 0, 0xCF, 0, 0}},
      {'i', {0xEC, 0xED, 0xEE, 0, 0xEF, 0, 0}},
      {'N', {0, 0, 0, 0xD1, 0, 0, 0}},
      {'n', {0, 0, 0, 0xF1, 0, 0, 0}},
      {'O', {0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0, 0}},
      {'o', {0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0, 0}},
      {'S', {0, 0, 0, 0, 0, 0, 0x160}},
      {'s', {0, 0, 0, 0, 0, 0, 0x161}},
      {'U', {0xD9, 0xDA, 0xDB, 0, 0xDC, 0, 0}},
      {'u', {0xF9, 0xFA, 0xFB, 0, 0xFC, 0, 0}},
      {'Y', {0, 0xDD, 0, 0, 0, 0, 0}},
      {'y', {0, 0xFD, 0, 0, 0xFF, 0, 0}},
      {'Z', {0, 0, 0, 0, 0, 0, 0x17D}},
      {'z', {0, 0, 0, 0, 0, 0, 0x17E}},
  };
  for (const Row& row : kRows) {
    if (row.base == base) return row.by_mark[column];
  }
  return 0;
}

bool is_ascii(std::string_view text) {
  unsigned char any = 0;
  for (const char c : text) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

bool is_ascii_letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Appends the composed form of non-ASCII `text` to `out`. Every precomposed
// character of the table lies in U+00C0..U+017E and takes two bytes.
void compose_into(std::string_view text, std::string& out) {
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (is_ascii_letter(c) && i + 2 < n && static_cast<unsigned char>(text[i + 1]) == kMarkLead) {
      const int column = mark_column(static_cast<unsigned char>(text[i + 2]));
      const char32_t composed = column < 0 ? 0 : composed_character(c, column);
      if (composed != 0) {
        out.push_back(static_cast<char>(0xC0 | (composed >> 6)));
        out.push_back(static_cast<char>(0x80 | (composed & 0x3F)));
        i += 3;
        continue;
      }
    }
    out.push_back(c);
    ++i;
  }
}

// ---------------------------------------------------------------------------
// Canonical text

template <class Integer>
void write_integer(Integer value, std::string& out) {
  char digits[24];
  const auto result = std::to_chars(std::begin(digits), std::end(digits), value);
  out.append(digits, static_cast<std::size_t>(result.ptr - digits));
}

void write_scalar(std::nullptr_t, std::string& out) {
  out.append("null");
}
void write_scalar(bool value, std::string& out) {
  out.append(value ? "true" : "false");
}
void write_scalar(std::uint64_t value, std::string& out) {
  write_integer(value, out);
}
void write_scalar(std::int64_t value, std::string& out) {
  write_integer(value, out);
}

// ---------------------------------------------------------------------------
// Errors

std::string path_text(const std::vector<std::string>& path) {
  if (path.empty()) return "<root>";
  std::string text;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (i != 0) text.push_back('.');
    text.append(path[i]);
  }
  return text;
}

CoreError floating_point_error(const std::vector<std::string>& path) {
  return CoreError::canonical_serialization("floating-point number at " + path_text(path) +
                                            " cannot be canonicalised; use an integer or a decimal string in "
                                            "signed contracts");
}

CoreError duplicate_key_error(std::string_view key) {
  return CoreError::canonical_serialization("duplicate object key " + debug_quote(key) +
                                            " after Unicode normalisation");
}

bool key_bytes_less(std::string_view a, std::string_view b) {
  // std::string_view compares with char_traits<char>::compare, which orders
  // by unsigned byte values (memcmp), shorter prefix first.
  return a < b;
}

// ---------------------------------------------------------------------------
// canonicalize: builds the canonical value, reporting the first failure in
// the documented visiting order.

std::expected<JsonValue, CoreError> canonicalize_object(const JsonValue::Object& members,
                                                        std::vector<std::string>& path) {
  // Members are visited in byte order of their keys as given.
  std::vector<const JsonMember*> visit;
  visit.reserve(members.size());
  for (const JsonMember& member : members) visit.push_back(&member);
  std::stable_sort(visit.begin(), visit.end(),
                   [](const JsonMember* a, const JsonMember* b) { return key_bytes_less(a->key, b->key); });

  JsonValue::Object out;
  out.reserve(members.size());
  for (const JsonMember* member : visit) {
    std::string key = compose_text(member->key);
    path.push_back(key);
    auto value = canonicalize(member->value, path);
    path.pop_back();
    if (!value) return std::unexpected(std::move(value.error()));
    out.push_back(JsonMember{std::move(key), std::move(*value), JsonPos{}});
  }
  std::sort(out.begin(), out.end(),
            [](const JsonMember& a, const JsonMember& b) { return key_bytes_less(a.key, b.key); });
  const auto duplicate = std::adjacent_find(out.begin(), out.end(),
                                            [](const JsonMember& a, const JsonMember& b) { return a.key == b.key; });
  if (duplicate != out.end()) return std::unexpected(duplicate_key_error(duplicate->key));
  return JsonValue(std::move(out));
}

// ---------------------------------------------------------------------------
// Direct writer: canonical text straight from an arbitrary value, without
// building the canonical value. It reports only whether it succeeded; on any
// failure the caller runs canonicalize to obtain exactly the error (and
// visiting order) that canonicalize defines.

struct SortedMember {
  const JsonMember* member;
  std::string composed;  // used only when the key is not pure ASCII
  bool ascii;

  [[nodiscard]] std::string_view key() const { return ascii ? std::string_view(member->key) : composed; }
};

class DirectWriter {
 public:
  explicit DirectWriter(std::string& out) : out_(out) {}

  [[nodiscard]] bool write(const JsonValue& value) {
    return std::visit(
        [this](const auto& v) -> bool {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, double>) {
            return false;
          } else if constexpr (std::is_same_v<T, std::string>) {
            write_string(v);
            return true;
          } else if constexpr (std::is_same_v<T, JsonValue::Array>) {
            return write_array(v);
          } else if constexpr (std::is_same_v<T, JsonValue::Object>) {
            return write_object(v);
          } else {
            write_scalar(v, out_);
            return true;
          }
        },
        value.data);
  }

 private:
  void write_string(const std::string& text) {
    if (is_ascii(text)) {
      write_escaped(text, out_);
      return;
    }
    composed_.clear();
    compose_into(text, composed_);
    write_escaped(composed_, out_);
  }

  [[nodiscard]] bool write_array(const JsonValue::Array& items) {
    out_.push_back('[');
    bool first = true;
    for (const JsonValue& item : items) {
      if (!first) out_.push_back(',');
      first = false;
      if (!write(item)) return false;
    }
    out_.push_back(']');
    return true;
  }

  [[nodiscard]] bool write_object(const JsonValue::Object& members) {
    // This object's entries occupy scratch_[base, base + n); deeper objects
    // push theirs behind it and remove them again before returning, so
    // entries are addressed by index (the vector may reallocate).
    const std::size_t base = scratch_.size();
    for (const JsonMember& member : members) {
      if (is_ascii(member.key)) {
        scratch_.push_back(SortedMember{&member, {}, true});
      } else {
        std::string composed;
        compose_into(member.key, composed);
        scratch_.push_back(SortedMember{&member, std::move(composed), false});
      }
    }
    const auto begin = scratch_.begin() + static_cast<std::ptrdiff_t>(base);
    std::sort(begin, scratch_.end(),
              [](const SortedMember& a, const SortedMember& b) { return key_bytes_less(a.key(), b.key()); });
    const bool unique = std::adjacent_find(begin, scratch_.end(), [](const SortedMember& a, const SortedMember& b) {
                          return a.key() == b.key();
                        }) == scratch_.end();
    bool ok = unique;
    if (ok) {
      out_.push_back('{');
      for (std::size_t i = 0; i < members.size(); ++i) {
        if (i != 0) out_.push_back(',');
        write_escaped(scratch_[base + i].key(), out_);
        out_.push_back(':');
        if (!write(scratch_[base + i].member->value)) {
          ok = false;
          break;
        }
      }
      if (ok) out_.push_back('}');
    }
    scratch_.resize(base);
    return ok;
  }

  std::string& out_;
  std::vector<SortedMember> scratch_;
  std::string composed_;
};

}  // namespace

void write_escaped(std::string_view text, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t run_start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte != '"' && byte != '\\') continue;
    out.append(text.data() + run_start, i - run_start);
    run_start = i + 1;
    switch (byte) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\b':
        out.append("\\b");
        break;
      case '\t':
        out.append("\\t");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\f':
        out.append("\\f");
        break;
      case '\r':
        out.append("\\r");
        break;
      default: {
        const char escape[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0x0F]};
        out.append(escape, sizeof escape);
      }
    }
  }
  out.append(text.data() + run_start, text.size() - run_start);
  out.push_back('"');
}

std::string compose_text(const std::string& text) {
  if (is_ascii(text)) return text;
  std::string out;
  out.reserve(text.size());
  compose_into(text, out);
  return out;
}

std::expected<JsonValue, CoreError> canonicalize(const JsonValue& value, std::vector<std::string>& path) {
  if (const auto* members = value.as_object()) return canonicalize_object(*members, path);
  if (const auto* items = value.as_array()) {
    JsonValue::Array out;
    out.reserve(items->size());
    for (std::size_t i = 0; i < items->size(); ++i) {
      path.push_back(std::to_string(i));
      auto item = canonicalize((*items)[i], path);
      path.pop_back();
      if (!item) return std::unexpected(std::move(item.error()));
      out.push_back(std::move(*item));
    }
    return JsonValue(std::move(out));
  }
  if (const auto* text = value.as_string()) return JsonValue(compose_text(*text));
  if (std::holds_alternative<double>(value.data)) return std::unexpected(floating_point_error(path));
  JsonValue copy;
  copy.data = value.data;  // null, boolean or integer
  return copy;
}

std::expected<JsonValue, CoreError> canonicalize(const JsonValue& value) {
  std::vector<std::string> path;
  return canonicalize(value, path);
}

void write_value(const JsonValue& canonical, std::string& out) {
  std::visit(
      [&out](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, double>) {
          // canonicalize never leaves a floating-point number behind; one
          // here means the caller skipped it, and nothing sound can be written.
          std::fputs("write_value: floating-point number in a canonical value\n", stderr);
          std::abort();
        } else if constexpr (std::is_same_v<T, std::string>) {
          write_escaped(v, out);
        } else if constexpr (std::is_same_v<T, JsonValue::Array>) {
          out.push_back('[');
          for (std::size_t i = 0; i < v.size(); ++i) {
            if (i != 0) out.push_back(',');
            write_value(v[i], out);
          }
          out.push_back(']');
        } else if constexpr (std::is_same_v<T, JsonValue::Object>) {
          out.push_back('{');
          for (std::size_t i = 0; i < v.size(); ++i) {
            if (i != 0) out.push_back(',');
            write_escaped(v[i].key, out);
            out.push_back(':');
            write_value(v[i].value, out);
          }
          out.push_back('}');
        } else {
          write_scalar(v, out);
        }
      },
      canonical.data);
}

std::expected<std::string, CoreError> canonical_bytes(const JsonValue& document) {
  std::string out;
  out.reserve(256);
  DirectWriter writer(out);
  if (writer.write(document)) return out;
  // Something is not canonicalizable; canonicalize names the first problem
  // in its own visiting order.
  auto canonical = canonicalize(document);
  if (!canonical) return std::unexpected(std::move(canonical.error()));
  out.clear();
  write_value(*canonical, out);
  return out;
}

}  // namespace brackfern
