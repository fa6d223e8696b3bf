#pragma once

#include <brackfern/contracts/core_error.hpp>
#include <brackfern/contracts/json_value.hpp>

#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace brackfern {

// Returns the canonical form of `value`: every string composed with the
// project's small composition table, object members sorted by the bytes of
// their composed keys, no floating-point number. Fails with
// CanonicalSerialization naming the JSON path of a floating-point number, or
// the composed key that occurs twice in one object. `path` starts empty and is
// restored on return.
[[nodiscard]] std::expected<JsonValue, CoreError> canonicalize(const JsonValue& value, std::vector<std::string>& path);
[[nodiscard]] std::expected<JsonValue, CoreError> canonicalize(const JsonValue& value);

// Appends the canonical text of an already canonical value to `out`.
void write_value(const JsonValue& canonical, std::string& out);

// Appends `text` (already composed) as a canonical JSON string: quotes, a
// backslash before " and \, the short escapes \b \t \n \f \r, \u00XX for
// the other control characters, every other byte as it is.
void write_escaped(std::string_view text, std::string& out);

// canonicalize then write_value into a fresh buffer.
[[nodiscard]] std::expected<std::string, CoreError> canonical_bytes(const JsonValue& document);

// Any document type with `JsonValue to_json() const`.
template <class Document>
  requires requires(const Document& d) {
    { d.to_json() } -> std::convertible_to<JsonValue>;
  }
[[nodiscard]] std::expected<std::string, CoreError> canonical_bytes(const Document& document) {
  return canonical_bytes(document.to_json());
}

// Composes one string (exposed for tests); pure ASCII is returned unchanged.
[[nodiscard]] std::string compose_text(const std::string& text);

}  // namespace brackfern
