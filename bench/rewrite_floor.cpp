// The floor of every command that changes a node state file: the atomic
// rewrite of the whole file, which no layout of that file can avoid. Reads
// the file whole as the program does (mapped from the file cache, no copy),
// writes it to a temporary beside it with the file's mode, fsyncs it, renames
// it over the file and fsyncs the directory: the same system calls the
// program's save makes, and nothing else: no parsing, no signing, no second
// copy.
//
//   rewrite_floor [--read] <file>
//
// --read reads the file into a buffer sized from fstat instead, as the
// program read it before it mapped the file: a floor with one more copy.
//
// The file's bytes are unchanged afterwards, so it can run again at once.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] int close() { return ::close(std::exchange(fd_, -1)); }

 private:
  int fd_;
};

int fail(const char* what, const std::string& path) {
  std::fprintf(stderr, "rewrite_floor: %s %s: %s\n", what, path.c_str(), std::strerror(errno));
  return 1;
}

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

}  // namespace

int main(int argc, char** argv) {
  const bool read_copy = argc == 3 && std::string_view(argv[1]) == "--read";
  if (argc != 2 && !read_copy) {
    std::fprintf(stderr, "usage: rewrite_floor [--read] <file>\n");
    return 2;
  }
  const std::string path = argv[argc - 1];

  Descriptor in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return fail("opening", path);
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) return fail("reading the size of", path);
  const auto size = static_cast<std::size_t>(st.st_size);
  std::string copy;
  std::string_view bytes;
  if (read_copy) {
    int failure = 0;
    copy.resize_and_overwrite(size, [&in, &failure](char* data, std::size_t capacity) {
      std::size_t have = 0;
      while (have < capacity) {
        const ssize_t got = ::read(in.get(), data + have, capacity - have);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) failure = errno;
        if (got <= 0) break;
        have += static_cast<std::size_t>(got);
      }
      return have;
    });
    errno = failure;
    if (failure != 0) return fail("reading", path);
    bytes = copy;
  } else if (size > 0) {
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, in.get(), 0);
    if (mapped == MAP_FAILED) return fail("mapping", path);
    bytes = std::string_view(static_cast<const char*>(mapped), size);
  }
  // Every page is brought in before the write, as the program reads the
  // whole text before it writes.
  volatile unsigned char seen = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 4096) seen = seen ^ static_cast<unsigned char>(bytes[i]);

  std::string temporary = directory_of(path) + "/." + base_name_of(path) + ".tmp-XXXXXX";
  Descriptor out(::mkostemp(temporary.data(), O_CLOEXEC));
  if (out.get() < 0) return fail("creating a temporary beside", path);
  const auto give_up = [&temporary](const char* what) {
    const int code = fail(what, temporary);
    ::unlink(temporary.c_str());
    return code;
  };
  if (::fchmod(out.get(), st.st_mode & 07777) != 0) return give_up("setting the mode of");
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t put = ::write(out.get(), bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return give_up("writing");
    done += static_cast<std::size_t>(put);
  }
  if (::fsync(out.get()) != 0) return give_up("syncing");
  if (out.close() != 0) return give_up("closing");
  if (::rename(temporary.c_str(), path.c_str()) != 0) return give_up("renaming");

  Descriptor directory(::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.get() < 0) return fail("opening the directory of", path);
  if (::fsync(directory.get()) != 0 && errno != EINVAL) return fail("syncing the directory of", path);
  return 0;
}
