// enroll offer, enroll approve and enroll revoke, run through the real binary:
// their lines, the events they append and whether they save.

#include "node_flow.hpp"

#include <quillmere/contracts/enrollment.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zidazavavide::testing {
namespace {

using quillmere::EnrollmentState;

const std::string kPrompt = "Approve this enrollment at this node's own console? Type 'yes' to confirm: ";
const std::string kOfferAccepted =
    "offer accepted for review: control plane 'acme-cp' — run `enroll approve` at this node's own console to "
    "continue.\n";
const std::string kEnrolled = "enrolled with control plane 'acme-cp'\n";

class EnrollCli : public NodeFlowTest {
 protected:
  // A node with the offer of cp.json pending its owner's approval.
  void pending_node() {
    init_node();
    keygen();
    mint_offer();
    ASSERT_EQ(must({"enroll", "offer", "offer.json"}).out, kOfferAccepted);
  }

  // Edits the text of a sandbox file in place.
  void edit_file(const std::string& name, const std::function<void(std::string&)>& edit) {
    std::string text = sandbox().read_file(name).value_or("");
    edit(text);
    sandbox().write_file(name, text);
  }
};

// Replaces the first `from` in `text` by `to`.
std::function<void(std::string&)> replacing(std::string from, std::string to) {
  return [from = std::move(from), to = std::move(to)](std::string& text) {
    const auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
  };
}

TEST_F(EnrollCli, AcceptedOfferIsPendingAndRecorded) {
  init_node();
  keygen();
  mint_offer();
  const CliRun offer = run({"enroll", "offer", "offer.json"});
  EXPECT_EQ(offer.status, 0);
  EXPECT_EQ(offer.out, kOfferAccepted);
  EXPECT_EQ(offer.err, "");

  const quillmere::NodeState after = state();
  const auto* pending = after.enrollment.get_if<EnrollmentState::PendingOwnerApproval>();
  ASSERT_NE(pending, nullptr);
  EXPECT_EQ(pending->control_plane_id.str(), "acme-cp");
  ASSERT_EQ(after.audit_log.size(), 1u);
  const brackfern::AuditEvent& event = after.audit_log[0].event;
  EXPECT_EQ(after.audit_log[0].sequence, 1u);
  EXPECT_EQ(event.action, "node.enrollment.offer_pending");
  EXPECT_FALSE(event.previous_event_hash.has_value());
  EXPECT_EQ(event.actor.actor_id, "acme-cp");
  EXPECT_EQ(event.target.target_id, "acme-cp");
  // offered_at in the state is the node's own time of receipt.
  EXPECT_EQ(pending->offered_at, event.occurred_at);
}

struct RefusedOffer {
  const char* name;
  std::function<void(std::string&)> edit;  // applied to a freshly minted offer
  std::string message;
};

class EnrollOfferRefusal : public EnrollCli, public ::testing::WithParamInterface<RefusedOffer> {};

TEST_P(EnrollOfferRefusal, IsRecordedAndSavedWithTheEnrollmentUnchanged) {
  init_node();
  keygen();
  mint_offer();
  edit_file("offer.json", GetParam().edit);
  const std::string before = state_text();

  const CliRun offer = run({"enroll", "offer", "offer.json"});
  EXPECT_EQ(offer.status, 1);
  EXPECT_EQ(offer.out, "");
  EXPECT_EQ(offer.err, text_error_line(GetParam().message));

  EXPECT_NE(state_text(), before);
  const quillmere::NodeState after = state();
  EXPECT_TRUE(after.enrollment.is<EnrollmentState::Unenrolled>());
  ASSERT_EQ(after.audit_log.size(), 1u);
  const brackfern::AuditEvent& event = after.audit_log[0].event;
  EXPECT_EQ(event.action, "node.enrollment.offer_refused");
  EXPECT_EQ(event.actor.actor_type, brackfern::ActorType::Unknown);
  EXPECT_FALSE(event.actor.actor_id.has_value());
  EXPECT_EQ(event.target.target_type, "control_plane");
  EXPECT_FALSE(event.target.target_id.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Offers, EnrollOfferRefusal,
    ::testing::Values(
        RefusedOffer{"ShortKey",
                     [](std::string& text) {
                       const std::string member = R"("public_key": ")";
                       text.erase(text.find(member) + member.size() + 63, 1);
                     },
                     "offer refused: invalid control-plane key material: expected 64 lowercase hex characters, got "
                     "63 characters"},
        RefusedOffer{"PayloadChangedAfterSigning",
                     replacing(R"("control_plane_id": "acme-cp")", R"("control_plane_id": "acme-cq")"),
                     "offer refused: signature verification failed"},
        RefusedOffer{"BundleContext", replacing("quillmere.enrollment_offer.v1", "quillmere.service_bundle.v1"),
                     "offer refused: validation failed: envelope associated data does not match the expected context"}),
    ParamName{});

TEST_F(EnrollCli, UnreadableOrMalformedOfferFileSavesNothing) {
  init_node();
  const std::string before = state_text();

  const CliRun missing = run({"enroll", "offer", "missing.json"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "Error: Os { code: 2, kind: NotFound, message: \"No such file or directory\" }\n");
  EXPECT_EQ(state_text(), before);

  sandbox().write_file("broken.json", "{\"format_version\": 1,");
  const CliRun broken = run({"enroll", "offer", "broken.json"});
  EXPECT_EQ(broken.status, 1);
  EXPECT_EQ(broken.err, "Error: Error(\"EOF while parsing a value\", line: 1, column: 21)\n");
  EXPECT_EQ(state_text(), before);
}

TEST_F(EnrollCli, OfferWhileEnrolledReplacesTheEnrollmentWithTheNewPendingOffer) {
  enroll_node();
  keygen("other.json", "other-cp");
  mint_offer("other-offer.json", "other.json");
  const CliRun offer = run({"enroll", "offer", "other-offer.json"});
  EXPECT_EQ(offer.status, 0);
  EXPECT_EQ(offer.out,
            "offer accepted for review: control plane 'other-cp' — run `enroll approve` at this node's own console "
            "to continue.\n");
  const quillmere::NodeState after = state();
  const auto* pending = after.enrollment.get_if<EnrollmentState::PendingOwnerApproval>();
  ASSERT_NE(pending, nullptr);
  EXPECT_EQ(pending->control_plane_id.str(), "other-cp");
}

TEST_F(EnrollCli, ApproveWithNothingPendingNeverPromptsButRecordsAndSaves) {
  init_node();
  const std::string before = state_text();
  const CliRun approve = run({"enroll", "approve"}, Stdin::text("yes\n"));
  EXPECT_EQ(approve.status, 1);
  EXPECT_EQ(approve.out, "");
  EXPECT_EQ(approve.err, "Error: \"refused: nothing is pending local owner approval\"\n");
  EXPECT_NE(state_text(), before);
  EXPECT_EQ(actions(), std::vector<std::string>{"node.enrollment.approve_refused"});
  EXPECT_TRUE(state().enrollment.is<EnrollmentState::Unenrolled>());
}

TEST_F(EnrollCli, ApproveWithYesSkipsThePromptAndRecordsLocalConfigFile) {
  pending_node();
  const CliRun approve = run({"enroll", "approve", "--yes"}, Stdin::none());
  EXPECT_EQ(approve.status, 0);
  EXPECT_EQ(approve.out, kEnrolled);
  EXPECT_EQ(approve.err, "");
  const quillmere::NodeState after = state();
  const auto* enrolled = after.enrollment.get_if<EnrollmentState::Enrolled>();
  ASSERT_NE(enrolled, nullptr);
  EXPECT_EQ(enrolled->approval.method, quillmere::LocalApprovalMethod::LocalConfigFile);
  ASSERT_EQ(after.audit_log.size(), 2u);
  const brackfern::AuditEvent& event = after.audit_log[1].event;
  EXPECT_EQ(event.action, "node.enrollment.approved");
  EXPECT_EQ(event.actor.actor_id, "local-owner");
  EXPECT_EQ(event.target.target_id, "acme-cp");
  EXPECT_EQ(enrolled->enrolled_at, enrolled->approval.approved_at);
  EXPECT_EQ(enrolled->enrolled_at, event.occurred_at);
}

struct ConsoleAnswer {
  const char* name;
  Stdin input;
  bool approves;
};

class EnrollApprovePrompt : public EnrollCli, public ::testing::WithParamInterface<ConsoleAnswer> {};

TEST_P(EnrollApprovePrompt, OnlyYesApproves) {
  pending_node();
  const std::string before = state_text();
  const CliRun approve = run({"enroll", "approve"}, GetParam().input);
  const quillmere::NodeState after = state();
  ASSERT_EQ(after.audit_log.size(), 2u);
  EXPECT_NE(state_text(), before);
  if (GetParam().approves) {
    EXPECT_EQ(approve.status, 0);
    EXPECT_EQ(approve.out, kPrompt + kEnrolled);
    EXPECT_EQ(approve.err, "");
    const auto* enrolled = after.enrollment.get_if<EnrollmentState::Enrolled>();
    ASSERT_NE(enrolled, nullptr);
    EXPECT_EQ(enrolled->approval.method, quillmere::LocalApprovalMethod::InteractiveConsole);
    EXPECT_EQ(after.audit_log[1].event.action, "node.enrollment.approved");
  } else {
    EXPECT_EQ(approve.status, 1);
    EXPECT_EQ(approve.out, kPrompt);
    EXPECT_EQ(approve.err, "Error: \"approval declined at console\"\n");
    EXPECT_TRUE(after.enrollment.is<EnrollmentState::PendingOwnerApproval>());
    EXPECT_EQ(after.audit_log[1].event.action, "node.enrollment.approve_refused");
  }
}

INSTANTIATE_TEST_SUITE_P(Answers, EnrollApprovePrompt,
                         ::testing::Values(ConsoleAnswer{"Yes", Stdin::text("yes\n"), true},
                                           ConsoleAnswer{"YesWithSpacesAround", Stdin::text(" yes \n"), true},
                                           ConsoleAnswer{"YesWithTabAndCrlf", Stdin::text("\tyes\r\n"), true},
                                           ConsoleAnswer{"YesWithoutLineEnd", Stdin::text("yes"), true},
                                           ConsoleAnswer{"OnlyTheFirstLineCounts", Stdin::text("no\nyes\n"), false},
                                           ConsoleAnswer{"Capitalised", Stdin::text("Yes\n"), false},
                                           ConsoleAnswer{"UpperCase", Stdin::text("YES\n"), false},
                                           ConsoleAnswer{"SingleY", Stdin::text("y\n"), false},
                                           ConsoleAnswer{"YesPlease", Stdin::text("yes please\n"), false},
                                           ConsoleAnswer{"EmptyLine", Stdin::text("\n"), false},
                                           ConsoleAnswer{"EndOfInput", Stdin::text(""), false},
                                           ConsoleAnswer{"NoStandardInput", Stdin::none(), false}),
                         ParamName{});

// With standard input closed, the first file the program opens would take
// descriptor 0; the answer must never be read from such a file.
TEST_F(EnrollCli, ClosedStandardInputNeverReadsTheAnswerFromAnotherFile) {
  pending_node();
  sandbox().write_file("node-state.json.lock", "yes\n");
  const CliRun approve = run({"enroll", "approve"}, Stdin::none());
  EXPECT_EQ(approve.status, 1);
  EXPECT_EQ(approve.err, "Error: \"approval declined at console\"\n");
  EXPECT_NE(state().enrollment.get_if<EnrollmentState::PendingOwnerApproval>(), nullptr);
}

// A console that cannot be read is an OS error, not a declined approval:
// nothing is recorded or saved.
TEST_F(EnrollCli, UnreadableConsoleIsAnOsErrorAndSavesNothing) {
  pending_node();
  const std::optional<std::string> before = sandbox().read_file("node-state.json");
  const CliRun approve = run({"enroll", "approve"}, Stdin::from_file(sandbox().dir().string()));
  EXPECT_EQ(approve.status, 1);
  EXPECT_EQ(approve.out, "Approve this enrollment at this node's own console? Type 'yes' to confirm: ");
  EXPECT_EQ(approve.err, "Error: Os { code: 21, kind: IsADirectory, message: \"Is a directory\" }\n");
  EXPECT_EQ(sandbox().read_file("node-state.json"), before);
}

TEST_F(EnrollCli, ApprovalTimeIsWhenTheCommandStarted) {
  pending_node();
  ASSERT_EQ(run({"enroll", "approve"}, Stdin::text("yes\n")).status, 0);
  const quillmere::NodeState after = state();
  const auto* enrolled = after.enrollment.get_if<EnrollmentState::Enrolled>();
  ASSERT_NE(enrolled, nullptr);
  EXPECT_EQ(enrolled->enrolled_at, enrolled->approval.approved_at);
  EXPECT_EQ(enrolled->enrolled_at, after.audit_log.back().event.occurred_at);
}

TEST_F(EnrollCli, RevokeOfAnEnrollmentLeavesNoAuthority) {
  enroll_node();
  const CliRun revoke = run({"enroll", "revoke"});
  EXPECT_EQ(revoke.status, 0);
  EXPECT_EQ(revoke.out, "revoked. control plane 'acme-cp' no longer has any authority over this node.\n");
  EXPECT_EQ(revoke.err, "");
  const quillmere::NodeState after = state();
  const auto* revoked = after.enrollment.get_if<EnrollmentState::Revoked>();
  ASSERT_NE(revoked, nullptr);
  EXPECT_EQ(revoked->previously.str(), "acme-cp");
  const brackfern::AuditEvent& event = after.audit_log.back().event;
  EXPECT_EQ(event.action, "node.enrollment.revoked");
  EXPECT_EQ(event.target.target_id, "acme-cp");
  EXPECT_EQ(event.severity, brackfern::Severity::Notice);
  EXPECT_EQ(revoked->revoked_at, event.occurred_at);

  // A bundle from the revoked control plane is no longer let in.
  mint_bundle(1, "b1.json");
  EXPECT_EQ(apply("b1.json").err, "Error: \"bundle refused at admission: not_enrolled\"\n");
}

TEST_F(EnrollCli, RevokeOfAPendingOfferAndThenAgain) {
  pending_node();
  const CliRun first = run({"enroll", "revoke"});
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out, "revoked. control plane 'acme-cp' no longer has any authority over this node.\n");

  const std::string before = state_text();
  const CliRun second = run({"enroll", "revoke"});
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.out, "");
  EXPECT_EQ(second.err, "Error: \"revoke refused: cannot revoke: node is not currently enrolled or pending\"\n");
  EXPECT_NE(state_text(), before);
  EXPECT_EQ(actions(), (std::vector<std::string>{"node.enrollment.offer_pending", "node.enrollment.revoked",
                                                 "node.enrollment.revoke_refused"}));
  EXPECT_TRUE(state().enrollment.is<EnrollmentState::Revoked>());
}

