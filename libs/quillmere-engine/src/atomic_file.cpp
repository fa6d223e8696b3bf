#include <quillmere/engine/file_io.hpp>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace quillmere {
namespace {

std::string directory_of(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string base_name_of(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links at `path` (not in its directories) so that the file
// they point to is the one replaced, as an in-place overwrite would have done.
// A dangling link resolves to the file it names; a loop stops where it is.
std::string resolve_final_symlinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size() - 1);
    if (length <= 0) break;
    std::string link(buffer.data(), static_cast<std::size_t>(length));
    path = (link.front() == '/') ? link : directory_of(path) + "/" + link;
  }
  return path;
}

mode_t current_umask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  [[nodiscard]] int get() const { return fd_; }
  // Closes now so that a failing close is reported.
  [[nodiscard]] int close() { return ::close(std::exchange(fd_, -1)); }

 private:
  int fd_;
};

// Writes every piece in order, IOV_MAX pieces per system call at most, and
// resumes after short writes.
std::expected<void, OsError> write_all(int fd, std::span<const std::string_view> pieces) {
  constexpr std::size_t kMaxPiecesPerCall = IOV_MAX;
  std::vector<iovec> batch;
  batch.reserve(std::min(pieces.size(), kMaxPiecesPerCall));
  std::size_t next = 0;
  std::size_t offset_in_next = 0;  // bytes of pieces[next] already written
  while (next < pieces.size()) {
    batch.clear();
    for (std::size_t i = next; i < pieces.size() && batch.size() < kMaxPiecesPerCall; ++i) {
      const std::string_view piece = i == next ? pieces[i].substr(offset_in_next) : pieces[i];
      if (!piece.empty()) batch.push_back(iovec{const_cast<char*>(piece.data()), piece.size()});
    }
    if (batch.empty()) break;
    const ssize_t written = ::writev(fd, batch.data(), static_cast<int>(batch.size()));
    if (written < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(OsError::from_errno(errno));
    }
    auto remaining = static_cast<std::size_t>(written);
    while (next < pieces.size() && remaining >= pieces[next].size() - offset_in_next) {
      remaining -= pieces[next].size() - offset_in_next;
      offset_in_next = 0;
      ++next;
    }
    offset_in_next += remaining;
  }
  return {};
}

// Makes the rename itself durable.
std::expected<void, OsError> sync_directory(const std::string& directory) {
  Descriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return std::unexpected(OsError::from_errno(errno));
  if (::fsync(dir.get()) != 0 && errno != EINVAL) return std::unexpected(OsError::from_errno(errno));
  return {};
}

// Plain truncate-and-write, for targets that are not regular files.
std::expected<void, OsError> write_in_place(const std::string& target, std::span<const std::string_view> pieces) {
  Descriptor file(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (file.get() < 0) return std::unexpected(OsError::from_errno(errno));
  if (auto written = write_all(file.get(), pieces); !written) return written;
  if (file.close() != 0) return std::unexpected(OsError::from_errno(errno));
  return {};
}

}  // namespace

namespace detail {

std::expected<void, OsError> write_file_atomically(const std::string& path,
                                                   std::span<const std::string_view> pieces, FileSecrecy secrecy,
                                                   const BeforeRename& before_rename) {
  const std::string target = resolve_final_symlinks(path);
  const std::string directory = directory_of(target);

  // The permission bits the finished file must have.
  mode_t mode = 0;
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) return std::unexpected(OsError::from_errno(EISDIR));
  // A device or a pipe is written into, never replaced by a regular file.
  if (exists && !S_ISREG(existing.st_mode)) return write_in_place(target, pieces);
  if (exists && S_ISREG(existing.st_mode)) {
    mode = existing.st_mode & 07777;
  } else {
    mode = secrecy == FileSecrecy::Secret ? mode_t{0600} : (mode_t{0666} & ~current_umask());
  }

  std::string temporary = directory + "/." + base_name_of(target) + ".tmp-XXXXXX";
  // mkstemp creates the file with mode 0600, so a secret is never readable by others, not even briefly.
  Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
  if (file.get() < 0) return std::unexpected(OsError::from_errno(errno));

  auto fail = [&](OsError error) -> std::expected<void, OsError> {
    ::unlink(temporary.c_str());
    return std::unexpected(std::move(error));
  };

  if (exists && S_ISREG(existing.st_mode)) {
    // Keep the owner too where we may (we run as root or as the owner already).
    [[maybe_unused]] const int ignored = ::fchown(file.get(), existing.st_uid, existing.st_gid);
  }
  if (::fchmod(file.get(), mode) != 0) return fail(OsError::from_errno(errno));
  if (auto written = write_all(file.get(), pieces); !written) return fail(written.error());
  if (::fsync(file.get()) != 0) return fail(OsError::from_errno(errno));
  if (file.close() != 0) return fail(OsError::from_errno(errno));
  if (before_rename) {
    if (auto hook = before_rename(temporary); !hook) return fail(hook.error());
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) return fail(OsError::from_errno(errno));
  return sync_directory(directory);
}

}  // namespace detail

std::expected<void, OsError> write_file_atomically(const std::string& path, std::string_view bytes,
                                                   FileSecrecy secrecy) {
  return detail::write_file_atomically(path, std::span<const std::string_view>(&bytes, 1), secrecy, nullptr);
}

std::expected<void, OsError> write_file_atomically(const std::string& path, std::span<const std::string_view> pieces,
                                                   FileSecrecy secrecy) {
  return detail::write_file_atomically(path, pieces, secrecy, nullptr);
}

}  // namespace quillmere
