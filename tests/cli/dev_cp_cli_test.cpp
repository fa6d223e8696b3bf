// `dev-cp keygen`, `dev-cp offer` and `dev-cp bundle` through the real binary.

#include "cli_harness.hpp"
#include "dev_control_plane.hpp"

#include <brackfern/contracts/json_value.hpp>
#include <brackfern/contracts/timestamp.hpp>
#include <quillmere/contracts/enrollment.hpp>
#include <quillmere/contracts/service_bundle.hpp>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace zidazavavide {
namespace {

using testing::CliRun;

// Ed25519 test key 1 of RFC 8032: seed and the public key it gives.
constexpr std::string_view kSeed = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
constexpr std::string_view kPublicKey = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";
constexpr std::string_view kNodeId = "3f2504e0-4f89-41d3-9a0c-0305e82c3301";
constexpr std::string_view kSlugError =
    "Error: InvalidIdentifier { kind: \"Slug\", reason: \"may contain only lowercase ASCII letters, digits and "
    "hyphens\" }\n";
constexpr std::string_view kCorruptError = "Error: \"dev-cp key file is corrupt\"\n";
constexpr std::string_view kNotFoundError =
    "Error: Os { code: 2, kind: NotFound, message: \"No such file or directory\" }\n";

std::string key_file(std::string_view id, std::string_view seed_hex) {
  return "{\n  \"control_plane_id\": \"" + std::string(id) + "\",\n  \"seed_hex\": \"" + std::string(seed_hex) +
         "\"\n}";
}

std::string service_json(std::string_view id) {
  return std::string(R"({"service_id": ")") + std::string(id) +
         R"(", "artifact": {"kind": "container_image", "content_hash": "blake3:)" + std::string(64, 'b') +
         R"(", "size_bytes": 1024}, "desired_state": "running", "restart_policy": "always"})";
}

unsigned file_mode(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return 0;
  return static_cast<unsigned>(info.st_mode & 07777);
}

class DevCpCli : public testing::CliTest {
 protected:
  // A key file holding the RFC 8032 seed.
  void write_key(std::string_view id = "acme-cp", std::string_view seed_hex = kSeed, std::string_view name = "cp.key") {
    sandbox().write_file(name, key_file(id, seed_hex));
  }

  CliRun offer(std::string_view out = "offer.json", std::string_view key = "cp.key", std::string_view hint = kNodeId) {
    return run(
        {"dev-cp", "offer", "--key", std::string(key), "--node-hint", std::string(hint), "--out", std::string(out)});
  }

  CliRun bundle(std::string_view out = "bundle.json", std::string_view offer_file = "offer.json",
                std::string_view services = "services.json", std::string_view version = "3",
                std::string_view node_id = kNodeId) {
    return run({"dev-cp", "bundle", "--key", "cp.key", "--offer", std::string(offer_file), "--node-id",
                std::string(node_id), "--version", std::string(version), "--services", std::string(services), "--out",
                std::string(out)});
  }

  brackfern::JsonValue read_json(std::string_view name) {
    auto text = sandbox().read_file(name);
    EXPECT_TRUE(text.has_value()) << name;
    auto value = brackfern::parse_json(text.value_or(""));
    EXPECT_TRUE(value.has_value()) << value.error().debug();
    return value.value_or(brackfern::JsonValue{});
  }

  std::optional<quillmere::EnrollmentOffer> read_offer(std::string_view name) {
    auto offer = brackfern::read_tree<quillmere::EnrollmentOffer>(read_json(name));
    EXPECT_TRUE(offer.has_value()) << offer.error().debug();
    if (!offer) return std::nullopt;
    return std::move(*offer);
  }

  std::optional<quillmere::SignedServiceBundle> read_bundle(std::string_view name) {
    auto bundle = brackfern::read_tree<quillmere::SignedServiceBundle>(read_json(name));
    EXPECT_TRUE(bundle.has_value()) << bundle.error().debug();
    if (!bundle) return std::nullopt;
    return std::move(*bundle);
  }

  static void expect_failure(const CliRun& result, std::string_view err) {
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, err);
  }
};

