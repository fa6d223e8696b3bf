#include <brackfern/contracts/timestamp.hpp>

#include <brackfern/contracts/debug_quote.hpp>

#include <chrono>
#include <optional>
#include <string>

namespace brackfern {

namespace {

namespace chr = std::chrono;

constexpr std::int64_t kSecondsPerDay = 86'400;

// Days from 1970-01-01 to the given proleptic Gregorian date (which must be valid).
constexpr std::int64_t days_from_civil(int year, unsigned month, unsigned day) {
  const chr::sys_days date{chr::year{year} / chr::month{month} / chr::day{day}};
  return date.time_since_epoch().count();
}

constexpr unsigned days_in_month(int year, unsigned month) {
  const chr::year_month_day_last last{chr::year{year}, chr::month_day_last{chr::month{month}}};
  return static_cast<unsigned>(last.day());
}

// The range of instants whose date has a four-digit year, 0000-01-01T00:00:00Z
// to 9999-12-31T23:59:59Z.
constexpr std::int64_t kFirstFourDigitSecond = days_from_civil(0, 1, 1) * kSecondsPerDay;
constexpr std::int64_t kLastFourDigitSecond = days_from_civil(9999, 12, 31) * kSecondsPerDay + kSecondsPerDay - 1;

constexpr std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// ---------------------------------------------------------------------------
// Parsing

// The fields of an RFC 3339 date-time as written, before any range check.
struct WrittenDateTime {
  int year = 0;
  unsigned month = 0;
  unsigned day = 0;
  unsigned hour = 0;
  unsigned minute = 0;
  unsigned second = 0;
  std::uint32_t nanosecond = 0;
  std::int64_t offset_seconds = 0;  // east of UTC
};

using Parsed = std::expected<WrittenDateTime, std::string>;

std::string not_parsed(const char* component) {
  return std::string("the '") + component + "' component could not be parsed";
}
std::string out_of_range(const char* component) {
  return std::string(component) + " was not in range";
}
constexpr const char* kBadLiteral = "a character literal was not valid";
constexpr const char* kTrailing = "unexpected trailing characters; the end of input was expected";

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// A forward-only view of the text still to be read.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : rest_(text) {}

