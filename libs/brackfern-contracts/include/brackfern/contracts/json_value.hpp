#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace brackfern {

// Where a piece of JSON text ended: line is 1-based, column counts the bytes
// consumed on that line. Values built in code carry {0, 0}.
struct JsonPos {
  std::uint32_t line = 0;
  std::uint32_t column = 0;
};

// The JSON reader's error: one message and the position at which the problem
// was found. Debug form: Error("message", line: L, column: C).
struct JsonError {
  std::string message;
  std::size_t line = 0;
  std::size_t column = 0;

  [[nodiscard]] std::string debug() const;
  friend bool operator==(const JsonError&, const JsonError&) = default;
};

struct JsonMember;

// A JSON value that keeps unsigned, signed and floating numbers apart and
// object members in document order. Every value read from text remembers
// where it began and ended; every member remembers where the colon after its
// name is (after any white space following the name).
class JsonValue {
 public:
  using Array = std::vector<JsonValue>;
  using Object = std::vector<JsonMember>;
  using Storage = std::variant<std::nullptr_t, bool, std::uint64_t, std::int64_t, double, std::string, Array, Object>;

  JsonValue() : data(nullptr) {}
  JsonValue(std::nullptr_t) : data(nullptr) {}             // NOLINT
  JsonValue(bool b) : data(b) {}                           // NOLINT
  JsonValue(std::uint64_t u) : data(u) {}                  // NOLINT
  JsonValue(std::int64_t i) : data(i) {}                   // NOLINT
  JsonValue(double d) : data(d) {}                         // NOLINT
  JsonValue(std::string s) : data(std::move(s)) {}         // NOLINT
  JsonValue(std::string_view s) : data(std::string(s)) {}  // NOLINT
  JsonValue(const char* s) : data(std::string(s)) {}       // NOLINT
  JsonValue(Array a) : data(std::move(a)) {}               // NOLINT
  JsonValue(Object o) : data(std::move(o)) {}              // NOLINT

  // An integer that is negative is held as signed, any other as unsigned,
  // exactly as the reader would hold the same number.
  static JsonValue integer(std::int64_t i) { return i < 0 ? JsonValue(i) : JsonValue(static_cast<std::uint64_t>(i)); }
  static JsonValue empty_object() { return JsonValue(Object{}); }
  static JsonValue empty_array() { return JsonValue(Array{}); }

  [[nodiscard]] bool is_null() const { return std::holds_alternative<std::nullptr_t>(data); }
  [[nodiscard]] bool is_object() const { return std::holds_alternative<Object>(data); }
  [[nodiscard]] bool is_array() const { return std::holds_alternative<Array>(data); }
  [[nodiscard]] bool is_string() const { return std::holds_alternative<std::string>(data); }
  [[nodiscard]] const std::string* as_string() const { return std::get_if<std::string>(&data); }
  [[nodiscard]] const Array* as_array() const { return std::get_if<Array>(&data); }
  [[nodiscard]] Array* as_array() { return std::get_if<Array>(&data); }
  [[nodiscard]] const Object* as_object() const { return std::get_if<Object>(&data); }
  [[nodiscard]] Object* as_object() { return std::get_if<Object>(&data); }

  // Appends a member to an object value (which must be an object). Used by
  // the documents' writers, which add members in their declaration order.
  JsonValue& add(std::string key, JsonValue value);
  // First member named `key`, or nullptr (also when this is not an object).
  [[nodiscard]] const JsonValue* find(std::string_view key) const;

  Storage data;
  JsonPos begin;  // just before the value's first byte
  JsonPos end;
};

struct JsonMember {
  std::string key;
  JsonValue value;
  JsonPos key_end;
};

// Deep equality of kind and content (positions are ignored; member order counts).
[[nodiscard]] bool operator==(const JsonValue& a, const JsonValue& b);

// Parses one JSON document. Only whitespace may follow it. A member name that
// occurs twice in one object is refused ("duplicate field `x`", just after
// the second name, before the colon). Messages and positions are those of the program's JSON
// reader ("EOF while parsing a value" at line 1, column 0 for empty input,
// "trailing characters", "expected `,` or `}`", ...). Nesting deeper than 128
// levels is refused with "recursion limit exceeded".
[[nodiscard]] std::expected<JsonValue, JsonError> parse_json(std::string_view text);

namespace detail {
// parse_json for a value that stands inside `open_containers` arrays or
// objects of a larger document: the nesting limit counts them too. Positions
// are those within `text`.
[[nodiscard]] std::expected<JsonValue, JsonError> parse_json_nested(std::string_view text, int open_containers);
}  // namespace detail

// The file form: two spaces per level, "name": value, empty containers as
// [] and {}, standard escaping with non-ASCII written raw, no trailing newline.
[[nodiscard]] std::string write_pretty_json(const JsonValue& value);

// Appends `value` in the file form as it stands `depth` levels deep (its
// inner lines indented by depth + 1 levels, its closing bracket by depth), so
// that a long document can be written one part at a time:
// write_pretty_json(v) is what append_pretty_json appends at depth 0.
void append_pretty_json(std::string& out, const JsonValue& value, std::size_t depth);

}  // namespace brackfern
