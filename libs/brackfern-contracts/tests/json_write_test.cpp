#include <brackfern/contracts/json_value.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace brackfern {
namespace {

TEST(JsonWrite, ScalarsAreWrittenExactly) {
  const struct {
    JsonValue value;
    std::string text;
  } cases[] = {
      {JsonValue(), "null"},
      {JsonValue(true), "true"},
      {JsonValue(false), "false"},
      {JsonValue(std::uint64_t{0}), "0"},
      {JsonValue(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
      {JsonValue(std::int64_t{-5}), "-5"},
      {JsonValue(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
      {JsonValue::integer(7), "7"},
      {JsonValue(1.5), "1.5"},
      {JsonValue(1.0), "1.0"},
      {JsonValue(-0.0), "-0.0"},
      {JsonValue(0.1), "0.1"},
      {JsonValue(123.456), "123.456"},
      {JsonValue(1e15), "1000000000000000.0"},
      {JsonValue(1e16), "1e16"},
      {JsonValue(1.5e20), "1.5e20"},
      {JsonValue(0.0001), "0.0001"},
      {JsonValue(0.00001), "0.00001"},
      {JsonValue(0.000001), "1e-6"},
      {JsonValue(-1.5e-7), "-1.5e-7"},
      {JsonValue(std::numeric_limits<double>::quiet_NaN()), "null"},
      {JsonValue(std::numeric_limits<double>::infinity()), "null"},
      {JsonValue("plain"), "\"plain\""},
      {JsonValue(""), "\"\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(write_pretty_json(c.value), c.text);
  }
}

TEST(JsonWrite, StringsAreEscapedMinimally) {
  const std::string raw =
      std::string("q\"b\\s/\b\f\n\r\t") + std::string("\0\x01\x1f\x7f", 4) + "\xC3\xA9\xF0\x9F\x98\x80";
  EXPECT_EQ(write_pretty_json(JsonValue(raw)),
            "\"q\\\"b\\\\s/\\b\\f\\n\\r\\t\\u0000\\u0001\\u001f\x7f\xC3\xA9\xF0\x9F\x98\x80\"");
  JsonValue object;
  object.add("ke\"y\n", JsonValue(1.0));
  EXPECT_EQ(write_pretty_json(object), "{\n  \"ke\\\"y\\n\": 1.0\n}");
}

TEST(JsonWrite, NestedContainersAreIndentedByTwoSpaces) {
  JsonValue inner = JsonValue::empty_object();
  inner.add("b", JsonValue());
  JsonValue::Array list;
  list.emplace_back(JsonValue::integer(1));
  list.emplace_back(std::move(inner));
  list.emplace_back(JsonValue::Array{JsonValue::integer(-2), JsonValue("x")});
  JsonValue doc;
  doc.add("a", JsonValue(std::move(list)))
      .add("c", JsonValue::empty_object())
      .add("d", JsonValue::empty_array())
      .add("e", JsonValue("x"));
  EXPECT_EQ(write_pretty_json(doc),
            "{\n"
            "  \"a\": [\n"
            "    1,\n"
            "    {\n"
            "      \"b\": null\n"
            "    },\n"
            "    [\n"
            "      -2,\n"
            "      \"x\"\n"
            "    ]\n"
            "  ],\n"
            "  \"c\": {},\n"
            "  \"d\": [],\n"
            "  \"e\": \"x\"\n"
            "}");
  EXPECT_EQ(write_pretty_json(JsonValue::empty_array()), "[]");
  EXPECT_EQ(write_pretty_json(JsonValue::empty_object()), "{}");
}

TEST(JsonWrite, RoundTripThroughTheReader) {
  const std::string text =
      "{\n"
      "  \"name\": \"caf\xC3\xA9 \\\"q\\\" \\u0001\",\n"
      "  \"count\": 18446744073709551615,\n"
      "  \"delta\": -9223372036854775808,\n"
      "  \"ratio\": 0.30000000000000004,\n"
      "  \"big\": 1.8446744073709552e19,\n"
      "  \"items\": [\n"
      "    true,\n"
      "    false,\n"
      "    null,\n"
      "    [],\n"
      "    {}\n"
      "  ],\n"
      "  \"nested\": {\n"
      "    \"deep\": [\n"
      "      {\n"
      "        \"x\": -0.0\n"
      "      }\n"
      "    ]\n"
      "  }\n"
      "}";
  const auto first = parse_json(text);
  ASSERT_TRUE(first.has_value()) << first.error().message;
  const std::string written = write_pretty_json(*first);
  EXPECT_EQ(written, text);
  const auto second = parse_json(written);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(*first, *second);
}

TEST(JsonValueOps, FindAddAndEquality) {
  JsonValue doc;
  doc.add("a", JsonValue::integer(1)).add("b", JsonValue("x"));
  ASSERT_NE(doc.find("b"), nullptr);
  EXPECT_EQ(*doc.find("b")->as_string(), "x");
  EXPECT_EQ(doc.find("z"), nullptr);
  EXPECT_EQ(JsonValue(true).find("a"), nullptr);

  // Positions do not take part in equality; kinds, contents and order do.
  const auto read = parse_json(" {\"a\": 1, \"b\": \"x\"}");
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, doc);
  JsonValue reordered;
  reordered.add("b", JsonValue("x")).add("a", JsonValue::integer(1));
  EXPECT_FALSE(reordered == doc);
  EXPECT_FALSE(JsonValue(std::uint64_t{5}) == JsonValue(std::int64_t{5}));
  EXPECT_FALSE(JsonValue(std::uint64_t{5}) == JsonValue(5.0));
  EXPECT_FALSE(JsonValue::empty_array() == JsonValue::empty_object());
  EXPECT_TRUE(JsonValue(JsonValue::Array{JsonValue("a")}) == JsonValue(JsonValue::Array{JsonValue("a")}));
  EXPECT_FALSE(JsonValue(JsonValue::Array{JsonValue("a")}) == JsonValue(JsonValue::Array{JsonValue("b")}));
}

}  // namespace
}  // namespace brackfern
