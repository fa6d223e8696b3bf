// The floor of `audit verify`: Ed25519 verification exactly as
// `openssl speed ed25519` does it, one context prepared once and then
// EVP_DigestVerify called again and again on the same message.
//
//   verify_floor <count> [message-bytes [signatures]]
//
// message-bytes defaults to 20, the length openssl speed signs; an audit
// event's signed bytes are about 450. With signatures > 1, that many
// different messages of that length are signed first and verified in turn:
// Ed25519 verification takes a path that depends on the signature, so one
// signature alone (as openssl speed uses) is a sample of one, where a log's
// entries average over many. Meant to be run under `valgrind --tool=callgrind`
// at two counts with the same signatures: the difference in instructions,
// divided by the difference in counts, is the cost of one verification with
// start-up and signing taken out. Ends with status 1 if any verification fails.

#include <openssl/evp.h>

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

bool parse_count(std::string_view text, std::size_t& out) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t count = 0;
  std::size_t length = 20;
  std::size_t signatures = 1;
  if (argc < 2 || argc > 4 || !parse_count(argv[1], count) || (argc >= 3 && !parse_count(argv[2], length)) ||
      (argc == 4 && (!parse_count(argv[3], signatures) || signatures == 0))) {
    std::fprintf(stderr, "usage: verify_floor <count> [message-bytes [signatures]]\n");
    return 2;
  }

  unsigned char seed[32];
  for (int i = 0; i < 32; ++i) seed[i] = static_cast<unsigned char>(i * 7 + 1);
  const PkeyPtr secret(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, sizeof seed));
  unsigned char public_key[32];
  std::size_t public_size = sizeof public_key;
  if (!secret || EVP_PKEY_get_raw_public_key(secret.get(), public_key, &public_size) != 1) return 1;
  const PkeyPtr pkey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, public_key, public_size));
  if (!pkey) return 1;

  // Message i is the same letters with i written over its first bytes.
  std::vector<std::vector<unsigned char>> messages(signatures, std::vector<unsigned char>(length));
  std::vector<std::array<unsigned char, 64>> signed_by(signatures);
  for (std::size_t n = 0; n < signatures; ++n) {
    std::vector<unsigned char>& message = messages[n];
    for (std::size_t i = 0; i < length; ++i) message[i] = static_cast<unsigned char>('a' + i % 26);
    for (std::size_t i = 0, rest = n; i < length && rest != 0; ++i, rest /= 10) {
      message[i] = static_cast<unsigned char>('0' + rest % 10);
    }
    std::size_t signature_size = signed_by[n].size();
    const MdCtxPtr sign_ctx(EVP_MD_CTX_new());
    if (!sign_ctx || EVP_DigestSignInit(sign_ctx.get(), nullptr, nullptr, nullptr, secret.get()) != 1 ||
        EVP_DigestSign(sign_ctx.get(), signed_by[n].data(), &signature_size, message.data(), message.size()) != 1) {
      return 1;
    }
  }

  const MdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) return 1;
  std::size_t failed = 0;
  for (std::size_t i = 0, n = 0; i < count; ++i, n = n + 1 == signatures ? 0 : n + 1) {
    const std::array<unsigned char, 64>& signature = signed_by[n];
    if (EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), messages[n].data(), messages[n].size()) != 1) {
      ++failed;
    }
  }
  std::printf("%zu verifications of %zu-byte messages under %zu signatures, %zu failed\n", count, length, signatures,
              failed);
  return failed == 0 ? 0 : 1;
}
