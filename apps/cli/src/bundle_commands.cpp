#include "bundle_commands.hpp"

#include "command_steps.hpp"
#include "state_session.hpp"

#include <brackfern/contracts/timestamp.hpp>
#include <quillmere/contracts/check_reports.hpp>
#include <quillmere/contracts/service_bundle.hpp>
#include <quillmere/engine/admission.hpp>
#include <quillmere/engine/node_audit_events.hpp>
#include <quillmere/engine/pipeline.hpp>

#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace zidazavavide {
namespace {

std::string version_or_none(std::optional<quillmere::BundleVersion> version) {
  return version ? std::to_string(*version) : "none";
}

// The last stage: commit the applied bundle or roll it back, record that,
// save and report. Both are completed outcomes.
CommandResult commit_or_roll_back(StateSession& session, const quillmere::PostcheckDecision& decision,
                                  std::vector<quillmere::ServiceSpec> applied, const brackfern::Timestamp& now,
                                  Console& console) {
  if (const auto* commit = decision.commit()) {
    quillmere::CommittedPair pair =
        quillmere::commit_applied_bundle(session.state.committed, commit->version, std::move(applied), now);
    session.state.committed = std::move(pair.committed);
    session.state.previous_committed = std::move(pair.previous_committed);
    return succeed(session, quillmere::bundle_committed_event(commit->version, now),
                   "committed bundle version " + std::to_string(commit->version), console);
  }
  // The decision is Commit or Rollback by construction: admission and
  // pre-check refusals have ended the command before this stage.
  const auto& rollback = std::get<quillmere::PostcheckDecision::Rollback>(decision.value);
  return succeed(session, quillmere::rolled_back_event(rollback.attempted, rollback.restored, now),
                 "post-check failed (" + quillmere::debug_list(rollback.reasons) +
                     ") — rolled back. committed version remains " + version_or_none(rollback.restored),
                 console);
}

}  // namespace

// admission → pre-check → apply → post-check → commit-or-rollback, with one
// time for every stage. A report file is read only when its stage is reached;
// a failure to read one returns before anything of this run is saved.
CommandResult run_bundle_apply(const BundleApply& command, Console& console) {
  auto session = open_state_for_update(command.state);
  if (!session) return std::unexpected(std::move(session.error()));
  const brackfern::Timestamp now = brackfern::Timestamp::now();
  auto envelope = read_document<quillmere::SignedServiceBundle>(command.bundle);
  if (!envelope) return std::unexpected(std::move(envelope.error()));

  quillmere::NodeState& state = session->state;
  const std::optional<quillmere::BundleVersion> committed_version =
      state.committed ? std::optional(state.committed->version) : std::nullopt;
  auto admitted =
      quillmere::evaluate_incoming_bundle(state.enrollment, state.identity.node_id, committed_version, *envelope, now);
  if (!admitted) {
    const std::string code(admitted.error().reason_code());
    return refuse(*session, quillmere::bundle_refused_event(code, admitted.error().attempted_version(), now),
                  "bundle refused at admission: " + code);
  }
  const quillmere::BundleVersion version = admitted->bundle_version;
  if (auto recorded = record(*session, quillmere::bundle_admitted_event(version, now)); !recorded) return recorded;

  auto precheck = read_document<quillmere::PrecheckReport>(command.precheck);
  if (!precheck) return std::unexpected(std::move(precheck.error()));
  auto gated = quillmere::gate_on_precheck(std::move(*admitted), *precheck);
  if (!gated) {
    return refuse(*session, quillmere::precheck_failed_event(version, now),
                  "bundle refused at pre-check: " + quillmere::debug_list(gated.error()));
  }

  // Apply: the bundle's services become the applied set; the committed
  // bundle is untouched until the post-check has decided.
  std::vector<quillmere::ServiceSpec> applied = gated->services;
  if (auto recorded = record(*session, quillmere::bundle_applied_event(version, now)); !recorded) return recorded;

  auto postcheck = read_document<quillmere::PostcheckReport>(command.postcheck);
  if (!postcheck) return std::unexpected(std::move(postcheck.error()));
  const quillmere::PostcheckDecision decision =
      quillmere::decide_after_postcheck(std::move(*gated), *postcheck, state.committed);
  return commit_or_roll_back(*session, decision, std::move(applied), now, console);
}

}  // namespace zidazavavide
