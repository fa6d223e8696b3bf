#pragma once

#include <quillmere/contracts/quillmere_error.hpp>

#include <brackfern/contracts/identifiers.hpp>
#include <brackfern/contracts/json_read.hpp>
#include <brackfern/contracts/json_value.hpp>
#include <brackfern/contracts/timestamp.hpp>
#include <brackfern/crypto/content_hash.hpp>
#include <brackfern/crypto/signed_envelope.hpp>

#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>
#include <vector>

namespace quillmere {

// The documents of a service bundle: what the control plane wants running on
// one node. Every document writes its members in declaration order and leaves
// absent optional members out. ServiceBundle, ServiceSpec and
// ArtifactReference refuse members they do not define; CommittedBundle
// ignores them.

enum class ArtifactKind { ContainerImage, Binary, Package };
enum class DesiredServiceState { Running, Stopped, Absent };
enum class RestartPolicy { Never, OnFailure, Always };

// JSON names: "container_image", "binary", "package"; "running", "stopped",
// "absent"; "never", "on_failure", "always".
[[nodiscard]] std::string_view to_json_name(ArtifactKind kind);
[[nodiscard]] std::string_view to_json_name(DesiredServiceState state);
[[nodiscard]] std::string_view to_json_name(RestartPolicy policy);

// Reads the JSON string; any other value is "unknown variant `x`, expected one of ...".
[[nodiscard]] brackfern::JsonResult<ArtifactKind> read_artifact_kind(brackfern::JsonSource& source);
[[nodiscard]] brackfern::JsonResult<DesiredServiceState> read_desired_service_state(brackfern::JsonSource& source);
[[nodiscard]] brackfern::JsonResult<RestartPolicy> read_restart_policy(brackfern::JsonSource& source);

struct ArtifactReference {
  ArtifactKind kind;
  brackfern::ContentHash content_hash;
  std::uint64_t size_bytes;

  [[nodiscard]] brackfern::JsonValue to_json() const;
  [[nodiscard]] static brackfern::JsonResult<ArtifactReference> from_json(brackfern::JsonSource& source);
  friend bool operator==(const ArtifactReference&, const ArtifactReference&) = default;
};

struct ServiceSpec {
  brackfern::ServiceId service_id;
  ArtifactReference artifact;
  DesiredServiceState desired_state;
  RestartPolicy restart_policy;
  std::optional<brackfern::ContentHash> config_reference;

  [[nodiscard]] brackfern::JsonValue to_json() const;
  [[nodiscard]] static brackfern::JsonResult<ServiceSpec> from_json(brackfern::JsonSource& source);
  friend bool operator==(const ServiceSpec&, const ServiceSpec&) = default;
};

// Writes / reads a JSON array of services (the bundle's and the committed
// record's `services`, and the development control plane's services file).
[[nodiscard]] brackfern::JsonValue services_to_json(const std::vector<ServiceSpec>& services);
[[nodiscard]] brackfern::JsonResult<std::vector<ServiceSpec>> services_from_json(brackfern::JsonSource& source);

// The payload of a bundle envelope. A bundle read from a document is taken as
// it stands (duplicate service ids included); only `create` checks contents.
struct ServiceBundle {
  brackfern::NodeId node_id;
  BundleVersion bundle_version;
  std::vector<ServiceSpec> services;
  brackfern::Timestamp created_at;
  brackfern::ControlPlaneId issued_by;

  // Builds a bundle whose service ids are unique (compared as exact text).
  // Fails with Core(Validation("duplicate service_id in bundle: <id>")) naming
  // the first id that repeats. Nothing else is checked.
  [[nodiscard]] static std::expected<ServiceBundle, QuillmereError> create(brackfern::NodeId node_id,
                                                                           BundleVersion bundle_version,
                                                                           std::vector<ServiceSpec> services,
                                                                           brackfern::Timestamp created_at,
                                                                           brackfern::ControlPlaneId issued_by);

  [[nodiscard]] brackfern::JsonValue to_json() const;
  [[nodiscard]] static brackfern::JsonResult<ServiceBundle> from_json(brackfern::JsonSource& source);
  friend bool operator==(const ServiceBundle&, const ServiceBundle&) = default;
};

// A bundle envelope: associated data ["quillmere.service_bundle.v1"].
using SignedServiceBundle = brackfern::SignedEnvelope<ServiceBundle>;

// The record of a bundle in force, kept in the node state.
struct CommittedBundle {
  BundleVersion version;
  std::vector<ServiceSpec> services;
  brackfern::Timestamp committed_at;

  [[nodiscard]] brackfern::JsonValue to_json() const;
  [[nodiscard]] static brackfern::JsonResult<CommittedBundle> from_json(brackfern::JsonSource& source);
  friend bool operator==(const CommittedBundle&, const CommittedBundle&) = default;
};

}  // namespace quillmere
