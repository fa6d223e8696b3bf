#include "audit_commands.hpp"

#include "state_session.hpp"

#include <quillmere/engine/node_state.hpp>

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace zidazavavide {
namespace {

// "#" and the sequence in decimal, zero-padded to at least three digits.
std::string sequence_label(std::uint64_t sequence) {
  std::string digits = std::to_string(sequence);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  return "#" + digits;
}

}  // namespace

// Lists the log in stored order, one line per entry. Read-only.
CommandResult run_audit_show(const AuditShow& command, Console& console) {
  auto state = load_state_read_only(command.state);
  if (!state) return std::unexpected(std::move(state.error()));
  std::string line;
  state->audit_log.for_each_event_text([&](std::uint64_t sequence, std::string_view text) {
    line = sequence_label(sequence);
    line += ' ';
    line += text;
    line += '\n';
    console.out << line;
    return true;
  });
  console.out.flush();
  return {};
}

// Verifies the whole chain against the node's own audit key. Read-only.
CommandResult run_audit_verify(const AuditVerify& command, Console& console) {
  auto state = load_state_read_only(command.state);
  if (!state) return std::unexpected(std::move(state.error()));
  if (auto verified = quillmere::verify_audit(*state); !verified) {
    return std::unexpected(CliError(std::move(verified.error())));
  }
  const std::string head = state->audit_head ? state->audit_head->to_string() : "none";
  console.out << "audit chain verifies: " + std::to_string(state->audit_log.size()) + " events, head " + head + "\n"
              << std::flush;
  return {};
}

}  // namespace zidazavavide
