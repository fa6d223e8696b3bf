#include <quillmere/contracts/service_bundle.hpp>

#include "json_fields.hpp"

#include <array>
#include <set>
#include <string>
#include <utility>

namespace quillmere {

using brackfern::JsonResult;
using brackfern::JsonSource;
using brackfern::JsonValue;
using brackfern::UnknownMembers;

namespace {

constexpr std::array<std::string_view, 3> kArtifactKindNames{"container_image", "binary", "package"};
constexpr std::array<std::string_view, 3> kDesiredStateNames{"running", "stopped", "absent"};
constexpr std::array<std::string_view, 3> kRestartPolicyNames{"never", "on_failure", "always"};

// Enumerations are declared in the order of their names above.
template <class Enum, std::size_t N>
JsonResult<Enum> read_enum(brackfern::JsonSource& source, const std::array<std::string_view, N>& names) {
  auto index = brackfern::read_enum_index(source, names);
  if (!index) return std::unexpected(std::move(index.error()));
  return static_cast<Enum>(*index);
}

template <class Enum, std::size_t N>
std::string_view name_of(Enum value, const std::array<std::string_view, N>& names) {
  return names.at(static_cast<std::size_t>(value));
}

JsonResult<brackfern::ContentHash> read_content_hash(JsonSource& source) {
  return brackfern::read_parsed(source, [](const std::string& text) { return brackfern::ContentHash::from_str(text); });
}

}  // namespace

std::string_view to_json_name(ArtifactKind kind) {
  return name_of(kind, kArtifactKindNames);
}
std::string_view to_json_name(DesiredServiceState state) {
  return name_of(state, kDesiredStateNames);
}
std::string_view to_json_name(RestartPolicy policy) {
  return name_of(policy, kRestartPolicyNames);
}

JsonResult<ArtifactKind> read_artifact_kind(JsonSource& source) {
  return read_enum<ArtifactKind>(source, kArtifactKindNames);
}
JsonResult<DesiredServiceState> read_desired_service_state(JsonSource& source) {
  return read_enum<DesiredServiceState>(source, kDesiredStateNames);
}
JsonResult<RestartPolicy> read_restart_policy(JsonSource& source) {
  return read_enum<RestartPolicy>(source, kRestartPolicyNames);
}

// ArtifactReference

JsonValue ArtifactReference::to_json() const {
  JsonValue out = JsonValue::empty_object();
  out.add("kind", to_json_name(kind));
  out.add("content_hash", content_hash.to_string());
  out.add("size_bytes", size_bytes);
  return out;
}

JsonResult<ArtifactReference> ArtifactReference::from_json(JsonSource& source) {
  std::optional<ArtifactKind> kind;
  std::optional<brackfern::ContentHash> content_hash;
  std::optional<std::uint64_t> size_bytes;
  auto read = brackfern::read_object(source, "struct ArtifactReference",
                                     {
                                         detail::required_field("kind", kind, read_artifact_kind),
                                         detail::required_field("content_hash", content_hash, read_content_hash),
                                         detail::required_field("size_bytes", size_bytes, brackfern::read_u64),
                                     },
                                     UnknownMembers::Refuse);
  if (!read) return std::unexpected(std::move(read.error()));
  return ArtifactReference{*kind, *content_hash, *size_bytes};
}

// ServiceSpec

JsonValue ServiceSpec::to_json() const {
  JsonValue out = JsonValue::empty_object();
  out.add("service_id", service_id.str());
  out.add("artifact", artifact.to_json());
  out.add("desired_state", to_json_name(desired_state));
  out.add("restart_policy", to_json_name(restart_policy));
  if (config_reference) out.add("config_reference", config_reference->to_string());
  return out;
}

JsonResult<ServiceSpec> ServiceSpec::from_json(JsonSource& source) {
  std::optional<brackfern::ServiceId> service_id;
  std::optional<ArtifactReference> artifact;
  std::optional<DesiredServiceState> desired_state;
  std::optional<RestartPolicy> restart_policy;
  std::optional<brackfern::ContentHash> config_reference;
  auto read = brackfern::read_object(
      source, "struct ServiceSpec",
      {
          detail::required_field("service_id", service_id, detail::parsed_with([](const std::string& t) {
                                   return brackfern::ServiceId::from_str(t);
                                 })),
          detail::required_field("artifact", artifact, ArtifactReference::from_json),
          detail::required_field("desired_state", desired_state, read_desired_service_state),
          detail::required_field("restart_policy", restart_policy, read_restart_policy),
          detail::optional_field("config_reference", config_reference, read_content_hash),
      },
      UnknownMembers::Refuse);
  if (!read) return std::unexpected(std::move(read.error()));
  return ServiceSpec{std::move(*service_id), std::move(*artifact), *desired_state, *restart_policy,
                     std::move(config_reference)};
}

JsonValue services_to_json(const std::vector<ServiceSpec>& services) {
  JsonValue::Array items;
  items.reserve(services.size());
  for (const ServiceSpec& service : services) items.push_back(service.to_json());
  return JsonValue(std::move(items));
}

JsonResult<std::vector<ServiceSpec>> services_from_json(JsonSource& source) {
  return brackfern::read_array(source, ServiceSpec::from_json);
}

// ServiceBundle

std::expected<ServiceBundle, QuillmereError> ServiceBundle::create(brackfern::NodeId node_id,
                                                                   BundleVersion bundle_version,
                                                                   std::vector<ServiceSpec> services,
                                                                   brackfern::Timestamp created_at,
                                                                   brackfern::ControlPlaneId issued_by) {
  std::set<std::string, std::less<>> seen;
  for (const ServiceSpec& service : services) {
    if (!seen.insert(service.service_id.str()).second) {
      return std::unexpected(QuillmereError(
          brackfern::CoreError::validation("duplicate service_id in bundle: " + service.service_id.str())));
    }
  }
  return ServiceBundle{std::move(node_id), bundle_version, std::move(services), created_at, std::move(issued_by)};
}

JsonValue ServiceBundle::to_json() const {
  JsonValue out = JsonValue::empty_object();
  out.add("node_id", node_id.to_string());
  out.add("bundle_version", bundle_version);
  out.add("services", services_to_json(services));
  out.add("created_at", created_at.to_rfc3339());
  out.add("issued_by", issued_by.str());
  return out;
}

JsonResult<ServiceBundle> ServiceBundle::from_json(JsonSource& source) {
  std::optional<brackfern::NodeId> node_id;
  std::optional<BundleVersion> bundle_version;
  std::optional<std::vector<ServiceSpec>> services;
  std::optional<brackfern::Timestamp> created_at;
  std::optional<brackfern::ControlPlaneId> issued_by;
  auto read = brackfern::read_object(
      source, "struct ServiceBundle",
      {
          detail::required_field("node_id", node_id, detail::parsed_with([](const std::string& t) {
                                   return brackfern::NodeId::from_str(t);
                                 })),
          detail::required_field("bundle_version", bundle_version, brackfern::read_u64),
          detail::required_field("services", services, services_from_json),
          detail::required_field("created_at", created_at, detail::parsed_with([](const std::string& t) {
                                   return brackfern::Timestamp::from_str(t);
                                 })),
          detail::required_field("issued_by", issued_by, detail::parsed_with([](const std::string& t) {
                                   return brackfern::ControlPlaneId::from_str(t);
                                 })),
      },
      UnknownMembers::Refuse);
  if (!read) return std::unexpected(std::move(read.error()));
  return ServiceBundle{std::move(*node_id), *bundle_version, std::move(*services), *created_at, std::move(*issued_by)};
}

// CommittedBundle

JsonValue CommittedBundle::to_json() const {
  JsonValue out = JsonValue::empty_object();
  out.add("version", version);
  out.add("services", services_to_json(services));
  out.add("committed_at", committed_at.to_rfc3339());
  return out;
}

JsonResult<CommittedBundle> CommittedBundle::from_json(JsonSource& source) {
  std::optional<BundleVersion> version;
  std::optional<std::vector<ServiceSpec>> services;
  std::optional<brackfern::Timestamp> committed_at;
  auto read = brackfern::read_object(
      source, "struct CommittedBundle",
      {
          detail::required_field("version", version, brackfern::read_u64),
          detail::required_field("services", services, services_from_json),
          detail::required_field("committed_at", committed_at, detail::parsed_with([](const std::string& t) {
                                   return brackfern::Timestamp::from_str(t);
                                 })),
      });
  if (!read) return std::unexpected(std::move(read.error()));
  return CommittedBundle{*version, std::move(*services), *committed_at};
}

}  // namespace quillmere
