#pragma once

// Fast reading of audit log entries in the exact form the file writer gives
// them, so that a long log can be checked, listed and verified without
// building a JSON tree per entry.

#include <brackfern/audit/audit_event.hpp>

#include <cstddef>
#include <optional>
#include <string_view>

namespace brackfern {

// Reads the entry at the start of `text` when it is written exactly as
// append_pretty_json(entry.to_json(), depth) writes it: members in declaration
// order with absent ones left out, the writer's line breaks, indentation,
// escapes and number forms, identifiers, timestamps, hashes and signatures in
// the text they are written as. Then `out` holds the entry and the length of
// its text is returned. Otherwise returns 0: the text may still be a valid
// entry in another form (the general reader decides) or no entry at all.
// `out` is reused from call to call, so its strings keep their capacity; after
// a 0 its content is unspecified.
[[nodiscard]] std::size_t read_written_entry(std::string_view text, std::size_t depth,
                                             std::optional<SignedAuditEvent>& out);

}  // namespace brackfern
