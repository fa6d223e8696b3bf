#include <brackfern/contracts/utf8.hpp>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace brackfern {
namespace {

// The bytes a lead byte announces and the range its first continuation byte
// must fall in (narrower for E0, ED, F0 and F4, which would otherwise admit
// overlong forms, surrogates or scalars above U+10FFFF). Zero length: the
// byte cannot begin a sequence.
struct Lead {
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
};

Lead lead_of(unsigned char byte) {
  if (byte >= 0xC2 && byte <= 0xDF) return {2};
  if (byte == 0xE0) return {3, 0xA0};
  if (byte == 0xED) return {3, 0x80, 0x9F};
  if (byte >= 0xE1 && byte <= 0xEF) return {3};
  if (byte == 0xF0) return {4, 0x90};
  if (byte == 0xF4) return {4, 0x80, 0x8F};
  if (byte >= 0xF1 && byte <= 0xF3) return {4};
  return {};
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    // Runs of ASCII, the bulk of any state file, are skipped 32 and then
    // eight bytes at a time.
    while (n - i >= 32) {
      std::uint64_t words[4];
      std::memcpy(words, text.data() + i, sizeof words);
      if (((words[0] | words[1] | words[2] | words[3]) & 0x8080808080808080ULL) != 0) break;
      i += 32;
    }
    while (n - i >= 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, text.data() + i, sizeof word);
      if ((word & 0x8080808080808080ULL) != 0) break;
      i += 8;
    }
    if (i == n) break;
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    const Lead sequence = lead_of(lead);
    if (sequence.length == 0 || n - i < sequence.length) return false;
    const auto second = static_cast<unsigned char>(text[i + 1]);
    if (second < sequence.low || second > sequence.high) return false;
    for (std::size_t k = 2; k < sequence.length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if (next < 0x80 || next > 0xBF) return false;
    }
    i += sequence.length;
  }
  return true;
}

std::string to_utf8_lossy(std::string_view text) {
  if (is_valid_utf8(text)) return std::string(text);
  constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(text.size() + 8);
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      out += text[i++];
      continue;
    }
    const Lead lead = lead_of(byte);
    // How much of the announced sequence is there: the lead, then each
    // continuation byte while it is in range.
    std::size_t taken = 1;
    while (lead.length > 0 && taken < lead.length && i + taken < text.size()) {
      const auto next = static_cast<unsigned char>(text[i + taken]);
      const unsigned char low = taken == 1 ? lead.low : 0x80;
      const unsigned char high = taken == 1 ? lead.high : 0xBF;
      if (next < low || next > high) break;
      ++taken;
    }
    if (lead.length > 0 && taken == lead.length) {
      out.append(text.substr(i, taken));
    } else {
      out += kReplacement;
    }
    i += taken;
  }
  return out;
}

}  // namespace brackfern
