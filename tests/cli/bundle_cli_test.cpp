// bundle apply, run through the real binary: admission, pre-check, apply,
// post-check and commit-or-rollback, with the events each run appends and
// whether it saves.

#include "node_flow.hpp"

#include <brackfern/contracts/identifiers.hpp>
#include <brackfern/contracts/timestamp.hpp>
#include <brackfern/crypto/signed_envelope.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zidazavavide::testing {
namespace {

const std::vector<std::string> kCommitted = {"node.bundle.admitted", "node.bundle.applied", "node.bundle.committed"};
const std::vector<std::string> kRolledBack = {"node.bundle.admitted", "node.bundle.applied", "node.bundle.rolled_back"};

class BundleCli : public NodeFlowTest {
 protected:
  // The actions appended since the log had `before` entries.
  std::vector<std::string> actions_since(std::size_t before) {
    const std::vector<std::string> all = actions();
    if (all.size() < before) return {};
    return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
  }
  std::size_t log_size() { return state().audit_log.size(); }
};

TEST_F(BundleCli, CommitRecordsThreeEventsWithOneTime) {
  enroll_node();
  mint_bundle(1, "b1.json");
  const std::size_t before = log_size();
  const CliRun applied = apply("b1.json");
  EXPECT_EQ(applied.status, 0);
  EXPECT_EQ(applied.out, "committed bundle version 1\n");
  EXPECT_EQ(applied.err, "");

  const quillmere::NodeState after = state();
  EXPECT_EQ(actions_since(before), kCommitted);
  ASSERT_TRUE(after.committed.has_value());
  EXPECT_EQ(after.committed->version, 1u);
  EXPECT_EQ(after.committed->services, read_as<quillmere::SignedServiceBundle>("b1.json").payload.services);
  EXPECT_FALSE(after.previous_committed.has_value());

  const auto& log = after.audit_log;
  ASSERT_EQ(log.size(), before + 3);
  for (std::size_t i = before; i < log.size(); ++i) {
    SCOPED_TRACE(log[i].event.action);
    EXPECT_EQ(log[i].event.occurred_at, log[before].event.occurred_at);
    EXPECT_EQ(log[i].event.target.target_id, "1");
  }
  EXPECT_EQ(after.committed->committed_at, log[before].event.occurred_at);
}

TEST_F(BundleCli, SameBundleAgainIsADowngrade) {
  enroll_node();
  mint_bundle(1, "b1.json");
  ASSERT_EQ(apply("b1.json").status, 0);
  const std::size_t before = log_size();
  const CliRun again = apply("b1.json");
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.out, "");
  EXPECT_EQ(again.err, "Error: \"bundle refused at admission: downgrade\"\n");
  EXPECT_EQ(actions_since(before), std::vector<std::string>{"node.bundle.refused"});
  EXPECT_EQ(state().audit_log.back().event.target.target_id, "1");
}

TEST_F(BundleCli, TwoCommitsKeepThePreviousAndARollbackKeepsBoth) {
  enroll_node();
  mint_bundle(1, "b1.json");
  mint_bundle(2, "b2.json");
  mint_bundle(3, "b3.json");
  ASSERT_EQ(apply("b1.json").out, "committed bundle version 1\n");
  ASSERT_EQ(apply("b2.json").out, "committed bundle version 2\n");
  quillmere::NodeState after = state();
  ASSERT_TRUE(after.committed.has_value());
  ASSERT_TRUE(after.previous_committed.has_value());
  EXPECT_EQ(after.committed->version, 2u);
  EXPECT_EQ(after.previous_committed->version, 1u);

  sandbox().write_file("post-failed.json", R"({"services_healthy": "failed", "no_crash_loop": "passed"})");
  const std::size_t before = log_size();
  const CliRun rollback = apply("b3.json", "pre-ok.json", "post-failed.json");
  EXPECT_EQ(rollback.status, 0);
  EXPECT_EQ(rollback.out,
            "post-check failed ([\"services_healthy=Failed\"]) — rolled back. committed version remains 2\n");
  EXPECT_EQ(rollback.err, "");
  EXPECT_EQ(actions_since(before), kRolledBack);

  const quillmere::NodeState rolled = state();
  EXPECT_EQ(rolled.committed, after.committed);
  EXPECT_EQ(rolled.previous_committed, after.previous_committed);
  EXPECT_EQ(rolled.audit_log.back().event.target.target_id, "attempted=3 restored=2");
}

