#pragma once

// The offline stand-in for a control plane: a signing key kept in a local
// file, and the two documents it mints with it (enrollment offers and service
// bundles). Everything here is pure apart from the random source; reading and
// writing the files is the business of the dev-cp command handlers.

#include "cli_error.hpp"

#include <brackfern/contracts/identifiers.hpp>
#include <brackfern/contracts/json_read.hpp>
#include <brackfern/contracts/json_value.hpp>
#include <brackfern/contracts/timestamp.hpp>
#include <brackfern/crypto/keys.hpp>
#include <quillmere/contracts/enrollment.hpp>
#include <quillmere/contracts/service_bundle.hpp>

#include <expected>
#include <optional>
#include <string>
#include <vector>

namespace zidazavavide {

// The key file: the control plane's name and the 32-byte Ed25519 seed as hex.
// The id is stored as given and only checked when something is minted. The
// seed text is wiped from memory when the value is destroyed or overwritten.
struct DevControlPlaneKey {
  std::string control_plane_id;
  std::string seed_hex;

  DevControlPlaneKey(std::string control_plane_id_text, std::string seed_hex_text);
  DevControlPlaneKey(const DevControlPlaneKey&) = default;
  DevControlPlaneKey(DevControlPlaneKey&& other) noexcept;
  DevControlPlaneKey& operator=(const DevControlPlaneKey& other);
  DevControlPlaneKey& operator=(DevControlPlaneKey&& other) noexcept;
  ~DevControlPlaneKey();

  // A fresh key from the random source (stops the program if it fails); the
  // seed as 64 lower-case hex characters. The id is not validated.
  [[nodiscard]] static DevControlPlaneKey generate(std::string control_plane_id_text);

  // The signing key from `seed_hex`, which must be exactly 64 hex characters
  // in either case; anything else is the text error "dev-cp key file is corrupt".
  [[nodiscard]] std::expected<brackfern::SigningKey, CliError> signing_key() const;

  // {"control_plane_id": ..., "seed_hex": ...}, in that order.
  [[nodiscard]] brackfern::JsonValue to_json() const;
  // Both members required; others ignored. A non-object is
  // "invalid type: ..., expected struct DevControlPlaneKey".
  [[nodiscard]] static brackfern::JsonResult<DevControlPlaneKey> from_json(brackfern::JsonSource& source);
};

// Mints a self-signed enrollment offer: signing key (corrupt seed: text
// error), then the control-plane id as a slug (its bare CoreError), then a
// fresh payload key id and, after it, a different fresh envelope key id.
// created_at and offered_at are `now`; no expiry, no previous hash.
[[nodiscard]] std::expected<quillmere::EnrollmentOffer, CliError> mint_enrollment_offer(
    const DevControlPlaneKey& key, const std::optional<brackfern::NodeId>& node_hint, const brackfern::Timestamp& now);

// Mints a service bundle signed under `key_id` (the key id an offer
// advertised): signing key and slug checked as for offers, then the bundle is
// built with ServiceBundle::create (a repeated service id is
// Core(Validation("duplicate service_id in bundle: <id>"))), issued by the
// key's control plane, created at `now`; no expiry, no previous hash.
[[nodiscard]] std::expected<quillmere::SignedServiceBundle, CliError> mint_service_bundle(
    const DevControlPlaneKey& key, const brackfern::KeyId& key_id, const brackfern::NodeId& node_id,
    quillmere::BundleVersion version, std::vector<quillmere::ServiceSpec> services, const brackfern::Timestamp& now);

}  // namespace zidazavavide
