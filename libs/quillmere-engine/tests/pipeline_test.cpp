#include <quillmere/engine/pipeline.hpp>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace quillmere {
namespace {

using brackfern::Timestamp;

const Timestamp kNow = Timestamp::from_unix(1772352900);

ServiceSpec service(std::string id) {
  return ServiceSpec{
      *brackfern::ServiceId::create(std::move(id)),
      ArtifactReference{ArtifactKind::Binary, *brackfern::ContentHash::from_str("blake3:" + std::string(64, 'c')), 42},
      DesiredServiceState::Running, RestartPolicy::Always, std::nullopt};
}

ServiceBundle bundle(BundleVersion version, std::vector<ServiceSpec> services = {service("web")}) {
  return ServiceBundle{*brackfern::NodeId::from_str("6f1c2a3b-4d5e-4f60-8172-839405a6b7c8"), version,
                       std::move(services), kNow, brackfern::ControlPlaneId::from_static("cp-main")};
}

TEST(PipelineTest, PrecheckGateListsEveryFailureInOrder) {
  struct Case {
    PrecheckReport report;
    std::vector<std::string> failed;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {{true, true, true}, {}, ""},
      {{false, true, false},
       {"disk_space_sufficient", "artifacts_resolvable"},
       R"(bundle refused at pre-check: ["disk_space_sufficient", "artifacts_resolvable"])"},
      {{false, false, false},
       {"disk_space_sufficient", "no_conflicting_apply_in_progress", "artifacts_resolvable"},
       R"(bundle refused at pre-check: ["disk_space_sufficient", "no_conflicting_apply_in_progress", "artifacts_resolvable"])"},
      {{true, false, true},
       {"no_conflicting_apply_in_progress"},
       R"(bundle refused at pre-check: ["no_conflicting_apply_in_progress"])"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    auto gated = gate_on_precheck(bundle(5), c.report);
    if (c.failed.empty()) {
      ASSERT_TRUE(gated.has_value());
      EXPECT_EQ(*gated, bundle(5));
    } else {
      ASSERT_FALSE(gated.has_value());
      EXPECT_EQ(gated.error(), c.failed);
      EXPECT_EQ("bundle refused at pre-check: " + debug_list(gated.error()), c.shown);
    }
  }
}

TEST(PipelineTest, PostcheckDecidesCommitOrRollback) {
  using enum PostcheckOutcome;
  const CommittedBundle committed_v3{3, {service("db")}, Timestamp::from_unix(1772000000)};
  struct Case {
    const char* name;
    PostcheckReport report;
    std::optional<CommittedBundle> committed;
    PostcheckDecision decision;
  };
  const std::vector<Case> cases = {
      {"passed, nothing committed", {Passed, Passed}, std::nullopt, {PostcheckDecision::Commit{4}}},
      {"passed over v3", {Passed, Passed}, committed_v3, {PostcheckDecision::Commit{4}}},
      {"unknown health on a node that never committed",
       {Unknown, Passed},
       std::nullopt,
       {PostcheckDecision::Rollback{4, std::nullopt, {"services_healthy=Unknown"}}}},
      {"both failing over v3",
       {Failed, Unknown},
       committed_v3,
       {PostcheckDecision::Rollback{4, 3, {"services_healthy=Failed", "no_crash_loop=Unknown"}}}},
      {"crash loop over v3",
       {Passed, Failed},
       committed_v3,
       {PostcheckDecision::Rollback{4, 3, {"no_crash_loop=Failed"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PostcheckDecision decision = decide_after_postcheck(bundle(4), c.report, c.committed);
    EXPECT_EQ(decision, c.decision);
  }
}

TEST(PipelineTest, RollbackReasonsReadAsTheRollbackLineShowsThem) {
  const PostcheckDecision decision = decide_after_postcheck(
      bundle(1), PostcheckReport{PostcheckOutcome::Unknown, PostcheckOutcome::Passed}, std::nullopt);
  const auto* rollback = decision.rollback();
  ASSERT_NE(rollback, nullptr);
  EXPECT_EQ(rollback->attempted, 1u);
  EXPECT_FALSE(rollback->restored.has_value());
  EXPECT_EQ(debug_list(rollback->reasons), R"(["services_healthy=Unknown"])");
}

TEST(PipelineTest, CommitMovesTheCommittedBundleToPrevious) {
  const Timestamp first_at = Timestamp::from_unix(1772000000);
  const CommittedPair first = commit_applied_bundle(std::nullopt, 1, {service("web")}, first_at);
  EXPECT_EQ(first.committed, (CommittedBundle{1, {service("web")}, first_at}));
  EXPECT_FALSE(first.previous_committed.has_value());

  const CommittedPair second = commit_applied_bundle(first.committed, 2, {service("web"), service("db")}, kNow);
  EXPECT_EQ(second.committed, (CommittedBundle{2, {service("web"), service("db")}, kNow}));
  ASSERT_TRUE(second.previous_committed.has_value());
  EXPECT_EQ(*second.previous_committed, first.committed);

  // A later rollback decides against v2 and leaves both records to the caller unchanged.
  const PostcheckDecision rollback = decide_after_postcheck(
      bundle(3), PostcheckReport{PostcheckOutcome::Failed, PostcheckOutcome::Passed}, second.committed);
  ASSERT_NE(rollback.rollback(), nullptr);
  EXPECT_EQ(rollback.rollback()->restored, std::optional<BundleVersion>(2));
}

}  // namespace
}  // namespace quillmere
