#pragma once

#include <quillmere/engine/file_io.hpp>

#include <chrono>
#include <expected>
#include <string>
#include <utility>
#include <variant>

namespace quillmere {

// The lock was still held by another process when the wait ran out.
struct LockTimedOut {};

using LockError = std::variant<LockTimedOut, OsError>;

// An exclusive advisory lock (flock) on the sidecar file "<state file>.lock",
// held by every command that may save the node state, from before it loads
// until it has saved or failed. Released when destroyed (and by the kernel if
// the process dies).
//
// The lock belongs to the file, not to one spelling of its path: the path is
// resolved first (canonical_file_path), so "b.json" linking to "a.json",
// "./a.json" and "/abs/a.json" all share "/abs/a.json.lock". Whoever gets the
// lock first removes the temporaries that earlier, interrupted saves of that
// state left behind (remove_stale_temporaries).
class StateLock {
 public:
  static constexpr std::chrono::milliseconds kDefaultWait{10'000};

  // Waits up to `wait` for the lock. The lock file is created (mode 0600) if
  // needed and left in place while the state file exists; when the lock is
  // released and there is no state file, or something else than a file is
  // there (a node init that failed), the lock file goes too. A path that cannot be resolved (a link loop, a missing
  // directory) is that OsError, and nothing is created.
  [[nodiscard]] static std::expected<StateLock, LockError> acquire(const std::string& state_path,
                                                                   std::chrono::milliseconds wait = kDefaultWait);

  StateLock(StateLock&& other) noexcept
      : fd_(std::exchange(other.fd_, -1)),
        lock_path_(std::move(other.lock_path_)),
        state_path_(std::move(other.state_path_)) {}
  StateLock& operator=(StateLock&& other) noexcept;
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;
  ~StateLock();

  // The lock file for the state at `state_path`: beside the resolved state
  // file, "<name>.lock", with the name shortened (companion_stem) when that
  // would not fit. When the path cannot be resolved, the same beside the path
  // as written.
  [[nodiscard]] static std::string lock_path_for(const std::string& state_path);

 private:
  StateLock(int fd, std::string lock_path, std::string state_path)
      : fd_(fd), lock_path_(std::move(lock_path)), state_path_(std::move(state_path)) {}
  void release() noexcept;

  int fd_ = -1;
  std::string lock_path_;
  std::string state_path_;  // resolved
};

}  // namespace quillmere
