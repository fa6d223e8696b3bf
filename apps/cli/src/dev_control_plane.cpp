#include "dev_control_plane.hpp"

#include <brackfern/contracts/hex.hpp>
#include <brackfern/crypto/signed_envelope.hpp>

#include <openssl/crypto.h>

#include <array>
#include <cstdint>
#include <utility>

namespace zidazavavide {
namespace {

constexpr std::string_view kCorruptKeyFile = "dev-cp key file is corrupt";

void wipe(std::string& text) {
  if (!text.empty()) OPENSSL_cleanse(text.data(), text.size());
}

template <std::size_t N>
void wipe(std::array<std::uint8_t, N>& bytes) {
  OPENSSL_cleanse(bytes.data(), bytes.size());
}

// The signing key and the validated control-plane id, the two things every
// minted document needs, checked in that order.
struct MintingIdentity {
  brackfern::SigningKey signing_key;
  brackfern::ControlPlaneId control_plane_id;
};

std::expected<MintingIdentity, CliError> minting_identity(const DevControlPlaneKey& key) {
  auto signing_key = key.signing_key();
  if (!signing_key) return std::unexpected(std::move(signing_key.error()));
  // An invalid id is reported as the core error itself, not as a node error.
  auto control_plane_id = brackfern::ControlPlaneId::create(key.control_plane_id);
  if (!control_plane_id) return std::unexpected(CliError(std::move(control_plane_id.error())));
  return MintingIdentity{std::move(*signing_key), std::move(*control_plane_id)};
}

}  // namespace

DevControlPlaneKey::DevControlPlaneKey(std::string control_plane_id_text, std::string seed_hex_text)
    : control_plane_id(std::move(control_plane_id_text)), seed_hex(std::move(seed_hex_text)) {}

DevControlPlaneKey::DevControlPlaneKey(DevControlPlaneKey&& other) noexcept
    : control_plane_id(std::move(other.control_plane_id)), seed_hex(std::move(other.seed_hex)) {
  wipe(other.seed_hex);  // a short string may have been copied rather than moved
}

DevControlPlaneKey& DevControlPlaneKey::operator=(const DevControlPlaneKey& other) {
  if (this != &other) {
    wipe(seed_hex);
    control_plane_id = other.control_plane_id;
    seed_hex = other.seed_hex;
  }
  return *this;
}

DevControlPlaneKey& DevControlPlaneKey::operator=(DevControlPlaneKey&& other) noexcept {
  if (this != &other) {
    wipe(seed_hex);
    control_plane_id = std::move(other.control_plane_id);
    seed_hex = std::move(other.seed_hex);
    wipe(other.seed_hex);
  }
  return *this;
}

DevControlPlaneKey::~DevControlPlaneKey() {
  wipe(seed_hex);
}

DevControlPlaneKey DevControlPlaneKey::generate(std::string control_plane_id_text) {
  const brackfern::SigningKey key = brackfern::SigningKey::generate();
  std::array<std::uint8_t, 32> seed = key.seed();
  DevControlPlaneKey result(std::move(control_plane_id_text), brackfern::to_hex(seed));
  wipe(seed);
  return result;
}

std::expected<brackfern::SigningKey, CliError> DevControlPlaneKey::signing_key() const {
  if (seed_hex.size() != 64) return text_error(std::string(kCorruptKeyFile));
  std::array<std::uint8_t, 32> seed{};
  for (std::size_t i = 0; i < seed.size(); ++i) {
    const int high = brackfern::hex_digit_value(seed_hex[2 * i]);
    const int low = brackfern::hex_digit_value(seed_hex[2 * i + 1]);
    if (high < 0 || low < 0) {
      wipe(seed);
      return text_error(std::string(kCorruptKeyFile));
    }
    seed[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  brackfern::SigningKey key = brackfern::SigningKey::from_seed(seed);
  wipe(seed);
  return key;
}

brackfern::JsonValue DevControlPlaneKey::to_json() const {
  brackfern::JsonValue document = brackfern::JsonValue::empty_object();
  document.add("control_plane_id", control_plane_id);
  document.add("seed_hex", seed_hex);
  return document;
}

brackfern::JsonResult<DevControlPlaneKey> DevControlPlaneKey::from_json(brackfern::JsonSource& source) {
  std::string id;
  std::string seed;
  auto read_into = [](std::string& slot) {
    return [&slot](brackfern::JsonSource& member) -> std::expected<void, brackfern::JsonError> {
      auto text = brackfern::read_string(member);
      if (!text) return std::unexpected(std::move(text.error()));
      wipe(slot);  // a repeated member would otherwise leave the earlier text behind
      slot = std::move(*text);
      return {};
    };
  };
  auto read = brackfern::read_object(source, "struct DevControlPlaneKey",
                                     {
                                         brackfern::JsonField{"control_plane_id", true, read_into(id)},
                                         brackfern::JsonField{"seed_hex", true, read_into(seed)},
                                     });
  if (!read) {
    wipe(seed);
    return std::unexpected(std::move(read.error()));
  }
  return DevControlPlaneKey(std::move(id), std::move(seed));
}

std::expected<quillmere::EnrollmentOffer, CliError> mint_enrollment_offer(
    const DevControlPlaneKey& key, const std::optional<brackfern::NodeId>& node_hint, const brackfern::Timestamp& now) {
  auto identity = minting_identity(key);
  if (!identity) return std::unexpected(std::move(identity.error()));

  // The payload's key id first; the envelope's own key id is drawn after it
  // and so always differs from it.
  const brackfern::KeyId payload_key_id = brackfern::KeyId::create();
  quillmere::EnrollmentOfferPayload payload{identity->control_plane_id, payload_key_id,
                                            quillmere::ControlPlaneKeyMaterial(identity->signing_key.verifying_key()),
                                            now, node_hint};
  const brackfern::KeyId envelope_key_id = brackfern::KeyId::create();

  auto offer = quillmere::EnrollmentOffer::sign(std::move(payload), envelope_key_id, identity->signing_key, now,
                                                {std::string(brackfern::kEnrollmentOfferContext)});
  if (!offer) return std::unexpected(CliError(std::move(offer.error())));
  return std::move(*offer);
}

std::expected<quillmere::SignedServiceBundle, CliError> mint_service_bundle(
    const DevControlPlaneKey& key, const brackfern::KeyId& key_id, const brackfern::NodeId& node_id,
    quillmere::BundleVersion version, std::vector<quillmere::ServiceSpec> services, const brackfern::Timestamp& now) {
  auto identity = minting_identity(key);
  if (!identity) return std::unexpected(std::move(identity.error()));

  auto bundle =
      quillmere::ServiceBundle::create(node_id, version, std::move(services), now, identity->control_plane_id);
  if (!bundle) return std::unexpected(CliError(std::move(bundle.error())));

  auto envelope = quillmere::SignedServiceBundle::sign(std::move(*bundle), key_id, identity->signing_key, now,
                                                       {std::string(brackfern::kServiceBundleContext)});
  if (!envelope) return std::unexpected(CliError(std::move(envelope.error())));
  return std::move(*envelope);
}

}  // namespace zidazavavide
