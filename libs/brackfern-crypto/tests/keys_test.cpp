#include <brackfern/crypto/keys.hpp>

#include <brackfern/contracts/hex.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace brackfern {
namespace {

std::vector<std::uint8_t> from_hex_text(const std::string& text) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(hex_digit_value(text[i]) * 16 + hex_digit_value(text[i + 1])));
  }
  return out;
}

template <std::size_t N>
std::array<std::uint8_t, N> fixed(const std::string& text) {
  auto decoded = decode_hex_exact<N>(text);
  EXPECT_TRUE(decoded.has_value()) << text;
  return decoded.value_or(std::array<std::uint8_t, N>{});
}

nlohmann::json load_vectors(const char* name) {
  std::ifstream in(std::string(ZZV_TEST_DATA_DIR) + "/" + name);
  EXPECT_TRUE(in.good()) << name;
  return nlohmann::json::parse(in);
}

// Loads a public key; nullopt when the bytes do not decompress.
std::optional<VerifyingKey> key_from_hex(const std::string& hex) {
  auto key = VerifyingKey::from_bytes(fixed<32>(hex));
  if (!key) return std::nullopt;
  return *key;
}

// A signature of the wrong length can never verify.
bool verifies(const VerifyingKey& key, const std::string& message_hex, const std::string& signature_hex) {
  if (signature_hex.size() != 128) return false;
  const std::vector<std::uint8_t> message = from_hex_text(message_hex);
  return key.verify(message, Signature(fixed<64>(signature_hex))).has_value();
}

