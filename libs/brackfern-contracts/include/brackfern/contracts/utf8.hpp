#pragma once

#include <string>
#include <string_view>

namespace brackfern {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF,
// no truncated sequence at the end.
[[nodiscard]] bool is_valid_utf8(std::string_view text);

// `text` with every ill-formed sequence replaced by U+FFFD, one replacement
// per maximal subpart (the longest prefix of a well-formed sequence, or else
// a single byte), as lossy UTF-8 decoders do. Well-formed text comes back
// unchanged.
[[nodiscard]] std::string to_utf8_lossy(std::string_view text);

}  // namespace brackfern
