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

// Value of one hexadecimal digit (either case), or -1.
[[nodiscard]] constexpr int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
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
