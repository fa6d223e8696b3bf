#include "console.hpp"
#include "run.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <iostream>
#include <ostream>
#include <string>
#include <vector>

namespace {

// A process started with standard input, output or error closed would hand
// that descriptor number to the first file it opens (the state lock, say), and
// the approval prompt would then read its answer from that file. Such a
// descriptor is pointed at /dev/null first, so it stays what it was meant to be.
void occupy_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  occupy_closed_standard_descriptors();
  // Unsynchronised streams read the descriptors themselves, so a failed read
  // (standard input that is a directory, say) marks std::cin bad instead of
  // looking like the end of input.
  std::ios::sync_with_stdio(false);
  // Output bypasses std::cout and std::cerr: their buffers would retry (and
  // so repeat) text whose write failed, and hide which error it was.
  zidazavavide::ConsoleOutput out_buffer(STDOUT_FILENO);
  zidazavavide::ConsoleOutput err_buffer(STDERR_FILENO);
  std::ostream out(&out_buffer);
  std::ostream err(&err_buffer);
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return zidazavavide::run(args, std::cin, out, err);
}
