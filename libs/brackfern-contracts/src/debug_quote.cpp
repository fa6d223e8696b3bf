#include <brackfern/contracts/debug_quote.hpp>

#include <algorithm>
#include <array>
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

struct Range {
  char32_t first;
  char32_t last;
};

// Characters that are shown escaped although they are valid: controls,
// combining marks that would attach to the preceding quote or escape, and
// invisible format characters. Sorted by first code point.
constexpr std::array kEscapedRanges{
    Range{0x0000, 0x001F},   Range{0x007F, 0x009F},   Range{0x00AD, 0x00AD},   Range{0x0300, 0x036F},
    Range{0x0483, 0x0489},   Range{0x0591, 0x05BD},   Range{0x05BF, 0x05BF},   Range{0x05C1, 0x05C2},
    Range{0x05C4, 0x05C5},   Range{0x05C7, 0x05C7},   Range{0x0600, 0x0605},   Range{0x0610, 0x061A},
    Range{0x061C, 0x061C},   Range{0x064B, 0x065F},   Range{0x0670, 0x0670},   Range{0x06D6, 0x06DD},
    Range{0x06DF, 0x06E4},   Range{0x06E7, 0x06E8},   Range{0x06EA, 0x06ED},   Range{0x070F, 0x070F},
    Range{0x180E, 0x180E},   Range{0x1AB0, 0x1AFF},   Range{0x1DC0, 0x1DFF},   Range{0x200B, 0x200F},
    Range{0x2028, 0x202E},   Range{0x2060, 0x2064},   Range{0x2066, 0x206F},   Range{0x20D0, 0x20FF},
    Range{0xFE00, 0xFE0F},   Range{0xFE20, 0xFE2F},   Range{0xFEFF, 0xFEFF},   Range{0xFFF9, 0xFFFB},
    Range{0xE0001, 0xE0001}, Range{0xE0020, 0xE007F}, Range{0xE0100, 0xE01EF},
};

bool shown_escaped(char32_t cp) {
  const auto it = std::upper_bound(kEscapedRanges.begin(), kEscapedRanges.end(), cp,
                                   [](char32_t value, const Range& r) { return value < r.first; });
  if (it == kEscapedRanges.begin()) return false;
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
