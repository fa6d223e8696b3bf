#pragma once

#include <string_view>

namespace brackfern {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF,
// no truncated sequence at the end.
[[nodiscard]] bool is_valid_utf8(std::string_view text);

}  // namespace brackfern