TEST_F(BundleCli, RollbackOnANodeThatNeverCommittedRestoresNone) {
  enroll_node();
  mint_bundle(1, "b1.json");
  sandbox().write_file("post-unknown.json", R"({"services_healthy": "unknown", "no_crash_loop": "passed"})");
  const std::size_t before = log_size();
  const CliRun rollback = apply("b1.json", "pre-ok.json", "post-unknown.json");
  EXPECT_EQ(rollback.status, 0);
  EXPECT_EQ(rollback.out,
            "post-check failed ([\"services_healthy=Unknown\"]) — rolled back. committed version remains none\n");
  EXPECT_EQ(actions_since(before), kRolledBack);
  const quillmere::NodeState after = state();
  EXPECT_FALSE(after.committed.has_value());
  EXPECT_FALSE(after.previous_committed.has_value());
  EXPECT_EQ(after.audit_log.back().event.target.target_id, "attempted=1 restored=none");
}

TEST_F(BundleCli, BothPostcheckFailuresAreListedInOrder) {
  enroll_node();
  mint_bundle(1, "b1.json");
  sandbox().write_file("post.json", R"({"no_crash_loop": "unknown", "services_healthy": "failed", "extra": 1})");
  EXPECT_EQ(apply("b1.json", "pre-ok.json", "post.json").out,
            "post-check failed ([\"services_healthy=Failed\", \"no_crash_loop=Unknown\"]) — rolled back. committed "
            "version remains none\n");
}

struct PrecheckCase {
  const char* name;
  const char* report;
  const char* listed;
};

class BundlePrecheck : public BundleCli, public ::testing::WithParamInterface<PrecheckCase> {};

TEST_P(BundlePrecheck, FailuresAreListedInTheFixedOrderAndSaved) {
  enroll_node();
  mint_bundle(1, "b1.json");
  sandbox().write_file("pre.json", GetParam().report);
  const std::size_t before = log_size();
  // The post-check file is never reached.
  const CliRun refused = apply("b1.json", "pre.json", "no-such-postcheck.json");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, std::string("Error: \"bundle refused at pre-check: ") + GetParam().listed + "\"\n");
  EXPECT_EQ(actions_since(before), (std::vector<std::string>{"node.bundle.admitted", "node.bundle.precheck_failed"}));
  EXPECT_FALSE(state().committed.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Reports, BundlePrecheck,
    ::testing::Values(
        PrecheckCase{"DiskOnly",
                     R"({"disk_space_sufficient": false, "no_conflicting_apply_in_progress": true,
                         "artifacts_resolvable": true})",
                     R"([\"disk_space_sufficient\"])"},
        PrecheckCase{"DiskAndArtifacts",
                     R"({"artifacts_resolvable": false, "no_conflicting_apply_in_progress": true,
                         "disk_space_sufficient": false})",
                     R"([\"disk_space_sufficient\", \"artifacts_resolvable\"])"},
        PrecheckCase{"All",
                     R"({"disk_space_sufficient": false, "no_conflicting_apply_in_progress": false,
                         "artifacts_resolvable": false})",
                     R"([\"disk_space_sufficient\", \"no_conflicting_apply_in_progress\", \"artifacts_resolvable\"])"}),
    ParamName{});

// How a bundle is made wrong for the admission checks.
enum class Fault { None, PendingNode, OtherOfferKeyId, OtherKeyFile, OtherNode, Expired, OfferContext };

