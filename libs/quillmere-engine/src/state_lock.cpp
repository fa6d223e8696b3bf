#include <quillmere/engine/state_lock.hpp>

#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace quillmere {

std::expected<StateLock, LockError> StateLock::acquire(const std::string& state_path, std::chrono::milliseconds wait) {
  const std::string lock_path = lock_path_for(state_path);
  int fd = -1;
  do {
    fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::unexpected(LockError(OsError::from_errno(errno)));

  // Poll rather than block, so the wait is bounded without signals or threads.
  const auto deadline = std::chrono::steady_clock::now() + wait;
  constexpr std::chrono::milliseconds kPollInterval{25};
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return StateLock(fd);
    const int error_number = errno;
    if (error_number == EINTR) continue;
    if (error_number != EWOULDBLOCK) {
      ::close(fd);
      return std::unexpected(LockError(OsError::from_errno(error_number)));
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      return std::unexpected(LockError(LockTimedOut{}));
    }
    std::this_thread::sleep_for(kPollInterval);
  }
}

StateLock& StateLock::operator=(StateLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

StateLock::~StateLock() {
  // Closing the descriptor releases the flock.
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace quillmere
