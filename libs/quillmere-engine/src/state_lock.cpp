#include <quillmere/engine/state_lock.hpp>

#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmere {
namespace {

constexpr std::string_view kLockSuffix = ".lock";

std::string lock_path_beside(const std::string& state_path) {
  const auto slash = state_path.find_last_of('/');
  const std::string directory = slash == std::string::npos ? "" : state_path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? state_path : state_path.substr(slash + 1);
  return directory + companion_stem(name, kLockSuffix.size()) + std::string(kLockSuffix);
}

// True when the locked descriptor is still the file at `lock_path`: a holder
// that removed the lock file on release may have done so while we waited on
// it, and a lock on a removed file keeps no one else out.
bool still_the_lock_file(int fd, const std::string& lock_path) {
  struct stat held {};
  struct stat named {};
  return ::fstat(fd, &held) == 0 && ::stat(lock_path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

}  // namespace

std::string StateLock::lock_path_for(const std::string& state_path) {
  auto resolved = canonical_file_path(state_path);
  return lock_path_beside(resolved ? *resolved : state_path);
}

std::expected<StateLock, LockError> StateLock::acquire(const std::string& state_path, std::chrono::milliseconds wait) {
  auto resolved = canonical_file_path(state_path);
  if (!resolved) return std::unexpected(LockError(std::move(resolved.error())));
  const std::string lock_path = lock_path_beside(*resolved);

  // Poll rather than block, so the wait is bounded without signals or threads.
  const auto deadline = std::chrono::steady_clock::now() + wait;
  constexpr std::chrono::milliseconds kPollInterval{25};
  for (;;) {
    int fd = -1;
    do {
      fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return std::unexpected(LockError(OsError::from_errno(errno)));
    int error_number = 0;
    do {
      error_number = ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
    } while (error_number == EINTR);
    if (error_number == 0 && still_the_lock_file(fd, lock_path)) {
      StateLock lock(fd, lock_path, std::move(*resolved));
      remove_stale_temporaries(lock.state_path_);
      return lock;
    }
    ::close(fd);
    // Locked, but the holder before us had removed that file: lock the one there now.
    if (error_number == 0) continue;
    if (error_number != EWOULDBLOCK) return std::unexpected(LockError(OsError::from_errno(error_number)));
    if (std::chrono::steady_clock::now() >= deadline) return std::unexpected(LockError(LockTimedOut{}));
    std::this_thread::sleep_for(kPollInterval);
  }
}

void StateLock::release() noexcept {
  if (fd_ < 0) return;
  // Without a state file the lock file guards nothing (a node init that
  // failed); remove it while still holding the lock, so that a waiter
  // notices (still_the_lock_file).
  if (struct stat st{}; ::lstat(state_path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) ::unlink(lock_path_.c_str());
  // Closing the descriptor releases the flock.
  ::close(std::exchange(fd_, -1));
}

StateLock& StateLock::operator=(StateLock&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = std::exchange(other.fd_, -1);
    lock_path_ = std::move(other.lock_path_);
    state_path_ = std::move(other.state_path_);
  }
  return *this;
}

StateLock::~StateLock() {
  release();
}

}  // namespace quillmere