struct AdmissionCase {
  const char* name;
  Fault fault;
  std::vector<std::uint64_t> committed_first;  // versions committed before the bundle under test
  std::uint64_t version;
  std::string code;       // "" = admitted and committed
  std::string target_id;  // of the node.bundle.refused event
};

class BundleAdmission : public BundleCli, public ::testing::WithParamInterface<AdmissionCase> {};

TEST_P(BundleAdmission, RefusesWithItsCodeRecordsAndSaves) {
  const AdmissionCase& c = GetParam();
  if (c.fault == Fault::PendingNode) {
    init_node();
    keygen();
    mint_offer();
    must({"enroll", "offer", "offer.json"});
    write_standard_files();
  } else {
    enroll_node();
  }
  for (std::uint64_t v : c.committed_first) {
    const std::string file = "c" + std::to_string(v) + ".json";
    mint_bundle(v, file);
    ASSERT_EQ(apply(file).status, 0);
  }

  MintOptions options;
  if (c.fault == Fault::OtherOfferKeyId) {
    mint_offer("offer2.json");  // same key, another advertised key id
    options.offer = "offer2.json";
  } else if (c.fault == Fault::OtherKeyFile) {
    keygen("other.json", "acme-cp");
    options.key_file = "other.json";
  } else if (c.fault == Fault::OtherNode) {
    options.node_id = brackfern::NodeId::create().to_string();
  }
  mint_bundle(c.version, "bundle.json", options);
  if (c.fault == Fault::Expired) {
    resign_bundle("bundle.json", "cp.json", [](brackfern::EnvelopeHeader& header) {
      header.expires_at = brackfern::Timestamp::from_str("2020-01-01T00:00:00Z").value();
    });
  } else if (c.fault == Fault::OfferContext) {
    resign_bundle("bundle.json", "cp.json", [](brackfern::EnvelopeHeader& header) {
      header.associated_data = {std::string(brackfern::kEnrollmentOfferContext)};
    });
  }

  const quillmere::NodeState before = state();
  // The report files are not read when admission refuses.
  const CliRun result =
      c.code.empty() ? apply("bundle.json") : apply("bundle.json", "no-such-precheck.json", "no-such-postcheck.json");
  const quillmere::NodeState after = state();
  if (c.code.empty()) {
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "committed bundle version " + std::to_string(c.version) + "\n");
    ASSERT_TRUE(after.committed.has_value());
    EXPECT_EQ(after.committed->version, c.version);
    return;
  }
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Error: \"bundle refused at admission: " + c.code + "\"\n");
  ASSERT_EQ(after.audit_log.size(), before.audit_log.size() + 1);
  const brackfern::AuditEvent& event = after.audit_log.back().event;
  EXPECT_EQ(event.action, "node.bundle.refused");
  EXPECT_EQ(event.target.target_type, "service_bundle");
  EXPECT_EQ(event.target.target_id, c.target_id);
  EXPECT_EQ(after.committed, before.committed);
  EXPECT_EQ(after.previous_committed, before.previous_committed);
  EXPECT_EQ(after.enrollment, before.enrollment);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BundleAdmission,
    ::testing::Values(
        AdmissionCase{"PendingNode", Fault::PendingNode, {}, 1, "not_enrolled", "not_enrolled"},
        AdmissionCase{
            "OtherOfferKeyId", Fault::OtherOfferKeyId, {}, 1, "unknown_control_plane_key", "unknown_control_plane_key"},
        AdmissionCase{
            "OtherKeyFileUnderTheEnrolledKeyId", Fault::OtherKeyFile, {}, 1, "envelope_invalid", "envelope_invalid"},
        AdmissionCase{"Expired", Fault::Expired, {}, 1, "envelope_invalid", "envelope_invalid"},
        AdmissionCase{"OfferContext", Fault::OfferContext, {}, 1, "envelope_invalid", "envelope_invalid"},
        AdmissionCase{"OtherNode", Fault::OtherNode, {}, 1, "wrong_node", "wrong_node"},
        AdmissionCase{"EqualVersion", Fault::None, {3}, 3, "downgrade", "3"},
        AdmissionCase{"LowerVersion", Fault::None, {3}, 2, "downgrade", "2"},
        AdmissionCase{"HigherVersion", Fault::None, {3}, 4, "", ""},
        AdmissionCase{"VersionZeroWithNothingCommitted", Fault::None, {}, 0, "", ""}),
    ParamName{});

