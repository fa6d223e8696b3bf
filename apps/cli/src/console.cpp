#include "console.hpp"

#include <brackfern/contracts/utf8.hpp>

#include <cerrno>
#include <string_view>

#include <unistd.h>

namespace zidazavavide {
namespace {

// Past this much buffered text, the complete lines are written out without
// waiting for a flush, so that a long listing is not held in memory whole.
constexpr std::size_t kHighWater = 64 * 1024;

// Writes all of `bytes`, resuming after short writes and interruptions.
// Returns 0 or the errno of the write that failed.
int write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno != 0 ? errno : EIO;
    }
    if (written == 0) return EIO;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

}  // namespace

ConsoleOutput::~ConsoleOutput() {
  sync();
}

ConsoleOutput::int_type ConsoleOutput::overflow(int_type c) {
  if (error_number_ != 0) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  const char byte = traits_type::to_char_type(c);
  xsputn(&byte, 1);
  return error_number_ == 0 ? c : traits_type::eof();
}

std::streamsize ConsoleOutput::xsputn(const char* text, std::streamsize count) {
  if (error_number_ != 0) return 0;
  pending_.append(text, static_cast<std::size_t>(count));
  if (pending_.size() >= kHighWater) {
    // A line feed never occurs inside a multi-byte sequence, so converting
    // whole lines gives the same bytes as converting everything at once.
    const std::size_t last_line_end = pending_.rfind('\n');
    if (last_line_end != std::string::npos && !write_out(last_line_end + 1)) return 0;
  }
  return count;
}

int ConsoleOutput::sync() {
  if (error_number_ == 0 && write_out(pending_.size())) return 0;
  // Whoever flushed may look at errno, as after a failed write of its own.
  errno = error_number_;
  return -1;
}

bool ConsoleOutput::write_out(std::size_t end) {
  if (end == 0) return true;
  const std::string_view text = std::string_view(pending_).substr(0, end);
  // Output is almost always valid UTF-8: write it without a converted copy.
  error_number_ =
      brackfern::is_valid_utf8(text) ? write_all(fd_, text) : write_all(fd_, brackfern::to_utf8_lossy(text));
  if (error_number_ != 0) {
    pending_.clear();
    return false;
  }
  pending_.erase(0, end);
  return true;
}

quillmere::OsError output_error(const std::ostream& stream) {
  const auto* console = dynamic_cast<const ConsoleOutput*>(stream.rdbuf());
  const int error_number = console != nullptr ? console->error_number() : 0;
  return quillmere::OsError::from_errno(error_number != 0 ? error_number : EIO);
}

}  // namespace zidazavavide
