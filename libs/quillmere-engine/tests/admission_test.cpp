#include <quillmere/engine/admission.hpp>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillmere {
namespace {

using brackfern::KeyId;
using brackfern::NodeId;
using brackfern::SigningKey;
using brackfern::Timestamp;

const Timestamp kNow = Timestamp::from_unix(1772352900);  // 2026-03-01T08:15:00Z
const std::string kBundleContext(brackfern::kServiceBundleContext);
const std::string kOfferContext(brackfern::kEnrollmentOfferContext);
const NodeId kThisNode = *NodeId::from_str("6f1c2a3b-4d5e-4f60-8172-839405a6b7c8");
const NodeId kOtherNode = *NodeId::from_str("11111111-2222-4333-8444-555555555555");
const KeyId kEnrolledKeyId = *KeyId::from_str("0e8f5a4c-1b2d-4e3f-9a5b-6c7d8e9f0a1b");
const auto kCp = brackfern::ControlPlaneId::from_static("cp-main");

SigningKey key_from(std::uint8_t fill) {
  std::array<std::uint8_t, 32> seed{};
  seed.fill(fill);
  return SigningKey::from_seed(seed);
}

const SigningKey& enrolled_key() {
  static const SigningKey key = key_from(1);
  return key;
}
const SigningKey& other_key() {
  static const SigningKey key = key_from(2);
  return key;
}

EnrollmentState enrolled_state() {
  return EnrollmentState::Enrolled{kCp, kEnrolledKeyId, ControlPlaneKeyMaterial(enrolled_key().verifying_key()), kNow,
                                   LocalOwnerApproval{kNow, LocalApprovalMethod::LocalConfigFile}};
}

// How a test bundle is made: by default a valid version-1 bundle for this
// node, signed by the enrolled key under the enrolled key id.
struct BundleRecipe {
  NodeId node_ = kThisNode;
  BundleVersion version_ = 1;
  KeyId key_id_ = kEnrolledKeyId;
  const SigningKey* key_ = &enrolled_key();
  std::vector<std::string> context_ = {kBundleContext};
  std::optional<Timestamp> expires_at_;