TEST_F(DevCpCli, KeygenWritesTheKeyFileReadableOnlyByItsOwner) {
  const CliRun result = run({"dev-cp", "keygen", "--control-plane-id", "acme-cp", "--out", "cp.key"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "generated dev control-plane key for 'acme-cp' at cp.key\n");
  EXPECT_EQ(result.err, "");
  const std::string text = sandbox().read_file("cp.key").value_or("");
  const std::regex form("\\{\n  \"control_plane_id\": \"acme-cp\",\n  \"seed_hex\": \"[0-9a-f]{64}\"\n\\}");
  EXPECT_TRUE(std::regex_match(text, form)) << text;
  EXPECT_EQ(file_mode(sandbox().path("cp.key")), 0600U);
  EXPECT_EQ(sandbox().entries(), std::vector<std::string>{"cp.key"});
}

TEST_F(DevCpCli, KeygenDrawsANewSeedEachTimeAndReplacesTheFile) {
  ASSERT_EQ(run({"dev-cp", "keygen", "--control-plane-id", "acme-cp", "--out", "cp.key"}).status, 0);
  const auto first = sandbox().read_file("cp.key");
  ASSERT_EQ(run({"dev-cp", "keygen", "--control-plane-id", "acme-cp", "--out", "cp.key"}).status, 0);
  const auto second = sandbox().read_file("cp.key");
  ASSERT_TRUE(first && second);
  EXPECT_NE(*first, *second);
  EXPECT_EQ(file_mode(sandbox().path("cp.key")), 0600U);
  EXPECT_EQ(sandbox().entries(), std::vector<std::string>{"cp.key"});
}

TEST_F(DevCpCli, KeygenStoresACapitalisedIdThatOfferAndBundleThenRefuse) {
  const CliRun keygen = run({"dev-cp", "keygen", "--control-plane-id", "Acme", "--out", "cp.key"});
  ASSERT_EQ(keygen.status, 0) << keygen.err;
  EXPECT_EQ(keygen.out, "generated dev control-plane key for 'Acme' at cp.key\n");
  const brackfern::JsonValue stored = read_json("cp.key");
  ASSERT_NE(stored.find("control_plane_id"), nullptr);
  EXPECT_EQ(*stored.find("control_plane_id")->as_string(), "Acme");

  expect_failure(offer(), kSlugError);
  EXPECT_FALSE(sandbox().exists("offer.json"));

  // A valid offer from another key, so that bundle gets as far as minting.
  write_key("acme-cp", kSeed, "other.key");
  ASSERT_EQ(offer("offer.json", "other.key").status, 0);
  sandbox().write_file("services.json", "[]");
  expect_failure(bundle(), kSlugError);
  EXPECT_FALSE(sandbox().exists("bundle.json"));
}

TEST_F(DevCpCli, KeygenIntoAMissingDirectoryFailsWithTheSystemError) {
  const CliRun result = run({"dev-cp", "keygen", "--control-plane-id", "acme-cp", "--out", "no/such/dir/cp.key"});
  expect_failure(result, kNotFoundError);
  EXPECT_EQ(sandbox().entries(), std::vector<std::string>{});
}

TEST_F(DevCpCli, SeedFormsDecideWhetherAKeyFileIsUsable) {
  std::string upper(kSeed);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
  struct Case {
    std::string name;
    std::string seed_hex;
    bool usable;
  };
  const Case cases[] = {
      {"upper case", upper, true},
      {"63 characters", std::string(kSeed.substr(0, 63)), false},
      {"non-hex character", std::string(kSeed.substr(0, 63)) + "z", false},
  };
  sandbox().write_file("services.json", "[]");
  write_key("acme-cp", kSeed, "good.key");
  ASSERT_EQ(offer("good-offer.json", "good.key").status, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_key("acme-cp", c.seed_hex);
    const CliRun minted_offer = offer();
    const CliRun minted_bundle = bundle("bundle.json", "good-offer.json");
    if (c.usable) {
      EXPECT_EQ(minted_offer.status, 0) << minted_offer.err;
      EXPECT_EQ(minted_bundle.status, 0) << minted_bundle.err;
      const auto read = read_offer("offer.json");
      ASSERT_TRUE(read.has_value());
      EXPECT_EQ(read->payload.public_key.text(), kPublicKey);
    } else {
      expect_failure(minted_offer, kCorruptError);
      expect_failure(minted_bundle, kCorruptError);
      EXPECT_FALSE(sandbox().exists("offer.json"));
      EXPECT_FALSE(sandbox().exists("bundle.json"));
    }
    std::filesystem::remove(sandbox().path("offer.json"));
    std::filesystem::remove(sandbox().path("bundle.json"));
  }
}

TEST_F(DevCpCli, OfferIsASelfSignedEnvelopeForTheHintedNode) {
  write_key();
  const brackfern::Timestamp before = brackfern::Timestamp::now();
  // An upper-case hint is read and written in the canonical lower-case form.
  std::string upper_hint(kNodeId);
  std::transform(upper_hint.begin(), upper_hint.end(), upper_hint.begin(),
                 [](char c) { return static_cast<char>(std::toupper(c)); });
  const CliRun result = offer("offer.json", "cp.key", upper_hint);
  const brackfern::Timestamp after = brackfern::Timestamp::now();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "wrote enrollment offer to offer.json\n");
  EXPECT_EQ(result.err, "");
  EXPECT_NE(file_mode(sandbox().path("offer.json")) & 0044U, 0U) << "offers are not secret";

  const brackfern::JsonValue document = read_json("offer.json");
  std::vector<std::string> members;
  for (const auto& member : *document.as_object()) members.push_back(member.key);
  EXPECT_EQ(members, (std::vector<std::string>{"format_version", "envelope_id", "key_id", "created_at",
                                               "associated_data", "payload", "signature"}));
  std::vector<std::string> payload_members;
  for (const auto& member : *document.find("payload")->as_object()) payload_members.push_back(member.key);
  EXPECT_EQ(payload_members,
            (std::vector<std::string>{"control_plane_id", "key_id", "public_key", "offered_at", "node_hint"}));

  const auto read = read_offer("offer.json");
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->header.associated_data, std::vector<std::string>{"quillmere.enrollment_offer.v1"});
  EXPECT_NE(read->header.key_id, read->payload.key_id);
  EXPECT_EQ(read->payload.control_plane_id.str(), "acme-cp");
  EXPECT_EQ(read->payload.public_key.text(), kPublicKey);
  ASSERT_TRUE(read->payload.node_hint.has_value());
  EXPECT_EQ(read->payload.node_hint->to_string(), kNodeId);
  EXPECT_EQ(read->payload.offered_at, read->header.created_at);
  EXPECT_FALSE(before.is_after(read->header.created_at));
  EXPECT_FALSE(read->header.created_at.is_after(after));
  EXPECT_TRUE(quillmere::verify_offer(*read, after).has_value());
}