TEST_F(BundleCli, UnreadableOrMalformedFilesAfterAdmissionLeaveTheStateByteIdentical) {
  enroll_node();
  mint_bundle(1, "b1.json");
  sandbox().write_file("pre-short.json",
                       R"({"disk_space_sufficient": true, "no_conflicting_apply_in_progress": true})");
  sandbox().write_file("post-bad.json", R"({"services_healthy": "fine", "no_crash_loop": "passed"})");
  sandbox().write_file("not-json.json", "services: all healthy");
  struct Case {
    const char* name;
    std::string bundle;
    std::string precheck;
    std::string postcheck;
    std::string err;
  };
  const std::string not_found = "Error: Os { code: 2, kind: NotFound, message: \"No such file or directory\" }\n";
  const Case cases[] = {
      {"missing bundle", "missing.json", "pre-ok.json", "post-ok.json", not_found},
      {"bundle not JSON", "not-json.json", "pre-ok.json", "post-ok.json",
       "Error: Error(\"expected value\", line: 1, column: 1)\n"},
      {"missing pre-check", "b1.json", "missing.json", "post-ok.json", not_found},
      {"pre-check without artifacts_resolvable", "b1.json", "pre-short.json", "post-ok.json",
       "Error: Error(\"missing field `artifacts_resolvable`\", line: 1, column: 73)\n"},
      {"missing post-check", "b1.json", "pre-ok.json", "missing.json", not_found},
      {"post-check with an unknown outcome", "b1.json", "pre-ok.json", "post-bad.json",
       "Error: Error(\"unknown variant `fine`, expected one of `passed`, `failed`, `unknown`\", line: 1, column: "
       "27)\n"},
  };
  const std::string before = state_text();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CliRun result = apply(c.bundle, c.precheck, c.postcheck);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(state_text(), before);
  }
  // The same bundle still commits afterwards: nothing of those runs was kept.
  EXPECT_EQ(apply("b1.json").out, "committed bundle version 1\n");
}

TEST_F(BundleCli, AnEventThatCannotBeSignedIsTheErrorAndNothingIsSaved) {
  enroll_node();
  mint_bundle(1, "b1.json");
  std::string text = state_text();
  const std::string member = R"("audit_signing_key_seed": ")";
  text.replace(text.find(member) + member.size(), 1, "x");
  sandbox().write_file("node-state.json", text);

  for (const char* bundle : {"b1.json", "other-node.json"}) {
    SCOPED_TRACE(bundle);
    if (std::string(bundle) != "b1.json") {
      // Refused at admission: the refusal event cannot be recorded either.
      mint_bundle(1, bundle, MintOptions{"cp.json", "offer.json", brackfern::NodeId::create().to_string()});
    }
    const CliRun result = apply(bundle);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error: InvalidKeyMaterial(\"node audit signing key seed is not 64 hex characters\")\n");
    EXPECT_EQ(state_text(), text);
  }
}

TEST_F(BundleCli, BundleForAnotherNodeNamesTheCodeInItsEvent) {
  enroll_node();
  mint_bundle(1, "b1.json", MintOptions{"cp.json", "offer.json", brackfern::NodeId::create().to_string()});
  const CliRun refused = apply("b1.json");
  EXPECT_EQ(refused.err, "Error: \"bundle refused at admission: wrong_node\"\n");
  const quillmere::NodeState after = state();
  const brackfern::AuditEvent& event = after.audit_log.back().event;
  EXPECT_EQ(event.actor.actor_type, brackfern::ActorType::Unknown);
  EXPECT_EQ(event.severity, brackfern::Severity::Notice);
}

}  // namespace
}  // namespace zidazavavide::testing
