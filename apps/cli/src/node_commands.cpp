#include "node_commands.hpp"

#include "state_session.hpp"

#include <brackfern/contracts/identifiers.hpp>
#include <quillmere/contracts/enrollment.hpp>
#include <quillmere/engine/node_state.hpp>

#include <string>
#include <type_traits>
#include <variant>

#include <sys/stat.h>

namespace zidazavavide {
namespace {

// Whether anything is at `path`, following symbolic links (a dangling link
// counts as nothing there).
bool something_exists_at(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::unexpected<CliError> already_exists(const std::string& path) {
  return text_error(path + " already exists; pass --force to overwrite");
}

// The node id given on the command line, or a fresh one.
std::expected<brackfern::NodeId, CliError> node_id_for(const NodeInit& command) {
  if (!command.node_id) return brackfern::NodeId::create();
  auto parsed = brackfern::NodeId::from_str(*command.node_id);
  if (!parsed) return std::unexpected(CliError(std::move(parsed.error())));
  return *parsed;
}

// The enrollment line of `node status`.
std::string enrollment_summary(const quillmere::EnrollmentState& enrollment) {
  using State = quillmere::EnrollmentState;
  return std::visit(
      [](const auto& s) -> std::string {
        using T = std::decay_t<decltype(s)>;
        if constexpr (std::is_same_v<T, State::Unenrolled>) {
          return "unenrolled";
        } else if constexpr (std::is_same_v<T, State::PendingOwnerApproval>) {
          return "pending_owner_approval (control plane: " + s.control_plane_id.str() + ")";
        } else if constexpr (std::is_same_v<T, State::Enrolled>) {
          return "enrolled (control plane: " + s.control_plane_id.str() + ")";
        } else {
          static_assert(std::is_same_v<T, State::Revoked>);
          return "revoked (previously: " + s.previously.str() + ")";
        }
      },
      enrollment.value());
}

}  // namespace

CommandResult run_node_init(const NodeInit& command, Console& console) {
  // The existence check comes before the node id is looked at.
  if (!command.force && something_exists_at(command.state)) return already_exists(command.state);
  auto node_id = node_id_for(command);
  if (!node_id) return std::unexpected(std::move(node_id.error()));

  auto lock = lock_state_for_update(command.state);
  if (!lock) return std::unexpected(std::move(lock.error()));
  // Again under the lock: another init may have created the file meanwhile.
  if (!command.force && something_exists_at(command.state)) return already_exists(command.state);

  const quillmere::NodeState state =
      quillmere::NodeState::create(quillmere::NodeIdentity::generate(std::move(*node_id)));
  auto saved = quillmere::save_state(state, command.state);
  if (!saved) return text_error(std::move(saved.error()));

  console.out << "initialised node " + state.identity.node_id.to_string() + " at " + command.state + "\n" << std::flush;
  return {};
}

CommandResult run_node_status(const NodeStatus& command, Console& console) {
  auto state = load_state_read_only(command.state);
  if (!state) return std::unexpected(std::move(state.error()));

  const std::string committed = state->committed ? std::to_string(state->committed->version) : "none";
  console.out << "node_id:         " + state->identity.node_id.to_string() + "\n"
              << "enrollment:      " + enrollment_summary(state->enrollment) + "\n"
              << "committed:       " + committed + "\n"
              << "audit_sequence:  " + std::to_string(state->audit_sequence) + "\n"
              << std::flush;
  return {};
}

}  // namespace zidazavavide
