#include <brackfern/contracts/json_read.hpp>

#include <brackfern/contracts/debug_quote.hpp>

#include <array>
#include <charconv>
#include <limits>
#include <string>
#include <system_error>
#include <type_traits>

#include "shortest_digits.hpp"

namespace brackfern {

namespace {

// A finite double the way the reader shows it: the shortest digits that read
// back as the same number, in plain decimal notation (never an exponent),
// with ".0" when there is no fractional part: 1.5, 1.0, 100000000000000000000.0.
std::string float_display(double value) {
  const auto shortest = detail::shortest_digits(value);
  if (!shortest) return "0.0";
  const std::string& digits = shortest->digits;
  const long point = shortest->point;
  const long length = static_cast<long>(digits.size());
  std::string out = shortest->negative ? "-" : "";
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out += digits;
  } else if (point >= length) {
    out += digits;
    out.append(static_cast<std::size_t>(point - length), '0');
    out += ".0";
  } else {
    out += digits.substr(0, static_cast<std::size_t>(point));
    out += '.';
    out += digits.substr(static_cast<std::size_t>(point));
  }
  return out;
}

template <class T>
JsonResult<T> read_unsigned(const JsonValue& v, std::string_view name) {
  if (const auto* u = std::get_if<std::uint64_t>(&v.data)) {
    if (*u <= std::numeric_limits<T>::max()) return static_cast<T>(*u);
    return std::unexpected(
        json_error_at(v, "invalid value: integer `" + std::to_string(*u) + "`, expected " + std::string(name)));
  }
  if (const auto* i = std::get_if<std::int64_t>(&v.data)) {
    return std::unexpected(
        json_error_at(v, "invalid value: integer `" + std::to_string(*i) + "`, expected " + std::string(name)));
  }
  return std::unexpected(json_invalid_type(v, name));
}

}  // namespace

std::string JsonError::debug() const {
  return "Error(" + debug_quote(message) + ", line: " + std::to_string(line) + ", column: " + std::to_string(column) +
         ")";
}

JsonError json_error_at(const JsonValue& v, std::string message) {
  return json_error_at(v.end, std::move(message));
}

JsonError json_error_at(JsonPos pos, std::string message) {
  return JsonError{std::move(message), pos.line, pos.column};
}

JsonError json_invalid_type(const JsonValue& v, std::string_view expected) {
  // A container is judged by its opening bracket, before reading into it.
  const JsonPos at = v.is_array() || v.is_object() ? v.begin : v.end;
  return json_error_at(at, "invalid type: " + describe_json_value(v) + ", expected " + std::string(expected));
}

std::string describe_json_value(const JsonValue& v) {
  return std::visit(
      [](const auto& x) -> std::string {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::nullptr_t>) {
          return "null";
        } else if constexpr (std::is_same_v<T, bool>) {
          return x ? "boolean `true`" : "boolean `false`";
        } else if constexpr (std::is_same_v<T, std::uint64_t> || std::is_same_v<T, std::int64_t>) {
          return "integer `" + std::to_string(x) + "`";
        } else if constexpr (std::is_same_v<T, double>) {
          return "floating point `" + float_display(x) + "`";
        } else if constexpr (std::is_same_v<T, std::string>) {
          return "string " + debug_quote(x);
        } else if constexpr (std::is_same_v<T, JsonValue::Array>) {
          return "sequence";
        } else {
          static_assert(std::is_same_v<T, JsonValue::Object>);
          return "map";
        }
      },
      v.data);
}

std::string expected_names_text(std::span<const std::string_view> names) {
  switch (names.size()) {
    case 0:
      return "there are no fields";
    case 1:
      return "`" + std::string(names[0]) + "`";
    case 2:
      return "`" + std::string(names[0]) + "` or `" + std::string(names[1]) + "`";
    default:
      break;
  }
  std::string out = "one of ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += ", ";
    out += '`';
    out += names[i];
    out += '`';
  }
  return out;
}

JsonResult<bool> read_bool(const JsonValue& v) {
  if (const auto* b = std::get_if<bool>(&v.data)) return *b;
  return std::unexpected(json_invalid_type(v, "a boolean"));
}

JsonResult<std::uint64_t> read_u64(const JsonValue& v) {
  return read_unsigned<std::uint64_t>(v, "u64");
}

JsonResult<std::uint16_t> read_u16(const JsonValue& v) {
  return read_unsigned<std::uint16_t>(v, "u16");
}

JsonResult<std::uint8_t> read_u8(const JsonValue& v) {
  return read_unsigned<std::uint8_t>(v, "u8");
}

JsonResult<std::string> read_string(const JsonValue& v) {
  if (const std::string* s = v.as_string()) return *s;
  return std::unexpected(json_invalid_type(v, "a string"));
}

JsonResult<std::size_t> read_tag_index(const JsonValue& v, std::span<const std::string_view> names) {
  const std::string* s = v.as_string();
  if (s == nullptr) return std::unexpected(json_invalid_type(v, "variant identifier"));
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == *s) return i;
  }
  std::string message = "unknown variant `" + *s + "`, ";
  message += names.empty() ? std::string("there are no variants") : "expected " + expected_names_text(names);
  return std::unexpected(json_error_at(v, std::move(message)));
}

JsonResult<std::size_t> read_enum_index(const JsonValue& v, std::span<const std::string_view> names) {
  // Only a string or the object form names a variant; any other value is
  // refused at its first byte.
  if (!v.is_string() && !v.is_object()) {
    return std::unexpected(json_error_at(JsonPos{v.begin.line, v.begin.column + 1}, "expected value"));
  }
  return read_tag_index(v, names);
}

std::expected<void, JsonError> read_object(const JsonValue& v, std::string_view expecting,
                                           std::span<const JsonField> fields, UnknownMembers unknown) {
  const JsonValue::Object* members = v.as_object();
  if (members == nullptr) return std::unexpected(json_invalid_type(v, expecting));
  // Which fields were present: on the stack for every document's field
  // count, so reading an object allocates nothing of its own.
  constexpr std::size_t kInlineFields = 32;
  std::array<bool, kInlineFields> seen_inline{};
  std::vector<bool> seen_heap(fields.size() > kInlineFields ? fields.size() : 0, false);
  const auto mark_seen = [&](std::size_t i) {
    if (fields.size() > kInlineFields) {
      seen_heap[i] = true;
    } else {
      seen_inline[i] = true;
    }
  };
  const auto was_seen = [&](std::size_t i) { return fields.size() > kInlineFields ? seen_heap[i] : seen_inline[i]; };
  for (const JsonMember& member : *members) {
    std::size_t index = 0;
    while (index < fields.size() && fields[index].name != member.key) ++index;
    if (index == fields.size()) {
      if (unknown == UnknownMembers::Ignore) continue;
      std::vector<std::string_view> names;
      names.reserve(fields.size());
      for (const JsonField& field : fields) names.push_back(field.name);
      std::string message = "unknown field `" + member.key + "`, ";
      if (!names.empty()) message += "expected ";
      message += expected_names_text(names);
      return std::unexpected(json_error_at(member.key_end, std::move(message)));
    }
    mark_seen(index);
    if (auto read = fields[index].read(member.value); !read) return read;
  }
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].required && !was_seen(i)) {
      return std::unexpected(json_error_at(v, "missing field `" + std::string(fields[i].name) + "`"));
    }
  }
  return {};
}

}  // namespace brackfern
