#include "audit_commands.hpp"

#include "state_session.hpp"

#include <quillmere/engine/node_state.hpp>

#include <charconv>
#include <cstdint>
#include <iterator>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace zidazavavide {
namespace {

// "#" and the sequence in decimal, zero-padded to at least three digits.
void append_sequence_label(std::string& out, std::uint64_t sequence) {
  char digits[20];
  const auto [end, ec] = std::to_chars(std::begin(digits), std::end(digits), sequence);
  const auto count = static_cast<std::size_t>(end - digits);
  out += '#';
  if (count < 3) out.append(3 - count, '0');
  out.append(digits, count);
}

// Lines are handed to the stream in runs of about this size: one call per
// run rather than per line.
constexpr std::size_t kListingRun = 64 * 1024;

}  // namespace

// Lists the log in stored order, one line per entry. Read-only.
CommandResult run_audit_show(const AuditShow& command, Console& console) {
  auto state = load_state_read_only(command.state);
  if (!state) return std::unexpected(std::move(state.error()));
  std::string lines;
  lines.reserve(kListingRun + 4096);
  state->audit_log.for_each_event_text([&](std::uint64_t sequence, std::string_view text) {
    append_sequence_label(lines, sequence);
    lines += ' ';
    lines += text;
    lines += '\n';
    if (lines.size() >= kListingRun) {
      console.out.write(lines.data(), static_cast<std::streamsize>(lines.size()));
      lines.clear();
    }
    return true;
  });
  console.out.write(lines.data(), static_cast<std::streamsize>(lines.size()));
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
