#include <brackfern/contracts/random.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

namespace brackfern {

namespace {
// getentropy refuses requests larger than this.
constexpr std::size_t kMaxRequest = 256;
}  // namespace

std::expected<void, int> fill_random(std::span<std::uint8_t> out) {
  while (!out.empty()) {
    const std::size_t piece = std::min(out.size(), kMaxRequest);
    if (getentropy(out.data(), piece) != 0) return std::unexpected(errno);
    out = out.subspan(piece);
  }
  return {};
}

void fatal_random_failure(const char* prefix, int error_number) {
  const std::string line = std::string(prefix) + std::strerror(error_number) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  std::abort();
}

}  // namespace brackfern
