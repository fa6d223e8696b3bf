// The development control plane's key record and minting, in-process.

#include "dev_control_plane.hpp"

#include <brackfern/contracts/json_value.hpp>
#include <brackfern/crypto/signed_envelope.hpp>
#include <quillmere/contracts/enrollment.hpp>
#include <quillmere/contracts/service_bundle.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace zidazavavide {
namespace {

// Ed25519 test key 1 of RFC 8032: seed and the public key it gives.
constexpr std::string_view kSeed = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
constexpr std::string_view kPublicKey = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";
constexpr std::string_view kCorrupt = "\"dev-cp key file is corrupt\"";

const brackfern::Timestamp kNow = brackfern::Timestamp::from_unix(1'772'352'900);  // 2026-03-01T08:15:00Z

DevControlPlaneKey test_key(std::string id = "acme-cp") {
  return DevControlPlaneKey(std::move(id), std::string(kSeed));
}

std::string public_key_hex(const DevControlPlaneKey& key) {
  auto signing_key = key.signing_key();
  if (!signing_key) return "<" + signing_key.error().debug() + ">";
  return quillmere::ControlPlaneKeyMaterial(signing_key->verifying_key()).text();
}

std::vector<quillmere::ServiceSpec> services_from_text(std::string_view text) {
  auto value = brackfern::parse_json(text);
  EXPECT_TRUE(value.has_value());
  auto services = brackfern::read_tree_with(*value, quillmere::services_from_json);
  EXPECT_TRUE(services.has_value()) << services.error().debug();
  return services ? *services : std::vector<quillmere::ServiceSpec>{};
}

std::string service_json(std::string_view id) {
  return std::string(R"({"service_id": ")") + std::string(id) +
         R"(", "artifact": {"kind": "binary", "content_hash": "blake3:)" + std::string(64, 'a') +
         R"(", "size_bytes": 7}, "desired_state": "running", "restart_policy": "never"})";
}

TEST(DevControlPlaneKey, GenerateDrawsAFreshLowerCaseSeedAndKeepsTheIdAsGiven) {
  const DevControlPlaneKey first = DevControlPlaneKey::generate("Not A Slug");
  const DevControlPlaneKey second = DevControlPlaneKey::generate("Not A Slug");
  EXPECT_EQ(first.control_plane_id, "Not A Slug");
  ASSERT_EQ(first.seed_hex.size(), 64U);
  EXPECT_TRUE(std::all_of(first.seed_hex.begin(), first.seed_hex.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f');
  })) << first.seed_hex;
  EXPECT_NE(first.seed_hex, second.seed_hex);
  EXPECT_TRUE(first.signing_key().has_value());
}

