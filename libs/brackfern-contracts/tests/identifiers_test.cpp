#include <brackfern/contracts/identifiers.hpp>

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace brackfern {
namespace {

struct SlugCase {
  std::string text;
  std::string error;  // empty: valid
};

TEST(Slug, ValidationTakesTheFirstFailingRule) {
  const std::string chars = "may contain only lowercase ASCII letters, digits and hyphens";
  const std::string edge = "must not start or end with a hyphen";
  const SlugCase cases[] = {
      {"quillmere", ""},
      {"a", ""},
      {"a-b-c9", ""},
      {std::string(64, 'a'), ""},
      {"", "must not be empty"},
      {std::string(65, 'a'), "must be at most 64 bytes, got 65"},
      {std::string(70, 'A'), "must be at most 64 bytes, got 70"},
      {"aB", chars},
      {"\xc3\xa9", chars},
      {"a_b", chars},
      {"a b", chars},
      {"-", edge},
      {"a-", edge},
      {"-a", edge},
      {"a--b", "must not contain consecutive hyphens"},
      {"--", edge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto result = Slug::create(c.text);
    if (c.error.empty()) {
      ASSERT_TRUE(result.has_value()) << result.error().message();
      EXPECT_EQ(result->str(), c.text);
      EXPECT_TRUE(Slug::validate(c.text).has_value());
    } else {
      ASSERT_FALSE(result.has_value());
      EXPECT_EQ(result.error(), CoreError::invalid_identifier("Slug", c.error));
      EXPECT_EQ(result.error().message(), "invalid Slug identifier: " + c.error);
    }
  }
}

TEST(Slug, SlugIdsShareTheRulesAndTheKind) {
  const auto service = ServiceId::from_str("a--b");
  ASSERT_FALSE(service.has_value());
  EXPECT_EQ(service.error().message(), "invalid Slug identifier: must not contain consecutive hyphens");
  EXPECT_EQ(ProductId::from_static("quillmere").str(), "quillmere");
  EXPECT_EQ(ControlPlaneId::create("cp-1")->str(), "cp-1");
}

TEST(SlugDeathTest, FromStaticStopsOnAnInvalidName) {
  EXPECT_DEATH((void)Slug::from_static("Bad"), "invalid Slug identifier");
}

TEST(Uuid, AcceptsEveryTextFormInEitherCase) {
  const std::string canonical = "67e55044-10b1-426f-9247-bb680e5fe0c8";
  const std::string forms[] = {
      canonical,
      "67E55044-10B1-426F-9247-BB680E5FE0C8",
      "{67E55044-10B1-426F-9247-BB680E5FE0C8}",
      "urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0c8",
      "67e5504410b1426f9247bb680e5fe0c8",
      "67E5504410b1426F9247bb680e5fe0C8",
  };
  for (const auto& form : forms) {
    SCOPED_TRACE(form);
    const auto uuid = Uuid::parse(form);
    ASSERT_TRUE(uuid.has_value()) << uuid.error();
    EXPECT_EQ(uuid->to_string(), canonical);
    EXPECT_EQ(uuid->bytes[0], 0x67);
    EXPECT_EQ(uuid->bytes[15], 0xc8);
  }
}

struct BadUuidCase {
  std::string text;
  std::string reason;
};

TEST(Uuid, DescribesWhatIsWrong) {
  const std::string bad_char =
      "invalid character: expected an optional prefix of `urn:uuid:` followed by [0-9a-fA-F-], found ";
  const BadUuidCase cases[] = {
      {"", "invalid length: expected length 32 for simple format, found 0"},
      {"67e5504410b1426f9247bb680e5fe0c", "invalid length: expected length 32 for simple format, found 31"},
      {"67e5504410b1426f9247bb680e5fe0c8a", "invalid length: expected length 32 for simple format, found 33"},
      {"not-a-uuid", bad_char + "`n` at 1"},
      {"6z", bad_char + "`z` at 2"},
      {"67e55044-10b1-426f-9247-bb680e5fe0cg", bad_char + "`g` at 36"},
      {"{67e55044-10b1-426f-9247-bb680e5fe0cg}", bad_char + "`g` at 37"},
      {"urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0cZ", bad_char + "`Z` at 45"},
      {"URN:UUID:67e55044-10b1-426f-9247-bb680e5fe0c8", bad_char + "`U` at 1"},
      {"67e55044-10b1-426f-9247-bb680e5fe0c\xc3\xa9", bad_char + "`\xc3\xa9` at 36"},
      {"67e55044-10b1-426f-9247", "invalid group count: expected 5, found 4"},
      {"67e55044-10b1-426f-9247-bb68-0e5fe0c8", "invalid group count: expected 5, found 6"},
      {"urn:uuid:67e5504410b1426f9247bb680e5fe0c8", "invalid group count: expected 5, found 1"},
      {"67e5504-410b1-426f-9247-bb680e5fe0c8", "invalid group length in group 0: expected 8, found 7"},
      {"67e55044-10b14-26f-9247-bb680e5fe0c8", "invalid group length in group 1: expected 4, found 5"},
      {"67e55044-10b1-426f-9247-bb680e5fe0c8a", "invalid group length in group 4: expected 12, found 13"},
      {"\xff", "non-UTF8 input"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto uuid = Uuid::parse(c.text);
    ASSERT_FALSE(uuid.has_value());
    EXPECT_EQ(uuid.error(), c.reason);
  }
}

TEST(Uuid, NodeIdParseErrorsCarryTheKind) {
  const auto id = NodeId::from_str("xyz");
  ASSERT_FALSE(id.has_value());
  EXPECT_EQ(id.error().message(),
            "invalid NodeId identifier: invalid character: expected an optional prefix of `urn:uuid:` followed by "
            "[0-9a-fA-F-], found `x` at 1");
  EXPECT_EQ(NodeId::from_str("{67E55044-10B1-426F-9247-BB680E5FE0C8}")->to_string(),
            "67e55044-10b1-426f-9247-bb680e5fe0c8");
}

TEST(Uuid, NewV4HasTheVersionAndVariantBits) {
  std::set<std::string> seen;
  for (int i = 0; i < 64; ++i) {
    const std::string text = Uuid::new_v4().to_string();
    ASSERT_EQ(text.size(), 36u);
    EXPECT_EQ(text[14], '4') << text;
    EXPECT_NE(std::string("89ab").find(text[19]), std::string::npos) << text;
    EXPECT_EQ(Uuid::parse(text)->to_string(), text);
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 64u);
  EXPECT_NE(NodeId::create(), NodeId::create());
}

}  // namespace
}  // namespace brackfern
