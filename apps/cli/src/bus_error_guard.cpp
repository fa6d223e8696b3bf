#include "bus_error_guard.hpp"

#include "cli_error.hpp"

#include <brackfern/contracts/utf8.hpp>
#include <quillmere/engine/file_io.hpp>

#include <cerrno>
#include <csignal>
#include <memory>

#include <unistd.h>

namespace zidazavavide {
namespace {

// The line the handler writes. A signal handler can reach nothing but
// process-wide storage; this is the only such state the program keeps.
std::unique_ptr<std::string>& bus_error_line() {
  static std::unique_ptr<std::string> line;
  return line;
}

void on_bus_error(int signal_number, siginfo_t* info, void* /*context*/) {
  // BUS_ADRERR is what touching a mapped page with nothing behind it gives.
  // Anything else (another fault, or the signal sent by someone) gets the
  // default action: raised again, it is delivered once the handler returns.
  const std::string* line = bus_error_line().get();
  if (info == nullptr || info->si_code != BUS_ADRERR || line == nullptr) {
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
    return;
  }
  std::size_t written = 0;
  while (written < line->size()) {
    const ssize_t got = ::write(STDERR_FILENO, line->data() + written, line->size() - written);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    written += static_cast<std::size_t>(got);
  }
  ::_exit(1);
}

}  // namespace

void report_bus_errors_as_failed_reads_of(const std::string& state_path) {
  const CliError error = CliError::text("reading node state at " + state_path + ": " +
                                        quillmere::OsError::from_errno(EIO).display());
  bus_error_line() = std::make_unique<std::string>(brackfern::to_utf8_lossy("Error: " + error.debug() + "\n"));
  struct sigaction action {};
  action.sa_sigaction = on_bus_error;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, nullptr);
}

}  // namespace zidazavavide
