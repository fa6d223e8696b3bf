#pragma once

// Small pieces shared by this library's document readers: a JsonField that
// reads a member into an optional slot, so that documents whose members have
// no default value can be assembled once read_object has seen them all.

#include <brackfern/contracts/json_read.hpp>
#include <brackfern/contracts/json_value.hpp>

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quillmere::detail {

// A field whose value `read` (JsonSource& -> JsonResult<T>) stores into `slot`.
template <class T, class Read>
[[nodiscard]] brackfern::JsonField field_into(std::string_view name, bool required, std::optional<T>& slot, Read read) {
  return brackfern::JsonField{
      name, required, [&slot, read](brackfern::JsonSource& source) -> std::expected<void, brackfern::JsonError> {
        auto value = read(source);
        if (!value) return std::unexpected(std::move(value.error()));
        slot.emplace(std::move(*value));
        return {};
      }};
}

template <class T, class Read>
[[nodiscard]] brackfern::JsonField required_field(std::string_view name, std::optional<T>& slot, Read read) {
  return field_into(name, true, slot, std::move(read));
}

// An optional member: missing or null leaves `slot` empty.
template <class T, class Read>
[[nodiscard]] brackfern::JsonField optional_field(std::string_view name, std::optional<T>& slot, Read read) {
  return brackfern::JsonField{
      name, false, [&slot, read](brackfern::JsonSource& source) -> std::expected<void, brackfern::JsonError> {
        auto value = brackfern::read_nullable(source, read);
        if (!value) return std::unexpected(std::move(value.error()));
        slot = std::move(*value);
        return {};
      }};
}

// A text member turned into T by `parse` (text -> std::expected<T, CoreError>).
template <class Parse>
[[nodiscard]] auto parsed_with(Parse parse) {
  return [parse](brackfern::JsonSource& source) {
    return brackfern::read_parsed(source, [&parse](const std::string& text) { return parse(text); });
  };
}

}  // namespace quillmere::detail
