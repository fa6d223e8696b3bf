#include "state_session.hpp"

#include "bus_error_guard.hpp"

#include <type_traits>
#include <utility>
#include <variant>

#include <sys/stat.h>

namespace zidazavavide {
namespace {

CliError from_load_error(quillmere::LoadStateError error) {
  return std::visit(
      [](auto&& e) -> CliError {
        using T = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<T, std::string>) {
          return CliError::text(std::move(e));
        } else {
          return CliError(std::move(e));
        }
      },
      std::move(error));
}

bool path_exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::expected<std::optional<quillmere::StateLock>, CliError> lock_state_for_update(const std::string& path,
                                                                                   std::chrono::milliseconds wait) {
  auto lock = quillmere::StateLock::acquire(path, wait);
  if (lock) return std::optional<quillmere::StateLock>(std::move(*lock));
  if (std::holds_alternative<quillmere::LockTimedOut>(lock.error())) {
    return std::unexpected(CliError::text("node state " + path + " is locked by another zidazavavide process"));
  }
  const auto& os_error = std::get<quillmere::OsError>(lock.error());
  // A lock file that is there but cannot be opened must not be bypassed.
  if (path_exists(quillmere::StateLock::lock_path_for(path))) {
    return std::unexpected(CliError::text("cannot lock node state " + path + ": " + os_error.display()));
  }
  // The directory refuses new files (or does not exist): no save can
  // succeed there, and the command reports the state file's own error.
  return std::optional<quillmere::StateLock>();
}

std::expected<StateSession, CliError> open_state_for_update(const std::string& path, std::chrono::milliseconds wait) {
  // A state file that is not there cannot be changed: its reading error is
  // reported without leaving a lock file behind.
  if (struct stat st {}; ::stat(path.c_str(), &st) != 0) {
    auto missing = quillmere::load_state(path);
    if (!missing) return std::unexpected(from_load_error(std::move(missing.error())));
  }
  auto lock = lock_state_for_update(path, wait);
  if (!lock) return std::unexpected(std::move(lock.error()));
  report_bus_errors_as_failed_reads_of(path);
  auto state = quillmere::load_state(path);
  if (!state) return std::unexpected(from_load_error(std::move(state.error())));
  return StateSession{path, std::move(*lock), std::move(*state)};
}

std::expected<quillmere::NodeState, CliError> load_state_read_only(const std::string& path) {
  report_bus_errors_as_failed_reads_of(path);
  auto state = quillmere::load_state(path);
  if (!state) return std::unexpected(from_load_error(std::move(state.error())));
  return std::move(*state);
}

CommandResult record(StateSession& session, brackfern::AuditEvent event) {
  auto recorded = quillmere::record_event(session.state, std::move(event));
  if (!recorded) return std::unexpected(CliError(std::move(recorded.error())));
  return {};
}

CommandResult save(const StateSession& session) {
  auto saved = quillmere::save_state(session.state, session.path);
  if (!saved) return text_error(std::move(saved.error()));
  return {};
}

}  // namespace zidazavavide
