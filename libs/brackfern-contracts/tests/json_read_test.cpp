#include <brackfern/contracts/json_read.hpp>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brackfern {
namespace {

JsonValue parsed(std::string_view text) {
  auto value = parse_json(text);
  EXPECT_TRUE(value.has_value()) << value.error().message;
  return value ? std::move(*value) : JsonValue{};
}

// `read` run on the text source of `text`, which must hold nothing more.
template <class Read>
auto on_text(std::string_view text, Read read) {
  return read_document_with(text, read);
}

void expect_error(const JsonError& error, std::string_view message, std::size_t line, std::size_t column) {
  EXPECT_EQ(error.message, message);
  EXPECT_EQ(error.line, line);
  EXPECT_EQ(error.column, column);
}

TEST(JsonRead, DescribesValuesAsTheReaderDoes) {
  const struct {
    std::string text;
    std::string description;
  } cases[] = {
      {"null", "null"},
      {"true", "boolean `true`"},
      {"false", "boolean `false`"},
      {"5", "integer `5`"},
      {"-5", "integer `-5`"},
      {"18446744073709551615", "integer `18446744073709551615`"},
      {"1.5", "floating point `1.5`"},
      {"1.0", "floating point `1.0`"},
      {"-0", "floating point `-0.0`"},
      {"0.1", "floating point `0.1`"},
      {"1e20", "floating point `100000000000000000000.0`"},
      {"18446744073709551616", "floating point `18446744073709552000.0`"},
      {"1e-7", "floating point `0.0000001`"},
      {"-123.456", "floating point `-123.456`"},
      {R"("abc")", R"(string "abc")"},
      {R"("a\"b\n")", R"(string "a\"b\n")"},
      {"[1]", "sequence"},
      {"{}", "map"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(describe_json_value(parsed(c.text)), c.description);
  }
}

TEST(JsonRead, UnsignedReadersRefuseOtherValuesAtTheirEnd) {
  const auto error_of = [](auto result) -> std::optional<JsonError> {
    if (result) return std::nullopt;
    return result.error();
  };
  const struct {
    std::string text;
    int width;  // 64, 16 or 8
    std::string message;
    std::size_t column;
  } cases[] = {
      {"[-1]", 64, "invalid value: integer `-1`, expected u64", 3},
      {"[1.5]", 64, "invalid type: floating point `1.5`, expected u64", 4},
      {"[\"5\"]", 64, "invalid type: string \"5\", expected u64", 4},
      {"[null]", 64, "invalid type: null, expected u64", 5},
      {"[true]", 64, "invalid type: boolean `true`, expected u64", 5},
      {"[18446744073709551616]", 64, "invalid type: floating point `18446744073709552000.0`, expected u64", 21},
      {"[[]]", 16, "invalid type: sequence, expected u16", 1},  // before the bracket
      {"[65536]", 16, "invalid value: integer `65536`, expected u16", 6},
      {"[-3]", 16, "invalid value: integer `-3`, expected u16", 3},
      {"[256]", 8, "invalid value: integer `256`, expected u8", 4},
      {"[{}]", 8, "invalid type: map, expected u8", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const JsonValue doc = parsed(c.text);
    const JsonValue& v = (*doc.as_array())[0];
    std::optional<JsonError> error;
    if (c.width == 64) error = error_of(read_tree_with(v, read_u64));
    if (c.width == 16) error = error_of(read_tree_with(v, read_u16));
    if (c.width == 8) error = error_of(read_tree_with(v, read_u8));
    ASSERT_TRUE(error.has_value());
    expect_error(*error, c.message, 1, c.column);
  }
  EXPECT_EQ(on_text("18446744073709551615", [&](JsonSource& s) { return read_u64(s); }).value(), UINT64_MAX);
  EXPECT_EQ(on_text("65535", [&](JsonSource& s) { return read_u16(s); }).value(), 65535);
  EXPECT_EQ(on_text("255", [&](JsonSource& s) { return read_u8(s); }).value(), 255);
  EXPECT_EQ(on_text("0", [&](JsonSource& s) { return read_u8(s); }).value(), 0);
}

TEST(JsonRead, BoolAndStringReaders) {
  EXPECT_EQ(on_text("true", [&](JsonSource& s) { return read_bool(s); }).value(), true);
  EXPECT_EQ(on_text(R"("x\ty")", [&](JsonSource& s) { return read_string(s); }).value(), "x\ty");
  expect_error(on_text("1", [&](JsonSource& s) { return read_bool(s); }).error(),
               "invalid type: integer `1`, expected a boolean", 1, 1);
  expect_error(on_text(" null", [&](JsonSource& s) { return read_string(s); }).error(),
               "invalid type: null, expected a string", 1, 5);
}

TEST(JsonRead, ExpectedNamesText) {
  const std::array<std::string_view, 3> names = {"a", "b", "c"};
  const std::span<const std::string_view> all(names);
  EXPECT_EQ(expected_names_text(all.first(0)), "there are no fields");
  EXPECT_EQ(expected_names_text(all.first(1)), "`a`");
  EXPECT_EQ(expected_names_text(all.first(2)), "`a` or `b`");
  EXPECT_EQ(expected_names_text(all), "one of `a`, `b`, `c`");
}

TEST(JsonRead, EnumIndex) {
  const std::array<std::string_view, 3> names = {"alpha", "beta", "gamma"};
  const std::span<const std::string_view> all(names);
  EXPECT_EQ(on_text(R"("gamma")", [&](JsonSource& s) { return read_enum_index(s, all); }).value(), 2u);
  expect_error(on_text(R"(  "delta")", [&](JsonSource& s) { return read_enum_index(s, all); }).error(),
               "unknown variant `delta`, expected one of `alpha`, `beta`, `gamma`", 1, 9);
  expect_error(on_text(R"("Alpha")", [&](JsonSource& s) { return read_enum_index(s, all.first(2)); }).error(),
               "unknown variant `Alpha`, expected `alpha` or `beta`", 1, 7);
  expect_error(on_text(R"("x")", [&](JsonSource& s) { return read_enum_index(s, all.first(1)); }).error(),
               "unknown variant `x`, expected `alpha`", 1, 3);
  expect_error(on_text(R"("x")", [&](JsonSource& s) { return read_enum_index(s, all.first(0)); }).error(),
               "unknown variant `x`, there are no variants", 1, 3);
  // Not a string: refused at the value's first byte; the object form before its bracket.
  expect_error(on_text("5", [&](JsonSource& s) { return read_enum_index(s, all); }).error(), "expected value", 1, 1);
  expect_error(on_text(" [\"a\"]", [&](JsonSource& s) { return read_enum_index(s, all); }).error(), "expected value", 1,
               2);
  expect_error(on_text("{\"a\": 1}", [&](JsonSource& s) { return read_enum_index(s, all); }).error(),
               "invalid type: map, expected variant identifier", 1, 0);
  expect_error(on_text("5", [&](JsonSource& s) { return read_tag_index(s, all); }).error(),
               "invalid type: integer `5`, expected variant identifier", 1, 1);
}

// A small document type read through read_object.
struct Thing {
  std::string name;
  std::uint16_t port = 0;
  std::optional<std::string> note;
};

std::expected<Thing, JsonError> read_thing(JsonSource& v, UnknownMembers unknown = UnknownMembers::Ignore) {
  Thing thing;
  auto done = read_object(v, "struct Thing",
                          {
                              {"name", true,
                               [&](JsonSource& f) -> std::expected<void, JsonError> {
                                 auto s = read_string(f);
                                 if (!s) return std::unexpected(s.error());
                                 thing.name = *s;
                                 return {};
                               }},
                              {"port", true,
                               [&](JsonSource& f) -> std::expected<void, JsonError> {
                                 auto p = read_u16(f);
                                 if (!p) return std::unexpected(p.error());
                                 thing.port = *p;
                                 return {};
                               }},
                              {"note", false,
                               [&](JsonSource& f) -> std::expected<void, JsonError> {
                                 auto n = read_nullable(f, read_string);
                                 if (!n) return std::unexpected(n.error());
                                 thing.note = *n;
                                 return {};
                               }},
                          },
                          unknown);
  if (!done) return std::unexpected(done.error());
  return thing;
}

TEST(JsonRead, ObjectReadsKnownMembersAndIgnoresOthers) {
  const auto thing =
      on_text(R"({"extra":[1,{}],"port":8080,"name":"n","note":"hi"})", [&](JsonSource& s) { return read_thing(s); });
  ASSERT_TRUE(thing.has_value()) << thing.error().message;
  EXPECT_EQ(thing->name, "n");
  EXPECT_EQ(thing->port, 8080);
  EXPECT_EQ(thing->note, "hi");
  const auto without_note =
      on_text(R"({"name":"n","port":1,"note":null})", [&](JsonSource& s) { return read_thing(s); });
  ASSERT_TRUE(without_note.has_value());
  EXPECT_FALSE(without_note->note.has_value());
}

TEST(JsonRead, ObjectErrorsCarryMessageAndPosition) {
  const struct {
    std::string text;
    UnknownMembers unknown;
    std::string message;
    std::size_t line;
    std::size_t column;
  } cases[] = {
      {"{\n  \"name\": \"n\",\n  \"port\": 70000\n}", UnknownMembers::Ignore,
       "invalid value: integer `70000`, expected u16", 3, 15},
      {"{\n  \"name\": \"n\"\n}", UnknownMembers::Ignore, "missing field `port`", 3, 1},
      // The first required field in declaration order is the one reported.
      {"{ \"note\": null }", UnknownMembers::Ignore, "missing field `name`", 1, 16},
      // Members are judged in document order: the bad port comes first.
      {R"({"port":"x","name":5})", UnknownMembers::Ignore, "invalid type: string \"x\", expected u16", 1, 11},
      {R"({"name":"n","extra":1,"port":1})", UnknownMembers::Refuse,
       "unknown field `extra`, expected one of `name`, `port`, `note`", 1, 19},
      {"{\n  \"name\": \"n\",\n    \"x\": {\"deep\": 1}}", UnknownMembers::Refuse,
       "unknown field `x`, expected one of `name`, `port`, `note`", 3, 7},
      {"{\"name\":\"n\",\"port\":1,\"note\":3}", UnknownMembers::Ignore, "invalid type: integer `3`, expected a string",
       1, 29},
      {"[\"n\", 1]", UnknownMembers::Ignore, "invalid type: sequence, expected struct Thing", 1, 0},
      {"\"thing\"", UnknownMembers::Ignore, "invalid type: string \"thing\", expected struct Thing", 1, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto thing = on_text(c.text, [&](JsonSource& s) { return read_thing(s, c.unknown); });
    ASSERT_FALSE(thing.has_value());
    expect_error(thing.error(), c.message, c.line, c.column);
  }
}

TEST(JsonRead, UnknownFieldOfObjectWithoutFields) {
  const auto done = on_text(R"({"x":1})", [&](JsonSource& s) {
    return read_object(s, "struct Empty", std::span<const JsonField>{}, UnknownMembers::Refuse);
  });
  ASSERT_FALSE(done.has_value());
  expect_error(done.error(), "unknown field `x`, there are no fields", 1, 4);

  const std::array<JsonField, 2> two = {JsonField{"a", false,
                                                  [](JsonSource& f) -> std::expected<void, JsonError> {
                                                    if (auto v = f.value(); !v) return std::unexpected(v.error());
                                                    return {};
                                                  }},
                                        JsonField{"b", false, [](JsonSource& f) -> std::expected<void, JsonError> {
                                                    if (auto v = f.value(); !v) return std::unexpected(v.error());
                                                    return {};
                                                  }}};
  const auto refused = on_text(
      R"({"a":1,"c":1})", [&](JsonSource& s) { return read_object(s, "struct Two", two, UnknownMembers::Refuse); });
  ASSERT_FALSE(refused.has_value());
  expect_error(refused.error(), "unknown field `c`, expected `a` or `b`", 1, 10);
}

TEST(JsonRead, ArraysNullablesAndParsedStrings) {
  const auto numbers = on_text("[1, 2, 3]", [&](JsonSource& s) { return read_array(s, read_u64); });
  ASSERT_TRUE(numbers.has_value());
  EXPECT_EQ(*numbers, (std::vector<std::uint64_t>{1, 2, 3}));
  expect_error(on_text("[1,\n -2]", [&](JsonSource& s) { return read_array(s, read_u64); }).error(),
               "invalid value: integer `-2`, expected u64", 2, 3);
  expect_error(on_text("{}", [&](JsonSource& s) { return read_array(s, read_u64); }).error(),
               "invalid type: map, expected a sequence", 1, 0);

  EXPECT_EQ(on_text("null", [&](JsonSource& s) { return read_nullable(s, read_u8); }).value(), std::nullopt);
  EXPECT_EQ(on_text("7", [&](JsonSource& s) { return read_nullable(s, read_u8); }).value(),
            std::optional<std::uint8_t>(7));

  const auto parse_even = [](const std::string& s) -> std::expected<int, CoreError> {
    if (s.size() % 2 == 0) return static_cast<int>(s.size());
    return std::unexpected(CoreError::validation("odd length"));
  };
  EXPECT_EQ(on_text(R"("ab")", [&](JsonSource& s) { return read_parsed(s, parse_even); }).value(), 2);
  expect_error(
      read_tree_with(parsed(R"(["abc"])").as_array()->at(0), [&](JsonSource& s) { return read_parsed(s, parse_even); })
          .error(),
      CoreError::validation("odd length").message(), 1, 6);
  expect_error(on_text("1", [&](JsonSource& s) { return read_parsed(s, parse_even); }).error(),
               "invalid type: integer `1`, expected a string", 1, 1);
}

TEST(JsonRead, ErrorDebugForm) {
  EXPECT_EQ((JsonError{"expected value", 1, 1}).debug(), R"(Error("expected value", line: 1, column: 1))");
  const auto error = on_text(R"(
  "x")",
                             [&](JsonSource& s) { return read_u64(s); });
  ASSERT_FALSE(error.has_value());
  EXPECT_EQ(error.error().debug(), R"(Error("invalid type: string \"x\", expected u64", line: 2, column: 5))");
  EXPECT_EQ(parse_json("").error().debug(), R"(Error("EOF while parsing a value", line: 1, column: 0))");
}

}  // namespace
}  // namespace brackfern
