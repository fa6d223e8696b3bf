#include <brackfern/crypto/content_hash.hpp>

#include <brackfern/contracts/debug_quote.hpp>
#include <brackfern/contracts/hex.hpp>

#include "blake3.h"

namespace brackfern {

namespace {

constexpr std::size_t kDigestHexLength = 64;

// True when the two bytes form valid UTF-8 by themselves: two ASCII bytes,
// or one two-byte sequence.
bool is_utf8_pair(std::string_view pair) {
  const auto first = static_cast<std::uint8_t>(pair[0]);
  const auto second = static_cast<std::uint8_t>(pair[1]);
  if (first < 0x80) return second < 0x80;
  return first >= 0xC2 && first <= 0xDF && (second & 0xC0) == 0x80;
}

}  // namespace

std::string_view hash_algorithm_name(HashAlgorithm algorithm) {
  switch (algorithm) {
    case HashAlgorithm::Blake3:
      return "blake3";
    case HashAlgorithm::Sha256:
      return "sha256";
  }
  return "blake3";  // unreachable: every enumerator is handled above
}

std::expected<ContentHash, CoreError> ContentHash::from_str(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    return std::unexpected(CoreError::validation("content hash must be 'algorithm:hex', got " + debug_quote(text)));
  }

  const std::string_view name = text.substr(0, colon);
  HashAlgorithm algorithm{};
  if (name == "blake3") {
    algorithm = HashAlgorithm::Blake3;
  } else if (name == "sha256") {
    algorithm = HashAlgorithm::Sha256;
  } else {
    return std::unexpected(CoreError(core_error::UnknownAlgorithm{std::string(name)}));
  }

  const std::string_view digest_text = text.substr(colon + 1);
  if (digest_text.size() != kDigestHexLength) {
    return std::unexpected(CoreError::validation("content hash digest must be 64 hex characters, got " +
                                                 std::to_string(digest_text.size())));
  }

  std::array<std::uint8_t, 32> digest{};
  for (std::size_t i = 0; i < digest.size(); ++i) {
    const std::string_view pair = digest_text.substr(2 * i, 2);
    if (!is_utf8_pair(pair)) return std::unexpected(CoreError::validation("content hash digest is not ASCII"));
    const int hi = hex_digit_value(pair[0]);
    const int lo = hex_digit_value(pair[1]);
    if (hi < 0 || lo < 0) {
      return std::unexpected(CoreError::validation("invalid hex in content hash: " + debug_quote(pair)));
    }
    digest[i] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  return ContentHash(algorithm, digest);
}

std::string ContentHash::to_hex() const {
  return brackfern::to_hex(digest_);
}

std::string ContentHash::to_string() const {
  return std::string(hash_algorithm_name(algorithm_)) + ":" + to_hex();
}

ContentHash blake3_hash(std::span<const std::uint8_t> bytes) {
  blake3_hasher hasher;
  blake3_hasher_init(&hasher);
  blake3_hasher_update(&hasher, bytes.data(), bytes.size());
  std::array<std::uint8_t, 32> digest{};
  blake3_hasher_finalize(&hasher, digest.data(), digest.size());
  return ContentHash(HashAlgorithm::Blake3, digest);
}

ContentHash blake3_hash(std::string_view bytes) {
  return blake3_hash(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace brackfern
