#pragma once

// The reference reading of a document: the whole text parsed into one JSON
// tree, then typed. The program reads documents straight from their text;
// both must agree, except that the text reader decides by the first problem
// in document order.

#include <brackfern/contracts/json_read.hpp>
#include <brackfern/contracts/json_value.hpp>

#include <string>
#include <string_view>

namespace brackfern::test_support {

// Whether `got` may stand for the reference's error `expected` where the
// tree could not be built: a problem no later in the text (met first), or,
// when the tree stopped at a repeated member name, any refusal (inside the
// state's enrollment a repeated name is reported only at the object's end,
// so whatever comes first in the rest of the object decides).
inline bool found_in_document_order(const brackfern::JsonError& got, const brackfern::JsonError& expected) {
  const bool earlier = got.line < expected.line || (got.line == expected.line && got.column <= expected.column);
  return earlier || expected.message.starts_with("duplicate field `");
}

// Empty when the text reader and the whole-tree reference agree on `text`
// for the document that `read` (JsonSource& -> JsonResult<T>) reads: equal
// documents (compared through `to_json(const T&)`), the same error, or,
// where the tree cannot be built, an error found in document order.
// Otherwise says how they differ.
template <class Read, class ToJson>
std::string document_disagreement(std::string_view text, Read read, ToJson to_json) {
  auto tree = brackfern::parse_json(text);
  auto got = brackfern::read_document_with(text, read);
  auto expected = tree ? brackfern::read_tree_with(*tree, read) : decltype(got)(std::unexpected(tree.error()));
  if (expected.has_value() != got.has_value()) {
    return expected ? "refused with " + got.error().debug()
                    : "read although the reference says " + expected.error().debug();
  }
  if (!expected) {
    const bool agrees =
        expected.error() == got.error() || (!tree && found_in_document_order(got.error(), expected.error()));
    return agrees ? std::string() : got.error().debug() + " instead of " + expected.error().debug();
  }
  return to_json(*got) == to_json(*expected) ? std::string() : "a different document";
}

}  // namespace brackfern::test_support
