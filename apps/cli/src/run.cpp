#include "run.hpp"

#include "audit_commands.hpp"
#include "bundle_commands.hpp"
#include "command_tree.hpp"
#include "dev_cp_commands.hpp"
#include "enroll_commands.hpp"
#include "node_commands.hpp"

#include <exception>
#include <istream>
#include <ostream>
#include <type_traits>
#include <variant>

namespace zidazavavide {
namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
  using Handlers::operator()...;
};

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

// A command whose output could not be written has not done what it was
// asked, whatever it changed before: its result becomes that write's OS
// error. The error line goes out as one piece, so that a failing standard
// error can lose it but never repeat or split its "Error: " prefix.
int report(CommandResult result, Console& console) {
  console.out.flush();
  if (result && !console.out) result = std::unexpected(CliError(output_error(console.out)));
  if (result) return kSuccess;
  console.err << "Error: " + result.error().debug() + "\n" << std::flush;
  return kFailure;
}

}  // namespace

CommandResult dispatch(const Command& command, Console& console) {
  return std::visit(Overloaded{
                        [&](const NodeInit& c) { return run_node_init(c, console); },
                        [&](const NodeStatus& c) { return run_node_status(c, console); },
                        [&](const EnrollOffer& c) { return run_enroll_offer(c, console); },
                        [&](const EnrollApprove& c) { return run_enroll_approve(c, console); },
                        [&](const EnrollRevoke& c) { return run_enroll_revoke(c, console); },
                        [&](const BundleApply& c) { return run_bundle_apply(c, console); },
                        [&](const AuditShow& c) { return run_audit_show(c, console); },
                        [&](const AuditVerify& c) { return run_audit_verify(c, console); },
                        [&](const DevCpKeygen& c) { return run_dev_cp_keygen(c, console); },
                        [&](const DevCpOffer& c) { return run_dev_cp_offer(c, console); },
                        [&](const DevCpBundle& c) { return run_dev_cp_bundle(c, console); },
                    },
                    command);
}

int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
  ParseOutcome parsed = parse_command_line(args);
  Console console{in, out, err};
  if (const auto* exit = std::get_if<ParseExit>(&parsed)) {
    if (exit->status == kSuccess) {
      out << exit->out;  // help: it fails like any output that cannot be written
      return report({}, console);
    }
    err << exit->err << std::flush;
    return exit->status;
  }
  try {
    return report(dispatch(std::get<Command>(parsed), console), console);
  } catch (const std::exception& e) {
    // Handlers return their failures as values; an exception here is a
    // library throwing where it should not. Report it on the same channel.
    return report(text_error(std::string("internal: ") + e.what()), console);
  }
}

}  // namespace zidazavavide
