#include <brackfern/crypto/signed_envelope.hpp>

#include <algorithm>
#include <string>
#include <utility>

namespace brackfern::detail {
namespace {

JsonValue string_array(const std::vector<std::string>& items) {
  JsonValue::Array out;
  out.reserve(items.size());
  for (const std::string& item : items) out.emplace_back(item);
  return JsonValue(std::move(out));
}

bool matches_context(const std::vector<std::string>& associated_data, std::span<const std::string> expected) {
  return std::equal(associated_data.begin(), associated_data.end(), expected.begin(), expected.end());
}

// Stores a successfully read value into `slot`.
template <class T>
std::expected<void, JsonError> store(JsonResult<T> read, T& slot) {
  if (!read) return std::unexpected(std::move(read.error()));
  slot = std::move(*read);
  return {};
}

template <class T>
std::expected<void, JsonError> store(JsonResult<T> read, std::optional<T>& slot) {
  if (!read) return std::unexpected(std::move(read.error()));
  slot.emplace(std::move(*read));
  return {};
}

JsonResult<Timestamp> read_timestamp(JsonSource& source) {
  return read_parsed(source, [](const std::string& text) { return Timestamp::from_str(text); });
}

JsonResult<ContentHash> read_content_hash(JsonSource& source) {
  return read_parsed(source, [](const std::string& text) { return ContentHash::from_str(text); });
}

}  // namespace

JsonValue envelope_signing_view(const EnvelopeHeader& header, JsonValue payload) {
  JsonValue view = JsonValue::empty_object();
  view.add("format_version", JsonValue(static_cast<std::uint64_t>(header.format_version)));
  view.add("envelope_id", JsonValue(header.envelope_id.to_string()));
  view.add("key_id", JsonValue(header.key_id.to_string()));
  view.add("created_at", JsonValue(header.created_at.to_rfc3339()));
  view.add("expires_at", header.expires_at ? JsonValue(header.expires_at->to_rfc3339()) : JsonValue(nullptr));
  view.add("associated_data", string_array(header.associated_data));
  view.add("payload", std::move(payload));
  view.add("previous_hash", header.previous_hash ? JsonValue(header.previous_hash->to_string()) : JsonValue(nullptr));
  return view;
}

std::expected<void, CoreError> verify_envelope(const EnvelopeHeader& header, JsonValue payload,
                                               const Signature& signature, const VerifyingKey& key,
                                               const Timestamp& now, std::span<const std::string> expected_context) {
  if (header.format_version != 1) {
    return std::unexpected(CoreError(core_error::UnsupportedVersion{std::to_string(header.format_version), "1", "1"}));
  }
  if (!matches_context(header.associated_data, expected_context)) {
    return std::unexpected(CoreError::validation("envelope associated data does not match the expected context"));
  }
  auto bytes = canonical_bytes(envelope_signing_view(header, std::move(payload)));
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  if (auto verified = key.verify(std::string_view(*bytes), signature); !verified) {
    return std::unexpected(std::move(verified.error()));
  }
  if (header.expires_at && now.is_after(*header.expires_at)) {
    return std::unexpected(CoreError(core_error::Expired{header.expires_at->to_rfc3339()}));
  }
  return {};
}

JsonValue envelope_to_json(const EnvelopeHeader& header, JsonValue payload, const Signature& signature) {
  JsonValue out = JsonValue::empty_object();
  out.add("format_version", JsonValue(static_cast<std::uint64_t>(header.format_version)));
  out.add("envelope_id", JsonValue(header.envelope_id.to_string()));
  out.add("key_id", JsonValue(header.key_id.to_string()));
  out.add("created_at", JsonValue(header.created_at.to_rfc3339()));
  if (header.expires_at) out.add("expires_at", JsonValue(header.expires_at->to_rfc3339()));
  if (!header.associated_data.empty()) out.add("associated_data", string_array(header.associated_data));
  out.add("payload", std::move(payload));
  if (header.previous_hash) out.add("previous_hash", JsonValue(header.previous_hash->to_string()));
  out.add("signature", JsonValue(signature.to_hex()));
  return out;
}

JsonResult<EnvelopeParts> envelope_from_json(
    JsonSource& source, const std::function<std::expected<void, JsonError>(JsonSource&)>& read_payload) {
  std::optional<std::uint16_t> format_version;
  std::optional<EnvelopeId> envelope_id;
  std::optional<KeyId> key_id;
  std::optional<Timestamp> created_at;
  std::optional<Timestamp> expires_at;
  std::vector<std::string> associated_data;
  std::optional<ContentHash> previous_hash;
  std::optional<Signature> signature;

  auto read = read_object(
      source, "struct SignedEnvelope",
      {
          {"format_version", true, [&](JsonSource& v) { return store(read_u16(v), format_version); }},
          {"envelope_id", true,
           [&](JsonSource& v) {
             return store(read_parsed(v, [](const std::string& text) { return EnvelopeId::from_str(text); }),
                          envelope_id);
           }},
          {"key_id", true,
           [&](JsonSource& v) {
             return store(read_parsed(v, [](const std::string& text) { return KeyId::from_str(text); }), key_id);
           }},
          {"created_at", true, [&](JsonSource& v) { return store(read_timestamp(v), created_at); }},
          {"expires_at", false, [&](JsonSource& v) { return store(read_nullable(v, read_timestamp), expires_at); }},
          {"associated_data", false, [&](JsonSource& v) { return store(read_array(v, read_string), associated_data); }},
          {"payload", true, read_payload},
          {"previous_hash", false,
           [&](JsonSource& v) { return store(read_nullable(v, read_content_hash), previous_hash); }},
          {"signature", true,
           [&](JsonSource& v) {
             return store(read_parsed(v, [](const std::string& text) { return Signature::from_hex(text); }), signature);
           }},
      });
  if (!read) return std::unexpected(std::move(read.error()));
  EnvelopeHeader header{*format_version, *envelope_id, *key_id, *created_at, expires_at, std::move(associated_data),
                        previous_hash};
  return EnvelopeParts{std::move(header), *signature};
}

}  // namespace brackfern::detail