TEST(DevControlPlaneKey, SigningKeyAcceptsExactlySixtyFourHexDigitsInEitherCase) {
  std::string upper(kSeed);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
  struct Case {
    std::string name;
    std::string seed_hex;
    bool accepted;
  };
  const Case cases[] = {
      {"lower case", std::string(kSeed), true},
      {"upper case", upper, true},
      {"63 characters", std::string(kSeed.substr(0, 63)), false},
      {"65 characters", std::string(kSeed) + "0", false},
      {"empty", "", false},
      {"non-hex letter", "g" + std::string(kSeed.substr(1)), false},
      {"space inside", std::string(kSeed.substr(0, 31)) + " " + std::string(kSeed.substr(32)), false},
      {"0x prefix", "0x" + std::string(kSeed.substr(0, 62)), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DevControlPlaneKey key("acme-cp", c.seed_hex);
    auto signing_key = key.signing_key();
    if (c.accepted) {
      ASSERT_TRUE(signing_key.has_value()) << signing_key.error().debug();
      EXPECT_EQ(quillmere::ControlPlaneKeyMaterial(signing_key->verifying_key()).text(), kPublicKey);
    } else {
      ASSERT_FALSE(signing_key.has_value());
      EXPECT_EQ(signing_key.error().debug(), kCorrupt);
    }
  }
}

TEST(DevControlPlaneKey, WritesBothMembersInOrder) {
  EXPECT_EQ(brackfern::write_pretty_json(test_key("Acme").to_json()),
            "{\n  \"control_plane_id\": \"Acme\",\n  \"seed_hex\": \"" + std::string(kSeed) + "\"\n}");
}

TEST(DevControlPlaneKey, ReadsBothRequiredMembersAndIgnoresOthers) {
  struct Case {
    std::string name;
    std::string text;
    std::string error;  // debug form; empty when the read succeeds
  };
  const std::string seed(kSeed);
  const Case cases[] = {
      {"plain", R"({"control_plane_id": "acme-cp", "seed_hex": ")" + seed + R"("})", ""},
      {"reordered with extra member",
       R"({"seed_hex": ")" + seed + R"(", "comment": [1, 2], "control_plane_id": "acme-cp"})", ""},
      {"missing seed", R"({"control_plane_id": "acme-cp"})",
       "Error(\"missing field `seed_hex`\", line: 1, column: 31)"},
      {"missing id", R"({"seed_hex": "00"})", "Error(\"missing field `control_plane_id`\", line: 1, column: 18)"},
      {"seed not a string", R"({"control_plane_id": "acme-cp", "seed_hex": 5})",
       "Error(\"invalid type: integer `5`, expected a string\", line: 1, column: 45)"},
      {"not an object", "[]",
       "Error(\"invalid type: sequence, expected struct DevControlPlaneKey\", line: 1, column: 0)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto value = brackfern::parse_json(c.text);
    ASSERT_TRUE(value.has_value()) << value.error().debug();
    auto key = brackfern::read_tree<DevControlPlaneKey>(*value);
    if (c.error.empty()) {
      ASSERT_TRUE(key.has_value()) << key.error().debug();
      EXPECT_EQ(key->control_plane_id, "acme-cp");
      EXPECT_EQ(key->seed_hex, seed);
    } else {
      ASSERT_FALSE(key.has_value());
      EXPECT_EQ(key.error().debug(), c.error);
    }
  }
}

TEST(MintEnrollmentOffer, BuildsASelfSignedOfferThatVerifies) {
  const auto hint = brackfern::NodeId::from_str("3f2504e0-4f89-41d3-9a0c-0305e82c3301");
  ASSERT_TRUE(hint.has_value());
  auto offer = mint_enrollment_offer(test_key(), *hint, kNow);
  ASSERT_TRUE(offer.has_value()) << offer.error().debug();

  EXPECT_EQ(offer->payload.control_plane_id.str(), "acme-cp");
  EXPECT_EQ(offer->payload.public_key.text(), kPublicKey);
  EXPECT_EQ(offer->payload.offered_at, kNow);
  EXPECT_EQ(offer->payload.node_hint, hint);
  EXPECT_NE(offer->payload.key_id, offer->header.key_id);
  EXPECT_EQ(offer->header.format_version, 1);
  EXPECT_EQ(offer->header.created_at, kNow);
  EXPECT_FALSE(offer->header.expires_at.has_value());
  EXPECT_FALSE(offer->header.previous_hash.has_value());
  EXPECT_EQ(offer->header.associated_data, std::vector<std::string>{"quillmere.enrollment_offer.v1"});

  auto verified = quillmere::verify_offer(*offer, kNow);
  ASSERT_TRUE(verified.has_value()) << verified.error().debug();
}

TEST(MintEnrollmentOffer, WithoutAHintLeavesTheMemberOut) {
  auto offer = mint_enrollment_offer(test_key(), std::nullopt, kNow);
  ASSERT_TRUE(offer.has_value()) << offer.error().debug();
  EXPECT_EQ(offer->payload.to_json().find("node_hint"), nullptr);
}

TEST(MintEnrollmentOffer, EachOfferAdvertisesAFreshKeyIdForTheSameKey) {
  auto first = mint_enrollment_offer(test_key(), std::nullopt, kNow);
  auto second = mint_enrollment_offer(test_key(), std::nullopt, kNow);
  ASSERT_TRUE(first.has_value() && second.has_value());
  EXPECT_EQ(first->payload.public_key, second->payload.public_key);
  EXPECT_NE(first->payload.key_id, second->payload.key_id);
  EXPECT_NE(first->header.envelope_id, second->header.envelope_id);
}

// Both minting operations check the seed before the id, and report an
// invalid id as the bare core error.
TEST(MintDocuments, RefuseACorruptSeedFirstThenABadControlPlaneId) {
  struct Case {
    std::string name;
    DevControlPlaneKey key;
    std::string error;
  };
  const std::string slug_error =
      "InvalidIdentifier { kind: \"Slug\", reason: \"may contain only lowercase ASCII letters, digits and hyphens\" }";
  const Case cases[] = {
      {"capitalised id", test_key("Acme"), slug_error},
      {"corrupt seed and capitalised id", DevControlPlaneKey("Acme", std::string(kSeed.substr(1))),
       std::string(kCorrupt)},
  };
  const auto node_id = brackfern::NodeId::create();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto offer = mint_enrollment_offer(c.key, std::nullopt, kNow);
    ASSERT_FALSE(offer.has_value());
    EXPECT_EQ(offer.error().debug(), c.error);
    auto bundle = mint_service_bundle(c.key, brackfern::KeyId::create(), node_id, 1, {}, kNow);
    ASSERT_FALSE(bundle.has_value());
    EXPECT_EQ(bundle.error().debug(), c.error);
  }
  auto slug = mint_enrollment_offer(test_key("Acme"), std::nullopt, kNow);
  ASSERT_FALSE(slug.has_value());
  EXPECT_TRUE(slug.error().is<brackfern::CoreError>());
}

TEST(MintServiceBundle, SignsUnderTheGivenKeyIdWithTheBundleContext) {
  const auto key_id = brackfern::KeyId::create();
  const auto node_id = brackfern::NodeId::create();
  const auto services = services_from_text("[" + service_json("web") + ", " + service_json("db") + "]");
  auto bundle = mint_service_bundle(test_key(), key_id, node_id, 42, services, kNow);
  ASSERT_TRUE(bundle.has_value()) << bundle.error().debug();

  EXPECT_EQ(bundle->header.key_id, key_id);
  EXPECT_EQ(bundle->header.created_at, kNow);
  EXPECT_FALSE(bundle->header.expires_at.has_value());
  EXPECT_FALSE(bundle->header.previous_hash.has_value());
  EXPECT_EQ(bundle->payload.node_id, node_id);
  EXPECT_EQ(bundle->payload.bundle_version, 42U);
  EXPECT_EQ(bundle->payload.services, services);
  EXPECT_EQ(bundle->payload.created_at, kNow);
  EXPECT_EQ(bundle->payload.issued_by.str(), "acme-cp");

  auto verifying_key = quillmere::ControlPlaneKeyMaterial(std::string(kPublicKey)).to_verifying_key();
  ASSERT_TRUE(verifying_key.has_value());
  const std::vector<std::string> bundle_context{"quillmere.service_bundle.v1"};
  const std::vector<std::string> offer_context{"quillmere.enrollment_offer.v1"};
  EXPECT_TRUE(bundle->verify(*verifying_key, kNow, bundle_context).has_value());
  auto as_offer = bundle->verify(*verifying_key, kNow, offer_context);
  ASSERT_FALSE(as_offer.has_value());
  EXPECT_EQ(as_offer.error().message(),
            "validation failed: envelope associated data does not match the expected context");
}

TEST(MintServiceBundle, RefusesARepeatedServiceIdAsANodeError) {
  const auto services =
      services_from_text("[" + service_json("web") + ", " + service_json("db") + ", " + service_json("web") + "]");
  auto bundle =
      mint_service_bundle(test_key(), brackfern::KeyId::create(), brackfern::NodeId::create(), 1, services, kNow);
  ASSERT_FALSE(bundle.has_value());
  EXPECT_TRUE(bundle.error().is<quillmere::QuillmereError>());
  EXPECT_EQ(bundle.error().debug(), "Core(Validation(\"duplicate service_id in bundle: web\"))");
}

TEST(MintServiceBundle, AcceptsAnEmptyServiceList) {
  auto bundle = mint_service_bundle(test_key(), brackfern::KeyId::create(), brackfern::NodeId::create(), 0, {}, kNow);
  ASSERT_TRUE(bundle.has_value()) << bundle.error().debug();
  EXPECT_TRUE(bundle->payload.services.empty());
}

TEST(DevControlPlaneKey, PublicKeyFollowsTheSeed) {
  EXPECT_EQ(public_key_hex(test_key()), kPublicKey);
}

}  // namespace
}  // namespace zidazavavide
