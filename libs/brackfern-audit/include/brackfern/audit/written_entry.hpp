#pragma once

// Fast reading of audit log entries in the exact form the file writer gives
// them, so that a long log can be checked, listed and verified without
// building a JSON tree per entry.

#include <brackfern/audit/audit_event.hpp>
#include <brackfern/crypto/content_hash.hpp>
#include <brackfern/crypto/keys.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
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

// Accepts exactly the texts read_written_entry accepts and returns the same
// length, without decoding anything.
[[nodiscard]] std::size_t check_written_entry(std::string_view text, std::size_t depth);

// The functions below take the text of one whole entry that
// check_written_entry accepted at the same depth, and read it without
// checking it again.

// What the chain checks of an entry besides its signed bytes.
struct WrittenChainFields {
  std::uint64_t sequence = 0;
  Signature signature{std::array<std::uint8_t, 64>{}};
  std::optional<ContentHash> previous_event_hash;
};

// Replaces `bytes` by what audit_event_bytes gives for the entry's event and
// fills `fields`. Returns false, leaving both unspecified, when the entry
// holds text beyond ASCII (whose signed form is composed): decode the entry
// instead.
[[nodiscard]] bool written_signed_bytes(std::string_view entry, std::size_t depth, std::string& bytes,
                                        WrittenChainFields& fields);

// Appends what entry.event.to_string() gives to `out` and returns the
// entry's sequence. Returns nothing, with `out` unspecified, when the action
// holds an escape: decode the entry instead.
[[nodiscard]] std::optional<std::uint64_t> append_written_event_text(std::string_view entry, std::size_t depth,
                                                                     std::string& out);

}  // namespace brackfern
