// The node state file on arbitrary bytes: read as JSON, then as a NodeState.
//
// Properties: nothing crashes; a state that was read is written (the file
// form, which is written a part at a time) exactly as the whole-document
// writer writes its JSON, and reading that text gives the same state, which
// writes the same text again. Verifying the audit log of any state read must
// not crash either.

#include "fuzz_check.hpp"

#include <quillmere/engine/node_state.hpp>

#include <brackfern/contracts/json_value.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using zzv_fuzz::require;
  auto value = brackfern::parse_json(zzv_fuzz::as_text(data, size));
  if (!value) return 0;
  auto state = brackfern::read_tree<quillmere::NodeState>(*value);
  if (!state) return 0;

  const std::string text = quillmere::state_file_text(*state);
  require(text == brackfern::write_pretty_json(state->to_json()), "state file text is the pretty JSON of to_json");
  auto reparsed = brackfern::parse_json(text);
  require(reparsed.has_value(), "state file text parses");
  auto reread = brackfern::read_tree<quillmere::NodeState>(*reparsed);
  require(reread.has_value(), "state file text reads as a NodeState");
  require(*reread == *state, "state file text reads back equal");
  require(quillmere::state_file_text(*reread) == text, "state file text is stable");

  (void)quillmere::verify_audit(*state);
  return 0;
}
