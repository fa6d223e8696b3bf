#pragma once

#include <brackfern/contracts/core_error.hpp>

#include <compare>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace brackfern {

// A UTC instant with nanosecond precision. Held as whole seconds since
// 1970-01-01T00:00:00Z plus nanoseconds (0..999'999'999).
class Timestamp {
 public:
  // The system clock, truncated to whole seconds. The only place the program reads the clock.
  [[nodiscard]] static Timestamp now();
  // RFC 3339 with a mandatory offset, converted to UTC. Failure:
  // Validation "invalid RFC 3339 timestamp \"text\": <description>".
  [[nodiscard]] static std::expected<Timestamp, CoreError> from_str(std::string_view text);
  [[nodiscard]] static Timestamp from_unix(std::int64_t seconds, std::uint32_t nanoseconds = 0) {
    return Timestamp(seconds, nanoseconds);
  }

  // "2026-03-01T08:15:00Z", trimmed fraction when non-zero; outside years
  // 0000–9999 the signed count of seconds since the epoch.
  [[nodiscard]] std::string to_rfc3339() const;
  [[nodiscard]] std::string to_string() const { return to_rfc3339(); }

  // True when this instant is strictly later than `other`.
  [[nodiscard]] bool is_after(const Timestamp& other) const { return *this > other; }

  [[nodiscard]] std::int64_t unix_seconds() const { return seconds_; }
  [[nodiscard]] std::uint32_t nanoseconds() const { return nanos_; }

  friend bool operator==(const Timestamp&, const Timestamp&) = default;
  friend auto operator<=>(const Timestamp&, const Timestamp&) = default;

 private:
  Timestamp(std::int64_t seconds, std::uint32_t nanos) : seconds_(seconds), nanos_(nanos) {}
  std::int64_t seconds_ = 0;
  std::uint32_t nanos_ = 0;
};

}  // namespace brackfern
