#include <brackfern/contracts/debug_quote.hpp>

#include "unicode_escape_table.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>

namespace brackfern {

namespace {

struct Decoded {
  char32_t code_point;
  std::size_t length;
};

// Decodes the UTF-8 sequence starting at text[pos]; nullopt when the bytes
// there are not a well-formed sequence (overlong forms, surrogates and values
// above U+10FFFF included).
std::optional<Decoded> decode_utf8(std::string_view text, std::size_t pos) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(pos);
  if (lead < 0x80) return Decoded{lead, 1};
  std::size_t length = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1Fu, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0Fu, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07u, min = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() - pos < length) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    const std::uint8_t b = byte(pos + i);
    if ((b & 0xC0) != 0x80) return std::nullopt;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
  return Decoded{cp, length};
}

// ASCII needs no table: only the controls and DEL are shown escaped there
// (backslash, quote and the named controls are handled before this test).
// Everything else is escaped when it extends a grapheme cluster, so it would
// attach to the preceding character or quote, or when it is not printable.
bool shown_escaped(char32_t cp) {
  if (cp < 0x80) return cp < 0x20 || cp == 0x7F;
  const auto ranges = detail::unicode_escaped_ranges();
  const auto it = std::upper_bound(ranges.begin(), ranges.end(), cp,
                                   [](char32_t value, const detail::CodePointRange& r) { return value < r.first; });
  if (it == ranges.begin()) return false;
  return cp <= std::prev(it)->last;
}

// Appends "\<letter>{hex}" with lower-case digits and no leading zeros.
void append_braced_hex(std::string& out, char letter, std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string digits;
  do {
    digits.insert(digits.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  out += '\\';
  out += letter;
  out += '{';
  out += digits;
  out += '}';
}

}  // namespace

std::string debug_quote(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto decoded = decode_utf8(text, pos);
    if (!decoded) {
      append_braced_hex(out, 'x', static_cast<std::uint8_t>(text[pos]));
      ++pos;
      continue;
    }
    const char32_t cp = decoded->code_point;
    switch (cp) {
      case U'\\':
        out += "\\\\";
        break;
      case U'"':
        out += "\\\"";
        break;
      case U'\t':
        out += "\\t";
        break;
      case U'\r':
        out += "\\r";
        break;
      case U'\n':
        out += "\\n";
        break;
      case U'\0':
        out += "\\0";
        break;
      default:
        if (shown_escaped(cp)) {
          append_braced_hex(out, 'u', static_cast<std::uint32_t>(cp));
        } else {
          out.append(text.substr(pos, decoded->length));
        }
        break;
    }
    pos += decoded->length;
  }
  out += '"';
  return out;
}

}  // namespace brackfern
