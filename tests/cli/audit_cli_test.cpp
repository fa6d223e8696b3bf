// audit show and audit verify, run through the real binary: the listing's
// exact lines, the verification line, and the errors of tampered logs.

#include "node_flow.hpp"

#include <brackfern/contracts/timestamp.hpp>
#include <quillmere/engine/node_audit_events.hpp>
#include <quillmere/engine/node_state.hpp>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace zidazavavide::testing {
namespace {

class AuditCli : public NodeFlowTest {
 protected:
  // The lines of `text`, each without its line feed.
  static std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) out.push_back(line);
    return out;
  }

  // Appends `count` refused-revoke events to the node's log through the
  // engine, the way the commands record them, and saves once.
  void grow_log(std::size_t count) {
    quillmere::NodeState grown = state();
    const brackfern::Timestamp now = brackfern::Timestamp::now();
    for (std::size_t i = 0; i < count; ++i) {
      ASSERT_TRUE(quillmere::record_event(grown, quillmere::revoke_refused_event(now)).has_value());
    }
    ASSERT_TRUE(quillmere::save_state(grown, sandbox().path("node-state.json")).has_value());
  }

  // Replaces the first `from` in the state file by `to`.
  void tamper(const std::string& from, const std::string& to) {
    std::string text = state_text();
    const auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    sandbox().write_file("node-state.json", text);
  }
};

TEST_F(AuditCli, EmptyLogShowsNothingAndVerifiesWithoutAHead) {
  init_node();
  const CliRun show = run({"audit", "show"});
  EXPECT_EQ(show.status, 0);
  EXPECT_EQ(show.out, "");
  EXPECT_EQ(show.err, "");
  const CliRun verify = run({"audit", "verify"});
  EXPECT_EQ(verify.status, 0);
  EXPECT_EQ(verify.out, "audit chain verifies: 0 events, head none\n");
  EXPECT_EQ(verify.err, "");
}

TEST_F(AuditCli, ShowListsEveryEventInStoredOrder) {
  enroll_node();
  mint_bundle(1, "b1.json");
  ASSERT_EQ(apply("b1.json").status, 0);
  const quillmere::NodeState current = state();
  ASSERT_EQ(current.audit_log.size(), 5u);

  const CliRun show = run({"audit", "show"});
  EXPECT_EQ(show.status, 0);
  EXPECT_EQ(show.err, "");
  const auto at = [&](std::size_t i) { return "[" + current.audit_log[i].event.occurred_at.to_string() + "] "; };
  const std::vector<std::string> expected = {
      "#001 " + at(0) + "quillmere DeviceManagement node.enrollment.offer_pending result=Success severity=Info",
      "#002 " + at(1) + "quillmere Authorization node.enrollment.approved result=Success severity=Info",
      "#003 " + at(2) + "quillmere ServiceLifecycle node.bundle.admitted result=Success severity=Info",
      "#004 " + at(3) + "quillmere ServiceLifecycle node.bundle.applied result=Success severity=Info",
      "#005 " + at(4) + "quillmere ServiceLifecycle node.bundle.committed result=Success severity=Info",
  };
  EXPECT_EQ(lines_of(show.out), expected);
  EXPECT_TRUE(show.out.ends_with('\n'));
}

TEST_F(AuditCli, VerifyCountsTheEventsAndNamesTheHead) {
  enroll_node();
  ASSERT_EQ(run({"enroll", "revoke"}).status, 0);
  const quillmere::NodeState current = state();
  ASSERT_TRUE(current.audit_head.has_value());
  const std::string before = state_text();
  const CliRun verify = run({"audit", "verify"});
  EXPECT_EQ(verify.status, 0);
  EXPECT_EQ(verify.out, "audit chain verifies: 3 events, head " + current.audit_head->to_string() + "\n");
  EXPECT_EQ(verify.out.rfind("audit chain verifies: 3 events, head blake3:", 0), 0u);
  EXPECT_EQ(state_text(), before);
}

TEST_F(AuditCli, ReadOnlyCommandsLeaveEveryFileAlone) {
  enroll_node();
  const std::string before = state_text();
  const std::vector<std::string> entries = sandbox().entries();
  EXPECT_EQ(run({"audit", "show"}).status, 0);
  EXPECT_EQ(run({"audit", "verify"}).status, 0);
  EXPECT_EQ(state_text(), before);
  EXPECT_EQ(sandbox().entries(), entries);
}

TEST_F(AuditCli, AThousandEventsPadOnlyToThreeDigits) {
  init_node();
  grow_log(1000);
  const CliRun show = run({"audit", "show"});
  ASSERT_EQ(show.status, 0);
  const std::vector<std::string> lines = lines_of(show.out);
  ASSERT_EQ(lines.size(), 1000u);
  const struct {
    std::size_t index;
    const char* label;
  } labels[] = {{0, "#001 "},  {8, "#009 "},   {9, "#010 "},   {98, "#099 "},
                {99, "#100 "}, {998, "#999 "}, {999, "#1000 "}};
  for (const auto& expected : labels) {
    SCOPED_TRACE(expected.label);
    EXPECT_EQ(lines[expected.index].rfind(expected.label, 0), 0u) << lines[expected.index];
  }
  EXPECT_NE(lines.back().find("node.enrollment.revoke_refused result=Denied severity=Notice"), std::string::npos);

  const CliRun verify = run({"audit", "verify"});
  EXPECT_EQ(verify.status, 0);
  EXPECT_EQ(verify.out.rfind("audit chain verifies: 1000 events, head blake3:", 0), 0u) << verify.out;
}

struct Tampering {
  const char* name;
  const char* from;
  const char* to;
  const char* err;
};

class AuditTampering : public AuditCli, public ::testing::WithParamInterface<Tampering> {};

TEST_P(AuditTampering, VerifyFailsWithTheChainsErrorAndSavesNothing) {
  init_node();
  for (int i = 0; i < 3; ++i) ASSERT_EQ(run({"enroll", "revoke"}).status, 1);
  tamper(GetParam().from, GetParam().to);
  const std::string before = state_text();

  const CliRun verify = run({"audit", "verify"});
  EXPECT_EQ(verify.status, 1);
  EXPECT_EQ(verify.out, "");
  EXPECT_EQ(verify.err, GetParam().err);
  EXPECT_EQ(state_text(), before);
  // The listing does not judge the chain.
  EXPECT_EQ(run({"audit", "show"}).status, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, AuditTampering,
    ::testing::Values(Tampering{"ActionRewritten", "node.enrollment.revoke_refused", "node.enrollment.revoked",
                                "Error: Core(SignatureInvalid)\n"},
                      Tampering{"SequenceSkipped", "\"sequence\": 2,", "\"sequence\": 5,",
                                "Error: Core(Validation(\"audit chain sequence gap: expected 2, found 5\"))\n"}),
    ParamName{});

TEST_F(AuditCli, MissingStateIsTheLoadError) {
  for (const char* command : {"show", "verify"}) {
    SCOPED_TRACE(command);
    const CliRun result = run({"audit", command, "--state", "nowhere.json"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error: \"reading node state at nowhere.json: No such file or directory (os error 2)\"\n");
    EXPECT_EQ(sandbox().entries(), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace zidazavavide::testing