TEST_F(DevCpCli, TwoOffersShareThePublicKeyButNotTheKeyId) {
  write_key();
  ASSERT_EQ(offer("first.json").status, 0);
  ASSERT_EQ(offer("second.json").status, 0);
  const auto first = read_offer("first.json");
  const auto second = read_offer("second.json");
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->payload.public_key, second->payload.public_key);
  EXPECT_NE(first->payload.key_id, second->payload.key_id);
}

TEST_F(DevCpCli, OfferOverwritesAnExistingFileAndLeavesNoTemporaryFiles) {
  write_key();
  sandbox().write_file("offer.json", "stale content that is much longer than nothing at all");
  ASSERT_EQ(offer().status, 0);
  EXPECT_TRUE(read_offer("offer.json").has_value());
  EXPECT_EQ(sandbox().entries(), (std::vector<std::string>{"cp.key", "offer.json"}));
}

TEST_F(DevCpCli, OfferFailuresWriteNothing) {
  struct Case {
    std::string name;
    std::optional<std::string> key_text;  // nullopt: no key file at all
    std::string hint;
    std::string err;  // a whole line, or a prefix ending in ", reason: "
  };
  const std::string good_key = key_file("acme-cp", kSeed);
  const Case cases[] = {
      {"missing key file", std::nullopt, std::string(kNodeId), std::string(kNotFoundError)},
      {"key file is not JSON", "{\"control_plane_id\": ", std::string(kNodeId),
       "Error(\"EOF while parsing a value\", line: 1, column: 21)\n"},
      {"key file without seed", R"({"control_plane_id": "acme-cp"})", std::string(kNodeId),
       "Error(\"missing field `seed_hex`\", line: 1, column: 31)\n"},
      {"bad node hint", good_key, "node-7", "Error: InvalidIdentifier { kind: \"NodeId\", reason: "},
      // The hint is parsed before the key's seed is looked at.
      {"bad node hint and corrupt seed", key_file("acme-cp", "00"), "node-7",
       "Error: InvalidIdentifier { kind: \"NodeId\", reason: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(sandbox().path("cp.key"));
    if (c.key_text) sandbox().write_file("cp.key", *c.key_text);
    const CliRun result = offer("offer.json", "cp.key", c.hint);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    if (c.err.starts_with("Error(")) {
      EXPECT_EQ(result.err, "Error: " + c.err);
    } else if (c.err.ends_with("reason: ")) {
      EXPECT_TRUE(result.err.starts_with(c.err)) << result.err;
      EXPECT_TRUE(result.err.ends_with(" }\n")) << result.err;
    } else {
      EXPECT_EQ(result.err, c.err);
    }
    EXPECT_FALSE(sandbox().exists("offer.json"));
  }
}

class DevCpBundleCli : public DevCpCli {
 protected:
  void SetUp() override {
    write_key();
    ASSERT_EQ(offer().status, 0);
    sandbox().write_file("services.json", "[" + service_json("web") + ",\n " + service_json("db") + "]");
  }
};

TEST_F(DevCpBundleCli, BundleIsSignedUnderTheOffersKeyIdAndVerifiesUnderItsKey) {
  const brackfern::Timestamp before = brackfern::Timestamp::now();
  const CliRun result = bundle("bundle.json", "offer.json", "services.json", "18446744073709551615");
  const brackfern::Timestamp after = brackfern::Timestamp::now();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "wrote signed bundle version 18446744073709551615 to bundle.json\n");
  EXPECT_EQ(result.err, "");

  const auto read_back = read_offer("offer.json");
  const auto minted = read_bundle("bundle.json");
  ASSERT_TRUE(read_back && minted);
  EXPECT_EQ(minted->header.key_id, read_back->payload.key_id);
  EXPECT_NE(minted->header.key_id, read_back->header.key_id);
  EXPECT_EQ(minted->header.associated_data, std::vector<std::string>{"quillmere.service_bundle.v1"});
  EXPECT_FALSE(minted->header.expires_at.has_value());
  EXPECT_FALSE(minted->header.previous_hash.has_value());
  EXPECT_EQ(minted->payload.node_id.to_string(), kNodeId);
  EXPECT_EQ(minted->payload.bundle_version, 18446744073709551615ULL);
  EXPECT_EQ(minted->payload.issued_by.str(), "acme-cp");
  EXPECT_EQ(minted->payload.created_at, minted->header.created_at);
  EXPECT_FALSE(before.is_after(minted->header.created_at));
  EXPECT_FALSE(minted->header.created_at.is_after(after));
  ASSERT_EQ(minted->payload.services.size(), 2U);
  EXPECT_EQ(minted->payload.services[0].service_id.str(), "web");
  EXPECT_EQ(minted->payload.services[1].service_id.str(), "db");

  const brackfern::JsonValue document = read_json("bundle.json");
  EXPECT_EQ(document.find("expires_at"), nullptr);
  EXPECT_EQ(document.find("previous_hash"), nullptr);

  auto key = read_back->payload.public_key.to_verifying_key();
  ASSERT_TRUE(key.has_value());
  const std::vector<std::string> bundle_context{"quillmere.service_bundle.v1"};
  auto verified = minted->verify(*key, after, bundle_context);
  EXPECT_TRUE(verified.has_value()) << verified.error().debug();
}

