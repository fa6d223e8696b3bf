#pragma once

// Typed reading of documents out of a parsed JsonValue. Each document type has
// one `from_json` built from these pieces; they produce the program's reader
// messages with the position of the value concerned:
//   missing field `x`                      just after the `}` of the object
//   unknown field `x`, expected one of `a`, `b`   before the colon after the name
//   invalid type: sequence, expected u64   before the `[` (a map: before the `{`)
//   unknown variant `x`, expected `a` or `b`      just after the string
//   invalid type: string "abc", expected u64      just after the value
//   invalid value: integer `-1`, expected u64     just after the value
//   <CoreError display text>                      just after the string

#include <brackfern/contracts/core_error.hpp>
#include <brackfern/contracts/json_value.hpp>

#include <cstdint>
#include <expected>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace brackfern {

template <class T>
using JsonResult = std::expected<T, JsonError>;

// An error at the end of `v`.
[[nodiscard]] JsonError json_error_at(const JsonValue& v, std::string message);
[[nodiscard]] JsonError json_error_at(JsonPos pos, std::string message);

// "invalid type: <what v is>, expected <expected>" at the end of v.
[[nodiscard]] JsonError json_invalid_type(const JsonValue& v, std::string_view expected);

// How the reader describes a value in "invalid type" messages:
// null, a boolean `true`, integer `5`, floating point `1.5`, string "abc",
// a sequence, a map.
[[nodiscard]] std::string describe_json_value(const JsonValue& v);

// "`a`", "`a` or `b`", "one of `a`, `b`, `c`"; an empty list gives "there are no fields".
[[nodiscard]] std::string expected_names_text(std::span<const std::string_view> names);

[[nodiscard]] JsonResult<bool> read_bool(const JsonValue& v);
[[nodiscard]] JsonResult<std::uint64_t> read_u64(const JsonValue& v);
[[nodiscard]] JsonResult<std::uint16_t> read_u16(const JsonValue& v);
[[nodiscard]] JsonResult<std::uint8_t> read_u8(const JsonValue& v);
[[nodiscard]] JsonResult<std::string> read_string(const JsonValue& v);

// Reads a string and gives it to `parse` (text -> std::expected<T, CoreError>);
// a CoreError becomes the reader's error with the CoreError's display text.
template <class Parse>
[[nodiscard]] auto read_parsed(const JsonValue& v, Parse&& parse)
    -> JsonResult<typename std::invoke_result_t<Parse, const std::string&>::value_type> {
  const std::string* s = v.as_string();
  if (s == nullptr) return std::unexpected(json_invalid_type(v, "a string"));
  auto parsed = std::invoke(std::forward<Parse>(parse), *s);
  if (!parsed) return std::unexpected(json_error_at(v, parsed.error().message()));
  return std::move(*parsed);
}

// Reads a unit enumeration written as a string; returns the index of the name
// in `names`, or "unknown variant `x`, expected ..." listing all names. A
// value that is neither a string nor an object is "expected value" at its
// first byte (counted); an object is "invalid type: map, expected variant
// identifier" before its bracket.
[[nodiscard]] JsonResult<std::size_t> read_enum_index(const JsonValue& v, std::span<const std::string_view> names);

// The same for the tag of an internally tagged document (a member naming the
// variant): any value other than a string is "invalid type: ..., expected
// variant identifier", after a scalar, before a container's bracket.
[[nodiscard]] JsonResult<std::size_t> read_tag_index(const JsonValue& v, std::span<const std::string_view> names);

// Reads an array, each element through `read_element` (const JsonValue& -> JsonResult<T>).
template <class ReadElement>
[[nodiscard]] auto read_array(const JsonValue& v, ReadElement&& read_element)
    -> JsonResult<std::vector<typename std::invoke_result_t<ReadElement, const JsonValue&>::value_type>> {
  using T = typename std::invoke_result_t<ReadElement, const JsonValue&>::value_type;
  const JsonValue::Array* items = v.as_array();
  if (items == nullptr) return std::unexpected(json_invalid_type(v, "a sequence"));
  std::vector<T> out;
  out.reserve(items->size());
  for (const JsonValue& item : *items) {
    auto element = read_element(item);
    if (!element) return std::unexpected(std::move(element.error()));
    out.push_back(std::move(*element));
  }
  return out;
}

// Null reads as absent; anything else goes through `read_inner`.
template <class ReadInner>
[[nodiscard]] auto read_nullable(const JsonValue& v, ReadInner&& read_inner)
    -> JsonResult<std::optional<typename std::invoke_result_t<ReadInner, const JsonValue&>::value_type>> {
  using T = typename std::invoke_result_t<ReadInner, const JsonValue&>::value_type;
  if (v.is_null()) return std::optional<T>{};
  auto inner = read_inner(v);
  if (!inner) return std::unexpected(std::move(inner.error()));
  return std::optional<T>(std::move(*inner));
}

// One member of an object document. `read` stores the value where the caller
// wants it. A required member that never occurs is "missing field `name`";
// an optional one stays as the caller initialised it.
struct JsonField {
  std::string_view name;
  bool required;
  std::function<std::expected<void, JsonError>(const JsonValue&)> read;
};

enum class UnknownMembers { Ignore, Refuse };

// Walks the members of object `v` in document order, reading each known one
// with its field; unknown members are skipped or refused ("unknown field `x`,
// expected ..." listing the field names in declaration order). Then reports
// the first required field (declaration order) that did not occur. A value
// that is not an object is "invalid type: ..., expected <expecting>", e.g.
// expecting = "struct NodeState".
[[nodiscard]] std::expected<void, JsonError> read_object(const JsonValue& v, std::string_view expecting,
                                                         std::span<const JsonField> fields,
                                                         UnknownMembers unknown = UnknownMembers::Ignore);
[[nodiscard]] inline std::expected<void, JsonError> read_object(const JsonValue& v, std::string_view expecting,
                                                                std::initializer_list<JsonField> fields,
                                                                UnknownMembers unknown = UnknownMembers::Ignore) {
  return read_object(v, expecting, std::span<const JsonField>(fields.begin(), fields.size()), unknown);
}

}  // namespace brackfern