TEST(Ed25519, Rfc8032TestVectors1To3) {
  struct Case {
    const char* name;
    const char* secret;
    const char* public_key;
    const char* message;
    const char* signature;
  };
  const Case cases[] = {
      {"test 1", "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
       "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
       "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe"
       "24655141438e7a100b"},
      {"test 2", "4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
       "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
       "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302a"
       "eeb00d291612bb0c00"},
      {"test 3", "c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
       "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
       "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc6594a7c15e9716ed2"
       "8dc027beceea1ec40a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SigningKey key = SigningKey::from_seed(fixed<32>(c.secret));
    EXPECT_EQ(to_hex(key.verifying_key().bytes()), c.public_key);
    EXPECT_EQ(to_hex(key.seed()), c.secret);
    const std::vector<std::uint8_t> message = from_hex_text(c.message);
    const Signature signature = key.sign_bytes(message);
    EXPECT_EQ(signature.to_hex(), c.signature);
    EXPECT_TRUE(key.verifying_key().verify(message, signature).has_value());
  }
}

TEST(Ed25519, EdgeVectorsUnderThePlainRule) {
  const nlohmann::json vectors = load_vectors("ed25519_edge_vectors.json");
  ASSERT_EQ(vectors.size(), 16U);
  for (const auto& v : vectors) {
    SCOPED_TRACE(v.at("name").get<std::string>());
    const auto key = VerifyingKey::from_bytes(fixed<32>(v.at("public_key_hex").get<std::string>()));
    ASSERT_EQ(key.has_value(), v.at("public_key_decompresses").get<bool>());
    if (!key) {
      EXPECT_FALSE(v.at("expected_valid").get<bool>());
      EXPECT_EQ(key.error().message(),
                "validation failed: invalid ed25519 public key: signature error: Cannot decompress Edwards point");
      continue;
    }
    EXPECT_EQ(verifies(*key, v.at("message_hex").get<std::string>(), v.at("signature_hex").get<std::string>()),
              v.at("expected_valid").get<bool>());
  }
}

TEST(Ed25519, WycheproofVerification) {
  const nlohmann::json suite = load_vectors("wycheproof_ed25519_test.json");
  std::size_t count = 0;
  for (const auto& group : suite.at("testGroups")) {
    const auto key = key_from_hex(group.at("publicKey").at("pk").get<std::string>());
    for (const auto& test : group.at("tests")) {
      ++count;
      SCOPED_TRACE("tcId " + std::to_string(test.at("tcId").get<int>()) + " " + test.at("comment").get<std::string>());
      const bool valid =
          key.has_value() && verifies(*key, test.at("msg").get<std::string>(), test.at("sig").get<std::string>());
      EXPECT_EQ(valid, test.at("result").get<std::string>() == "valid");
    }
  }
  EXPECT_EQ(count, 151U);
}

TEST(Ed25519, PointThatDoesNotDecompressIsRefused) {
  std::array<std::uint8_t, 32> y_is_two{};
  y_is_two[0] = 2;
  const auto key = VerifyingKey::from_bytes(y_is_two);
  ASSERT_FALSE(key.has_value());
  EXPECT_TRUE(key.error().is<core_error::Validation>());
  EXPECT_EQ(key.error().message(),
            "validation failed: invalid ed25519 public key: signature error: Cannot decompress Edwards point");
}

TEST(Ed25519, TamperingFailsVerification) {
  const SigningKey key = SigningKey::from_seed(fixed<32>(std::string(64, '7')));
  const SigningKey other = SigningKey::from_seed(fixed<32>(std::string(64, '8')));
  const std::string message = "the message";
  const Signature signature = key.sign_bytes(message);
  ASSERT_TRUE(key.verifying_key().verify(message, signature).has_value());

  // One reused verifier gives every verdict alike, refusals between good ones included.
  SignatureVerifier reused(key.verifying_key());
  for (std::size_t bit = 0; bit < 512; bit += 37) {
    SCOPED_TRACE("bit " + std::to_string(bit));
    auto bytes = signature.bytes();
    bytes[bit / 8] ^= static_cast<std::uint8_t>(1U << (bit % 8));
    for (const auto& result :
         {key.verifying_key().verify(message, Signature(bytes)), reused.verify(message, Signature(bytes))}) {
      ASSERT_FALSE(result.has_value());
      EXPECT_EQ(result.error().message(), "signature verification failed");
    }
    EXPECT_TRUE(reused.verify(message, signature).has_value());
  }
  EXPECT_FALSE(SignatureVerifier(other.verifying_key()).verify(message, signature).has_value());
  std::string changed = message;
  changed[3] = 'X';
  EXPECT_FALSE(key.verifying_key().verify(changed, signature).has_value());
  const auto wrong_key = other.verifying_key().verify(message, signature);
  ASSERT_FALSE(wrong_key.has_value());
  EXPECT_TRUE(wrong_key.error().is<core_error::SignatureInvalid>());
}

TEST(Ed25519, NonCanonicalScalarIsRefused) {
  // S + L has the same value modulo L, so the equation holds for the reduced
  // scalar; the plain rule still refuses it.
  const SigningKey key = SigningKey::from_seed(fixed<32>(std::string(64, '3')));
  const std::string message = "scalar";
  auto bytes = key.sign_bytes(message).bytes();
  const std::array<std::uint8_t, 32> order =
      fixed<32>("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");
  unsigned carry = 0;
  for (std::size_t i = 0; i < 32; ++i) {
    const unsigned sum = bytes[32 + i] + order[i] + carry;
    bytes[32 + i] = static_cast<std::uint8_t>(sum & 0xFF);
    carry = sum >> 8;
  }
  ASSERT_EQ(carry, 0U);
  EXPECT_FALSE(key.verifying_key().verify(message, Signature(bytes)).has_value());
}

TEST(Ed25519, SigningIsDeterministicAndKeysRoundTripThroughTheSeed) {
  const SigningKey generated = SigningKey::generate();
  const SigningKey again = SigningKey::from_seed(generated.seed());
  EXPECT_EQ(again.verifying_key(), generated.verifying_key());
  EXPECT_EQ(generated.sign_bytes(std::string_view("doc")).to_hex(), again.sign_bytes(std::string_view("doc")).to_hex());
  EXPECT_NE(SigningKey::generate().seed(), generated.seed());

  // A moved key keeps working; a copied verifying key outlives its signer.
  SigningKey moved = SigningKey::from_seed(generated.seed());
  SigningKey target = std::move(moved);
  std::optional<VerifyingKey> copy;
  {
    const SigningKey temporary = SigningKey::from_seed(generated.seed());
    copy = temporary.verifying_key();
  }
  EXPECT_TRUE(copy->verify(std::string_view("doc"), target.sign_bytes(std::string_view("doc"))).has_value());
}

TEST(Ed25519, SignsTheCanonicalBytesOfADocument) {
  const SigningKey key = SigningKey::from_seed(fixed<32>(std::string(64, 'a')));
  JsonValue::Object members;
  members.push_back(JsonMember{"b", JsonValue(std::uint64_t{2}), {}});
  members.push_back(JsonMember{"a", JsonValue("x"), {}});
  auto signature = key.sign(JsonValue(members));
  ASSERT_TRUE(signature.has_value());
  EXPECT_TRUE(key.verifying_key().verify(std::string_view("{\"a\":\"x\",\"b\":2}"), *signature).has_value());

  members.push_back(JsonMember{"c", JsonValue(0.5), {}});
  auto refused = key.sign(JsonValue(members));
  ASSERT_FALSE(refused.has_value());
  EXPECT_TRUE(refused.error().is<core_error::CanonicalSerialization>());
}

TEST(SignatureText, FromHex) {
  const std::string lower = std::string(126, 'a') + "0f";
  struct Case {
    const char* name;
    std::string text;
    std::string expected;  // to_hex on success, else the displayed error
  };
  const Case cases[] = {
      {"lower case", lower, lower},
      {"upper case written back lower", std::string(126, 'A') + "0F", lower},
      {"127 characters", std::string(127, 'a'),
       "validation failed: ed25519 signature must be 128 hex characters, got 127"},
      {"129 characters", std::string(129, 'a'),
       "validation failed: ed25519 signature must be 128 hex characters, got 129"},
      {"empty", "", "validation failed: ed25519 signature must be 128 hex characters, got 0"},
      {"length before content", std::string(127, 'z'),
       "validation failed: ed25519 signature must be 128 hex characters, got 127"},
      {"zz", "zz" + std::string(126, '0'), "validation failed: invalid hex in signature: \"zz\""},
      {"one bad digit", std::string(10, '0') + "0g" + std::string(116, '0'),
       "validation failed: invalid hex in signature: \"0g\""},
      // é (two bytes) on a pair boundary is valid UTF-8 by itself but not hex.
      {"two-byte character within a pair", "\xC3\xA9" + std::string(126, '0'),
       "validation failed: invalid hex in signature: \"\xC3\xA9\""},
      // é starting at an odd offset is split across two pairs.
      {"character across pairs", "0\xC3\xA9" + std::string(125, '0'), "validation failed: signature is not ASCII"},
      {"three-byte character", "\xE2\x82\xAC" + std::string(125, '0'), "validation failed: signature is not ASCII"},
      {"first bad pair decides", "zz" + std::string(10, '0') + "0\xC3\xA9" + std::string(113, '0'),
       "validation failed: invalid hex in signature: \"zz\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.text.size() == 128 || c.expected.starts_with("validation failed: ed25519"), true);
    const auto parsed = Signature::from_hex(c.text);
    if (parsed) {
      EXPECT_EQ(parsed->to_hex(), c.expected);
    } else {
      EXPECT_TRUE(parsed.error().is<core_error::Validation>());
      EXPECT_EQ(parsed.error().message(), c.expected);
    }
  }
}

}  // namespace
}  // namespace brackfern
