#pragma once

#include <charconv>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace brackfern::detail {

// A finite double as the shortest decimal digits that read back as the same
// number: value = (negative ? -1 : 1) * 0.d1d2d3... * 10^point, i.e. `point`
// digits stand before the decimal point (it may be zero or negative).
struct ShortestDigits {
  bool negative = false;
  std::string digits;
  int point = 0;
};

[[nodiscard]] inline std::optional<ShortestDigits> shortest_digits(double value) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  if (ec != std::errc()) return std::nullopt;
  const std::string_view scientific(buffer, static_cast<std::size_t>(end - buffer));
  ShortestDigits out;
  out.negative = scientific.front() == '-';
  const std::size_t e = scientific.find('e');
  for (const char c : scientific.substr(out.negative ? 1 : 0, e - (out.negative ? 1 : 0))) {
    if (c != '.') out.digits.push_back(c);
  }
  int exponent = 0;
  const std::string_view exponent_text = scientific.substr(e + 1);
  std::from_chars(exponent_text.data() + (exponent_text.front() == '+' ? 1 : 0),
                  exponent_text.data() + exponent_text.size(), exponent);
  // The first digit stands for 10^exponent.
  out.point = exponent + 1;
  return out;
}

}  // namespace brackfern::detail