TEST_F(DevCpBundleCli, TheOfferIsNotVerified) {
  // A tampered offer still lends its key id: the bundle command only reads it.
  auto text = sandbox().read_file("offer.json");
  ASSERT_TRUE(text.has_value());
  const std::string::size_type at = text->find("\"acme-cp\"");
  ASSERT_NE(at, std::string::npos);
  text->replace(at, 9, "\"evil-cp\"");
  sandbox().write_file("tampered.json", *text);
  const CliRun result = bundle("bundle.json", "tampered.json");
  EXPECT_EQ(result.status, 0) << result.err;
  const auto minted = read_bundle("bundle.json");
  ASSERT_TRUE(minted.has_value());
  EXPECT_EQ(minted->payload.issued_by.str(), "acme-cp");
}

TEST_F(DevCpBundleCli, RepeatedServiceIdIsRefusedAndWritesNothing) {
  sandbox().write_file("services.json",
                       "[" + service_json("web") + ", " + service_json("db") + ", " + service_json("web") + "]");
  expect_failure(bundle(), "Error: Core(Validation(\"duplicate service_id in bundle: web\"))\n");
  EXPECT_FALSE(sandbox().exists("bundle.json"));
}

TEST_F(DevCpBundleCli, OverwritesAnExistingBundleAndLeavesNoTemporaryFiles) {
  sandbox().write_file("bundle.json", "old");
  ASSERT_EQ(bundle().status, 0);
  ASSERT_EQ(bundle("bundle.json", "offer.json", "services.json", "4").status, 0);
  const auto minted = read_bundle("bundle.json");
  ASSERT_TRUE(minted.has_value());
  EXPECT_EQ(minted->payload.bundle_version, 4U);
  EXPECT_EQ(sandbox().entries(), (std::vector<std::string>{"bundle.json", "cp.key", "offer.json", "services.json"}));
}

