#pragma once

#include <quillmere/contracts/quillmere_error.hpp>

#include <brackfern/contracts/identifiers.hpp>
#include <brackfern/contracts/json_read.hpp>
#include <brackfern/contracts/json_value.hpp>
#include <brackfern/contracts/timestamp.hpp>
#include <brackfern/crypto/keys.hpp>
#include <brackfern/crypto/signed_envelope.hpp>

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace quillmere {

// A control plane's Ed25519 public key as text, kept exactly as it was given
// (so that a document re-encodes to the bytes its signer signed). It is only
// checked when it is turned into a key.
class ControlPlaneKeyMaterial {
 public:
  explicit ControlPlaneKeyMaterial(std::string text) : text_(std::move(text)) {}
  // The key's 32 bytes as 64 lower-case hex characters.
  explicit ControlPlaneKeyMaterial(const brackfern::VerifyingKey& key);

  [[nodiscard]] const std::string& text() const { return text_; }

  // Decodes 64 hex characters (either case) into a verifying key. Wrong
  // length or a non-hex character: InvalidKeyMaterial("expected 64 lowercase
  // hex characters, got N characters") with N the text's length in bytes;
  // bytes that are no curve point: the key's core error, as Core.
  [[nodiscard]] std::expected<brackfern::VerifyingKey, QuillmereError> to_verifying_key() const;

  friend bool operator==(const ControlPlaneKeyMaterial&, const ControlPlaneKeyMaterial&) = default;

 private:
  std::string text_;
};

// The payload of an enrollment offer. Unknown members are ignored on input
// (and so are not covered when the signature is checked).
struct EnrollmentOfferPayload {
  brackfern::ControlPlaneId control_plane_id;
  brackfern::KeyId key_id;
  ControlPlaneKeyMaterial public_key;
  brackfern::Timestamp offered_at;
  std::optional<brackfern::NodeId> node_hint;

  [[nodiscard]] brackfern::JsonValue to_json() const;
  [[nodiscard]] static brackfern::JsonResult<EnrollmentOfferPayload> from_json(brackfern::JsonSource& source);
  friend bool operator==(const EnrollmentOfferPayload&, const EnrollmentOfferPayload&) = default;
};

// An enrollment offer: self-signed with the payload's own key, associated
// data ["quillmere.enrollment_offer.v1"].
using EnrollmentOffer = brackfern::SignedEnvelope<EnrollmentOfferPayload>;

enum class LocalApprovalMethod { InteractiveConsole, LocalConfigFile };

// "interactive_console" or "local_config_file".
[[nodiscard]] std::string_view to_json_name(LocalApprovalMethod method);
[[nodiscard]] brackfern::JsonResult<LocalApprovalMethod> read_local_approval_method(brackfern::JsonSource& source);

struct LocalOwnerApproval {
  brackfern::Timestamp approved_at;
  LocalApprovalMethod method;

  [[nodiscard]] brackfern::JsonValue to_json() const;
  [[nodiscard]] static brackfern::JsonResult<LocalOwnerApproval> from_json(brackfern::JsonSource& source);
  friend bool operator==(const LocalOwnerApproval&, const LocalOwnerApproval&) = default;
};

// Which control plane, if any, this node trusts. Written as one object whose
// first member "status" names the variant, followed by the variant's members.
class EnrollmentState {
 public:
  struct Unenrolled {
    friend bool operator==(const Unenrolled&, const Unenrolled&) = default;
  };
  struct PendingOwnerApproval {
    brackfern::ControlPlaneId control_plane_id;
    brackfern::KeyId key_id;
    ControlPlaneKeyMaterial public_key;
    brackfern::Timestamp offered_at;  // when this node received the offer
    friend bool operator==(const PendingOwnerApproval&, const PendingOwnerApproval&) = default;
  };
  struct Enrolled {
    brackfern::ControlPlaneId control_plane_id;
    brackfern::KeyId key_id;
    ControlPlaneKeyMaterial public_key;
    brackfern::Timestamp enrolled_at;
    LocalOwnerApproval approval;
    friend bool operator==(const Enrolled&, const Enrolled&) = default;
  };
  struct Revoked {
    brackfern::ControlPlaneId previously;  // the control plane that was pending or enrolled
    brackfern::Timestamp revoked_at;
    friend bool operator==(const Revoked&, const Revoked&) = default;
  };
  using Variant = std::variant<Unenrolled, PendingOwnerApproval, Enrolled, Revoked>;

  EnrollmentState() : value_(Unenrolled{}) {}
  EnrollmentState(Unenrolled v) : value_(v) {}                       // NOLINT: a state is any of its variants
  EnrollmentState(PendingOwnerApproval v) : value_(std::move(v)) {}  // NOLINT
  EnrollmentState(Enrolled v) : value_(std::move(v)) {}              // NOLINT
  EnrollmentState(Revoked v) : value_(std::move(v)) {}               // NOLINT

  [[nodiscard]] const Variant& value() const { return value_; }
  template <class T>
  [[nodiscard]] bool is() const {
    return std::holds_alternative<T>(value_);
  }
  template <class T>
  [[nodiscard]] const T* get_if() const {
    return std::get_if<T>(&value_);
  }
  // "unenrolled", "pending_owner_approval", "enrolled" or "revoked".
  [[nodiscard]] std::string_view status() const;

  [[nodiscard]] brackfern::JsonValue to_json() const;
  // Finds "status" wherever it stands, then reads the variant's members (all
  // required, others ignored). Missing "status" is "missing field `status`";
  // an unknown one "unknown variant `x`, expected one of ...".
  [[nodiscard]] static brackfern::JsonResult<EnrollmentState> from_json(brackfern::JsonSource& source);

  friend bool operator==(const EnrollmentState&, const EnrollmentState&) = default;

 private:
  Variant value_;
};

// Checks an offer, in order: the payload's key material, its decoding into a
// verifying key, then the envelope against that key with the offer context
// and `now`. Returns the envelope's own payload (valid as long as `offer`), or
// the first failure: InvalidKeyMaterial, or Core with the key's or the
// envelope's error. Nothing else (node_hint, key ids, times) is compared.
[[nodiscard]] std::expected<std::reference_wrapper<const EnrollmentOfferPayload>, QuillmereError> verify_offer(
    const EnrollmentOffer& offer, const brackfern::Timestamp& now);
// The result refers into the envelope, so a temporary one is refused.
void verify_offer(const EnrollmentOffer&& offer, const brackfern::Timestamp& now) = delete;

// A verified offer parks the node as pending owner approval, whatever the
// current state; offered_at is `now`, the node's own time of receipt.
[[nodiscard]] EnrollmentState receive_enrollment_offer(const EnrollmentOfferPayload& payload,
                                                       const brackfern::Timestamp& now);

// Pending → Enrolled (enrolled_at = the approval's approved_at); any other
// state: NoPendingEnrollment.
[[nodiscard]] std::expected<EnrollmentState, QuillmereError> approve_pending_enrollment(
    const EnrollmentState& state, const LocalOwnerApproval& approval);

// Pending or Enrolled → Revoked (previously = its control plane, revoked_at =
// `now`); Unenrolled or Revoked: NothingToRevoke.
[[nodiscard]] std::expected<EnrollmentState, QuillmereError> revoke_enrollment_locally(const EnrollmentState& state,
                                                                                       const brackfern::Timestamp& now);

}  // namespace quillmere
