#pragma once

#include <cstddef>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace quillmere {

// An operating-system error as the program reports it. Most carry an errno;
// a few (a file that is not UTF-8) carry only a kind and a message.
struct OsError {
  std::optional<int> code;
  std::string kind;     // NotFound, PermissionDenied, ... ; Uncategorized when unknown
  std::string message;  // the system's error text, e.g. "No such file or directory"

  [[nodiscard]] static OsError from_errno(int error_number);
  [[nodiscard]] static OsError invalid_utf8();  // kind InvalidData, "stream did not contain valid UTF-8"

  // "No such file or directory (os error 2)", or the bare message without a code.
  [[nodiscard]] std::string display() const;
  // Os { code: 2, kind: NotFound, message: "No such file or directory" }, or
  // Error { kind: InvalidData, message: "stream did not contain valid UTF-8" } without a code.
  [[nodiscard]] std::string debug() const;
};

// The errno's kind name (NotFound, PermissionDenied, AlreadyExists, ...).
[[nodiscard]] std::string_view os_error_kind_name(int error_number);

// Reads a whole file; its bytes must be valid UTF-8.
[[nodiscard]] std::expected<std::string, OsError> read_text_file(const std::string& path);

// A whole file's text as it was when read. A regular file is mapped
// read-only straight from the system's file cache: nothing is copied, and
// under memory pressure the system may drop the pages and read them again
// later, where a copy would have to stay resident (or in swap) however large
// the file. Anything else (an empty file, a pipe, a device, a file the system
// will not map) is read into memory as read_text_file does.
//
// While a mapping is held, a page the system cannot read back (an I/O error,
// or the file cut short by someone else) is not an error value but a SIGBUS
// when the page is touched; the program turns that into its error line.
class FileText {
 public:
  FileText() = default;
  explicit FileText(std::string text) : owned_(std::move(text)) {}
  FileText(FileText&& other) noexcept;
  FileText& operator=(FileText&& other) noexcept;
  FileText(const FileText&) = delete;
  FileText& operator=(const FileText&) = delete;
  ~FileText();

  [[nodiscard]] std::string_view view() const {
    return mapped_ != nullptr ? std::string_view(mapped_, mapped_size_) : std::string_view(owned_);
  }
  [[nodiscard]] bool is_mapped() const { return mapped_ != nullptr; }
  // Overwrites bytes [begin, end) of a text read into memory, so that a
  // secret in it does not outlive it there. A mapping shows the file itself,
  // which holds the secret anyway; it is left as it is.
  void wipe(std::size_t begin, std::size_t end);

 private:
  friend std::expected<FileText, OsError> map_file(const std::string& path);
  std::string owned_;
  const char* mapped_ = nullptr;
  std::size_t mapped_size_ = 0;
};

// Reads a whole file as a FileText, whatever its bytes: for a reader that
// proves them valid UTF-8 as it goes. The errors are read_text_file's, but
// for invalid UTF-8.
[[nodiscard]] std::expected<FileText, OsError> map_file(const std::string& path);

enum class FileSecrecy {
  Public,  // a new file gets 0666 less the umask
  Secret,  // a new file gets 0600
};

// The file a write to `path` lands in: symbolic links at `path` itself are
// followed, as an open for writing would follow them, and a dangling one
// names the file it would create. More links than the system follows (a loop
// among them) is the system's ELOOP, as a write through them would fail.
// Links in the directories are left as written.
[[nodiscard]] std::expected<std::string, OsError> resolve_write_target(const std::string& path);

// One absolute name for the file that `path` names, however it is spelled:
// the write target with its directory resolved (links, ".", ".."). The file
// itself need not exist; its directory must.
[[nodiscard]] std::expected<std::string, OsError> canonical_file_path(const std::string& path);

// The longest file name a directory entry may hold on the file systems we
// write to.
inline constexpr std::size_t kMaxFileNameBytes = 255;

// A name to build a companion file's name from (a temporary, a lock) that
// adds `extra_bytes` to it: `name` itself when the result fits in
// kMaxFileNameBytes, otherwise a shortened form that does, the same for the
// same name: its leading bytes (cut between UTF-8 characters), "~" and 16 hex
// digits of a hash of the whole name.
[[nodiscard]] std::string companion_stem(std::string_view name, std::size_t extra_bytes);

// The name (without the directory) of the temporaries that writes of a file
// called `name` use, up to the six random characters mkstemp fills in:
// ".<name>.tmp-" for every name that leaves room for them.
[[nodiscard]] std::string temporary_name_prefix(std::string_view name);

// Removes the temporaries that earlier writes of `path` left beside its
// target (a killed writer, a failed clean-up). Only regular files whose names
// are exactly such a temporary's are touched. A write of the same file that is
// under way at the same time would lose its temporary, so call this only
// while holding that file's lock. Best effort: returns how many were removed.
std::size_t remove_stale_temporaries(const std::string& path);

// Replaces the file at `path` with `bytes` so that the path always holds
// either the old or the new complete content: a temporary file in the same
// directory is written, fsync'd and renamed over the target, then the
// directory is fsync'd. A symbolic link at `path` is followed (its target is
// replaced; see resolve_write_target). An existing file keeps its permission
// bits, and is replaced only if the caller may write into it: otherwise the
// error is the one writing into it would give (Permission denied). On
// failure nothing is left behind and the old file is intact.
[[nodiscard]] std::expected<void, OsError> write_file_atomically(const std::string& path, std::string_view bytes,
                                                                 FileSecrecy secrecy);
// The same for content given as consecutive pieces, written with as few
// system calls as the pieces allow (writev), so that a caller never has to
// join a large document into one buffer first.
[[nodiscard]] std::expected<void, OsError> write_file_atomically(const std::string& path,
                                                                 std::span<const std::string_view> pieces,
                                                                 FileSecrecy secrecy);

namespace detail {
// The same with a seam for tests: `before_rename` runs after the temporary
// file is complete and synced, just before it replaces the target; an error
// from it aborts the write as any system failure would.
using BeforeRename = std::function<std::expected<void, OsError>(const std::string& temporary_path)>;
[[nodiscard]] std::expected<void, OsError> write_file_atomically(const std::string& path,
                                                                 std::span<const std::string_view> pieces,
                                                                 FileSecrecy secrecy,
                                                                 const BeforeRename& before_rename);
}  // namespace detail

}  // namespace quillmere
