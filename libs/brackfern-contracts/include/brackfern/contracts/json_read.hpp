#pragma once

// Typed reading of documents. A document's reader pulls its values out of a
// JsonSource, in document order, so the first problem met decides: a text
// source reads straight from the text (no tree in between), a tree source
// from a parsed JsonValue. Each document type has one `from_json(JsonSource&)`
// built from these pieces; they produce the program's reader messages with
// the position of the value concerned:
//   missing field `x`                      just after the `}` of the object
//   unknown field `x`, expected one of `a`, `b`   before the colon after the name
//   duplicate field `x`                    before the colon after the name
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
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace brackfern {

template <class T>
using JsonResult = std::expected<T, JsonError>;

enum class JsonKind : std::uint8_t { Null, Boolean, Number, String, Array, Object };

// Whether a value read whole may hold an object with a repeated member name
// (which its reader then reports itself).
enum class DuplicateMembers : std::uint8_t { Refuse, Keep };

// Where a document's reader takes its values from, one at a time in document
// order. Every call that meets a problem of the text returns it (syntax
// errors at the offending byte, as parse_json reports them); after an error
// the source must not be used again. A reader consumes exactly one value
// for each value it is handed: with value(), or by entering the array or
// object and reading it to its end.
class JsonSource {
 public:
  JsonSource() = default;
  JsonSource(const JsonSource&) = delete;
  JsonSource& operator=(const JsonSource&) = delete;
  virtual ~JsonSource() = default;

  // The kind of the next value, nothing of it consumed.
  [[nodiscard]] virtual JsonResult<JsonKind> peek() = 0;
  // Just before the next value's first byte (after peek()).
  [[nodiscard]] virtual JsonPos value_begin() = 0;
  // The next value whole, with its positions.
  [[nodiscard]] virtual JsonResult<JsonValue> value(DuplicateMembers duplicates = DuplicateMembers::Refuse) = 0;
  // Steps into the array (object) that peek() announced.
  [[nodiscard]] virtual std::expected<void, JsonError> enter_array() = 0;
  [[nodiscard]] virtual std::expected<void, JsonError> enter_object() = 0;
  // True when the entered array has one more element (the next value);
  // false once its `]` is read.
  [[nodiscard]] virtual JsonResult<bool> next_element() = 0;
  // The next member's name, its value being the next value, and in `key_end`
  // where its name ends (after any white space before the colon); nullopt
  // once the entered object's `}` is read. The colon is checked when the
  // value is read, so a reader can judge the name first.
  [[nodiscard]] virtual JsonResult<std::optional<std::string>> next_member(JsonPos& key_end) = 0;
  // Just after the array or object closed last.
  [[nodiscard]] virtual JsonPos closed_at() = 0;

  // A source reading text hands out the text from the next value on, so a
  // caller that recognises a value in an exact form of its own can step over
  // it (skip_text) and keep its offset; other sources give an empty text.
  [[nodiscard]] virtual std::string_view text_ahead() { return {}; }
  virtual void skip_text(std::size_t /*bytes*/) {}
  [[nodiscard]] virtual std::size_t text_offset() const { return 0; }
};

namespace detail {
class TextParser;
}

// Reads the JSON text `text` (which must outlive the source).
class TextSource final : public JsonSource {
 public:
  explicit TextSource(std::string_view text);
  ~TextSource() override;

  [[nodiscard]] JsonResult<JsonKind> peek() override;
  [[nodiscard]] JsonPos value_begin() override;
  [[nodiscard]] JsonResult<JsonValue> value(DuplicateMembers duplicates = DuplicateMembers::Refuse) override;
  [[nodiscard]] std::expected<void, JsonError> enter_array() override;
  [[nodiscard]] std::expected<void, JsonError> enter_object() override;
  [[nodiscard]] JsonResult<bool> next_element() override;
  [[nodiscard]] JsonResult<std::optional<std::string>> next_member(JsonPos& key_end) override;
  [[nodiscard]] JsonPos closed_at() override;
  [[nodiscard]] std::string_view text_ahead() override;
  void skip_text(std::size_t bytes) override;
  [[nodiscard]] std::size_t text_offset() const override;

  // After the document: only white space may follow ("trailing characters").
  [[nodiscard]] std::expected<void, JsonError> finish();

 private:
  std::unique_ptr<detail::TextParser> parser_;
};

// Reads a parsed value (which must outlive the source); positions are those
// the values carry.
class TreeSource final : public JsonSource {
 public:
  explicit TreeSource(const JsonValue& root) : next_(&root) {}

  [[nodiscard]] JsonResult<JsonKind> peek() override;
  [[nodiscard]] JsonPos value_begin() override { return next_->begin; }
  [[nodiscard]] JsonResult<JsonValue> value(DuplicateMembers duplicates = DuplicateMembers::Refuse) override;
  [[nodiscard]] std::expected<void, JsonError> enter_array() override;
  [[nodiscard]] std::expected<void, JsonError> enter_object() override;
  [[nodiscard]] JsonResult<bool> next_element() override;
  [[nodiscard]] JsonResult<std::optional<std::string>> next_member(JsonPos& key_end) override;
  [[nodiscard]] JsonPos closed_at() override { return closed_at_; }

 private:
  struct Open {
    const JsonValue* container;
    std::size_t next = 0;
  };
  const JsonValue* next_;
  std::vector<Open> open_;
  JsonPos closed_at_;
};

// The document that `read` (JsonSource& -> JsonResult<T>) reads from the
// whole of `text`.
template <class Read>
[[nodiscard]] auto read_document_with(std::string_view text, Read&& read) -> std::invoke_result_t<Read, JsonSource&> {
  TextSource source(text);
  auto document = std::invoke(std::forward<Read>(read), source);
  if (!document) return document;
  if (auto end = source.finish(); !end) return std::unexpected(std::move(end.error()));
  return document;
}

// The document T (with `static JsonResult<T> from_json(JsonSource&)`) read
// from the whole of `text`.
template <class T>
[[nodiscard]] JsonResult<T> read_document(std::string_view text) {
  return read_document_with(text, [](JsonSource& source) { return T::from_json(source); });
}

// The document that `read` reads from a parsed tree.
template <class Read>
[[nodiscard]] auto read_tree_with(const JsonValue& value, Read&& read) -> std::invoke_result_t<Read, JsonSource&> {
  TreeSource source(value);
  return std::invoke(std::forward<Read>(read), source);
}

// The document T read from a parsed tree.
template <class T>
[[nodiscard]] JsonResult<T> read_tree(const JsonValue& value) {
  return read_tree_with(value, [](JsonSource& source) { return T::from_json(source); });
}

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

// The next value when it is a scalar (read whole); for an array or object an
// empty value of its kind that knows where it begins, nothing of it read (a
// reader refusing it reports it before its bracket).
[[nodiscard]] JsonResult<JsonValue> peek_value(JsonSource& source);

[[nodiscard]] JsonResult<bool> read_bool(JsonSource& source);
[[nodiscard]] JsonResult<std::uint64_t> read_u64(JsonSource& source);
[[nodiscard]] JsonResult<std::uint16_t> read_u16(JsonSource& source);
[[nodiscard]] JsonResult<std::uint8_t> read_u8(JsonSource& source);
[[nodiscard]] JsonResult<std::string> read_string(JsonSource& source);

// Reads a string and gives it to `parse` (text -> std::expected<T, CoreError>);
// a CoreError becomes the reader's error with the CoreError's display text.
template <class Parse>
[[nodiscard]] auto read_parsed(JsonSource& source, Parse&& parse)
    -> JsonResult<typename std::invoke_result_t<Parse, const std::string&>::value_type> {
  auto v = peek_value(source);
  if (!v) return std::unexpected(std::move(v.error()));
  const std::string* s = v->as_string();
  if (s == nullptr) return std::unexpected(json_invalid_type(*v, "a string"));
  auto parsed = std::invoke(std::forward<Parse>(parse), *s);
  if (!parsed) return std::unexpected(json_error_at(*v, parsed.error().message()));
  return std::move(*parsed);
}

// Reads a unit enumeration written as a string; returns the index of the name
// in `names`, or "unknown variant `x`, expected ..." listing all names. A
// value that is neither a string nor an object is "expected value" at its
// first byte (counted); an object is "invalid type: map, expected variant
// identifier" before its bracket.
[[nodiscard]] JsonResult<std::size_t> read_enum_index(JsonSource& source, std::span<const std::string_view> names);

// The same for the tag of an internally tagged document (a member naming the
// variant): any value other than a string is "invalid type: ..., expected
// variant identifier", after a scalar, before a container's bracket.
[[nodiscard]] JsonResult<std::size_t> read_tag_index(JsonSource& source, std::span<const std::string_view> names);

// Enters the array that is the next value, or refuses any other value as
// "invalid type: ..., expected <expecting>".
[[nodiscard]] std::expected<void, JsonError> enter_array(JsonSource& source, std::string_view expecting);
// The same for an object.
[[nodiscard]] std::expected<void, JsonError> enter_object(JsonSource& source, std::string_view expecting);

// Reads an array, each element through `read_element` (JsonSource& -> JsonResult<T>).
template <class ReadElement>
[[nodiscard]] auto read_array(JsonSource& source, ReadElement&& read_element)
    -> JsonResult<std::vector<typename std::invoke_result_t<ReadElement, JsonSource&>::value_type>> {
  using T = typename std::invoke_result_t<ReadElement, JsonSource&>::value_type;
  if (auto entered = enter_array(source, "a sequence"); !entered) return std::unexpected(std::move(entered.error()));
  std::vector<T> out;
  for (;;) {
    auto more = source.next_element();
    if (!more) return std::unexpected(std::move(more.error()));
    if (!*more) return out;
    auto element = read_element(source);
    if (!element) return std::unexpected(std::move(element.error()));
    out.push_back(std::move(*element));
  }
}

// Null reads as absent; anything else goes through `read_inner`.
template <class ReadInner>
[[nodiscard]] auto read_nullable(JsonSource& source, ReadInner&& read_inner)
    -> JsonResult<std::optional<typename std::invoke_result_t<ReadInner, JsonSource&>::value_type>> {
  using T = typename std::invoke_result_t<ReadInner, JsonSource&>::value_type;
  auto kind = source.peek();
  if (!kind) return std::unexpected(std::move(kind.error()));
  if (*kind == JsonKind::Null) {
    if (auto null = source.value(); !null) return std::unexpected(std::move(null.error()));
    return std::optional<T>{};
  }
  auto inner = read_inner(source);
  if (!inner) return std::unexpected(std::move(inner.error()));
  return std::optional<T>(std::move(*inner));
}

// One member of an object document. `read` stores the value where the caller
// wants it. A required member that never occurs is "missing field `name`";
// an optional one stays as the caller initialised it.
struct JsonField {
  std::string_view name;
  bool required;
  std::function<std::expected<void, JsonError>(JsonSource&)> read;
};

enum class UnknownMembers { Ignore, Refuse };

// Reads the object that is the next value, its members in document order:
// each known one with its field; unknown members are skipped (still read,
// so their text is checked) or refused ("unknown field `x`, expected ..."
// listing the field names in declaration order); a name met twice is
// "duplicate field `x`". Then reports the first required field (declaration
// order) that did not occur. A value that is not an object is "invalid type:
// ..., expected <expecting>", e.g. expecting = "struct NodeState".
[[nodiscard]] std::expected<void, JsonError> read_object(JsonSource& source, std::string_view expecting,
                                                         std::span<const JsonField> fields,
                                                         UnknownMembers unknown = UnknownMembers::Ignore);
[[nodiscard]] inline std::expected<void, JsonError> read_object(JsonSource& source, std::string_view expecting,
                                                                std::initializer_list<JsonField> fields,
                                                                UnknownMembers unknown = UnknownMembers::Ignore) {
  return read_object(source, expecting, std::span<const JsonField>(fields.begin(), fields.size()), unknown);
}

}  // namespace brackfern
