// The file form of JSON: two spaces per level, `"name": value`, one element
// or member per line, empty containers as [] and {}, no trailing newline.

#include <brackfern/contracts/json_value.hpp>

#include <array>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>
#include <type_traits>

#include "shortest_digits.hpp"

namespace brackfern {

namespace {

// How each byte is written inside a string: 0 as itself, otherwise the
// character after the backslash ('u' for the \u00XX form).
constexpr std::array<char, 256> make_escapes() {
  std::array<char, 256> escapes{};
  for (std::size_t b = 0; b < 0x20; ++b) escapes[b] = 'u';
  escapes['\b'] = 'b';
  escapes['\f'] = 'f';
  escapes['\n'] = 'n';
  escapes['\r'] = 'r';
  escapes['\t'] = 't';
  escapes['"'] = '"';
  escapes['\\'] = '\\';
  return escapes;
}
constexpr std::array<char, 256> kEscapes = make_escapes();

void write_string(std::string& out, const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const char escape = kEscapes[byte];
    if (escape == 0) continue;
    out.append(text, start, i - start);
    out.push_back('\\');
    out.push_back(escape);
    if (escape == 'u') {
      out += "00";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xF]);
    }
    start = i + 1;
  }
  out.append(text, start, std::string::npos);
  out.push_back('"');
}

// Shortest digits that read back as the same double, written as 1.5, 1.0,
// 0.001, 1e20 or 1.5e-7 (plain notation for magnitudes from 1e-5 to below
// 1e16, an exponent outside that). Non-finite numbers have no JSON form and
// are written as null.
void write_double(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  const auto shortest = detail::shortest_digits(value);
  if (!shortest) {
    out += "null";
    return;
  }
  const std::string& digits = shortest->digits;
  const int length = static_cast<int>(digits.size());
  const int point = shortest->point;  // digits before the decimal point
  const bool negative = shortest->negative;
  if (negative) out.push_back('-');
  if (point >= length && point <= 16) {
    out += digits;
    out.append(static_cast<std::size_t>(point - length), '0');
    out += ".0";
  } else if (point > 0 && point <= 16) {
    out.append(digits, 0, static_cast<std::size_t>(point));
    out.push_back('.');
    out.append(digits, static_cast<std::size_t>(point), std::string::npos);
  } else if (point > -5 && point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out += digits;
  } else {
    out.push_back(digits[0]);
    if (length > 1) {
      out.push_back('.');
      out.append(digits, 1, std::string::npos);
    }
    out.push_back('e');
    out += std::to_string(point - 1);
  }
}

void write_indent(std::string& out, std::size_t depth) {
  out.append(depth * 2, ' ');
}

void write_value(std::string& out, const JsonValue& value, std::size_t depth) {
  std::visit(
      [&out, depth](const auto& x) {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::nullptr_t>) {
          out += "null";
        } else if constexpr (std::is_same_v<T, bool>) {
          out += x ? "true" : "false";
        } else if constexpr (std::is_same_v<T, std::uint64_t> || std::is_same_v<T, std::int64_t>) {
          char buffer[24];
          const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, x);
          out.append(buffer, end);
        } else if constexpr (std::is_same_v<T, double>) {
          write_double(out, x);
        } else if constexpr (std::is_same_v<T, std::string>) {
          write_string(out, x);
        } else if constexpr (std::is_same_v<T, JsonValue::Array>) {
          if (x.empty()) {
            out += "[]";
            return;
          }
          out.push_back('[');
          for (std::size_t i = 0; i < x.size(); ++i) {
            out += i == 0 ? "\n" : ",\n";
            write_indent(out, depth + 1);
            write_value(out, x[i], depth + 1);
          }
          out.push_back('\n');
          write_indent(out, depth);
          out.push_back(']');
        } else {
          static_assert(std::is_same_v<T, JsonValue::Object>);
          if (x.empty()) {
            out += "{}";
            return;
          }
          out.push_back('{');
          for (std::size_t i = 0; i < x.size(); ++i) {
            out += i == 0 ? "\n" : ",\n";
            write_indent(out, depth + 1);
            write_string(out, x[i].key);
            out += ": ";
            write_value(out, x[i].value, depth + 1);
          }
          out.push_back('\n');
          write_indent(out, depth);
          out.push_back('}');
        }
      },
      value.data);
}

}  // namespace

std::string write_pretty_json(const JsonValue& value) {
  std::string out;
  write_value(out, value, 0);
  return out;
}

void append_pretty_json(std::string& out, const JsonValue& value, std::size_t depth) {
  write_value(out, value, depth);
}

}  // namespace brackfern
