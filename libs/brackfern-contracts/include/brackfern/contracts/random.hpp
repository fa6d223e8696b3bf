#pragma once

#include <cstdint>
#include <expected>
#include <span>

namespace brackfern {

// Fills `out` from the operating system's random source (getentropy, in
// pieces of at most 256 bytes). Returns the errno of the first failed request;
// callers stop the program with their own message, since nothing may ever be
// made from fewer random bytes.
[[nodiscard]] std::expected<void, int> fill_random(std::span<std::uint8_t> out);

// Stops the program with "{prefix}{system error text}" on standard error.
[[noreturn]] void fatal_random_failure(const char* prefix, int error_number);

}  // namespace brackfern
