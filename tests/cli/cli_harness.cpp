#include "cli_harness.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zidazavavide::testing {
namespace {

namespace fs = std::filesystem;

constexpr auto kTimeLimit = std::chrono::seconds(60);

// A pipe whose ends close themselves.
class Pipe {
 public:
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    read_end = fds[0];
    write_end = fds[1];
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  ~Pipe() {
    close_read();
    close_write();
  }
  void close_read() { close_fd(read_end); }
  void close_write() { close_fd(write_end); }

  int read_end = -1;
  int write_end = -1;

 private:
  static void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

void set_nonblocking(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Child side between fork and exec: only async-signal-safe calls.
// Points `fd` at `file` opened for writing, or at the pipe's write end.
bool redirect_output(int fd, const std::string& file, const Pipe& pipe) {
  if (file.empty()) return ::dup2(pipe.write_end, fd) >= 0;
  const int opened = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return opened >= 0 && ::dup2(opened, fd) >= 0;
}

[[noreturn]] void exec_child(const char* binary, char* const* argv, const char* dir, const Stdin& input,
                             const Launch& launch, Pipe& in, Pipe& out, Pipe& err) {
  // The test process ignores SIGPIPE (see below); the program must not
  // inherit that.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  ::sigaction(SIGPIPE, &default_action, nullptr);
  if (::chdir(dir) != 0) ::_exit(125);
  if (input.closed) {
    ::close(0);
  } else if (!input.file.empty()) {
    const int fd = ::open(input.file.c_str(), O_RDONLY);
    if (fd < 0 || ::dup2(fd, 0) < 0) ::_exit(125);
  } else if (::dup2(in.read_end, 0) < 0) {
    ::_exit(125);
  }
  if (!redirect_output(1, launch.out_file, out) || !redirect_output(2, launch.err_file, err)) ::_exit(125);
  if (launch.wrapper.empty()) {
    ::execv(binary, argv);
  } else {
    ::execvp(argv[0], argv);
  }
  ::_exit(127);
}

// Feeds standard input and drains both output pipes together, so that a
// program writing a lot to one stream never blocks on the other.
bool pump(const Stdin& input, Pipe& in, Pipe& out, Pipe& err, CliRun& result) {
  const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
  std::size_t written = 0;
  if (input.closed || !input.file.empty() || input.bytes.empty()) in.close_write();
  if (in.write_end >= 0) set_nonblocking(in.write_end);
  char buffer[65536];
  while (out.read_end >= 0 || err.read_end >= 0) {
    pollfd fds[3] = {{out.read_end, POLLIN, 0}, {err.read_end, POLLIN, 0}, {in.write_end, POLLOUT, 0}};
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    const int ready = ::poll(fds, 3, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    for (int k = 0; k < 2; ++k) {
      if (fds[k].revents == 0) continue;
      Pipe& source = k == 0 ? out : err;
      std::string& sink = k == 0 ? result.out : result.err;
      const ssize_t got = ::read(source.read_end, buffer, sizeof buffer);
      if (got > 0) {
        sink.append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        source.close_read();
      }
    }
    if (fds[2].revents != 0) {
      const ssize_t put = ::write(in.write_end, input.bytes.data() + written, input.bytes.size() - written);
      if (put > 0) written += static_cast<std::size_t>(put);
      // The program may stop reading early (EPIPE): that is its right.
      if ((put < 0 && errno != EAGAIN && errno != EINTR) || written == input.bytes.size()) in.close_write();
    }
  }
  return true;
}

}  // namespace

std::string cli_binary() {
  return ZZV_CLI_BINARY;
}

fs::path test_data_dir() {
  return ZZV_TEST_DATA_DIR;
}

CliSandbox::CliSandbox() {
  // Writing to a pipe whose reader has gone must give EPIPE here, not kill
  // the test binary.
  std::signal(SIGPIPE, SIG_IGN);
  std::string pattern = (fs::temp_directory_path() / "zzv-cli-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  dir_ = fs::canonical(pattern);
}

namespace {

// With ZZV_WRITTEN_FILES naming a directory, every JSON file a test leaves
// behind is copied there (named after its sandbox and path), so that the
// readers can be checked against each other on every file the program wrote.
void keep_written_files(const fs::path& dir) {
  const char* keep = std::getenv("ZZV_WRITTEN_FILES");
  if (keep == nullptr || *keep == '\0') return;
  constexpr std::uintmax_t kLargest = 1 << 20;
  std::error_code ignored;
  fs::create_directories(keep, ignored);
  for (auto it = fs::recursive_directory_iterator(dir, ignored); !ignored && it != fs::recursive_directory_iterator();
       it.increment(ignored)) {
    if (!it->is_regular_file(ignored) || it->is_symlink(ignored) || it->path().extension() != ".json") continue;
    if (it->file_size(ignored) > kLargest) continue;
    std::string name = dir.filename().string() + "_" + fs::relative(it->path(), dir, ignored).string();
    std::replace(name.begin(), name.end(), '/', '_');
    fs::copy_file(it->path(), fs::path(keep) / name, fs::copy_options::overwrite_existing, ignored);
  }
}

}  // namespace

CliSandbox::~CliSandbox() {
  std::error_code ignored;
  // Tests may take permissions away; give them back so everything goes.
  for (auto it = fs::recursive_directory_iterator(dir_, ignored); !ignored && it != fs::recursive_directory_iterator();
       it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
  keep_written_files(dir_);
  fs::remove_all(dir_, ignored);
}

std::string CliSandbox::path(std::string_view name) const {
  return (dir_ / name).string();
}

CliRun CliSandbox::run(const std::vector<std::string>& args, const Stdin& input, const Launch& launch) const {
  const std::string binary = cli_binary();
  std::vector<std::string> words = launch.wrapper;
  words.push_back(binary);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::string dir = dir_.string();

  Pipe in;
  Pipe out;
  Pipe err;
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) exec_child(binary.c_str(), argv.data(), dir.c_str(), input, launch, in, out, err);

  in.close_read();
  out.close_write();
  err.close_write();
  CliRun result;
  if (!pump(input, in, out, err, result)) {
    result.timed_out = true;
    ::kill(pid, SIGKILL);
  }
  int wait_status = 0;
  while (::waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(wait_status)) {
    result.status = WEXITSTATUS(wait_status);
  } else if (WIFSIGNALED(wait_status)) {
    result.status = 128 + WTERMSIG(wait_status);
  }
  return result;
}

void CliSandbox::write_file(std::string_view name, std::string_view bytes) const {
  const fs::path target = dir_ / name;
  fs::create_directories(target.parent_path());
  std::ofstream file(target, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + target.string());
}

std::optional<std::string> CliSandbox::read_file(std::string_view name) const {
  std::ifstream file(dir_ / name, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream content;
  content << file.rdbuf();
  if (file.bad()) return std::nullopt;
  return content.str();
}

bool CliSandbox::exists(std::string_view name) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(dir_ / name, ignored));
}

std::vector<std::string> CliSandbox::entries() const {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace zidazavavide::testing
