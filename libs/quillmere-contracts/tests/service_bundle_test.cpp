#include <quillmere/contracts/service_bundle.hpp>

#include <brackfern/contracts/json_value.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillmere {
namespace {

using brackfern::JsonValue;

const std::string kHashA = "blake3:" + std::string(64, 'a');
const std::string kHashB = "sha256:" + std::string(62, '0') + "1f";
const std::string kNode = "6f1c2a3b-4d5e-4f60-8172-839405a6b7c8";

JsonValue parse(std::string_view text) {
  auto value = brackfern::parse_json(text);
  EXPECT_TRUE(value.has_value()) << text;
  return value ? *value : JsonValue();
}

ServiceSpec service(std::string id, std::optional<std::string> config = std::nullopt) {
  std::optional<brackfern::ContentHash> config_reference;
  if (config) config_reference = *brackfern::ContentHash::from_str(*config);
  return ServiceSpec{*brackfern::ServiceId::create(std::move(id)),
                     ArtifactReference{ArtifactKind::ContainerImage, *brackfern::ContentHash::from_str(kHashA), 1024},
                     DesiredServiceState::Running, RestartPolicy::OnFailure, config_reference};
}

ServiceBundle sample_bundle() {
  return ServiceBundle{*brackfern::NodeId::from_str(kNode),
                       7,
                       {service("web"), service("db", kHashB)},
                       brackfern::Timestamp::from_unix(1772352900),
                       brackfern::ControlPlaneId::from_static("cp-main")};
}

const std::string kSampleBundleText = R"({
  "node_id": "6f1c2a3b-4d5e-4f60-8172-839405a6b7c8",
  "bundle_version": 7,
  "services": [
    {
      "service_id": "web",
      "artifact": {
        "kind": "container_image",
        "content_hash": "blake3:aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
        "size_bytes": 1024
      },
      "desired_state": "running",
      "restart_policy": "on_failure"
    },
    {
      "service_id": "db",
      "artifact": {
        "kind": "container_image",
        "content_hash": "blake3:aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
        "size_bytes": 1024
      },
      "desired_state": "running",
      "restart_policy": "on_failure",
      "config_reference": "sha256:000000000000000000000000000000000000000000000000000000000000001f"
    }
  ],
  "created_at": "2026-03-01T08:15:00Z",
  "issued_by": "cp-main"
})";

TEST(ServiceBundleTest, WritesMembersInOrderAndLeavesAbsentConfigOut) {
  EXPECT_EQ(brackfern::write_pretty_json(sample_bundle().to_json()), kSampleBundleText);
}

TEST(ServiceBundleTest, ReadsBackWhatItWrote) {
  auto read = brackfern::read_tree<ServiceBundle>(parse(kSampleBundleText));
  ASSERT_TRUE(read.has_value()) << read.error().debug();
  EXPECT_EQ(*read, sample_bundle());
  EXPECT_FALSE(read->services[0].config_reference.has_value());
  ASSERT_TRUE(read->services[1].config_reference.has_value());
  EXPECT_EQ(read->services[1].config_reference->to_string(), kHashB);
}

TEST(ServiceBundleTest, CommittedBundleRoundTripsAndIgnoresUnknownMembers) {
  const CommittedBundle committed{4, {service("web")}, brackfern::Timestamp::from_unix(1772352900)};
  const JsonValue written = committed.to_json();
  const std::string text = brackfern::write_pretty_json(written);
  EXPECT_EQ(text.substr(0, 20), "{\n  \"version\": 4,\n  ");
  EXPECT_NE(text.find("\"committed_at\": \"2026-03-01T08:15:00Z\"\n}"), std::string::npos) << text;

  auto read = brackfern::read_tree<CommittedBundle>(written);
  ASSERT_TRUE(read.has_value()) << read.error().debug();
  EXPECT_EQ(*read, committed);

  JsonValue extended = written;
  extended.add("note", "kept by an older node");
  auto with_extra = brackfern::read_tree<CommittedBundle>(extended);
  ASSERT_TRUE(with_extra.has_value()) << with_extra.error().debug();
  EXPECT_EQ(*with_extra, committed);
}

struct RefusedCase {
  const char* name;
  std::string text;
  std::string message;
};

