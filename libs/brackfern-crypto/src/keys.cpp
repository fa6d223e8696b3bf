#include <brackfern/crypto/keys.hpp>

#include <brackfern/contracts/debug_quote.hpp>
#include <brackfern/contracts/hex.hpp>
#include <brackfern/contracts/random.hpp>

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace brackfern {
namespace {

// ---------------------------------------------------------------------------
// OpenSSL ownership

struct PkeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
struct BnFree {
  void operator()(BIGNUM* p) const { BN_free(p); }
};
struct BnCtxFree {
  void operator()(BN_CTX* p) const { BN_CTX_free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using BnPtr = std::unique_ptr<BIGNUM, BnFree>;
using BnCtxPtr = std::unique_ptr<BN_CTX, BnCtxFree>;

// Stops the program: an Ed25519 operation on a valid key failed, which only
// an exhausted or broken library can cause.
[[noreturn]] void fatal_crypto_failure(const char* what) {
  char reason[256] = "unknown error";
  const unsigned long code = ERR_get_error();
  if (code != 0) ERR_error_string_n(code, reason, sizeof reason);
  std::fprintf(stderr, "%s: %s\n", what, reason);
  std::abort();
}

// ---------------------------------------------------------------------------
// Point decompression check
//
// OpenSSL loads any 32 bytes as an Ed25519 public key and only notices a bad
// point when verifying. A key must be refused when it is made, so the
// decompression test is done here: with y the encoding's low 255 bits
// (little-endian) reduced modulo p = 2^255 - 19, a point exists exactly when
// u / v is a square modulo p, where u = y^2 - 1 and v = d*y^2 + 1 and
// d = -121665/121666. Since v is never zero and the Legendre symbol is
// multiplicative, u/v is a square exactly when u*v is zero or a square, i.e.
// (u*v)^((p-1)/2) is 0 or 1. The sign bit needs no check: x = 0 with the
// sign bit set is accepted like the reference decoder does.

enum class PointCheck { Decompresses, NotOnCurve, LibraryFailure };

PointCheck check_point(std::span<const std::uint8_t, 32> encoded) {
  std::array<std::uint8_t, 32> y_bytes{};
  std::copy(encoded.begin(), encoded.end(), y_bytes.begin());
  y_bytes[31] &= 0x7F;

  BnCtxPtr ctx(BN_CTX_new());
  BnPtr p(BN_new()), y(BN_new()), y2(BN_new()), u(BN_new()), v(BN_new()), d(BN_new()), t(BN_new()), exponent(BN_new()),
      one(BN_new());
  if (!ctx || !p || !y || !y2 || !u || !v || !d || !t || !exponent || !one) return PointCheck::LibraryFailure;

  bool ok = true;
  // p = 2^255 - 19
  ok = ok && BN_set_bit(p.get(), 255) == 1 && BN_sub_word(p.get(), 19) == 1;
  ok = ok && BN_one(one.get()) == 1;
  // d = -121665 * 121666^-1 mod p
  ok = ok && BN_set_word(t.get(), 121666) == 1 && BN_mod_inverse(d.get(), t.get(), p.get(), ctx.get()) != nullptr;
  ok = ok && BN_set_word(t.get(), 121665) == 1 && BN_mod_mul(d.get(), d.get(), t.get(), p.get(), ctx.get()) == 1;
  ok = ok && BN_mod_sub(d.get(), p.get(), d.get(), p.get(), ctx.get()) == 1;
  // y mod p, y^2
  ok = ok && BN_lebin2bn(y_bytes.data(), static_cast<int>(y_bytes.size()), y.get()) != nullptr;
  ok = ok && BN_nnmod(y.get(), y.get(), p.get(), ctx.get()) == 1;
  ok = ok && BN_mod_sqr(y2.get(), y.get(), p.get(), ctx.get()) == 1;
  // u = y^2 - 1, v = d*y^2 + 1
  ok = ok && BN_mod_sub(u.get(), y2.get(), one.get(), p.get(), ctx.get()) == 1;
  ok = ok && BN_mod_mul(v.get(), d.get(), y2.get(), p.get(), ctx.get()) == 1;
  ok = ok && BN_mod_add(v.get(), v.get(), one.get(), p.get(), ctx.get()) == 1;
  if (!ok) return PointCheck::LibraryFailure;
  if (BN_is_zero(v.get())) return PointCheck::NotOnCurve;
  // Euler's criterion on u*v.
  ok = ok && BN_mod_mul(t.get(), u.get(), v.get(), p.get(), ctx.get()) == 1;
  ok = ok && BN_sub(exponent.get(), p.get(), one.get()) == 1 && BN_rshift1(exponent.get(), exponent.get()) == 1;
  ok = ok && BN_mod_exp(t.get(), t.get(), exponent.get(), p.get(), ctx.get()) == 1;
  if (!ok) return PointCheck::LibraryFailure;
  return (BN_is_zero(t.get()) || BN_is_one(t.get())) ? PointCheck::Decompresses : PointCheck::NotOnCurve;
}

// Two bytes of a hexadecimal text that do not form valid UTF-8 by themselves
// (a multi-byte character crosses the pair boundary).
bool pair_is_valid_utf8(unsigned char first, unsigned char second) {
  if (first < 0x80 && second < 0x80) return true;
  return first >= 0xC2 && first <= 0xDF && second >= 0x80 && second <= 0xBF;
}

}  // namespace

// ---------------------------------------------------------------------------
// Signature

std::expected<Signature, CoreError> Signature::from_hex(std::string_view text) {
  if (text.size() != 128) {
    return std::unexpected(
        CoreError::validation("ed25519 signature must be 128 hex characters, got " + std::to_string(text.size())));
  }
  std::array<std::uint8_t, 64> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::string_view pair = text.substr(2 * i, 2);
    if (!pair_is_valid_utf8(static_cast<unsigned char>(pair[0]), static_cast<unsigned char>(pair[1]))) {
      return std::unexpected(CoreError::validation("signature is not ASCII"));
    }
    const int high = hex_digit_value(pair[0]);
    const int low = hex_digit_value(pair[1]);
    if (high < 0 || low < 0) {
      return std::unexpected(CoreError::validation("invalid hex in signature: " + debug_quote(pair)));
    }
    bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return Signature(bytes);
}

std::string Signature::to_hex() const {
  return brackfern::to_hex(bytes_);
}

// ---------------------------------------------------------------------------
// VerifyingKey

// The key and a verification context set up once for it: each check copies
// the prepared context rather than fetching the algorithm anew, and the
// prepared one is never used itself, so copies of the key may share it.
struct VerifyingKey::Handle {
  PkeyPtr pkey;
  MdCtxPtr prepared;
};

std::expected<VerifyingKey, CoreError> VerifyingKey::from_bytes(std::span<const std::uint8_t, 32> bytes) {
  switch (check_point(bytes)) {
    case PointCheck::Decompresses:
      break;
    case PointCheck::NotOnCurve:
      return std::unexpected(
          CoreError::validation("invalid ed25519 public key: signature error: Cannot decompress Edwards point"));
    case PointCheck::LibraryFailure:
      fatal_crypto_failure("ed25519 public key check failed");
  }
  PkeyPtr pkey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, bytes.data(), bytes.size()));
  if (!pkey) fatal_crypto_failure("ed25519 public key setup failed");
  MdCtxPtr prepared(EVP_MD_CTX_new());
  // Pure Ed25519: no digest, the whole message in one call.
  if (!prepared || EVP_DigestVerifyInit(prepared.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) {
    fatal_crypto_failure("ed25519 public key setup failed");
  }
  std::array<std::uint8_t, 32> copy{};
  std::copy(bytes.begin(), bytes.end(), copy.begin());
  return VerifyingKey(copy, std::make_shared<Handle>(Handle{std::move(pkey), std::move(prepared)}));
}

namespace {

// Makes `ctx` a fresh copy of a key's prepared context, creating it if absent.
bool load_prepared(MdCtxPtr& ctx, const EVP_MD_CTX* prepared) {
  if (!ctx) ctx.reset(EVP_MD_CTX_new());
  return ctx && EVP_MD_CTX_copy_ex(ctx.get(), prepared) == 1;
}

bool digest_verify(EVP_MD_CTX* ctx, std::span<const std::uint8_t> message, const Signature& signature) {
  const auto& sig = signature.bytes();
  return EVP_DigestVerify(ctx, sig.data(), sig.size(), message.data(), message.size()) == 1;
}

std::span<const std::uint8_t> as_bytes(std::string_view text) {
  return std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

}  // namespace

std::expected<void, CoreError> VerifyingKey::verify(std::span<const std::uint8_t> message,
                                                    const Signature& signature) const {
  MdCtxPtr ctx;
  if (!load_prepared(ctx, handle_->prepared.get()) || !digest_verify(ctx.get(), message, signature)) {
    ERR_clear_error();
    return std::unexpected(CoreError::signature_invalid());
  }
  return {};
}

std::expected<void, CoreError> VerifyingKey::verify(std::string_view message, const Signature& signature) const {
  return verify(as_bytes(message), signature);
}

// ---------------------------------------------------------------------------
// SignatureVerifier

struct SignatureVerifier::Context {
  MdCtxPtr ctx;  // null until a copy of the prepared context could be made
};

SignatureVerifier::SignatureVerifier(const VerifyingKey& key)
    : handle_(key.handle_), context_(std::make_unique<Context>()) {
  if (!load_prepared(context_->ctx, handle_->prepared.get())) {
    context_->ctx.reset();
    ERR_clear_error();
  }
}

SignatureVerifier::SignatureVerifier(SignatureVerifier&&) noexcept = default;
SignatureVerifier& SignatureVerifier::operator=(SignatureVerifier&&) noexcept = default;
SignatureVerifier::~SignatureVerifier() = default;

std::expected<void, CoreError> SignatureVerifier::verify(std::string_view message, const Signature& signature) {
  // Ed25519 keeps nothing in the context from one message to the next, so
  // the context is reused as it stands. A refusal is only believed from a
  // fresh copy of the prepared context, as verify() would make, so that the
  // verdict never rests on what an earlier call may have left behind.
  MdCtxPtr& ctx = context_->ctx;
  if (ctx && digest_verify(ctx.get(), as_bytes(message), signature)) return {};
  const bool verified =
      load_prepared(ctx, handle_->prepared.get()) && digest_verify(ctx.get(), as_bytes(message), signature);
  ERR_clear_error();
  if (!verified) return std::unexpected(CoreError::signature_invalid());
  return {};
}

// ---------------------------------------------------------------------------
// SigningKey

struct SigningKey::Secret {
  std::array<std::uint8_t, 32> seed{};
  PkeyPtr pkey;  // OpenSSL clears its copy of the private key when freeing it
  VerifyingKey verifying_key;

  ~Secret() { OPENSSL_cleanse(seed.data(), seed.size()); }
};

SigningKey::SigningKey(std::unique_ptr<Secret> secret) : secret_(std::move(secret)) {}
SigningKey::SigningKey(SigningKey&&) noexcept = default;
SigningKey& SigningKey::operator=(SigningKey&&) noexcept = default;
SigningKey::~SigningKey() = default;

SigningKey SigningKey::from_seed(std::span<const std::uint8_t, 32> seed) {
  PkeyPtr pkey(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()));
  if (!pkey) fatal_crypto_failure("ed25519 key setup failed");
  std::array<std::uint8_t, 32> public_bytes{};
  std::size_t public_size = public_bytes.size();
  if (EVP_PKEY_get_raw_public_key(pkey.get(), public_bytes.data(), &public_size) != 1 || public_size != 32) {
    fatal_crypto_failure("ed25519 key setup failed");
  }
  auto verifying_key = VerifyingKey::from_bytes(public_bytes);
  if (!verifying_key) {
    // A public key derived from a seed is always a curve point.
    std::fprintf(stderr, "ed25519 key setup failed: derived public key refused\n");
    std::abort();
  }
  auto secret = std::unique_ptr<Secret>(new Secret{{}, std::move(pkey), std::move(*verifying_key)});
  std::copy(seed.begin(), seed.end(), secret->seed.begin());
  return SigningKey(std::move(secret));
}

SigningKey SigningKey::generate() {
  std::array<std::uint8_t, 32> seed{};
  if (auto filled = fill_random(seed); !filled) fatal_random_failure("Error: ", filled.error());
  SigningKey key = from_seed(seed);
  OPENSSL_cleanse(seed.data(), seed.size());
  return key;
}

std::array<std::uint8_t, 32> SigningKey::seed() const {
  return secret_->seed;
}

const VerifyingKey& SigningKey::verifying_key() const {
  return secret_->verifying_key;
}

Signature SigningKey::sign_bytes(std::span<const std::uint8_t> message) const {
  MdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx) fatal_crypto_failure("signature operation failed");
  if (EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, secret_->pkey.get()) != 1) {
    fatal_crypto_failure("signature operation failed");
  }
  std::array<std::uint8_t, 64> bytes{};
  std::size_t size = bytes.size();
  if (EVP_DigestSign(ctx.get(), bytes.data(), &size, message.data(), message.size()) != 1 || size != 64) {
    fatal_crypto_failure("signature operation failed");
  }
  return Signature(bytes);
}

Signature SigningKey::sign_bytes(std::string_view message) const {
  return sign_bytes(std::span(reinterpret_cast<const std::uint8_t*>(message.data()), message.size()));
}

}  // namespace brackfern