// Each input is checked in the command's order: key file, offer file, node
// id, services file; the first problem is the one reported.
TEST_F(DevCpBundleCli, FailuresAreReportedInOrderAndWriteNothing) {
  sandbox().write_file("not-a-list.json", R"({"service_id": "web"})");
  sandbox().write_file("unknown-member.json", R"([{"service_id": "web", "colour": "red"}])");
  sandbox().write_file("cut-short.json", "[");
  sandbox().write_file("empty-object.json", "{}");
  struct Case {
    std::string name;
    std::string offer_file;
    std::string services;
    std::string node_id;
    std::string err;  // a whole line, or a prefix ending in ", reason: "
  };
  const std::string node(kNodeId);
  const Case cases[] = {
      {"missing offer", "absent.json", "services.json", node, std::string(kNotFoundError)},
      {"offer is no envelope", "empty-object.json", "services.json", node,
       "Error: Error(\"missing field `format_version`\", line: 1, column: 2)\n"},
      {"offer problem before node id", "absent.json", "services.json", "nope", std::string(kNotFoundError)},
      {"bad node id", "offer.json", "services.json", "nope", "Error: InvalidIdentifier { kind: \"NodeId\", reason: "},
      {"node id before services", "offer.json", "absent.json", "nope",
       "Error: InvalidIdentifier { kind: \"NodeId\", reason: "},
      {"missing services", "offer.json", "absent.json", node, std::string(kNotFoundError)},
      {"services not a list", "offer.json", "not-a-list.json", node,
       "Error: Error(\"invalid type: map, expected a sequence\", line: 1, column: 0)\n"},
      {"services with unknown member", "offer.json", "unknown-member.json", node,
       "Error: Error(\"unknown field `colour`, expected one of `service_id`, `artifact`, `desired_state`, "
       "`restart_policy`, `config_reference`\", line: 1, column: 31)\n"},
      {"services cut short", "offer.json", "cut-short.json", node,
       "Error: Error(\"EOF while parsing a list\", line: 1, column: 1)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CliRun result = bundle("bundle.json", c.offer_file, c.services, "3", c.node_id);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    if (c.err.ends_with("reason: ")) {
      EXPECT_TRUE(result.err.starts_with(c.err)) << result.err;
    } else {
      EXPECT_EQ(result.err, c.err);
    }
    EXPECT_FALSE(sandbox().exists("bundle.json"));
  }
}

TEST_F(DevCpBundleCli, MissingKeyFileIsReportedFirst) {
  std::filesystem::remove(sandbox().path("cp.key"));
  expect_failure(bundle("bundle.json", "absent.json", "absent.json", "3", "nope"), kNotFoundError);
  EXPECT_FALSE(sandbox().exists("bundle.json"));
}

}  // namespace
}  // namespace zidazavavide
