#include <brackfern/contracts/json_value.hpp>

#include <cstdlib>
#include <type_traits>

namespace brackfern {

JsonValue& JsonValue::add(std::string key, JsonValue value) {
  // A fresh (null) value becomes an empty object, so writers can start from
  // JsonValue{}. Adding to a scalar or an array is a programming error.
  if (is_null()) data = Object{};
  Object* members = as_object();
  if (members == nullptr) std::abort();
  members->push_back(JsonMember{std::move(key), std::move(value), JsonPos{}});
  return *this;
}

const JsonValue* JsonValue::find(std::string_view key) const {
  const Object* members = as_object();
  if (members == nullptr) return nullptr;
  for (const JsonMember& member : *members) {
    if (member.key == key) return &member.value;
  }
  return nullptr;
}

namespace {

bool same_members(const JsonValue::Object& a, const JsonValue::Object& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].key != b[i].key || !(a[i].value == b[i].value)) return false;
  }
  return true;
}

bool same_items(const JsonValue::Array& a, const JsonValue::Array& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!(a[i] == b[i])) return false;
  }
  return true;
}

}  // namespace

bool operator==(const JsonValue& a, const JsonValue& b) {
  if (a.data.index() != b.data.index()) return false;
  return std::visit(
      [&b](const auto& left) -> bool {
        using T = std::decay_t<decltype(left)>;
        const T& right = std::get<T>(b.data);
        if constexpr (std::is_same_v<T, JsonValue::Object>) {
          return same_members(left, right);
        } else if constexpr (std::is_same_v<T, JsonValue::Array>) {
          return same_items(left, right);
        } else {
          return left == right;
        }
      },
      a.data);
}

}  // namespace brackfern
