// Edge coverage for libFuzzer from g++'s -fsanitize-coverage=trace-pc.
//
// g++ calls __sanitizer_cov_trace_pc() at the start of every basic block.
// Each call hashes its return address into a block number and counts the
// edge (previous block, this block) in a fixed table of 8-bit counters, the
// way AFL does; the table is handed to libFuzzer as one module of "inline
// 8-bit counters" with a matching table of pseudo PCs. Collisions only make
// coverage coarser, never wrong. When libFuzzer is not linked in (the
// program itself in a fuzz build), the registration hooks are absent and
// the counters are simply never read.

#include <cstddef>
#include <cstdint>

extern "C" {
__attribute__((weak)) void __sanitizer_cov_8bit_counters_init(std::uint8_t* begin, std::uint8_t* end);
__attribute__((weak)) void __sanitizer_cov_pcs_init(const std::uintptr_t* begin, const std::uintptr_t* end);
}

namespace {

constexpr std::size_t kEdges = std::size_t{1} << 16;

// Instrumentation state: written by every instrumented block, read by libFuzzer.
std::uint8_t edge_counters[kEdges];
std::uintptr_t pseudo_pcs[kEdges * 2];  // (pc, flags) pairs, as libFuzzer expects
thread_local std::uintptr_t previous_block = 0;

struct Registration {
  Registration() {
    for (std::size_t i = 0; i < kEdges; ++i) {
      pseudo_pcs[2 * i] = i + 1;
      pseudo_pcs[2 * i + 1] = 0;
    }
    if (__sanitizer_cov_8bit_counters_init != nullptr) {
      __sanitizer_cov_8bit_counters_init(edge_counters, edge_counters + kEdges);
    }
    if (__sanitizer_cov_pcs_init != nullptr) {
      __sanitizer_cov_pcs_init(pseudo_pcs, pseudo_pcs + 2 * kEdges);
    }
  }
};
const Registration registration;

}  // namespace

extern "C" __attribute__((no_sanitize_coverage)) void __sanitizer_cov_trace_pc() {
  const auto pc = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  std::uintptr_t block = (pc ^ (pc >> 17)) * std::uintptr_t{0x9E3779B97F4A7C15u};
  block = (block >> 40) & (kEdges - 1);
  std::uint8_t& counter = edge_counters[(block ^ previous_block) & (kEdges - 1)];
  counter = static_cast<std::uint8_t>(counter + 1);
  previous_block = block >> 1;
}

// g++ also traces floating-point comparisons, which libFuzzer has no use for.
extern "C" __attribute__((no_sanitize_coverage)) void __sanitizer_cov_trace_cmpf(float, float) {}
extern "C" __attribute__((no_sanitize_coverage)) void __sanitizer_cov_trace_cmpd(double, double) {}