TEST_F(EnrollCli, RevokeOfAFreshNodeIsRefusedRecordedAndSaved) {
  init_node();
  const CliRun revoke = run({"enroll", "revoke"});
  EXPECT_EQ(revoke.status, 1);
  EXPECT_EQ(revoke.err, "Error: \"revoke refused: cannot revoke: node is not currently enrolled or pending\"\n");
  const quillmere::NodeState after = state();
  EXPECT_TRUE(after.enrollment.is<EnrollmentState::Unenrolled>());
  ASSERT_EQ(after.audit_log.size(), 1u);
  EXPECT_EQ(after.audit_log[0].event.action, "node.enrollment.revoke_refused");
  EXPECT_EQ(after.audit_sequence, 1u);
  EXPECT_TRUE(after.audit_head.has_value());
}

TEST_F(EnrollCli, AnEventThatCannotBeSignedIsTheErrorAndNothingIsSaved) {
  pending_node();
  // A damaged audit key seed: 63 hex characters.
  std::string text = state_text();
  const std::string member = R"("audit_signing_key_seed": ")";
  text.erase(text.find(member) + member.size(), 1);
  sandbox().write_file("node-state.json", text);

  for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
           {"enroll", "offer", "offer.json"}, {"enroll", "approve", "--yes"}, {"enroll", "revoke"}}) {
    SCOPED_TRACE(command[1]);
    const CliRun result = run(command);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error: InvalidKeyMaterial(\"node audit signing key seed is not 64 hex characters\")\n");
    EXPECT_EQ(state_text(), text);
  }
}

TEST_F(EnrollCli, CommandsOnAMissingStateCreateNothing) {
  keygen();
  const std::vector<std::vector<std::string>> commands = {
      {"enroll", "offer", "offer.json"}, {"enroll", "approve", "--yes"}, {"enroll", "revoke"}};
  for (const auto& command : commands) {
    SCOPED_TRACE(command[1]);
    const CliRun result = run(command);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("Error: \"reading node state at node-state.json: ", 0), 0u) << result.err;
    EXPECT_FALSE(sandbox().exists("node-state.json"));
  }
}

}  // namespace
}  // namespace zidazavavide::testing
