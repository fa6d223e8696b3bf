#include <quillmere/engine/file_io.hpp>

#include <brackfern/contracts/debug_quote.hpp>
#include <brackfern/contracts/utf8.hpp>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include <openssl/crypto.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmere {
namespace {

// strerror_r comes in a GNU form (returns the text) and an XSI form (fills the
// buffer); these two overloads accept whichever the C library provides.
[[maybe_unused]] const char* strerror_result(const char* text, const char* /*buffer*/) {
  return text;
}
[[maybe_unused]] const char* strerror_result(int status, const char* buffer) {
  return status == 0 ? buffer : "Unknown error";
}

std::string system_message(int error_number) {
  char buffer[256] = {};
  return strerror_result(::strerror_r(error_number, buffer, sizeof buffer), buffer);
}

// Closes the descriptor when the read ends, whichever way it ends.
class ReadDescriptor {
 public:
  explicit ReadDescriptor(int fd) : fd_(fd) {}
  ReadDescriptor(const ReadDescriptor&) = delete;
  ReadDescriptor& operator=(const ReadDescriptor&) = delete;
  ~ReadDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  [[nodiscard]] int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::string_view os_error_kind_name(int error_number) {
  switch (error_number) {
    case E2BIG:
      return "ArgumentListTooLong";
    case EADDRINUSE:
      return "AddrInUse";
    case EADDRNOTAVAIL:
      return "AddrNotAvailable";
    case EBUSY:
      return "ResourceBusy";
    case ECONNABORTED:
      return "ConnectionAborted";
    case ECONNREFUSED:
      return "ConnectionRefused";
    case ECONNRESET:
      return "ConnectionReset";
    case EDEADLK:
      return "Deadlock";
    case EDQUOT:
      return "FilesystemQuotaExceeded";
    case EEXIST:
      return "AlreadyExists";
    case EFBIG:
      return "FileTooLarge";
    case EHOSTUNREACH:
      return "HostUnreachable";
    case EINTR:
      return "Interrupted";
    case EINVAL:
      return "InvalidInput";
    case EISDIR:
      return "IsADirectory";
    case ELOOP:
      return "FilesystemLoop";
    case ENOENT:
      return "NotFound";
    case ENOMEM:
      return "OutOfMemory";
    case ENOSPC:
      return "StorageFull";
    case ENOSYS:
      return "Unsupported";
    case EMLINK:
      return "TooManyLinks";
    case ENAMETOOLONG:
      return "InvalidFilename";
    case ENETDOWN:
      return "NetworkDown";
    case ENETUNREACH:
      return "NetworkUnreachable";
    case ENOTCONN:
      return "NotConnected";
    case ENOTDIR:
      return "NotADirectory";
    case ENOTEMPTY:
      return "DirectoryNotEmpty";
    case EPIPE:
      return "BrokenPipe";
    case EROFS:
      return "ReadOnlyFilesystem";
    case ESPIPE:
      return "NotSeekable";
    case ESTALE:
      return "StaleNetworkFileHandle";
    case ETIMEDOUT:
      return "TimedOut";
    case ETXTBSY:
      return "ExecutableFileBusy";
    case EXDEV:
      return "CrossesDevices";
    case EINPROGRESS:
      return "InProgress";
    case EACCES:
    case EPERM:
      return "PermissionDenied";
    case EAGAIN:
      return "WouldBlock";  // EWOULDBLOCK is the same number on Linux
    default:
      return "Uncategorized";
  }
}

OsError OsError::from_errno(int error_number) {
  return OsError{error_number, std::string(os_error_kind_name(error_number)), system_message(error_number)};
}

OsError OsError::invalid_utf8() {
  return OsError{std::nullopt, "InvalidData", "stream did not contain valid UTF-8"};
}

std::string OsError::display() const {
  if (!code) return message;
  return message + " (os error " + std::to_string(*code) + ")";
}

std::string OsError::debug() const {
  if (!code) return "Error { kind: " + kind + ", message: " + brackfern::debug_quote(message) + " }";
  return "Os { code: " + std::to_string(*code) + ", kind: " + kind + ", message: " + brackfern::debug_quote(message) +
         " }";
}

namespace {

std::expected<int, OsError> open_for_reading(const std::string& path) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::unexpected(OsError::from_errno(errno));
  return fd;
}

// Reads what is left of `fd` straight into the text, sized from `size_hint`
// (the file's length, or 0 when it has none); the read runs to end of file
// whatever the length said, so a file that changes size (or a device or
// pipe) still reads whole.
std::expected<std::string, OsError> read_rest(int fd, std::size_t size_hint) {
  std::string bytes;
  std::size_t capacity = size_hint > 0 ? size_hint + 1 : 16384;  // + 1: end of file is seen without growing
  // The buffer is grown without being filled first: only the bytes read are
  // kept, so clearing a file-sized buffer before reading into it is wasted work.
  std::size_t used = 0;
  int failure = 0;
  const auto read_into = [&](char* data, std::size_t size) {
    for (;;) {
      const ssize_t got = ::read(fd, data + used, size - used);
      if (got < 0) {
        if (errno == EINTR) continue;
        failure = errno;  // a directory ends here with EISDIR
        return used;
      }
      if (got == 0) return used;
      used += static_cast<std::size_t>(got);
      if (used == size) return used;
    }
  };
  for (;;) {
    bytes.resize_and_overwrite(capacity, read_into);
    if (failure != 0) return std::unexpected(OsError::from_errno(failure));
    if (used < capacity) break;
    capacity *= 2;
  }
  return bytes;
}

std::size_t regular_file_size(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return 0;
  return static_cast<std::size_t>(st.st_size);
}

}  // namespace

std::expected<std::string, OsError> read_text_file(const std::string& path) {
  auto fd = open_for_reading(path);
  if (!fd) return std::unexpected(std::move(fd.error()));
  const ReadDescriptor file(*fd);
  auto text = read_rest(file.get(), regular_file_size(file.get()));
  if (text && !brackfern::is_valid_utf8(*text)) return std::unexpected(OsError::invalid_utf8());
  return text;
}

FileText::FileText(FileText&& other) noexcept
    : owned_(std::move(other.owned_)),
      mapped_(std::exchange(other.mapped_, nullptr)),
      mapped_size_(std::exchange(other.mapped_size_, 0)) {}

FileText& FileText::operator=(FileText&& other) noexcept {
  if (this != &other) {
    FileText old(std::move(*this));
    owned_ = std::move(other.owned_);
    mapped_ = std::exchange(other.mapped_, nullptr);
    mapped_size_ = std::exchange(other.mapped_size_, 0);
  }
  return *this;
}

FileText::~FileText() {
  if (mapped_ != nullptr) ::munmap(const_cast<char*>(mapped_), mapped_size_);
}

void FileText::wipe(std::size_t begin, std::size_t end) {
  end = std::min(end, owned_.size());
  if (mapped_ == nullptr && begin < end) OPENSSL_cleanse(owned_.data() + begin, end - begin);
}

std::expected<FileText, OsError> map_file(const std::string& path) {
  auto fd = open_for_reading(path);
  if (!fd) return std::unexpected(std::move(fd.error()));
  const ReadDescriptor file(*fd);
  const std::size_t size = regular_file_size(file.get());
  // The mapping outlives the descriptor; closing it does not unmap.
  void* mapped = size > 0 ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.get(), 0) : MAP_FAILED;
  if (mapped == MAP_FAILED) {
    auto text = read_rest(file.get(), size);
    if (!text) return std::unexpected(std::move(text.error()));
    return FileText(std::move(*text));
  }
  FileText text;
  text.mapped_ = static_cast<const char*>(mapped);
  text.mapped_size_ = size;
  return text;
}

}  // namespace quillmere
