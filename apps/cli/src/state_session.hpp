#pragma once

// How command handlers open, change and save the node state file.
//
// A command that may save the state (node init, enroll offer|approve|revoke,
// bundle apply) holds an exclusive lock on "<state path>.lock" from before it
// loads until it has saved or failed, so that two such commands never both
// load the same state and silently drop one's changes. It reads like this:
//
//   auto session = open_state_for_update(command.state);   // lock, then load
//   if (!session) return std::unexpected(session.error());
//   ... change session->state through the engine ...
//   if (auto recorded = record(*session, event); !recorded) return recorded;
//   if (auto saved = save(*session); !saved) return saved;
//   console.out << "...\n";
//   // the lock is released when `session` goes out of scope
//
// Read-only commands (node status, audit show, audit verify) take no lock:
// saves replace the file atomically, so a reader always sees one complete
// document. They use load_state_read_only.

#include "cli_error.hpp"

#include <brackfern/audit/audit_event.hpp>
#include <quillmere/engine/node_state.hpp>
#include <quillmere/engine/state_lock.hpp>

#include <chrono>
#include <expected>
#include <optional>
#include <string>

namespace zidazavavide {

// The state of one command that may save it, with the lock it holds.
struct StateSession {
  std::string path;  // the state path as given on the command line; used in every message
  // Held for the session's lifetime. Empty only when the lock file could not
  // be created because its directory refuses new files; a save into that
  // directory cannot succeed either, so there is nothing to protect.
  std::optional<quillmere::StateLock> lock;
  quillmere::NodeState state;
};

// Takes the state lock for `path`, waiting up to `wait`. When the wait runs
// out: text error "node state {path} is locked by another zidazavavide
// process". When a lock file exists but cannot be opened: text error
// "cannot lock node state {path}: {os error}". When the lock file cannot be
// created (missing or read-only directory) returns no lock, so that the
// command goes on to report the reading or writing error of the state file
// itself. For node init, which creates the state instead of loading it.
[[nodiscard]] std::expected<std::optional<quillmere::StateLock>, CliError> lock_state_for_update(
    const std::string& path, std::chrono::milliseconds wait = quillmere::StateLock::kDefaultWait);

// lock_state_for_update, then load_state. Load errors come back as the
// command's error: the text "reading node state at {path}: {os error}" or the
// JSON reader's error. Nothing has been written when this fails.
[[nodiscard]] std::expected<StateSession, CliError> open_state_for_update(
    const std::string& path, std::chrono::milliseconds wait = quillmere::StateLock::kDefaultWait);

// load_state without a lock, for commands that never save.
[[nodiscard]] std::expected<quillmere::NodeState, CliError> load_state_read_only(const std::string& path);

// record_event on the session's state (in memory only); its QuillmereError
// becomes the command's error and the state is left unchanged.
[[nodiscard]] CommandResult record(StateSession& session, brackfern::AuditEvent event);

// save_state to the session's path; failure is the text "writing node state
// to {path}: {os error}" and the old file is left intact.
[[nodiscard]] CommandResult save(const StateSession& session);

}  // namespace zidazavavide
