#include <quillmere/contracts/enrollment.hpp>

#include "json_fields.hpp"

#include <brackfern/contracts/hex.hpp>

#include <array>
#include <cstdlib>
#include <string>
#include <utility>

namespace quillmere {

using brackfern::JsonResult;
using brackfern::JsonSource;
using brackfern::JsonValue;

namespace {

constexpr std::array<std::string_view, 2> kApprovalMethodNames{"interactive_console", "local_config_file"};
// In the order of EnrollmentState::Variant.
constexpr std::array<std::string_view, 4> kStatusNames{"unenrolled", "pending_owner_approval", "enrolled", "revoked"};

auto read_control_plane_id() {
  return detail::parsed_with([](const std::string& t) { return brackfern::ControlPlaneId::from_str(t); });
}
auto read_key_id() {
  return detail::parsed_with([](const std::string& t) { return brackfern::KeyId::from_str(t); });
}
auto read_node_id() {
  return detail::parsed_with([](const std::string& t) { return brackfern::NodeId::from_str(t); });
}
auto read_timestamp() {
  return detail::parsed_with([](const std::string& t) { return brackfern::Timestamp::from_str(t); });
}
JsonResult<ControlPlaneKeyMaterial> read_key_material(JsonSource& source) {
  auto text = brackfern::read_string(source);
  if (!text) return std::unexpected(std::move(text.error()));
  return ControlPlaneKeyMaterial(std::move(*text));
}

}  // namespace

// ControlPlaneKeyMaterial

ControlPlaneKeyMaterial::ControlPlaneKeyMaterial(const brackfern::VerifyingKey& key)
    : text_(brackfern::to_hex(key.bytes())) {}

std::expected<brackfern::VerifyingKey, QuillmereError> ControlPlaneKeyMaterial::to_verifying_key() const {
  const auto bytes = brackfern::decode_hex_exact<32>(text_);
  if (!bytes) {
    return std::unexpected(QuillmereError(quillmere_error::InvalidKeyMaterial{
        "expected 64 lowercase hex characters, got " + std::to_string(text_.size()) + " characters"}));
  }
  auto key = brackfern::VerifyingKey::from_bytes(std::span<const std::uint8_t, 32>(*bytes));
  if (!key) return std::unexpected(QuillmereError(std::move(key.error())));
  return std::move(*key);
}

// EnrollmentOfferPayload

JsonValue EnrollmentOfferPayload::to_json() const {
  JsonValue out = JsonValue::empty_object();
  out.add("control_plane_id", control_plane_id.str());
  out.add("key_id", key_id.to_string());
  out.add("public_key", public_key.text());
  out.add("offered_at", offered_at.to_rfc3339());
  if (node_hint) out.add("node_hint", node_hint->to_string());
  return out;
}

JsonResult<EnrollmentOfferPayload> EnrollmentOfferPayload::from_json(JsonSource& source) {
  std::optional<brackfern::ControlPlaneId> control_plane_id;
  std::optional<brackfern::KeyId> key_id;
  std::optional<ControlPlaneKeyMaterial> public_key;
  std::optional<brackfern::Timestamp> offered_at;
  std::optional<brackfern::NodeId> node_hint;
  auto read =
      brackfern::read_object(source, "struct EnrollmentOfferPayload",
                             {
                                 detail::required_field("control_plane_id", control_plane_id, read_control_plane_id()),
                                 detail::required_field("key_id", key_id, read_key_id()),
                                 detail::required_field("public_key", public_key, read_key_material),
                                 detail::required_field("offered_at", offered_at, read_timestamp()),
                                 detail::optional_field("node_hint", node_hint, read_node_id()),
                             });
  if (!read) return std::unexpected(std::move(read.error()));
  return EnrollmentOfferPayload{std::move(*control_plane_id), *key_id, std::move(*public_key), *offered_at, node_hint};
}

// LocalApprovalMethod, LocalOwnerApproval

std::string_view to_json_name(LocalApprovalMethod method) {
  return kApprovalMethodNames.at(static_cast<std::size_t>(method));
}

JsonResult<LocalApprovalMethod> read_local_approval_method(JsonSource& source) {
  auto index = brackfern::read_enum_index(source, kApprovalMethodNames);
  if (!index) return std::unexpected(std::move(index.error()));
  return static_cast<LocalApprovalMethod>(*index);
}

JsonValue LocalOwnerApproval::to_json() const {
  JsonValue out = JsonValue::empty_object();
  out.add("approved_at", approved_at.to_rfc3339());
  out.add("method", to_json_name(method));
  return out;
}

JsonResult<LocalOwnerApproval> LocalOwnerApproval::from_json(JsonSource& source) {
  std::optional<brackfern::Timestamp> approved_at;
  std::optional<LocalApprovalMethod> method;
  auto read = brackfern::read_object(source, "struct LocalOwnerApproval",
                                     {
                                         detail::required_field("approved_at", approved_at, read_timestamp()),
                                         detail::required_field("method", method, read_local_approval_method),
                                     });
  if (!read) return std::unexpected(std::move(read.error()));
  return LocalOwnerApproval{*approved_at, *method};
}

// EnrollmentState

std::string_view EnrollmentState::status() const {
  return kStatusNames.at(value_.index());
}

JsonValue EnrollmentState::to_json() const {
  JsonValue out = JsonValue::empty_object();
  out.add("status", status());
  std::visit(
      [&out](const auto& s) {
        using T = std::decay_t<decltype(s)>;
        if constexpr (std::is_same_v<T, Unenrolled>) {
          // The status alone.
        } else if constexpr (std::is_same_v<T, PendingOwnerApproval>) {
          out.add("control_plane_id", s.control_plane_id.str());
          out.add("key_id", s.key_id.to_string());
          out.add("public_key", s.public_key.text());
          out.add("offered_at", s.offered_at.to_rfc3339());
        } else if constexpr (std::is_same_v<T, Enrolled>) {
          out.add("control_plane_id", s.control_plane_id.str());
          out.add("key_id", s.key_id.to_string());
          out.add("public_key", s.public_key.text());
          out.add("enrolled_at", s.enrolled_at.to_rfc3339());
          out.add("approval", s.approval.to_json());
        } else {
          static_assert(std::is_same_v<T, Revoked>);
          out.add("previously", s.previously.str());
          out.add("revoked_at", s.revoked_at.to_rfc3339());
        }
      },
      value_);
  return out;
}

namespace {

JsonResult<EnrollmentState> read_pending(JsonSource& source) {
  std::optional<brackfern::ControlPlaneId> control_plane_id;
  std::optional<brackfern::KeyId> key_id;
  std::optional<ControlPlaneKeyMaterial> public_key;
  std::optional<brackfern::Timestamp> offered_at;
  auto read =
      brackfern::read_object(source, "struct variant EnrollmentState::PendingOwnerApproval",
                             {
                                 detail::required_field("control_plane_id", control_plane_id, read_control_plane_id()),
                                 detail::required_field("key_id", key_id, read_key_id()),
                                 detail::required_field("public_key", public_key, read_key_material),
                                 detail::required_field("offered_at", offered_at, read_timestamp()),
                             });
  if (!read) return std::unexpected(std::move(read.error()));
  return EnrollmentState::PendingOwnerApproval{std::move(*control_plane_id), *key_id, std::move(*public_key),
                                               *offered_at};
}

JsonResult<EnrollmentState> read_enrolled(JsonSource& source) {
  std::optional<brackfern::ControlPlaneId> control_plane_id;
  std::optional<brackfern::KeyId> key_id;
  std::optional<ControlPlaneKeyMaterial> public_key;
  std::optional<brackfern::Timestamp> enrolled_at;
  std::optional<LocalOwnerApproval> approval;
  auto read =
      brackfern::read_object(source, "struct variant EnrollmentState::Enrolled",
                             {
                                 detail::required_field("control_plane_id", control_plane_id, read_control_plane_id()),
                                 detail::required_field("key_id", key_id, read_key_id()),
                                 detail::required_field("public_key", public_key, read_key_material),
                                 detail::required_field("enrolled_at", enrolled_at, read_timestamp()),
                                 detail::required_field("approval", approval, LocalOwnerApproval::from_json),
                             });
  if (!read) return std::unexpected(std::move(read.error()));
  return EnrollmentState::Enrolled{std::move(*control_plane_id), *key_id, std::move(*public_key), *enrolled_at,
                                   *approval};
}

JsonResult<EnrollmentState> read_revoked(JsonSource& source) {
  std::optional<brackfern::ControlPlaneId> previously;
  std::optional<brackfern::Timestamp> revoked_at;
  auto read = brackfern::read_object(source, "struct variant EnrollmentState::Revoked",
                                     {
                                         detail::required_field("previously", previously, read_control_plane_id()),
                                         detail::required_field("revoked_at", revoked_at, read_timestamp()),
                                     });
  if (!read) return std::unexpected(std::move(read.error()));
  return EnrollmentState::Revoked{std::move(*previously), *revoked_at};
}

}  // namespace

JsonResult<EnrollmentState> EnrollmentState::from_json(JsonSource& source) {
  constexpr std::string_view kExpecting = "internally tagged enum EnrollmentState";
  if (auto entered = brackfern::enter_object(source, kExpecting); !entered) {
    return std::unexpected(std::move(entered.error()));
  }
  // The variant is known only once the whole object is read: its status is
  // judged where it stands, every other member is kept (repeated names too)
  // and read once the object has ended, its problems reported at that end.
  JsonValue whole = JsonValue::empty_object();
  std::optional<std::size_t> status;
  for (;;) {
    brackfern::JsonPos key_end;
    auto name = source.next_member(key_end);
    if (!name) return std::unexpected(std::move(name.error()));
    if (!*name) break;
    JsonValue value;
    if (**name == "status") {
      auto index = brackfern::read_tag_index(source, kStatusNames);
      if (!index) return std::unexpected(std::move(index.error()));
      status = *index;
      value = JsonValue(kStatusNames[*index]);
    } else {
      auto read = source.value(brackfern::DuplicateMembers::Keep);
      if (!read) return std::unexpected(std::move(read.error()));
      value = std::move(*read);
    }
    whole.as_object()->push_back(brackfern::JsonMember{std::move(**name), std::move(value), key_end});
  }
  const brackfern::JsonPos end = source.closed_at();
  whole.end = end;
  const auto at_end = [end](JsonResult<EnrollmentState> read) {
    if (!read) read.error() = brackfern::json_error_at(end, std::move(read.error().message));
    return read;
  };
  brackfern::TreeSource members(whole);
  switch (status.value_or(kStatusNames.size())) {
    case 0: {
      // Nothing but the status; other members are read past (and checked).
      auto read = brackfern::read_object(members, kExpecting, std::span<const brackfern::JsonField>());
      if (!read) return at_end(std::unexpected(std::move(read.error())));
      return EnrollmentState(Unenrolled{});
    }
    case 1:
      return at_end(read_pending(members));
    case 2:
      return at_end(read_enrolled(members));
    case 3:
      return at_end(read_revoked(members));
    default:
      break;
  }
  return std::unexpected(brackfern::json_error_at(end, "missing field `status`"));
}

// Offer verification and the transitions

std::expected<std::reference_wrapper<const EnrollmentOfferPayload>, QuillmereError> verify_offer(
    const EnrollmentOffer& offer, const brackfern::Timestamp& now) {
  auto key = offer.payload.public_key.to_verifying_key();
  if (!key) return std::unexpected(std::move(key.error()));
  const std::array<std::string, 1> context{std::string(brackfern::kEnrollmentOfferContext)};
  auto verified = offer.verify(*key, now, context);
  if (!verified) return std::unexpected(QuillmereError(std::move(verified.error())));
  return std::cref(offer.payload);
}

EnrollmentState receive_enrollment_offer(const EnrollmentOfferPayload& payload, const brackfern::Timestamp& now) {
  return EnrollmentState::PendingOwnerApproval{payload.control_plane_id, payload.key_id, payload.public_key, now};
}

std::expected<EnrollmentState, QuillmereError> approve_pending_enrollment(const EnrollmentState& state,
                                                                          const LocalOwnerApproval& approval) {
  const auto* pending = state.get_if<EnrollmentState::PendingOwnerApproval>();
  if (pending == nullptr) return std::unexpected(QuillmereError(quillmere_error::NoPendingEnrollment{}));
  return EnrollmentState::Enrolled{pending->control_plane_id, pending->key_id, pending->public_key,
                                   approval.approved_at, approval};
}

std::expected<EnrollmentState, QuillmereError> revoke_enrollment_locally(const EnrollmentState& state,
                                                                         const brackfern::Timestamp& now) {
  return std::visit(
      [&now](const auto& s) -> std::expected<EnrollmentState, QuillmereError> {
        using T = std::decay_t<decltype(s)>;
        if constexpr (std::is_same_v<T, EnrollmentState::PendingOwnerApproval> ||
                      std::is_same_v<T, EnrollmentState::Enrolled>) {
          return EnrollmentState::Revoked{s.control_plane_id, now};
        } else {
          static_assert(std::is_same_v<T, EnrollmentState::Unenrolled> || std::is_same_v<T, EnrollmentState::Revoked>);
          return std::unexpected(QuillmereError(quillmere_error::NothingToRevoke{}));
        }
      },
      state.value());
}

}  // namespace quillmere
