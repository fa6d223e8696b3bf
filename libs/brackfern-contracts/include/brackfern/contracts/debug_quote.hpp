#pragma once

#include <string>
#include <string_view>

namespace brackfern {

// Returns `text` in double quotes as the program's debug forms show text:
// backslash and double quote preceded by a backslash; tab, carriage return,
// line feed and NUL as \t \r \n \0; characters that extend a grapheme
// cluster (combining marks, the zero-width non-joiner, ...) and characters
// that are not printable (controls, format characters, private-use and
// unassigned code points, line and paragraph separators, and every space
// character except U+0020) as \u{hex} in lower case without leading zeros;
// everything else (single quotes and non-ASCII letters included) unchanged.
// Bytes that are not valid UTF-8 are shown as \x{hex}.
[[nodiscard]] std::string debug_quote(std::string_view text);

}  // namespace brackfern