  // Exactly `count` ASCII digits as a number; nothing is consumed on failure.
  std::optional<unsigned> digits(std::size_t count) {
    if (rest_.size() < count) return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (!is_digit(rest_[i])) return std::nullopt;
      value = value * 10 + static_cast<unsigned>(rest_[i] - '0');
    }
    rest_.remove_prefix(count);
    return value;
  }
  // Consumes `c` if it is next.
  bool literal(char c) {
    if (rest_.empty() || rest_.front() != c) return false;
    rest_.remove_prefix(1);
    return true;
  }
  // Consumes the next digit, if any, and returns its value.
  std::optional<unsigned> digit() {
    if (rest_.empty() || !is_digit(rest_.front())) return std::nullopt;
    const auto value = static_cast<unsigned>(rest_.front() - '0');
    rest_.remove_prefix(1);
    return value;
  }
  // Consumes any one byte; false at the end of the text.
  bool skip_one() {
    if (rest_.empty()) return false;
    rest_.remove_prefix(1);
    return true;
  }
  std::optional<char> peek() const {
    if (rest_.empty()) return std::nullopt;
    return rest_.front();
  }
  bool at_end() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

// Reads "." and one or more digits if present: the first nine give the
// nanoseconds, later ones are read and dropped.
std::expected<std::uint32_t, std::string> read_fraction(Cursor& in) {
  if (!in.literal('.')) return 0;
  const auto first = in.digit();
  if (!first) return std::unexpected(not_parsed("subsecond"));
  std::uint32_t value = *first * 100'000'000u;
  std::uint32_t scale = 10'000'000u;
  while (const auto next = in.digit()) {
    value += *next * scale;
    scale /= 10;
  }
  return value;
}

// Reads "Z", "z" or "±HH:MM" and returns the offset east of UTC in seconds.
std::expected<std::int64_t, std::string> read_offset(Cursor& in) {
  if (in.literal('Z') || in.literal('z')) return 0;
  const auto sign = in.peek();
  if (sign != '+' && sign != '-') return std::unexpected(not_parsed("offset hour"));
  in.skip_one();
  const auto hours = in.digits(2);
  if (!hours) return std::unexpected(not_parsed("offset hour"));
  if (!in.literal(':')) return std::unexpected(kBadLiteral);
  const auto minutes = in.digits(2);
  if (!minutes) return std::unexpected(not_parsed("offset minute"));
  if (*hours > 23) return std::unexpected(out_of_range("offset hour"));
  if (*minutes > 59) return std::unexpected(out_of_range("offset minute"));
  const auto magnitude = static_cast<std::int64_t>(*hours) * 3600 + static_cast<std::int64_t>(*minutes) * 60;
  return sign == '-' ? -magnitude : magnitude;
}

// The syntax of an RFC 3339 date-time: every field present, of the right
// width and separated by the right characters, and nothing after the offset.
Parsed read_date_time(std::string_view text) {
  Cursor in(text);
  WrittenDateTime dt;

  const auto year = in.digits(4);
  if (!year) return std::unexpected(not_parsed("year"));
  dt.year = static_cast<int>(*year);
  if (!in.literal('-')) return std::unexpected(kBadLiteral);
  const auto month = in.digits(2);
  if (!month) return std::unexpected(not_parsed("month"));
  dt.month = *month;
  if (!in.literal('-')) return std::unexpected(kBadLiteral);
  const auto day = in.digits(2);
  if (!day) return std::unexpected(not_parsed("day"));
  dt.day = *day;

  // "T" by the standard; any single byte is taken as the separator.
  if (!in.skip_one()) return std::unexpected(not_parsed("separator"));

  const auto hour = in.digits(2);
  if (!hour) return std::unexpected(not_parsed("hour"));
  dt.hour = *hour;
  if (!in.literal(':')) return std::unexpected(kBadLiteral);
  const auto minute = in.digits(2);
  if (!minute) return std::unexpected(not_parsed("minute"));
  dt.minute = *minute;
  if (!in.literal(':')) return std::unexpected(kBadLiteral);
  const auto second = in.digits(2);
  if (!second) return std::unexpected(not_parsed("second"));
  dt.second = *second;

  const auto fraction = read_fraction(in);
  if (!fraction) return std::unexpected(fraction.error());
  dt.nanosecond = *fraction;

  const auto offset = read_offset(in);
  if (!offset) return std::unexpected(offset.error());
  dt.offset_seconds = *offset;

  if (!in.at_end()) return std::unexpected(kTrailing);
  return dt;
}

// Checks the calendar and clock ranges and converts to UTC.
std::expected<Timestamp, std::string> to_utc(const WrittenDateTime& dt) {
  if (dt.month < 1 || dt.month > 12) return std::unexpected(out_of_range("month"));
  if (dt.day < 1 || dt.day > days_in_month(dt.year, dt.month)) return std::unexpected(out_of_range("day"));
  if (dt.hour > 23) return std::unexpected(out_of_range("hour"));
  if (dt.minute > 59) return std::unexpected(out_of_range("minute"));
  if (dt.second > 60) return std::unexpected(out_of_range("second"));

  // A leap second is held as the last nanosecond of the second before it.
  const bool leap_second = dt.second == 60;
  const unsigned second = leap_second ? 59 : dt.second;
  const std::uint32_t nanosecond = leap_second ? 999'999'999u : dt.nanosecond;

  const std::int64_t local = days_from_civil(dt.year, dt.month, dt.day) * kSecondsPerDay +
                             static_cast<std::int64_t>(dt.hour) * 3600 + static_cast<std::int64_t>(dt.minute) * 60 +
                             static_cast<std::int64_t>(second);
  const std::int64_t utc = local - dt.offset_seconds;

  if (leap_second) {
    // Leap seconds are inserted only at 23:59:60 UTC on the last day of a month.
    const std::int64_t utc_day = floor_div(utc, kSecondsPerDay);
    const chr::year_month_day date{chr::sys_days{chr::days{utc_day}}};
    const bool last_second_of_day = utc - utc_day * kSecondsPerDay == kSecondsPerDay - 1;
    const bool last_day_of_month = static_cast<unsigned>(date.day()) ==
                                   days_in_month(static_cast<int>(date.year()), static_cast<unsigned>(date.month()));
    if (!last_second_of_day || !last_day_of_month) return std::unexpected(out_of_range("second"));
  }
  // Only 9999 with a negative offset gets here: the UTC date would need a five-digit year.
  if (utc > kLastFourDigitSecond) return std::unexpected(out_of_range("year"));

  return Timestamp::from_unix(utc, nanosecond);
}

// ---------------------------------------------------------------------------
// Formatting

// Writes `value` (below 10^width) as exactly `width` decimal digits.
char* put_digits(char* out, unsigned value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

}  // namespace

Timestamp Timestamp::now() {
  const auto seconds = chr::floor<chr::seconds>(chr::system_clock::now());
  return Timestamp(static_cast<std::int64_t>(seconds.time_since_epoch().count()), 0);
}

std::expected<Timestamp, CoreError> Timestamp::from_str(std::string_view text) {
  const auto fail = [text](const std::string& description) {
    return std::unexpected(
        CoreError::validation("invalid RFC 3339 timestamp " + debug_quote(text) + ": " + description));
  };
  const auto written = read_date_time(text);
  if (!written) return fail(written.error());
  const auto instant = to_utc(*written);
  if (!instant) return fail(instant.error());
  return *instant;
}

std::string Timestamp::to_rfc3339() const {
  if (seconds_ < kFirstFourDigitSecond || seconds_ > kLastFourDigitSecond) return std::to_string(seconds_);

  const std::int64_t day_number = floor_div(seconds_, kSecondsPerDay);
  const auto second_of_day = static_cast<unsigned>(seconds_ - day_number * kSecondsPerDay);
  const chr::year_month_day date{chr::sys_days{chr::days{day_number}}};

  // "YYYY-MM-DDTHH:MM:SS", then "." and the nanoseconds' digits without
  // trailing zeros (nine of them, or all ten of a count that from_unix was
  // given beyond a second), then "Z".
  char text[32];
  char* at = put_digits(text, static_cast<unsigned>(static_cast<int>(date.year())), 4);
  *at++ = '-';
  at = put_digits(at, static_cast<unsigned>(date.month()), 2);
  *at++ = '-';
  at = put_digits(at, static_cast<unsigned>(date.day()), 2);
  *at++ = 'T';
  at = put_digits(at, second_of_day / 3600, 2);
  *at++ = ':';
  at = put_digits(at, second_of_day / 60 % 60, 2);
  *at++ = ':';
  at = put_digits(at, second_of_day % 60, 2);
  if (nanos_ != 0) {
    *at++ = '.';
    at = put_digits(at, nanos_, nanos_ >= 1'000'000'000u ? 10 : 9);
    while (at[-1] == '0') --at;
  }
  *at++ = 'Z';
  return std::string(text, at);
}

}  // namespace brackfern