// The sample bundle with one substitution in its text.
std::string sample_with(std::string_view from, std::string_view to) {
  std::string text = kSampleBundleText;
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(ServiceBundleTest, RefusesUnknownMembersAndValuesWithExactMessages) {
  const std::vector<RefusedCase> cases = {
      {"unknown bundle member", sample_with(R"("issued_by": "cp-main")", R"("issued_by": "cp-main", "extra": 1)"),
       "unknown field `extra`, expected one of `node_id`, `bundle_version`, `services`, `created_at`, `issued_by`"},
      {"unknown service member",
       sample_with(R"("restart_policy": "on_failure"
    },)",
                   R"("restart_policy": "on_failure", "replicas": 2
    },)"),
       "unknown field `replicas`, expected one of `service_id`, `artifact`, `desired_state`, `restart_policy`, "
       "`config_reference`"},
      {"unknown artifact member", sample_with(R"("size_bytes": 1024)", R"("size_bytes": 1024, "url": "x")"),
       "unknown field `url`, expected one of `kind`, `content_hash`, `size_bytes`"},
      {"unknown artifact kind", sample_with(R"("kind": "container_image")", R"("kind": "docker")"),
       "unknown variant `docker`, expected one of `container_image`, `binary`, `package`"},
      {"unknown desired state", sample_with(R"("desired_state": "running")", R"("desired_state": "paused")"),
       "unknown variant `paused`, expected one of `running`, `stopped`, `absent`"},
      {"unknown restart policy", sample_with(R"("restart_policy": "on_failure")", R"("restart_policy": "OnFailure")"),
       "unknown variant `OnFailure`, expected one of `never`, `on_failure`, `always`"},
      {"negative version", sample_with(R"("bundle_version": 7)", R"("bundle_version": -1)"),
       "invalid value: integer `-1`, expected u64"},
      {"misspelt member is refused before it is missed",
       sample_with(R"("issued_by": "cp-main")", R"("issued_by_": "cp-main")"),
       "unknown field `issued_by_`, expected one of `node_id`, `bundle_version`, `services`, `created_at`, "
       "`issued_by`"},
      {"missing member",
       sample_with(R"(,
  "issued_by": "cp-main")",
                   ""),
       "missing field `issued_by`"},
  };
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = brackfern::read_tree<ServiceBundle>(parse(c.text));
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error().message, c.message);
  }
}

TEST(ServiceBundleTest, UnknownMemberIsReportedJustAfterItsName) {
  auto read = brackfern::read_tree<ArtifactReference>(
      parse(R"({"kind": "binary", "content_hash": ")" + kHashA + R"(", "size_bytes": 1, "url": "x"})"));
  ASSERT_FALSE(read.has_value());
  EXPECT_EQ(read.error().line, 1u);
  const std::string prefix = R"({"kind": "binary", "content_hash": ")" + kHashA + R"(", "size_bytes": 1, "url")";
  EXPECT_EQ(read.error().column, prefix.size());
}

TEST(ServiceBundleTest, BundleVersionCoversExactlyTheUnsigned64BitRange) {
  auto largest = brackfern::read_tree<ServiceBundle>(
      parse(sample_with(R"("bundle_version": 7)", R"("bundle_version": 18446744073709551615)")));
  ASSERT_TRUE(largest.has_value()) << largest.error().debug();
  EXPECT_EQ(largest->bundle_version, 18446744073709551615u);

  for (const char* version : {"18446744073709551616", "-1", "7.0"}) {
    SCOPED_TRACE(version);
    auto json =
        brackfern::parse_json(sample_with(R"("bundle_version": 7)", std::string(R"("bundle_version": )") + version));
    if (!json) continue;  // a number the reader refuses outright is refused as well
    EXPECT_FALSE(brackfern::read_tree<ServiceBundle>(*json).has_value());
  }
}

TEST(ServiceBundleTest, ReceivedBundleWithDuplicateServiceIdsStillParses) {
  const std::string text = sample_with(R"("service_id": "db")", R"("service_id": "web")");
  auto read = brackfern::read_tree<ServiceBundle>(parse(text));
  ASSERT_TRUE(read.has_value()) << read.error().debug();
  EXPECT_EQ(read->services[0].service_id, read->services[1].service_id);
}

TEST(ServiceBundleTest, CreateRefusesTheFirstRepeatedServiceId) {
  const auto node = *brackfern::NodeId::from_str(kNode);
  const auto now = brackfern::Timestamp::from_unix(1772352900);
  const auto cp = brackfern::ControlPlaneId::from_static("cp-main");

  auto duplicated =
      ServiceBundle::create(node, 1, {service("web"), service("db"), service("db"), service("web")}, now, cp);
  ASSERT_FALSE(duplicated.has_value());
  EXPECT_EQ(duplicated.error().message(), "validation failed: duplicate service_id in bundle: db");
  EXPECT_EQ(duplicated.error().debug(), R"(Core(Validation("duplicate service_id in bundle: db")))");

  auto distinct = ServiceBundle::create(node, 0, {service("web"), service("db")}, now, cp);
  ASSERT_TRUE(distinct.has_value());
  EXPECT_EQ(distinct->bundle_version, 0u);
  EXPECT_EQ(distinct->services.size(), 2u);

  auto empty = ServiceBundle::create(node, 0, {}, now, cp);
  EXPECT_TRUE(empty.has_value());
}

TEST(ServiceBundleTest, ServicesFileIsAnArrayOfServiceSpecs) {
  auto read = brackfern::read_document_with(std::string(R"([{"service_id": "api", "artifact": {"kind": "package", "content_hash": ")" +
                                       kHashA + R"(", "size_bytes": 0}, "desired_state": "absent",
                                       "restart_policy": "always", "config_reference": null}])"),
                                           services_from_json);
  ASSERT_TRUE(read.has_value()) << read.error().debug();
  ASSERT_EQ(read->size(), 1u);
  EXPECT_EQ((*read)[0].artifact.kind, ArtifactKind::Package);
  EXPECT_EQ((*read)[0].desired_state, DesiredServiceState::Absent);
  EXPECT_EQ((*read)[0].restart_policy, RestartPolicy::Always);
  EXPECT_FALSE((*read)[0].config_reference.has_value());
}

}  // namespace
}  // namespace quillmere
