#pragma once

// The reference reading and writing of a state file: the whole document as
// one JSON tree, then typed; written back from one tree. The state file's
// one-pass reader and piecewise writer must agree with it on every input,
// except that the one-pass reader decides by the first problem in document
// order: where the tree cannot be built (a syntax error or a repeated member
// name), an earlier problem of another kind may be reported instead, and a
// name repeated inside the enrollment is reported at the enrollment's end.

#include <quillmere/engine/node_state.hpp>

#include "../../brackfern-contracts/tests/reading_oracle.hpp"

#include <brackfern/contracts/json_value.hpp>

#include <string>
#include <string_view>

namespace quillmere::test_support {

inline brackfern::JsonResult<NodeState> oracle_read(std::string_view text, bool* tree_failed = nullptr) {
  auto document = brackfern::parse_json(text);
  if (tree_failed != nullptr) *tree_failed = !document.has_value();
  if (!document) return std::unexpected(std::move(document.error()));
  return brackfern::read_tree<NodeState>(*document);
}

inline std::string oracle_write(const NodeState& state) {
  return brackfern::write_pretty_json(state.to_json());
}

// Empty when read_state_text and the reference agree on `text`: the same
// error (message, line and column), or equal states that write the same
// bytes, also after one more event is recorded on both. Otherwise says how
// they differ.
inline std::string disagreement(const std::string& text, const brackfern::AuditEvent* then_record = nullptr) {
  bool tree_failed = false;
  auto expected = oracle_read(text, &tree_failed);
  auto got = read_state_text(text);
  if (expected.has_value() != got.has_value()) {
    return expected ? "refused with " + got.error().debug()
                    : "read although the reference says " + expected.error().debug();
  }
  if (!expected) {
    const bool agrees =
        expected.error() == got.error() || (tree_failed && brackfern::test_support::found_in_document_order(got.error(), expected.error()));
    return agrees ? std::string() : got.error().debug() + " instead of " + expected.error().debug();
  }
  if (!(*got == *expected)) return "a different state";
  if (state_file_text(*got) != oracle_write(*expected)) return "different bytes written";
  if (then_record != nullptr) {
    const bool recorded_expected = record_event(*expected, *then_record).has_value();
    const bool recorded_got = record_event(*got, *then_record).has_value();
    if (recorded_expected != recorded_got) return "recording differs";
    if (state_file_text(*got) != oracle_write(*expected)) return "different bytes written after recording";
  }
  return {};
}

}  // namespace quillmere::test_support
