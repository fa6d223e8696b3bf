#pragma once

#include <brackfern/contracts/core_error.hpp>
#include <brackfern/contracts/identifiers.hpp>
#include <brackfern/contracts/json_read.hpp>
#include <brackfern/contracts/json_value.hpp>
#include <brackfern/contracts/timestamp.hpp>
#include <brackfern/crypto/content_hash.hpp>
#include <brackfern/crypto/keys.hpp>

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace brackfern {

inline constexpr std::string_view kEnrollmentOfferContext = "quillmere.enrollment_offer.v1";
inline constexpr std::string_view kServiceBundleContext = "quillmere.service_bundle.v1";

// The header of a signed envelope: everything except the payload.
struct EnvelopeHeader {
  std::uint16_t format_version = 1;
  EnvelopeId envelope_id;
  KeyId key_id;
  Timestamp created_at;
  std::optional<Timestamp> expires_at;
  std::vector<std::string> associated_data;
  std::optional<ContentHash> previous_hash;
};

namespace detail {
// The eight-member object whose canonical bytes are signed.
[[nodiscard]] JsonValue envelope_signing_view(const EnvelopeHeader& header, JsonValue payload);
// Version → context → canonical bytes → signature → expiry; the first failure.
[[nodiscard]] std::expected<void, CoreError> verify_envelope(const EnvelopeHeader& header, JsonValue payload,
                                                             const Signature& signature, const VerifyingKey& key,
                                                             const Timestamp& now,
                                                             std::span<const std::string> expected_context);
// The written form: members in order, absent optionals and empty associated_data left out.
[[nodiscard]] JsonValue envelope_to_json(const EnvelopeHeader& header, JsonValue payload, const Signature& signature);
// Reads the header members and the signature, and the payload member through
// `read_payload`, all in document order (the first problem met decides).
struct EnvelopeParts {
  EnvelopeHeader header;
  Signature signature;
};
[[nodiscard]] JsonResult<EnvelopeParts> envelope_from_json(
    JsonSource& source, const std::function<std::expected<void, JsonError>(JsonSource&)>& read_payload);
}  // namespace detail

// A payload document with a fixed header and an Ed25519 signature over the
// canonical form of both. Payload needs `JsonValue to_json() const` and
// `static JsonResult<Payload> from_json(JsonSource&)`.
template <class Payload>
struct SignedEnvelope {
  EnvelopeHeader header;
  Payload payload;
  Signature signature;

  // Fresh envelope id, version 1, no expiry, no previous hash.
  [[nodiscard]] static std::expected<SignedEnvelope, CoreError> sign(Payload payload, KeyId key_id,
                                                                     const SigningKey& key, Timestamp created_at,
                                                                     std::vector<std::string> associated_data) {
    EnvelopeHeader header{1, EnvelopeId::create(), key_id, created_at, std::nullopt, std::move(associated_data),
                          std::nullopt};
    auto signature = key.sign(detail::envelope_signing_view(header, payload.to_json()));
    if (!signature) return std::unexpected(std::move(signature.error()));
    return SignedEnvelope{std::move(header), std::move(payload), *signature};
  }

  [[nodiscard]] std::expected<void, CoreError> verify(const VerifyingKey& key, const Timestamp& now,
                                                      std::span<const std::string> expected_context) const {
    return detail::verify_envelope(header, payload.to_json(), signature, key, now, expected_context);
  }

  [[nodiscard]] JsonValue signing_view() const { return detail::envelope_signing_view(header, payload.to_json()); }
  [[nodiscard]] JsonValue to_json() const { return detail::envelope_to_json(header, payload.to_json(), signature); }

  [[nodiscard]] static JsonResult<SignedEnvelope> from_json(JsonSource& source) {
    std::optional<Payload> payload;
    auto parts = detail::envelope_from_json(source, [&](JsonSource& inner) -> std::expected<void, JsonError> {
      auto read = Payload::from_json(inner);
      if (!read) return std::unexpected(std::move(read.error()));
      payload.emplace(std::move(*read));
      return {};
    });
    if (!parts) return std::unexpected(std::move(parts.error()));
    return SignedEnvelope{std::move(parts->header), std::move(*payload), parts->signature};
  }
};

}  // namespace brackfern
