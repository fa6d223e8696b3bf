#include <brackfern/crypto/canonical_json.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace brackfern {
namespace {

JsonValue obj(std::vector<std::pair<std::string, JsonValue>> members) {
  JsonValue::Object out;
  for (auto& [key, value] : members) out.push_back(JsonMember{key, std::move(value), JsonPos{}});
  return JsonValue(std::move(out));
}

JsonValue arr(std::vector<JsonValue> items) {
  return JsonValue(JsonValue::Array(std::move(items)));
}

JsonValue u(std::uint64_t value) {
  return JsonValue(value);
}

std::string bytes_of(const JsonValue& value) {
  auto bytes = canonical_bytes(value);
  EXPECT_TRUE(bytes.has_value()) << (bytes ? "" : bytes.error().message());
  return bytes.value_or("<error>");
}

std::string error_of(const JsonValue& value) {
  auto bytes = canonical_bytes(value);
  EXPECT_FALSE(bytes.has_value());
  if (bytes) return "<no error>";
  EXPECT_TRUE(bytes.error().is<core_error::CanonicalSerialization>());
  // canonicalize alone must report the very same error.
  auto canonical = canonicalize(value);
  EXPECT_FALSE(canonical.has_value());
  if (!canonical) {
    EXPECT_EQ(canonical.error().message(), bytes.error().message());
  }
  return bytes.error().message();
}

std::string float_message(const std::string& path) {
  return "canonical serialization failed: floating-point number at " + path +
         " cannot be canonicalised; use an integer or a decimal string in signed contracts";
}

const std::string kEAcute = "\xC3\xA9";  // é precomposed
const std::string kAcute = "\xCC\x81";   // U+0301
const std::string kMacron = "\xCC\x84";  // U+0304

TEST(CanonicalJson, WorkedExample) {
  const JsonValue value = obj({{"b", u(1)},
                               {"a", arr({JsonValue("x"), JsonValue("e" + kAcute)})},
                               {"A", JsonValue::integer(-2)},
                               {"t", JsonValue("q\tq")}});
  EXPECT_EQ(bytes_of(value), "{\"A\":-2,\"a\":[\"x\",\"\xC3\xA9\"],\"b\":1,\"t\":\"q\\tq\"}");

  JsonValue with_float = value;
  with_float.as_object()->push_back(JsonMember{"c", JsonValue(2.5), JsonPos{}});
  EXPECT_EQ(error_of(with_float), float_message("c"));
}

TEST(CanonicalJson, WrittenTexts) {
  struct Case {
    const char* name;
    JsonValue value;
    std::string expected;
  };
  const Case cases[] = {
      {"empty object", JsonValue::empty_object(), "{}"},
      {"empty array", JsonValue::empty_array(), "[]"},
      {"empty string", JsonValue(""), "\"\""},
      {"null", JsonValue(nullptr), "null"},
      {"booleans", arr({JsonValue(true), JsonValue(false)}), "[true,false]"},
      {"zero", u(0), "0"},
      {"u64 max", u(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
      {"i64 min", JsonValue(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
      {"case differs, upper first", obj({{"a", u(1)}, {"B", u(2)}}), "{\"B\":2,\"a\":1}"},
      {"prefix first", obj({{"abc", u(1)}, {"ab", u(2)}}), "{\"ab\":2,\"abc\":1}"},
      {"non-ASCII after ASCII", obj({{kEAcute, u(1)}, {"z", u(2)}}), "{\"z\":2,\"\xC3\xA9\":1}"},
      {"nested objects sorted",
       obj({{"z", obj({{"y", u(1)}, {"x", u(2)}})}, {"a", arr({obj({{"d", u(3)}, {"c", u(4)}})})}}),
       "{\"a\":[{\"c\":4,\"d\":3}],\"z\":{\"x\":2,\"y\":1}}"},
      {"short escapes", JsonValue("\"\\\b\t\n\f\r"), "\"\\\"\\\\\\b\\t\\n\\f\\r\""},
      {"other controls as lower-case \\u", JsonValue(std::string("\x01\x1f\x0b", 3)), "\"\\u0001\\u001f\\u000b\""},
      {"NUL", JsonValue(std::string("a\0b", 3)), "\"a\\u0000b\""},
      {"DEL and slash raw", JsonValue("\x7f/"), "\"\x7f/\""},
      {"non-ASCII raw", JsonValue("\xE2\x82\xAC \xF0\x9F\x98\x80"), "\"\xE2\x82\xAC \xF0\x9F\x98\x80\""},
      {"escaped key", obj({{"q\"k", u(1)}}), "{\"q\\\"k\":1}"},
      {"composed key", obj({{"e" + kAcute, u(1)}}), "{\"\xC3\xA9\":1}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(bytes_of(c.value), c.expected);
    // The direct writer and canonicalize + write_value agree.
    auto canonical = canonicalize(c.value);
    ASSERT_TRUE(canonical.has_value());
    std::string written;
    write_value(*canonical, written);
    EXPECT_EQ(written, c.expected);
  }
}

TEST(CanonicalJson, WriteValueAppends) {
  std::string out = "prefix:";
  write_value(obj({{"k", JsonValue("v")}}), out);
  EXPECT_EQ(out, "prefix:{\"k\":\"v\"}");
}

TEST(CanonicalJson, Composition) {
  struct Case {
    const char* name;
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      {"ASCII unchanged", "plain text", "plain text"},
      {"e acute", "e" + kAcute, kEAcute},
      {"A grave", "A\xCC\x80", "\xC3\x80"},
      {"a ring", "a\xCC\x8A", "\xC3\xA5"},
      {"N tilde", "N\xCC\x83", "\xC3\x91"},
      {"o diaeresis", "o\xCC\x88", "\xC3\xB6"},
      {"i circumflex", "i\xCC\x82", "\xC3\xAE"},
      {"y diaeresis", "y\xCC\x88", "\xC3\xBF"},
      {"C caron", "C\xCC\x8C", "\xC4\x8C"},
      {"s caron", "s\xCC\x8C", "\xC5\xA1"},
      {"Z caron", "Z\xCC\x8C", "\xC5\xBD"},
      {"z caron", "z\xCC\x8C", "\xC5\xBE"},
      {"macron not composed", "A" + kMacron, "A" + kMacron},
      {"cedilla not composed", "c\xCC\xA7", "c\xCC\xA7"},
      {"B acute not composed", "B" + kAcute, "B" + kAcute},
      {"Y diaeresis not composed", "Y\xCC\x88", "Y\xCC\x88"},
      {"e tilde not composed", "e\xCC\x83", "e\xCC\x83"},
      {"composed once only", "e" + kAcute + kAcute, kEAcute + kAcute},
      {"mark after precomposed stays", kEAcute + kAcute, kEAcute + kAcute},
      {"precomposed never decomposed",
       "\xC3\x85"
       "\xC5\xA0",
       "\xC3\x85"
       "\xC5\xA0"},
      {"mark at start", kAcute + "e", kAcute + "e"},
      {"digit then mark", "1" + kAcute, "1" + kAcute},
      {"inside text",
       "caf"
       "e" +
           kAcute + " ok",
       "caf" + kEAcute + " ok"},
      {"after non-ASCII",
       "\xE2\x82\xAC"
       "e" +
           kAcute,
       "\xE2\x82\xAC" + kEAcute},
      {"letter at end",
       "\xE2\x82\xAC"
       "e",
       "\xE2\x82\xAC"
       "e"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(compose_text(c.input), c.expected);
    EXPECT_EQ(bytes_of(JsonValue(c.input)), "\"" + c.expected + "\"");
  }
}

TEST(CanonicalJson, DuplicateKeyAfterComposition) {
  EXPECT_EQ(error_of(obj({{"e" + kAcute, u(1)}, {kEAcute, u(2)}})),
            "canonical serialization failed: duplicate object key \"\xC3\xA9\" after Unicode normalisation");
  // Keys that differ only in case are distinct.
  EXPECT_EQ(bytes_of(obj({{"K", u(1)}, {"k", u(2)}})), "{\"K\":1,\"k\":2}");
}

TEST(CanonicalJson, DuplicateKeyIsQuotedForDebugging) {
  const std::string key = "a\"b";
  const JsonValue value = obj({{"a\"b", u(1)}, {key, u(2)}});
  EXPECT_EQ(error_of(value),
            "canonical serialization failed: duplicate object key \"a\\\"b\" after Unicode normalisation");
}

TEST(CanonicalJson, FloatingPointPaths) {
  struct Case {
    const char* name;
    JsonValue value;
    std::string path;
  };
  const Case cases[] = {
      {"whole document", JsonValue(1.0), "<root>"},
      {"third element of list", obj({{"list", arr({u(1), u(2), JsonValue(0.0)})}}), "list.2"},
      {"member of array element", obj({{"items", arr({obj({{"price", JsonValue(9.99)}})})}}), "items.0.price"},
      {"composed key in path", obj({{"e" + kAcute, JsonValue(1.5)}}), kEAcute},
      {"key with dot kept as is", obj({{"a.b", arr({JsonValue(1.5)})}}), "a.b.0"},
      // Members are visited in byte order of their keys as given.
      {"first in visiting order", obj({{"b", JsonValue(1.0)}, {"a", JsonValue(2.0)}}), "a"},
      // "e"+U+0301 is visited before "f" although it sorts after it once composed.
      {"visiting order is before composition", obj({{"f", JsonValue(1.0)}, {"e" + kAcute + "x", JsonValue(2.0)}}),
       kEAcute + "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(error_of(c.value), float_message(c.path));
  }
}

TEST(CanonicalJson, ErrorInsideMemberBeatsDuplicateOfEnclosingObject) {
  const JsonValue value = obj({{"e" + kAcute, u(1)}, {kEAcute, u(2)}, {"z", obj({{"deep", JsonValue(0.5)}})}});
  EXPECT_EQ(error_of(value), float_message("z.deep"));
  // A duplicate inside a member is found before a float in a later member.
  const JsonValue nested = obj({{"a", obj({{"e" + kAcute, u(1)}, {kEAcute, u(2)}})}, {"b", JsonValue(0.5)}});
  EXPECT_EQ(error_of(nested),
            "canonical serialization failed: duplicate object key \"\xC3\xA9\" after Unicode normalisation");
}

TEST(CanonicalJson, PathIsRestored) {
  std::vector<std::string> path{"outer"};
  auto failed = canonicalize(obj({{"x", arr({JsonValue(0.5)})}}), path);
  ASSERT_FALSE(failed.has_value());
  EXPECT_EQ(failed.error().message(), float_message("outer.x.0"));
  EXPECT_EQ(path, std::vector<std::string>{"outer"});
  auto ok = canonicalize(obj({{"x", arr({u(1)})}}), path);
  ASSERT_TRUE(ok.has_value());
  EXPECT_EQ(path, std::vector<std::string>{"outer"});
}

TEST(CanonicalJson, Idempotent) {
  const JsonValue value = obj({{"zeta", arr({JsonValue("e" + kAcute), JsonValue::integer(-7), JsonValue(nullptr)})},
                               {"Alpha", obj({{"o\xCC\x88", JsonValue(true)}, {"n", JsonValue("A" + kMacron)}})},
                               {"max", u(std::numeric_limits<std::uint64_t>::max())}});
  auto once = canonicalize(value);
  ASSERT_TRUE(once.has_value());
  auto twice = canonicalize(*once);
  ASSERT_TRUE(twice.has_value());
  EXPECT_EQ(*once, *twice);
  EXPECT_EQ(bytes_of(*once), bytes_of(value));
  EXPECT_EQ(bytes_of(*twice), bytes_of(value));
  // The canonical value is the sorted, composed one.
  const JsonValue::Object& members = *once->as_object();
  ASSERT_EQ(members.size(), 3U);
  EXPECT_EQ(members[0].key, "Alpha");
  EXPECT_EQ(members[1].key, "max");
  EXPECT_EQ(members[2].key, "zeta");
  EXPECT_EQ(members[0].value.as_object()->at(1).key, "\xC3\xB6");
}

TEST(CanonicalJson, MemberOrderOfInputDoesNotMatter) {
  const JsonValue forward = obj({{"a", u(1)}, {"b", obj({{"c", u(2)}, {"d", u(3)}})}});
  const JsonValue backward = obj({{"b", obj({{"d", u(3)}, {"c", u(2)}})}, {"a", u(1)}});
  EXPECT_EQ(bytes_of(forward), bytes_of(backward));
}

TEST(CanonicalJson, DeepAndWideDocumentsMatchBothWriters) {
  // Many sibling objects with non-ASCII keys exercise the writer's scratch space.
  JsonValue::Array items;
  for (std::uint64_t i = 0; i < 40; ++i) {
    items.push_back(obj({{"n" + std::to_string(i % 7), u(i)},
                         {"e" + kAcute + std::to_string(i), obj({{"z", u(i)}, {"a" + kAcute, JsonValue("x")}})},
                         {"k", arr({obj({{"y", u(1)}, {"x", u(2)}})})}}));
  }
  const JsonValue value = obj({{"items", JsonValue(std::move(items))}, {"head", JsonValue("h")}});
  auto canonical = canonicalize(value);
  ASSERT_TRUE(canonical.has_value());
  std::string written;
  write_value(*canonical, written);
  EXPECT_EQ(bytes_of(value), written);
}

struct Document {
  std::uint64_t count;
  [[nodiscard]] JsonValue to_json() const { return obj({{"count", u(count)}, {"kind", JsonValue("doc")}}); }
};

TEST(CanonicalJson, DocumentsGoThroughTheirJsonForm) {
  auto bytes = canonical_bytes(Document{5});
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(*bytes, "{\"count\":5,\"kind\":\"doc\"}");
}

}  // namespace
}  // namespace brackfern
