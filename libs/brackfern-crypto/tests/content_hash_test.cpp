#include <brackfern/crypto/content_hash.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <fstream>
#include <string>
#include <vector>

namespace brackfern {
namespace {

const std::string kDigest = "af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262";

TEST(ContentHash, ParsesAndPrintsLowerCase) {
  std::string upper = kDigest;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto lower = ContentHash::from_str("blake3:" + kDigest);
  const auto from_upper = ContentHash::from_str("blake3:" + upper);
  ASSERT_TRUE(lower.has_value());
  ASSERT_TRUE(from_upper.has_value());
  EXPECT_EQ(*lower, *from_upper);
  EXPECT_EQ(from_upper->to_string(), "blake3:" + kDigest);
  EXPECT_EQ(from_upper->to_string().size(), 71u);
  EXPECT_EQ(from_upper->to_hex(), kDigest);
  EXPECT_EQ(from_upper->digest()[0], 0xaf);
  EXPECT_EQ(from_upper->algorithm(), HashAlgorithm::Blake3);

  const auto sha = ContentHash::from_str("sha256:" + kDigest);
  ASSERT_TRUE(sha.has_value());
  EXPECT_EQ(sha->algorithm(), HashAlgorithm::Sha256);
  EXPECT_EQ(sha->to_string(), "sha256:" + kDigest);
  EXPECT_EQ(sha->digest(), lower->digest());
  EXPECT_FALSE(*sha == *lower);
}

struct BadCase {
  std::string text;
  CoreError error;
  std::string display;
};

TEST(ContentHash, RefusesInTheOrderOfItsChecks) {
  const std::string hex62(62, '0');
  const BadCase cases[] = {
      {"blake3", core_error::Validation{R"(content hash must be 'algorithm:hex', got "blake3")"},
       R"(validation failed: content hash must be 'algorithm:hex', got "blake3")"},
      {"a\"b\\c", core_error::Validation{R"(content hash must be 'algorithm:hex', got "a\"b\\c")"},
       R"(validation failed: content hash must be 'algorithm:hex', got "a\"b\\c")"},
      {"", core_error::Validation{R"(content hash must be 'algorithm:hex', got "")"},
       R"(validation failed: content hash must be 'algorithm:hex', got "")"},
      {"BLAKE3:" + kDigest, core_error::UnknownAlgorithm{"BLAKE3"}, "unknown or rejected algorithm: BLAKE3"},
      {" blake3:" + kDigest, core_error::UnknownAlgorithm{" blake3"}, "unknown or rejected algorithm:  blake3"},
      {"sha512:" + kDigest, core_error::UnknownAlgorithm{"sha512"}, "unknown or rejected algorithm: sha512"},
      {":" + kDigest, core_error::UnknownAlgorithm{""}, "unknown or rejected algorithm: "},
      {"md5:", core_error::UnknownAlgorithm{"md5"}, "unknown or rejected algorithm: md5"},
      {"blake3:", core_error::Validation{"content hash digest must be 64 hex characters, got 0"},
       "validation failed: content hash digest must be 64 hex characters, got 0"},
      {"blake3:" + kDigest + ":extra", core_error::Validation{"content hash digest must be 64 hex characters, got 70"},
       "validation failed: content hash digest must be 64 hex characters, got 70"},
      {"blake3:" + kDigest.substr(1), core_error::Validation{"content hash digest must be 64 hex characters, got 63"},
       "validation failed: content hash digest must be 64 hex characters, got 63"},
      {"blake3:zz" + hex62, core_error::Validation{R"(invalid hex in content hash: "zz")"},
       R"(validation failed: invalid hex in content hash: "zz")"},
      {"blake3:00:0" + std::string(60, '0'), core_error::Validation{R"(invalid hex in content hash: ":0")"},
       R"(validation failed: invalid hex in content hash: ":0")"},
      // "é" is one two-byte character: valid UTF-8 on its own, but not hex.
      {"blake3:\xc3\xa9" + hex62, core_error::Validation{"invalid hex in content hash: \"\xc3\xa9\""},
       "validation failed: invalid hex in content hash: \"\xc3\xa9\""},
      // "aé…" splits the two-byte character across pairs.
      {"blake3:a\xc3\xa9" + std::string(61, '0'), core_error::Validation{"content hash digest is not ASCII"},
       "validation failed: content hash digest is not ASCII"},
      // A bad pair late in the digest after one that is not ASCII: the earlier pair decides.
      {"blake3:0\xe2\x82\xac" + std::string(58, '0') + "zz", core_error::Validation{"content hash digest is not ASCII"},
       "validation failed: content hash digest is not ASCII"},
      {"blake3:" + std::string(60, '0') + "0zzz", core_error::Validation{R"(invalid hex in content hash: "0z")"},
       R"(validation failed: invalid hex in content hash: "0z")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.display);
    const auto hash = ContentHash::from_str(c.text);
    ASSERT_FALSE(hash.has_value()) << hash->to_string();
    EXPECT_EQ(hash.error(), c.error);
    EXPECT_EQ(hash.error().message(), c.display);
  }
}

TEST(ContentHash, AlgorithmNames) {
  EXPECT_EQ(hash_algorithm_name(HashAlgorithm::Blake3), "blake3");
  EXPECT_EQ(hash_algorithm_name(HashAlgorithm::Sha256), "sha256");
}

TEST(Blake3, EmptyInputIsThePublishedValue) {
  EXPECT_EQ(blake3_hash(std::string_view()).to_string(), "blake3:" + kDigest);
  EXPECT_EQ(blake3_hash(std::span<const std::uint8_t>()).to_string(), "blake3:" + kDigest);
}

TEST(Blake3, MatchesThePublishedVectors) {
  std::ifstream file(ZZV_TEST_DATA_DIR "/blake3_test_vectors.json");
  ASSERT_TRUE(file.is_open());
  const auto vectors = nlohmann::json::parse(file);
  const auto& cases = vectors.at("cases");
  ASSERT_GT(cases.size(), 30u);
  for (const auto& c : cases) {
    const auto length = c.at("input_len").get<std::size_t>();
    SCOPED_TRACE(length);
    std::vector<std::uint8_t> input(length);
    for (std::size_t i = 0; i < length; ++i) input[i] = static_cast<std::uint8_t>(i % 251);
    const std::string expected = c.at("hash").get<std::string>().substr(0, 64);
    const ContentHash hash = blake3_hash(input);
    EXPECT_EQ(hash.to_hex(), expected);
    EXPECT_EQ(hash.algorithm(), HashAlgorithm::Blake3);
    // The string overload hashes the same bytes.
    const std::string as_text(input.begin(), input.end());
    EXPECT_EQ(blake3_hash(as_text), hash);
  }
}

}  // namespace
}  // namespace brackfern