  BundleRecipe& node(NodeId v) {
    node_ = v;
    return *this;
  }
  BundleRecipe& version(BundleVersion v) {
    version_ = v;
    return *this;
  }
  BundleRecipe& key_id(KeyId v) {
    key_id_ = v;
    return *this;
  }
  BundleRecipe& key(const SigningKey& v) {
    key_ = &v;
    return *this;
  }
  BundleRecipe& context(std::vector<std::string> v) {
    context_ = std::move(v);
    return *this;
  }
  BundleRecipe& expires_at(Timestamp v) {
    expires_at_ = v;
    return *this;
  }
};

SignedServiceBundle make_bundle(const BundleRecipe& recipe) {
  ServiceBundle payload{recipe.node_, recipe.version_, {}, kNow, kCp};
  auto envelope = SignedServiceBundle::sign(payload, recipe.key_id_, *recipe.key_, kNow, recipe.context_);
  EXPECT_TRUE(envelope.has_value());
  if (recipe.expires_at_) {
    envelope->header.expires_at = recipe.expires_at_;
    envelope->signature = *recipe.key_->sign(envelope->signing_view());
  }
  return std::move(*envelope);
}

struct AdmissionCase {
  const char* name;
  EnrollmentState enrollment;
  std::optional<BundleVersion> committed;
  BundleRecipe bundle;
  std::optional<AdmissionRefusal> refusal;  // none: admitted
};

std::vector<AdmissionCase> admission_cases() {
  const auto pending = EnrollmentState::PendingOwnerApproval{
      kCp, kEnrolledKeyId, ControlPlaneKeyMaterial(enrolled_key().verifying_key()), kNow};
  auto damaged = std::get<EnrollmentState::Enrolled>(enrolled_state().value());
  damaged.public_key = ControlPlaneKeyMaterial(damaged.public_key.text().substr(1));
  const KeyId other_key_id = *KeyId::from_str("0e8f5a4c-1b2d-4e3f-9a5b-6c7d8e9f0a1c");
  using namespace admission_refusal;

  return {
      {"admitted with nothing committed, version 0", enrolled_state(), std::nullopt, BundleRecipe().version(0),
       std::nullopt},
      {"unenrolled", EnrollmentState::Unenrolled{}, std::nullopt, BundleRecipe(), NotEnrolled{}},
      {"pending, though the key matches the pending offer", pending, std::nullopt, BundleRecipe(), NotEnrolled{}},
      {"revoked", EnrollmentState::Revoked{kCp, kNow}, std::nullopt, BundleRecipe(), NotEnrolled{}},
      {"other key id, signed by the enrolled key", enrolled_state(), std::nullopt, BundleRecipe().key_id(other_key_id),
       UnknownControlPlaneKey{}},
      {"other key id is decided before the bad signature", enrolled_state(), std::nullopt,
       BundleRecipe().key_id(other_key_id).key(other_key()), UnknownControlPlaneKey{}},
      {"enrolled key id, signed by another key", enrolled_state(), std::nullopt, BundleRecipe().key(other_key()),
       EnvelopeInvalid{}},
      {"offer context", enrolled_state(), std::nullopt, BundleRecipe().context({kOfferContext}), EnvelopeInvalid{}},
      {"bundle context twice", enrolled_state(), std::nullopt, BundleRecipe().context({kBundleContext, kBundleContext}),
       EnvelopeInvalid{}},
      {"expired one second ago", enrolled_state(), std::nullopt,
       BundleRecipe().expires_at(Timestamp::from_unix(1772352899)), EnvelopeInvalid{}},
      {"expiring right now", enrolled_state(), std::nullopt, BundleRecipe().expires_at(kNow), std::nullopt},
      {"damaged enrolled key", damaged, std::nullopt, BundleRecipe(), EnvelopeInvalid{}},
      {"bad signature is decided before the wrong node", enrolled_state(), std::nullopt,
       BundleRecipe().node(kOtherNode).key(other_key()), EnvelopeInvalid{}},
      {"another node", enrolled_state(), std::nullopt, BundleRecipe().node(kOtherNode),
       WrongNode{kOtherNode, kThisNode}},
      {"wrong node is decided before the downgrade", enrolled_state(), 3, BundleRecipe().node(kOtherNode).version(1),
       WrongNode{kOtherNode, kThisNode}},
      {"v3 committed, v3 sent", enrolled_state(), 3, BundleRecipe().version(3), Downgrade{3, 3}},
      {"v3 committed, v2 sent", enrolled_state(), 3, BundleRecipe().version(2), Downgrade{2, 3}},
      {"v3 committed, v4 admitted", enrolled_state(), 3, BundleRecipe().version(4), std::nullopt},
      {"v0 committed, v0 sent", enrolled_state(), 0, BundleRecipe().version(0), Downgrade{0, 0}},
  };
}

TEST(AdmissionTest, ChecksRunInTheirFixedOrder) {
  for (const AdmissionCase& c : admission_cases()) {
    SCOPED_TRACE(c.name);
    const SignedServiceBundle envelope = make_bundle(c.bundle);
    auto admitted = evaluate_incoming_bundle(c.enrollment, kThisNode, c.committed, envelope, kNow);
    if (!c.refusal) {
      ASSERT_TRUE(admitted.has_value()) << admitted.error().to_error().debug();
      EXPECT_EQ(*admitted, envelope.payload);
    } else {
      ASSERT_FALSE(admitted.has_value());
      EXPECT_EQ(admitted.error().to_error().debug(), c.refusal->to_error().debug());
      EXPECT_EQ(admitted.error(), *c.refusal);
    }
  }
}

TEST(AdmissionTest, RefusalsHaveTheirCodesAndErrorForms) {
  using namespace admission_refusal;
  struct Case {
    AdmissionRefusal refusal;
    std::string code;
    std::optional<BundleVersion> attempted;
    std::string message;
  };
  const std::vector<Case> cases = {
      {NotEnrolled{}, "not_enrolled", std::nullopt, "bundle refused: node is not enrolled"},
      {UnknownControlPlaneKey{}, "unknown_control_plane_key", std::nullopt,
       "bundle refused: signed by a key that does not match the enrolled control plane"},
      {EnvelopeInvalid{}, "envelope_invalid", std::nullopt, "bundle refused: envelope failed verification"},
      {WrongNode{kOtherNode, kThisNode}, "wrong_node", std::nullopt,
       "bundle refused: addressed to node 11111111-2222-4333-8444-555555555555 but this node is "
       "6f1c2a3b-4d5e-4f60-8172-839405a6b7c8"},
      {Downgrade{3, 3}, "downgrade", 3,
       "bundle refused: version 3 is not newer than the currently committed version 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(c.refusal.reason_code(), c.code);
    EXPECT_EQ(c.refusal.attempted_version(), c.attempted);
    EXPECT_EQ(c.refusal.to_error().message(), c.message);
    EXPECT_EQ(c.refusal.to_error().admission_reason_code(), c.code);
  }
  EXPECT_EQ(
      AdmissionRefusal(WrongNode{kOtherNode, kThisNode}).to_error().debug(),
      R"(WrongNode { expected: "11111111-2222-4333-8444-555555555555", actual: "6f1c2a3b-4d5e-4f60-8172-839405a6b7c8" })");
}

TEST(AdmissionTest, AdmittedBundleReadFromItsFile) {
  const SignedServiceBundle envelope = make_bundle(BundleRecipe().version(9));
  auto parsed = brackfern::parse_json(brackfern::write_pretty_json(envelope.to_json()));
  ASSERT_TRUE(parsed.has_value());
  auto read = brackfern::read_tree<SignedServiceBundle>(*parsed);
  ASSERT_TRUE(read.has_value()) << read.error().debug();
  auto admitted = evaluate_incoming_bundle(enrolled_state(), kThisNode, 8, *read, kNow);
  ASSERT_TRUE(admitted.has_value()) << admitted.error().to_error().debug();
  EXPECT_EQ(admitted->bundle_version, 9u);
}

}  // namespace
}  // namespace quillmere
