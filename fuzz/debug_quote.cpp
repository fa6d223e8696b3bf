// debug_quote on arbitrary bytes.
//
// Properties: nothing crashes; the result is valid UTF-8, at least two bytes,
// starts and ends with a double quote, and contains no raw control
// character (all of those are written as escapes).

#include "fuzz_check.hpp"

#include <brackfern/contracts/debug_quote.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07u;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0u) != 0x80u) return false;
      code = (code << 6) | (next & 0x3Fu);
    }
    if (length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) return false;
    if (length == 4 && (code < 0x10000 || code > 0x10FFFF)) return false;
    i += length;
  }
  return true;
}

bool has_raw_control(std::string_view text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using zzv_fuzz::require;
  const std::string quoted = brackfern::debug_quote(zzv_fuzz::as_text(data, size));
  require(quoted.size() >= 2, "a debug quote has both quotes");
  require(quoted.front() == '"' && quoted.back() == '"', "a debug quote starts and ends with a quote");
  require(is_valid_utf8(quoted), "a debug quote is valid UTF-8");
  require(!has_raw_control(quoted), "a debug quote has no raw control character");
  return 0;
}
