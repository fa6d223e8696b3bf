#pragma once

#include <string>
#include <string_view>

namespace brackfern {

// Returns `text` in double quotes as the program's debug forms show text:
// backslash and double quote preceded by a backslash; tab, carriage return,
// line feed and NUL as \t \r \n \0; other non-printable characters and
// combining marks as \u{hex}; everything else (non-ASCII letters included)
// unchanged. Bytes that are not valid UTF-8 are shown as \x{hex}.
[[nodiscard]] std::string debug_quote(std::string_view text);

}  // namespace brackfern
