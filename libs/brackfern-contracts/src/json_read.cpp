#include <brackfern/contracts/json_read.hpp>

#include <brackfern/contracts/debug_quote.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>

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

JsonResult<JsonValue> peek_value(JsonSource& source) {
  auto kind = source.peek();
  if (!kind) return std::unexpected(std::move(kind.error()));
  if (*kind == JsonKind::Array || *kind == JsonKind::Object) {
    JsonValue head = *kind == JsonKind::Array ? JsonValue::empty_array() : JsonValue::empty_object();
    head.begin = source.value_begin();
    head.end = head.begin;
    return head;
  }
  return source.value();
}

namespace {

// Reads the next value as a scalar and hands it to `judge` (const JsonValue&
// -> JsonResult<T>); a container reaches `judge` as its empty head.
template <class Judge>
auto read_scalar(JsonSource& source, Judge judge) -> decltype(judge(std::declval<const JsonValue&>())) {
  auto v = peek_value(source);
  if (!v) return std::unexpected(std::move(v.error()));
  return judge(*v);
}

JsonResult<std::size_t> tag_index(const JsonValue& v, std::span<const std::string_view> names) {
  const std::string* s = v.as_string();
  if (s == nullptr) return std::unexpected(json_invalid_type(v, "variant identifier"));
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == *s) return i;
  }
  std::string message = "unknown variant `" + *s + "`, ";
  message += names.empty() ? std::string("there are no variants") : "expected " + expected_names_text(names);
  return std::unexpected(json_error_at(v, std::move(message)));
}

}  // namespace

JsonResult<bool> read_bool(JsonSource& source) {
  return read_scalar(source, [](const JsonValue& v) -> JsonResult<bool> {
    if (const auto* b = std::get_if<bool>(&v.data)) return *b;
    return std::unexpected(json_invalid_type(v, "a boolean"));
  });
}

JsonResult<std::uint64_t> read_u64(JsonSource& source) {
  return read_scalar(source, [](const JsonValue& v) { return read_unsigned<std::uint64_t>(v, "u64"); });
}

JsonResult<std::uint16_t> read_u16(JsonSource& source) {
  return read_scalar(source, [](const JsonValue& v) { return read_unsigned<std::uint16_t>(v, "u16"); });
}

JsonResult<std::uint8_t> read_u8(JsonSource& source) {
  return read_scalar(source, [](const JsonValue& v) { return read_unsigned<std::uint8_t>(v, "u8"); });
}

JsonResult<std::string> read_string(JsonSource& source) {
  auto v = peek_value(source);
  if (!v) return std::unexpected(std::move(v.error()));
  if (std::string* s = std::get_if<std::string>(&v->data)) return std::move(*s);
  return std::unexpected(json_invalid_type(*v, "a string"));
}

JsonResult<std::size_t> read_tag_index(JsonSource& source, std::span<const std::string_view> names) {
  return read_scalar(source, [names](const JsonValue& v) { return tag_index(v, names); });
}

JsonResult<std::size_t> read_enum_index(JsonSource& source, std::span<const std::string_view> names) {
  return read_scalar(source, [names](const JsonValue& v) -> JsonResult<std::size_t> {
    // Only a string or the object form names a variant; any other value is
    // refused at its first byte.
    if (!v.is_string() && !v.is_object()) {
      return std::unexpected(json_error_at(JsonPos{v.begin.line, v.begin.column + 1}, "expected value"));
    }
    return tag_index(v, names);
  });
}

namespace {

std::expected<void, JsonError> enter(JsonSource& source, JsonKind kind, std::string_view expecting) {
  auto v = peek_value(source);
  if (!v) return std::unexpected(std::move(v.error()));
  const bool matches = kind == JsonKind::Array ? v->is_array() : v->is_object();
  if (!matches) return std::unexpected(json_invalid_type(*v, expecting));
  return kind == JsonKind::Array ? source.enter_array() : source.enter_object();
}

}  // namespace

std::expected<void, JsonError> enter_array(JsonSource& source, std::string_view expecting) {
  return enter(source, JsonKind::Array, expecting);
}

std::expected<void, JsonError> enter_object(JsonSource& source, std::string_view expecting) {
  return enter(source, JsonKind::Object, expecting);
}

