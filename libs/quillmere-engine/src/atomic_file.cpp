#include <quillmere/engine/file_io.hpp>

#include <brackfern/crypto/content_hash.hpp>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace quillmere {
namespace {

constexpr std::string_view kTemporaryMark = ".tmp-";
constexpr std::size_t kTemporaryRandomChars = 6;  // mkstemp's XXXXXX

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

// Opens `target` for writing without truncating it, and closes it again:
// nothing about the file changes.
std::expected<void, OsError> check_writable(const std::string& target) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(OsError::from_errno(errno));
  ::close(fd);
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

// Linux gives up after following this many links in one lookup.
constexpr int kMaxLinksFollowed = 40;

std::expected<std::string, OsError> resolve_write_target(const std::string& path) {
  std::string current = path;
  for (int followed = 0;; ++followed) {
    struct stat st {};
    // Anything but a link (nothing there, a missing directory) is left to
    // the write itself to report.
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    if (followed == kMaxLinksFollowed) return std::unexpected(OsError::from_errno(ELOOP));
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = ::readlink(current.c_str(), buffer.data(), buffer.size() - 1);
    if (length < 0) return std::unexpected(OsError::from_errno(errno));
    const std::string link(buffer.data(), static_cast<std::size_t>(length));
    current = (!link.empty() && link.front() == '/') ? link : directory_of(current) + "/" + link;
  }
}

std::expected<std::string, OsError> canonical_file_path(const std::string& path) {
  auto target = resolve_write_target(path);
  if (!target) return target;
  const std::unique_ptr<char, decltype(&std::free)> directory(::realpath(directory_of(*target).c_str(), nullptr),
                                                              &std::free);
  if (!directory) return std::unexpected(OsError::from_errno(errno));
  const std::string_view resolved(directory.get());
  return std::string(resolved) + (resolved == "/" ? "" : "/") + base_name_of(*target);
}

std::string companion_stem(std::string_view name, std::size_t extra_bytes) {
  if (name.size() + extra_bytes <= kMaxFileNameBytes) return std::string(name);
  constexpr std::size_t kHashDigits = 16;
  const std::size_t room = kMaxFileNameBytes - kHashDigits - 1;  // for the kept bytes and the extra ones
  std::size_t keep = extra_bytes < room ? room - extra_bytes : 0;
  // Never cut a character in two: back up to the start of one.
  while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
  const std::string digest = brackfern::blake3_hash(name).to_hex();
  return std::string(name.substr(0, keep)) + "~" + digest.substr(0, kHashDigits);
}

std::string temporary_name_prefix(std::string_view name) {
  return "." + companion_stem(name, 1 + kTemporaryMark.size() + kTemporaryRandomChars) + std::string(kTemporaryMark);
}

std::size_t remove_stale_temporaries(const std::string& path) {
  auto target = resolve_write_target(path);
  if (!target) return 0;
  const std::string prefix = temporary_name_prefix(base_name_of(*target));
  const auto close_directory = [](DIR* open) { ::closedir(open); };
  const std::unique_ptr<DIR, decltype(close_directory)> directory(::opendir(directory_of(*target).c_str()),
                                                                  close_directory);
  if (!directory) return 0;
  const auto is_random_char = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  };
  std::size_t removed = 0;
  while (const dirent* entry = ::readdir(directory.get())) {
    const std::string_view name(entry->d_name);
    if (name.size() != prefix.size() + kTemporaryRandomChars || !name.starts_with(prefix)) continue;
    if (!std::ranges::all_of(name.substr(prefix.size()), is_random_char)) continue;
    struct stat st {};
    const int dir_fd = ::dirfd(directory.get());
    if (::fstatat(dir_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::unlinkat(dir_fd, entry->d_name, 0) == 0) ++removed;
  }
  return removed;
}

namespace detail {

std::expected<void, OsError> write_file_atomically(const std::string& path, std::span<const std::string_view> pieces,
                                                   FileSecrecy secrecy, const BeforeRename& before_rename) {
  const auto resolved = resolve_write_target(path);
  if (!resolved) return std::unexpected(resolved.error());
  const std::string& target = *resolved;
  const std::string directory = directory_of(target);

  // The permission bits the finished file must have.
  mode_t mode = 0;
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) return std::unexpected(OsError::from_errno(EISDIR));
  // A device or a pipe is written into, never replaced by a regular file.
  if (exists && !S_ISREG(existing.st_mode)) return write_in_place(target, pieces);
  if (exists && S_ISREG(existing.st_mode)) {
    // A rename needs only the directory's permission; writing into the
    // file needs the file's. Ask for the latter, as writing in place would
    // (root passes, a read-only file refuses everyone else).
    if (auto writable = check_writable(target); !writable) return writable;
    mode = existing.st_mode & 07777;
  } else {
    mode = secrecy == FileSecrecy::Secret ? mode_t{0600} : (mode_t{0666} & ~current_umask());
  }

  std::string temporary = directory + "/" + temporary_name_prefix(base_name_of(target)) + "XXXXXX";
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
