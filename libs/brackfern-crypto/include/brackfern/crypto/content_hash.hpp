#pragma once

#include <brackfern/contracts/core_error.hpp>

#include <array>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

namespace brackfern {

enum class HashAlgorithm { Blake3, Sha256 };

// "blake3" or "sha256".
[[nodiscard]] std::string_view hash_algorithm_name(HashAlgorithm algorithm);

// A digest and the algorithm that made it; text "algorithm:64 lower-case hex".
class ContentHash {
 public:
  ContentHash(HashAlgorithm algorithm, const std::array<std::uint8_t, 32>& digest)
      : algorithm_(algorithm), digest_(digest) {}

  // Parses "algorithm:hex" (see the checks in content_hash.cpp); the digest may be in either case.
  [[nodiscard]] static std::expected<ContentHash, CoreError> from_str(std::string_view text);

  [[nodiscard]] HashAlgorithm algorithm() const { return algorithm_; }
  [[nodiscard]] const std::array<std::uint8_t, 32>& digest() const { return digest_; }
  [[nodiscard]] std::string to_hex() const;
  [[nodiscard]] std::string to_string() const;

  friend bool operator==(const ContentHash&, const ContentHash&) = default;

 private:
  HashAlgorithm algorithm_;
  std::array<std::uint8_t, 32> digest_;
};

// Plain BLAKE3 (no key, 32-byte output) of `bytes`.
[[nodiscard]] ContentHash blake3_hash(std::span<const std::uint8_t> bytes);
[[nodiscard]] ContentHash blake3_hash(std::string_view bytes);

}  // namespace brackfern
