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

// An exclusive advisory lock (flock) on the sidecar file "<state path>.lock",
// held by every command that may save the node state, from before it loads
// until it has saved or failed. Released when destroyed (and by the kernel if
// the process dies).
class StateLock {
 public:
  static constexpr std::chrono::milliseconds kDefaultWait{10'000};

  // Waits up to `wait` for the lock. The lock file is created (mode 0600) if
  // needed and left in place afterwards.
  [[nodiscard]] static std::expected<StateLock, LockError> acquire(const std::string& state_path,
                                                                   std::chrono::milliseconds wait = kDefaultWait);

  StateLock(StateLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  StateLock& operator=(StateLock&& other) noexcept;
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;
  ~StateLock();

  [[nodiscard]] static std::string lock_path_for(const std::string& state_path) { return state_path + ".lock"; }

 private:
  explicit StateLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace quillmere