std::expected<void, JsonError> read_object(JsonSource& source, std::string_view expecting,
                                           std::span<const JsonField> fields, UnknownMembers unknown) {
  if (auto entered = enter_object(source, expecting); !entered) return entered;
  // Which fields were present: on the stack for every document's field
  // count, so reading an object allocates nothing of its own.
  constexpr std::size_t kInlineFields = 32;
  std::array<bool, kInlineFields> seen_inline{};
  std::vector<bool> seen_heap(fields.size() > kInlineFields ? fields.size() : 0, false);
  // Marks field i as present; true when it was present already.
  const auto mark_seen = [&](std::size_t i) {
    if (fields.size() > kInlineFields) return seen_heap[i] ? true : (seen_heap[i] = true, false);
    return std::exchange(seen_inline[i], true);
  };
  const auto was_seen = [&](std::size_t i) { return fields.size() > kInlineFields ? seen_heap[i] : seen_inline[i]; };
  std::vector<std::string> unknown_seen;  // names of the unknown members met so far
  for (;;) {
    JsonPos key_end;
    auto name = source.next_member(key_end);
    if (!name) return std::unexpected(std::move(name.error()));
    if (!*name) break;
    std::size_t index = 0;
    while (index < fields.size() && fields[index].name != **name) ++index;
    const bool known = index < fields.size();
    const bool repeated =
        known ? mark_seen(index) : std::find(unknown_seen.begin(), unknown_seen.end(), **name) != unknown_seen.end();
    if (repeated) return std::unexpected(json_error_at(key_end, "duplicate field `" + **name + "`"));
    if (known) {
      if (auto read = fields[index].read(source); !read) return read;
      continue;
    }
    if (unknown == UnknownMembers::Refuse) {
      std::vector<std::string_view> names;
      names.reserve(fields.size());
      for (const JsonField& field : fields) names.push_back(field.name);
      std::string message = "unknown field `" + **name + "`, ";
      if (!names.empty()) message += "expected ";
      message += expected_names_text(names);
      return std::unexpected(json_error_at(key_end, std::move(message)));
    }
    unknown_seen.push_back(std::move(**name));
    if (auto skipped = source.value(); !skipped) return std::unexpected(std::move(skipped.error()));
  }
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].required && !was_seen(i)) {
      return std::unexpected(json_error_at(source.closed_at(), "missing field `" + std::string(fields[i].name) + "`"));
    }
  }
  return {};
}

// ---- TreeSource ----

namespace {

JsonKind kind_of(const JsonValue& v) {
  switch (v.data.index()) {
    case 0:
      return JsonKind::Null;
    case 1:
      return JsonKind::Boolean;
    case 2:
    case 3:
    case 4:
      return JsonKind::Number;
    case 5:
      return JsonKind::String;
    case 6:
      return JsonKind::Array;
    default:
      return JsonKind::Object;
  }
}

}  // namespace

JsonResult<JsonKind> TreeSource::peek() {
  return kind_of(*next_);
}

namespace {

// The member whose name repeats an earlier one of its object, the first in
// document order (a name comes before its value), or nullptr.
const JsonMember* first_repeated_member(const JsonValue& v) {
  if (const JsonValue::Array* items = v.as_array()) {
    for (const JsonValue& item : *items) {
      if (const JsonMember* repeated = first_repeated_member(item)) return repeated;
    }
  } else if (const JsonValue::Object* members = v.as_object()) {
    for (std::size_t i = 0; i < members->size(); ++i) {
      const JsonMember& member = (*members)[i];
      for (std::size_t j = 0; j < i; ++j) {
        if ((*members)[j].key == member.key) return &member;
      }
      if (const JsonMember* repeated = first_repeated_member(member.value)) return repeated;
    }
  }
  return nullptr;
}

}  // namespace

JsonResult<JsonValue> TreeSource::value(DuplicateMembers duplicates) {
  if (duplicates == DuplicateMembers::Refuse) {
    if (const JsonMember* repeated = first_repeated_member(*next_)) {
      return std::unexpected(json_error_at(repeated->key_end, "duplicate field `" + repeated->key + "`"));
    }
  }
  return *next_;
}

std::expected<void, JsonError> TreeSource::enter_array() {
  open_.push_back(Open{next_});
  return {};
}

std::expected<void, JsonError> TreeSource::enter_object() {
  open_.push_back(Open{next_});
  return {};
}

JsonResult<bool> TreeSource::next_element() {
  Open& open = open_.back();
  const JsonValue::Array& items = *open.container->as_array();
  if (open.next == items.size()) {
    closed_at_ = open.container->end;
    open_.pop_back();
    return false;
  }
  next_ = &items[open.next++];
  return true;
}

JsonResult<std::optional<std::string>> TreeSource::next_member(JsonPos& key_end) {
  Open& open = open_.back();
  const JsonValue::Object& members = *open.container->as_object();
  if (open.next == members.size()) {
    closed_at_ = open.container->end;
    open_.pop_back();
    return std::optional<std::string>();
  }
  const JsonMember& member = members[open.next++];
  key_end = member.key_end;
  next_ = &member.value;
  return std::optional<std::string>(member.key);
}

}  // namespace brackfern
