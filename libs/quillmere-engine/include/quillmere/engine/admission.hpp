#pragma once

#include <quillmere/contracts/enrollment.hpp>
#include <quillmere/contracts/quillmere_error.hpp>
#include <quillmere/contracts/service_bundle.hpp>

#include <brackfern/contracts/identifiers.hpp>
#include <brackfern/contracts/timestamp.hpp>

#include <expected>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace quillmere {

// Why a bundle was not let into the node.
namespace admission_refusal {
struct NotEnrolled {
  friend bool operator==(const NotEnrolled&, const NotEnrolled&) = default;
};
struct UnknownControlPlaneKey {
  friend bool operator==(const UnknownControlPlaneKey&, const UnknownControlPlaneKey&) = default;
};
// The envelope's own error is dropped: every envelope failure looks alike.
struct EnvelopeInvalid {
  friend bool operator==(const EnvelopeInvalid&, const EnvelopeInvalid&) = default;
};
struct WrongNode {
  brackfern::NodeId expected;  // the node the bundle is addressed to
  brackfern::NodeId actual;    // this node
  friend bool operator==(const WrongNode&, const WrongNode&) = default;
};
struct Downgrade {
  BundleVersion attempted;  // the incoming bundle's version
  BundleVersion current;    // the committed version
  friend bool operator==(const Downgrade&, const Downgrade&) = default;
};
}  // namespace admission_refusal

class AdmissionRefusal {
 public:
  using Variant =
      std::variant<admission_refusal::NotEnrolled, admission_refusal::UnknownControlPlaneKey,
                   admission_refusal::EnvelopeInvalid, admission_refusal::WrongNode, admission_refusal::Downgrade>;

  // Any one refusal (admission_refusal::NotEnrolled{}, ...) is an AdmissionRefusal.
  template <class Refusal>
  requires std::is_constructible_v<Variant, Refusal&&> AdmissionRefusal(Refusal&& refusal)
      : value_(std::forward<Refusal>(refusal)) {}  // NOLINT: implicit by design

  [[nodiscard]] const Variant& value() const { return value_; }
  template <class T>
  [[nodiscard]] bool is() const {
    return std::holds_alternative<T>(value_);
  }
  template <class T>
  [[nodiscard]] const T* get_if() const {
    return std::get_if<T>(&value_);
  }

  // "not_enrolled", "unknown_control_plane_key", "envelope_invalid",
  // "wrong_node" or "downgrade".
  [[nodiscard]] std::string_view reason_code() const;
  // The refused version, for a downgrade only.
  [[nodiscard]] std::optional<BundleVersion> attempted_version() const;
  // The matching QuillmereError variant (NotEnrolled … Downgrade).
  [[nodiscard]] QuillmereError to_error() const;

  friend bool operator==(const AdmissionRefusal&, const AdmissionRefusal&) = default;

 private:
  Variant value_;
};

// Decides whether a signed bundle may enter the node. Checks, in this order,
// the first failure deciding:
//   1. `enrollment` is Enrolled                                  else NotEnrolled
//   2. the envelope's key_id equals the enrolled key_id          else UnknownControlPlaneKey
//   3. the enrolled public key decodes                           else EnvelopeInvalid
//   4. the envelope verifies under it with the bundle context    else EnvelopeInvalid
//   5. the payload's node_id is `this_node`                      else WrongNode
//   6. with a committed version, bundle_version is greater       else Downgrade
// and returns a copy of the payload. Pure: reads nothing but its arguments.
[[nodiscard]] std::expected<ServiceBundle, AdmissionRefusal> evaluate_incoming_bundle(
    const EnrollmentState& enrollment, const brackfern::NodeId& this_node,
    std::optional<BundleVersion> committed_version, const SignedServiceBundle& envelope,
    const brackfern::Timestamp& now);

}  // namespace quillmere
