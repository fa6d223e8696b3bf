#include <brackfern/contracts/timestamp.hpp>

#include <gtest/gtest.h>

#include <string>

namespace brackfern {
namespace {

struct GoodCase {
  std::string text;
  std::string utc;
};

TEST(Timestamp, ParsesAndPrintsInUtc) {
  const GoodCase cases[] = {
      {"2026-03-01T08:15:00Z", "2026-03-01T08:15:00Z"},
      {"2026-03-01t08:15:00z", "2026-03-01T08:15:00Z"},
      {"2026-03-01 08:15:00Z", "2026-03-01T08:15:00Z"},
      {"2026-03-01_08:15:00Z", "2026-03-01T08:15:00Z"},
      {"2026-03-01T10:15:00+02:00", "2026-03-01T08:15:00Z"},
      {"2026-03-01T00:30:00+01:00", "2026-02-28T23:30:00Z"},
      {"2024-03-01T00:30:00+01:00", "2024-02-29T23:30:00Z"},
      {"2025-12-31T23:30:00-01:00", "2026-01-01T00:30:00Z"},
      {"2026-03-01T08:15:00+00:00", "2026-03-01T08:15:00Z"},
      {"2026-03-01T08:15:00-00:00", "2026-03-01T08:15:00Z"},
      {"2026-03-01T08:15:00.123456789123Z", "2026-03-01T08:15:00.123456789Z"},
      {"2026-03-01T08:15:00.999999999999Z", "2026-03-01T08:15:00.999999999Z"},
      {"2026-03-01T08:15:00.500Z", "2026-03-01T08:15:00.5Z"},
      {"2026-03-01T08:15:00.000Z", "2026-03-01T08:15:00Z"},
      {"2026-03-01T08:15:00.000000120Z", "2026-03-01T08:15:00.00000012Z"},
      {"2024-02-29T12:00:00Z", "2024-02-29T12:00:00Z"},
      {"1970-01-01T00:00:00Z", "1970-01-01T00:00:00Z"},
      {"0000-01-01T00:00:00Z", "0000-01-01T00:00:00Z"},
      {"9999-12-31T23:59:59Z", "9999-12-31T23:59:59Z"},
      {"9999-12-31T23:00:00+02:00", "9999-12-31T21:00:00Z"},
      {"2016-12-31T23:59:60Z", "2016-12-31T23:59:59.999999999Z"},
      {"2016-12-31T23:59:60.5Z", "2016-12-31T23:59:59.999999999Z"},
      {"2017-01-01T01:59:60+02:00", "2016-12-31T23:59:59.999999999Z"},
      {"2016-06-30T20:59:60-03:00", "2016-06-30T23:59:59.999999999Z"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto ts = Timestamp::from_str(c.text);
    ASSERT_TRUE(ts.has_value()) << ts.error().message();
    EXPECT_EQ(ts->to_rfc3339(), c.utc);
    EXPECT_EQ(ts->to_string(), c.utc);
    EXPECT_EQ(Timestamp::from_str(c.utc), ts);
  }
}

struct BadCase {
  std::string text;
  std::string description;
};

TEST(Timestamp, RefusesWithTheParserDescription) {
  const std::string literal = "a character literal was not valid";
  const BadCase cases[] = {
      {"", "the 'year' component could not be parsed"},
      {"226-03-01T08:15:00Z", "the 'year' component could not be parsed"},
      {"20260-03-01T08:15:00Z", literal},
      {"2026/03/01T08:15:00Z", literal},
      {"2026-3-01T08:15:00Z", "the 'month' component could not be parsed"},
      {"2026-03-1T08:15:00Z", "the 'day' component could not be parsed"},
      {"2026-03-01", "the 'separator' component could not be parsed"},
      {"2026-03-01T", "the 'hour' component could not be parsed"},
      {"2026-03-01\xc3\xa9"
       "08:15:00Z",
       "the 'hour' component could not be parsed"},
      {"2026-03-01T08-15:00Z", literal},
      {"2026-03-01T08:1:00Z", "the 'minute' component could not be parsed"},
      {"2026-03-01T08:15.00Z", literal},
      {"2026-03-01T08:15:0Z", "the 'second' component could not be parsed"},
      {"2026-03-01T08:15:00.Z", "the 'subsecond' component could not be parsed"},
      {"2026-03-01T08:15:00", "the 'offset hour' component could not be parsed"},
      {"2026-03-01T08:15:00 +01:00", "the 'offset hour' component could not be parsed"},
      {"2026-03-01T08:15:00+1:00", "the 'offset hour' component could not be parsed"},
      {"2026-03-01T08:15:00+0100", literal},
      {"2026-03-01T08:15:00+01:0", "the 'offset minute' component could not be parsed"},
      {"2026-03-01T08:15:00+24:00", "offset hour was not in range"},
      {"2026-03-01T08:15:00+01:60", "offset minute was not in range"},
      {"2026-03-01T08:15:00Zjunk", "unexpected trailing characters; the end of input was expected"},
      {"2026-03-01T08:15:00+01:00 ", "unexpected trailing characters; the end of input was expected"},
      {"2026-00-01T08:15:00Z", "month was not in range"},
      {"2026-13-01T08:15:00Z", "month was not in range"},
      {"2026-03-00T08:15:00Z", "day was not in range"},
      {"2026-02-29T08:15:00Z", "day was not in range"},
      {"2026-04-31T08:15:00Z", "day was not in range"},
      {"2026-03-01T24:00:00Z", "hour was not in range"},
      {"2026-03-01T08:60:00Z", "minute was not in range"},
      {"2026-03-01T08:15:61Z", "second was not in range"},
      {"2026-03-01T12:00:60Z", "second was not in range"},
      {"2016-12-31T22:59:60Z", "second was not in range"},
      {"2016-12-31T23:59:60+01:00", "second was not in range"},
      {"9999-12-31T23:00:00-02:00", "year was not in range"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto ts = Timestamp::from_str(c.text);
    ASSERT_FALSE(ts.has_value()) << ts->to_rfc3339();
    ASSERT_TRUE(ts.error().is<core_error::Validation>());
    const auto& message = std::get<core_error::Validation>(ts.error().value()).message;
    EXPECT_TRUE(message.ends_with(": " + c.description)) << message;
  }
}

TEST(Timestamp, WholeMessageQuotesTheInput) {
  const auto ts = Timestamp::from_str("2026-02-30T00:00:00Z");
  ASSERT_FALSE(ts.has_value());
  EXPECT_EQ(ts.error().message(),
            "validation failed: invalid RFC 3339 timestamp \"2026-02-30T00:00:00Z\": day was not in range");

  const auto quoted = Timestamp::from_str("a\"b\\c");
  ASSERT_FALSE(quoted.has_value());
  EXPECT_EQ(quoted.error().message(),
            R"(validation failed: invalid RFC 3339 timestamp "a\"b\\c": the 'year' component could not be parsed)");
}

TEST(Timestamp, YearBeforeZeroPrintsAsEpochSeconds) {
  const auto ts = Timestamp::from_str("0000-01-01T00:30:00+01:00");
  ASSERT_TRUE(ts.has_value()) << ts.error().message();
  EXPECT_EQ(ts->unix_seconds(), -62167221000);
  EXPECT_EQ(ts->to_rfc3339(), "-62167221000");
  // Seconds are counted down to the floor even with a fraction.
  EXPECT_EQ(Timestamp::from_unix(-62167219201, 500'000'000).to_rfc3339(), "-62167219201");
  EXPECT_EQ(Timestamp::from_unix(-62167219200).to_rfc3339(), "0000-01-01T00:00:00Z");
  EXPECT_EQ(Timestamp::from_unix(253402300800).to_rfc3339(), "253402300800");
  EXPECT_EQ(Timestamp::from_unix(253402300799, 1).to_rfc3339(), "9999-12-31T23:59:59.000000001Z");
}

TEST(Timestamp, BeforeTheEpochUsesFloorDays) {
  EXPECT_EQ(Timestamp::from_unix(-1).to_rfc3339(), "1969-12-31T23:59:59Z");
  EXPECT_EQ(Timestamp::from_str("1969-12-31T23:59:59.25Z")->unix_seconds(), -1);
  EXPECT_EQ(Timestamp::from_str("1969-12-31T23:59:59.25Z")->nanoseconds(), 250'000'000u);
}

TEST(Timestamp, OrderingComparesInstantsWithNanoseconds) {
  const auto a = *Timestamp::from_str("2026-03-01T08:15:00.000000001Z");
  const auto b = *Timestamp::from_str("2026-03-01T08:15:00.000000002Z");
  const auto b_elsewhere = *Timestamp::from_str("2026-03-01T09:15:00.000000002+01:00");
  EXPECT_NE(a, b);
  EXPECT_LT(a, b);
  EXPECT_EQ(b, b_elsewhere);
  EXPECT_TRUE(b.is_after(a));
  EXPECT_FALSE(a.is_after(b));
  EXPECT_FALSE(b.is_after(b_elsewhere));
}

TEST(Timestamp, NowHasWholeSecondsAndPrintsTwentyCharacters) {
  const Timestamp now = Timestamp::now();
  EXPECT_EQ(now.nanoseconds(), 0u);
  EXPECT_EQ(now.to_rfc3339().size(), 20u);
  EXPECT_TRUE(now.is_after(*Timestamp::from_str("2025-01-01T00:00:00Z")));
}

}  // namespace
}  // namespace brackfern
