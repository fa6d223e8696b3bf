#include <brackfern/contracts/json_value.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

namespace brackfern {
namespace {

struct ErrorCase {
  std::string text;
  std::string message;
  std::size_t line;
  std::size_t column;
};

constexpr const char* kControl = "control character (\\u0000-\\u001F) found while parsing a string";

void expect_error(const ErrorCase& c) {
  SCOPED_TRACE(testing::Message() << "input: " << testing::PrintToString(c.text));
  const auto parsed = parse_json(c.text);
  ASSERT_FALSE(parsed.has_value());
  EXPECT_EQ(parsed.error().message, c.message);
  EXPECT_EQ(parsed.error().line, c.line);
  EXPECT_EQ(parsed.error().column, c.column);
}

TEST(JsonParse, StructureErrorsCarryMessageAndPosition) {
  const ErrorCase cases[] = {
      {"", "EOF while parsing a value", 1, 0},
      {"   ", "EOF while parsing a value", 1, 3},
      {"\n\n", "EOF while parsing a value", 3, 0},
      {"{", "EOF while parsing an object", 1, 1},
      {"[", "EOF while parsing a list", 1, 1},
      {"[1", "EOF while parsing a list", 1, 2},
      {"[1,", "EOF while parsing a value", 1, 3},
      {"{\"a\"", "EOF while parsing an object", 1, 4},
      {"{\"a\":", "EOF while parsing a value", 1, 5},
      {"{\"a\":1", "EOF while parsing an object", 1, 6},
      {"{\"a\":1,", "EOF while parsing a value", 1, 7},
      {"{\"a\":tru", "EOF while parsing a value", 1, 8},
      {"x", "expected value", 1, 1},
      {"+1", "expected value", 1, 1},
      {"[,1]", "expected value", 1, 2},
      {"\xEF\xBB\xBF{}", "expected value", 1, 1},
      {"tru", "EOF while parsing a value", 1, 3},
      {"nul", "EOF while parsing a value", 1, 3},
      {"trux", "expected ident", 1, 4},
      {"[nulL]", "expected ident", 1, 5},
      {"falsy", "expected ident", 1, 5},
      {"{1:2}", "key must be a string", 1, 2},
      {"{,}", "key must be a string", 1, 2},
      {"{\"a\":1,,}", "key must be a string", 1, 8},
      {"{\"a\" 1}", "expected `:`", 1, 6},
      {"{\"a\":1 \"b\":2}", "expected `,` or `}`", 1, 8},
      {"{\"a\":1]", "expected `,` or `}`", 1, 7},
      {"[1 2]", "expected `,` or `]`", 1, 4},
      {"[1}", "expected `,` or `]`", 1, 3},
      {"[1a]", "expected `,` or `]`", 1, 3},
      {"[1,]", "trailing comma", 1, 4},
      {"{\"a\":1,}", "trailing comma", 1, 8},
      {"[1, ]", "trailing comma", 1, 5},
      {"{} x", "trailing characters", 1, 4},
      {"1 2", "trailing characters", 1, 3},
      {"1a", "trailing characters", 1, 2},
      {"{\"a\":1}}", "trailing characters", 1, 8},
      {"[] ,", "trailing characters", 1, 4},
      {"0x80", "trailing characters", 1, 2},
  };
  for (const ErrorCase& c : cases) expect_error(c);
}

TEST(JsonParse, EmptyViewWithoutStorageIsEmptyInput) {
  const auto parsed = parse_json(std::string_view{});
  ASSERT_FALSE(parsed.has_value());
  EXPECT_EQ(parsed.error(), (JsonError{"EOF while parsing a value", 1, 0}));
}

TEST(JsonParse, ErrorsInMultiLineDocumentsCountLinesAndColumns) {
  const ErrorCase cases[] = {
      {"{\n  \"a\": [1,\n    2,]\n}", "trailing comma", 3, 7},
      {"[\"a\",\n\"b\"\n\n x]", "expected `,` or `]`", 4, 2},
      {"{\n  \"a\": 1\n  \"b\": 2\n}", "expected `,` or `}`", 3, 3},
      {"{\n  \"a\": 1,\n", "EOF while parsing a value", 3, 0},
      {"{\n  \"a\": 1\n}\n\n  }", "trailing characters", 5, 3},
      {"{\n  \"a\":\n    nulx\n}", "expected ident", 3, 8},
      {"{\r\n  \"a\" = 1\r\n}", "expected `:`", 2, 7},
  };
  for (const ErrorCase& c : cases) expect_error(c);
}

TEST(JsonParse, StringErrorsCarryMessageAndPosition) {
  const ErrorCase cases[] = {
      {"\"abc", "EOF while parsing a string", 1, 4},
      {"\"\\", "EOF while parsing a string", 1, 2},
      {"\"a\x01"
       "b\"",
       kControl, 1, 3},
      {"[\"\x1f\"]", kControl, 1, 3},
      // A raw line feed ends the line before the error is placed.
      {"\"a\nb\"", kControl, 2, 0},
      {"\"\\x\"", "invalid escape", 1, 3},
      {"\"\\U0041\"", "invalid escape", 1, 3},
      // All four hex digits are consumed before they are judged.
      {"\"\\u12G4\"", "invalid escape", 1, 7},
      {"\"\\uG234\"", "invalid escape", 1, 7},
      {"\"\\u12\"", "EOF while parsing a string", 1, 6},
      {"\"\\uDC00\"", "lone leading surrogate in hex escape", 1, 7},
      {"\"\\uD800\\u0041\"", "lone leading surrogate in hex escape", 1, 13},
      {"\"\\uD800\\uD800\"", "lone leading surrogate in hex escape", 1, 13},
      {"\"\\uD800\"", "unexpected end of hex escape", 1, 8},
      {"\"\\uD800x\"", "unexpected end of hex escape", 1, 8},
      {"\"\\uD800\\n\"", "unexpected end of hex escape", 1, 9},
      {"\"\\uD800", "EOF while parsing a string", 1, 7},
      {"\"\\uD800\\", "EOF while parsing a string", 1, 8},
      {"\"\\uD800\\uDC0", "EOF while parsing a string", 1, 12},
      // Bytes that are not UTF-8 are found once the string has been read.
      {"\"\xFF\"", "invalid unicode code point", 1, 3},
      {"\"ab\xC3\"", "invalid unicode code point", 1, 5},
      {"\"\xED\xA0\x80\"", "invalid unicode code point", 1, 5},
      {"\"\xC0\xAF\"", "invalid unicode code point", 1, 4},
      {"\"\xF4\x90\x80\x80\"", "invalid unicode code point", 1, 6},
      {"\"\xC3\\u0041\"", "invalid unicode code point", 1, 9},
      {"{\"k\xFF\":1}", "invalid unicode code point", 1, 5},
  };
  for (const ErrorCase& c : cases) expect_error(c);
}

TEST(JsonParse, NumberErrorsCarryMessageAndPosition) {
  const std::string long_integer = "1" + std::string(309, '0');
  const ErrorCase cases[] = {
      {"00", "invalid number", 1, 2},
      {"01", "invalid number", 1, 2},
      {"-01", "invalid number", 1, 3},
      {"[01]", "invalid number", 1, 3},
      {"-", "EOF while parsing a value", 1, 1},
      {"-a", "invalid number", 1, 2},
      {"[-]", "invalid number", 1, 3},
      {"1.", "EOF while parsing a value", 1, 2},
      {"1.a", "invalid number", 1, 3},
      {"1.e1", "invalid number", 1, 3},
      {"[1.]", "invalid number", 1, 4},
      {"1e", "EOF while parsing a value", 1, 2},
      {"1e+", "EOF while parsing a value", 1, 3},
      {"1ea", "invalid number", 1, 3},
      {"[1e]", "invalid number", 1, 4},
      {".5", "expected value", 1, 1},
      {"1e400", "number out of range", 1, 5},
      {"-1e400", "number out of range", 1, 6},
      {"[1.7976931348623159e308]", "number out of range", 1, 23},
      {long_integer, "number out of range", 1, 310},
      // An exponent past 32 bits is refused as soon as it gets there.
      {"100e777777777777777777777777777", "number out of range", 1, 14},
      {"1e99999999999", "number out of range", 1, 12},
  };
  for (const ErrorCase& c : cases) expect_error(c);
}

TEST(JsonParse, DuplicateMemberNamesAreRefusedJustAfterTheSecondName) {
  const ErrorCase cases[] = {
      {"{\"a\":1,\"a\":2}", "duplicate field `a`", 1, 10},
      {"{\"a\":1,\"a\" 2}", "duplicate field `a`", 1, 11},  // after the space
      {"{\"x\":{\"b\":1,\"b\":2}}", "duplicate field `b`", 1, 15},
      {"{\n  \"a\": 1,\n  \"a\": 2\n}", "duplicate field `a`", 3, 5},
      {"{\"\\u0061\":1,\"a\":2}", "duplicate field `a`", 1, 15},
  };
  for (const ErrorCase& c : cases) expect_error(c);
}

TEST(JsonParse, DuplicateInLargeObjectIsFound) {
  std::string text = "{";
  for (int i = 0; i < 200; ++i) text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  const std::size_t before = text.size();
  text += "\"k57\":0}";
  expect_error({text, "duplicate field `k57`", 1, before + 5});

  std::string distinct = "{";
  for (int i = 0; i < 200; ++i) distinct += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":" + std::to_string(i);
  distinct += "}";
  const auto parsed = parse_json(distinct);
  ASSERT_TRUE(parsed.has_value()) << parsed.error().message;
  EXPECT_EQ(parsed->as_object()->size(), 200u);
}

TEST(JsonParse, NestingUpTo127LevelsReadsAndDeeperIsRefused) {
  const std::string ok = std::string(127, '[') + std::string(127, ']');
  EXPECT_TRUE(parse_json(ok).has_value());
  expect_error({std::string(128, '[') + std::string(128, ']'), "recursion limit exceeded", 1, 128});
  expect_error({std::string(100000, '['), "recursion limit exceeded", 1, 128});
  std::string objects;
  for (int i = 0; i < 200; ++i) objects += "{\"a\":";
  expect_error({objects, "recursion limit exceeded", 1, 127 * 5 + 1});
}

TEST(JsonParse, NumbersKeepTheirKind) {
  const auto u64 = [](std::string_view text) { return std::get<std::uint64_t>(parse_json(text)->data); };
  const auto i64 = [](std::string_view text) { return std::get<std::int64_t>(parse_json(text)->data); };
  const auto f64 = [](std::string_view text) { return std::get<double>(parse_json(text)->data); };

  EXPECT_EQ(u64("0"), 0u);
  EXPECT_EQ(u64("42"), 42u);
  EXPECT_EQ(u64("18446744073709551615"), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(i64("-1"), -1);
  EXPECT_EQ(i64("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(f64("18446744073709551616"), 18446744073709551616.0);
  EXPECT_EQ(f64("-9223372036854775809"), -9223372036854775808.0);
  EXPECT_EQ(f64("1.5"), 1.5);
  EXPECT_EQ(f64("1E2"), 100.0);
  EXPECT_EQ(f64("1e+2"), 100.0);
  EXPECT_EQ(f64("25e-1"), 2.5);
  EXPECT_EQ(f64("0.1"), 0.1);
  EXPECT_EQ(f64("2.2250738585072011e-308"), 2.2250738585072011e-308);
  EXPECT_EQ(f64("1e-400"), 0.0);
  EXPECT_EQ(f64("0e99999999999"), 0.0);
  EXPECT_EQ(f64("1e-99999999999"), 0.0);

  const double minus_zero = f64("-0");
  EXPECT_EQ(minus_zero, 0.0);
  EXPECT_TRUE(std::signbit(minus_zero));
  EXPECT_TRUE(std::signbit(f64("-0.0")));
  EXPECT_TRUE(std::signbit(f64("-1e-400")));
  EXPECT_FALSE(std::signbit(f64("0.0")));
}

TEST(JsonParse, StringsDecodeEscapes) {
  const struct {
    std::string text;
    std::string value;
  } cases[] = {
      {R"("plain")", "plain"},
      {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
      {R"("\u0041\u00e9\u20AC")", "A\xC3\xA9\xE2\x82\xAC"},
      {R"("\uD83D\uDE00")", "\xF0\x9F\x98\x80"},
      {R"("\udbff\udfff")", "\xF4\x8F\xBF\xBF"},
      {R"("a\u0000b")", std::string("a\0b", 3)},
      {"\"caf\xC3\xA9 \xF0\x9F\x98\x80\"", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
      {"\"\x7F\"", "\x7F"},
      {R"("x\ny\\z")", "x\ny\\z"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto parsed = parse_json(c.text);
    ASSERT_TRUE(parsed.has_value()) << parsed.error().message;
    ASSERT_TRUE(parsed->is_string());
    EXPECT_EQ(*parsed->as_string(), c.value);
  }
}

TEST(JsonParse, ValuesAndMembersRememberWhereTheyEnded) {
  const auto parsed = parse_json("{\n  \"a\": [1, 22],\n  \"bb\": \"x\",\n  \"c\": -1.5e3\n}  ");
  ASSERT_TRUE(parsed.has_value()) << parsed.error().message;
  const JsonValue::Object& members = *parsed->as_object();
  ASSERT_EQ(members.size(), 3u);
  const auto at = [](JsonPos pos) { return std::make_pair(pos.line, pos.column); };
  using Pos = std::pair<std::uint32_t, std::uint32_t>;
  EXPECT_EQ(at(parsed->end), Pos(5, 1));
  EXPECT_EQ(members[0].key, "a");
  EXPECT_EQ(at(members[0].key_end), Pos(2, 5));
  EXPECT_EQ(at(members[0].value.end), Pos(2, 14));
  EXPECT_EQ(at((*members[0].value.as_array())[0].end), Pos(2, 9));
  EXPECT_EQ(at((*members[0].value.as_array())[1].end), Pos(2, 13));
  EXPECT_EQ(at(members[1].key_end), Pos(3, 6));
  EXPECT_EQ(at(members[1].value.end), Pos(3, 11));
  EXPECT_EQ(at(members[2].value.end), Pos(4, 13));
  EXPECT_EQ(std::get<double>(members[2].value.data), -1500.0);
}

TEST(JsonParse, ScalarsAndEmptyContainers) {
  EXPECT_TRUE(parse_json(" null ")->is_null());
  EXPECT_EQ(std::get<bool>(parse_json("true")->data), true);
  EXPECT_EQ(std::get<bool>(parse_json("\tfalse\r\n")->data), false);
  EXPECT_TRUE(parse_json("[]")->as_array()->empty());
  EXPECT_TRUE(parse_json("{ }")->as_object()->empty());
  const auto nested = parse_json(R"({"a":{"b":[null,true,{"c":"d"}]}})");
  ASSERT_TRUE(nested.has_value());
  const JsonValue* c = (*nested->find("a")->find("b")->as_array())[2].find("c");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(*c->as_string(), "d");
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The public JSON conformance suite: y_ documents must read, n_ documents
// must be refused, i_ documents may go either way; none may crash. Our
// documents refuse repeated member names, so the two y_ files that repeat a
// name are refused on purpose.
TEST(JsonParse, ConformanceSuite) {
  const std::filesystem::path dir = std::filesystem::path(ZZV_TEST_DATA_DIR) / "json_test_suite";
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".json") continue;
    ++files;
    SCOPED_TRACE(name);
    const auto parsed = parse_json(read_file(entry.path()));
    if (name.starts_with("y_object_duplicated_key")) {
      ASSERT_FALSE(parsed.has_value());
      EXPECT_TRUE(parsed.error().message.starts_with("duplicate field `")) << parsed.error().message;
    } else if (name.starts_with("y_")) {
      EXPECT_TRUE(parsed.has_value()) << parsed.error().message;
    } else if (name.starts_with("n_")) {
      EXPECT_FALSE(parsed.has_value());
    }
  }
  EXPECT_GT(files, 300);
}

}  // namespace
}  // namespace brackfern
