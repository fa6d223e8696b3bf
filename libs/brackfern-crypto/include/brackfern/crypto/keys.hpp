#pragma once

#include <brackfern/contracts/core_error.hpp>
#include <brackfern/crypto/canonical_json.hpp>

#include <array>
#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace brackfern {

// An Ed25519 signature: 64 bytes (R then S); text form 128 lower-case hex.
class Signature {
 public:
  explicit Signature(const std::array<std::uint8_t, 64>& bytes) : bytes_(bytes) {}
  // Length, then per pair "signature is not ASCII" / "invalid hex in signature: \"zz\"".
  [[nodiscard]] static std::expected<Signature, CoreError> from_hex(std::string_view text);
  [[nodiscard]] std::string to_hex() const;
  [[nodiscard]] const std::array<std::uint8_t, 64>& bytes() const { return bytes_; }
  friend bool operator==(const Signature&, const Signature&) = default;

 private:
  std::array<std::uint8_t, 64> bytes_;
};

// An Ed25519 public key whose 32 bytes decompress to a curve point.
class VerifyingKey {
 public:
  // Refuses bytes that are not a curve point:
  // Validation "invalid ed25519 public key: {reason}".
  [[nodiscard]] static std::expected<VerifyingKey, CoreError> from_bytes(std::span<const std::uint8_t, 32> bytes);
  [[nodiscard]] const std::array<std::uint8_t, 32>& bytes() const { return bytes_; }
  // Plain (non-strict) RFC 8032 verification over `message`; SignatureInvalid on any failure.
  [[nodiscard]] std::expected<void, CoreError> verify(std::span<const std::uint8_t> message,
                                                      const Signature& signature) const;
  [[nodiscard]] std::expected<void, CoreError> verify(std::string_view message, const Signature& signature) const;
  friend bool operator==(const VerifyingKey& a, const VerifyingKey& b) { return a.bytes_ == b.bytes_; }

 private:
  friend class SignatureVerifier;
  struct Handle;
  explicit VerifyingKey(const std::array<std::uint8_t, 32>& bytes, std::shared_ptr<Handle> handle)
      : bytes_(bytes), handle_(std::move(handle)) {}
  std::array<std::uint8_t, 32> bytes_;
  std::shared_ptr<Handle> handle_;  // the loaded OpenSSL key, shared by copies
};

// VerifyingKey::verify for many messages under one key, as a long log needs:
// the verification context is set up once and kept, where verify() sets one
// up per call. Holds the key's loaded form, so it may outlive the key. Not for
// use from two threads at once.
class SignatureVerifier {
 public:
  explicit SignatureVerifier(const VerifyingKey& key);
  SignatureVerifier(SignatureVerifier&&) noexcept;
  SignatureVerifier& operator=(SignatureVerifier&&) noexcept;
  ~SignatureVerifier();

  // The same verdict as VerifyingKey::verify for the same message and signature.
  [[nodiscard]] std::expected<void, CoreError> verify(std::string_view message, const Signature& signature);

 private:
  struct Context;
  std::shared_ptr<VerifyingKey::Handle> handle_;
  std::unique_ptr<Context> context_;  // absent when it could not be set up
};

// An Ed25519 secret key defined by its 32-byte seed. Move-only; the seed and
// the loaded key are wiped when it is destroyed. No text or JSON form.
class SigningKey {
 public:
  [[nodiscard]] static SigningKey from_seed(std::span<const std::uint8_t, 32> seed);
  // A fresh seed from the random source; stops the program with "Error: {}" if it fails.
  [[nodiscard]] static SigningKey generate();

  SigningKey(SigningKey&&) noexcept;
  SigningKey& operator=(SigningKey&&) noexcept;
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;
  ~SigningKey();

  // The seed, for storage by the caller (who wipes its copy).
  [[nodiscard]] std::array<std::uint8_t, 32> seed() const;
  [[nodiscard]] const VerifyingKey& verifying_key() const;

  // Deterministic Ed25519 over exactly these bytes.
  [[nodiscard]] Signature sign_bytes(std::span<const std::uint8_t> message) const;
  [[nodiscard]] Signature sign_bytes(std::string_view message) const;

  // Signs the canonical bytes of a document; the CoreError of canonicalisation otherwise.
  template <class Document>
  [[nodiscard]] std::expected<Signature, CoreError> sign(const Document& document) const {
    auto bytes = canonical_bytes(document);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    return sign_bytes(std::string_view(*bytes));
  }

 private:
  struct Secret;
  explicit SigningKey(std::unique_ptr<Secret> secret);
  std::unique_ptr<Secret> secret_;
};

}  // namespace brackfern
