#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brackfern {

// Lower-case hexadecimal, two digits per byte in byte order.
[[nodiscard]] std::string to_hex(std::span<const std::uint8_t> bytes);

namespace detail {
// The value of every byte as a hexadecimal digit (either case), or -1: one
// lookup per digit where hashes, signatures and ids of long logs are read.
constexpr std::array<std::int8_t, 256> make_hex_digit_values() {
  std::array<std::int8_t, 256> values{};
  for (int b = 0; b < 256; ++b) {
    int value = -1;
    if (b >= '0' && b <= '9') value = b - '0';
    if (b >= 'a' && b <= 'f') value = b - 'a' + 10;
    if (b >= 'A' && b <= 'F') value = b - 'A' + 10;
    values[static_cast<std::size_t>(b)] = static_cast<std::int8_t>(value);
  }
  return values;
}
inline constexpr std::array<std::int8_t, 256> kHexDigitValues = make_hex_digit_values();
}  // namespace detail

// Value of one hexadecimal digit (either case), or -1.
[[nodiscard]] constexpr int hex_digit_value(char c) {
  return detail::kHexDigitValues[static_cast<unsigned char>(c)];
}

// Decodes exactly 2*N hexadecimal digits (either case) into N bytes; nullopt
// on any other length or a non-hex character.
template <std::size_t N>
[[nodiscard]] std::optional<std::array<std::uint8_t, N>> decode_hex_exact(std::string_view text) {
  if (text.size() != 2 * N) return std::nullopt;
  std::array<std::uint8_t, N> out{};
  for (std::size_t i = 0; i < N; ++i) {
    const int hi = hex_digit_value(text[2 * i]);
    const int lo = hex_digit_value(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out[i] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  return out;
}

}  // namespace brackfern
