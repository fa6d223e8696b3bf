#include <quillmere/contracts/quillmere_error.hpp>

#include <brackfern/contracts/debug_quote.hpp>

#include <string>
#include <type_traits>

namespace quillmere {

namespace {

template <class>
inline constexpr bool kAlwaysFalse = false;

}  // namespace

std::string QuillmereError::message() const {
  return std::visit(
      [](const auto& e) -> std::string {
        using T = std::decay_t<decltype(e)>;
        using namespace quillmere_error;
        if constexpr (std::is_same_v<T, Core>) {
          return e.error.message();
        } else if constexpr (std::is_same_v<T, InvalidKeyMaterial>) {
          return "invalid control-plane key material: " + e.text;
        } else if constexpr (std::is_same_v<T, OfferInvalid>) {
          return "enrollment offer failed verification";
        } else if constexpr (std::is_same_v<T, NoPendingEnrollment>) {
          return "cannot approve enrollment: no offer is pending local owner review";
        } else if constexpr (std::is_same_v<T, NothingToRevoke>) {
          return "cannot revoke: node is not currently enrolled or pending";
        } else if constexpr (std::is_same_v<T, NotEnrolled>) {
          return "bundle refused: node is not enrolled";
        } else if constexpr (std::is_same_v<T, UnknownControlPlaneKey>) {
          return "bundle refused: signed by a key that does not match the enrolled control plane";
        } else if constexpr (std::is_same_v<T, EnvelopeInvalid>) {
          return "bundle refused: envelope failed verification";
        } else if constexpr (std::is_same_v<T, WrongNode>) {
          return "bundle refused: addressed to node " + e.expected + " but this node is " + e.actual;
        } else if constexpr (std::is_same_v<T, Downgrade>) {
          return "bundle refused: version " + std::to_string(e.attempted) +
                 " is not newer than the currently committed version " + std::to_string(e.current);
        } else {
          static_assert(kAlwaysFalse<T>, "every variant has a message");
        }
      },
      value_);
}

std::string QuillmereError::debug() const {
  return std::visit(
      [](const auto& e) -> std::string {
        using T = std::decay_t<decltype(e)>;
        using namespace quillmere_error;
        if constexpr (std::is_same_v<T, Core>) {
          return "Core(" + e.error.debug() + ")";
        } else if constexpr (std::is_same_v<T, InvalidKeyMaterial>) {
          return "InvalidKeyMaterial(" + brackfern::debug_quote(e.text) + ")";
        } else if constexpr (std::is_same_v<T, OfferInvalid>) {
          return "OfferInvalid";
        } else if constexpr (std::is_same_v<T, NoPendingEnrollment>) {
          return "NoPendingEnrollment";
        } else if constexpr (std::is_same_v<T, NothingToRevoke>) {
          return "NothingToRevoke";
        } else if constexpr (std::is_same_v<T, NotEnrolled>) {
          return "NotEnrolled";
        } else if constexpr (std::is_same_v<T, UnknownControlPlaneKey>) {
          return "UnknownControlPlaneKey";
        } else if constexpr (std::is_same_v<T, EnvelopeInvalid>) {
          return "EnvelopeInvalid";
        } else if constexpr (std::is_same_v<T, WrongNode>) {
          return "WrongNode { expected: " + brackfern::debug_quote(e.expected) +
                 ", actual: " + brackfern::debug_quote(e.actual) + " }";
        } else if constexpr (std::is_same_v<T, Downgrade>) {
          return "Downgrade { attempted: " + std::to_string(e.attempted) + ", current: " + std::to_string(e.current) +
                 " }";
        } else {
          static_assert(kAlwaysFalse<T>, "every variant has a debug form");
        }
      },
      value_);
}

std::optional<std::string_view> QuillmereError::admission_reason_code() const {
  return std::visit(
      [](const auto& e) -> std::optional<std::string_view> {
        using T = std::decay_t<decltype(e)>;
        using namespace quillmere_error;
        if constexpr (std::is_same_v<T, NotEnrolled>) {
          return "not_enrolled";
        } else if constexpr (std::is_same_v<T, UnknownControlPlaneKey>) {
          return "unknown_control_plane_key";
        } else if constexpr (std::is_same_v<T, EnvelopeInvalid>) {
          return "envelope_invalid";
        } else if constexpr (std::is_same_v<T, WrongNode>) {
          return "wrong_node";
        } else if constexpr (std::is_same_v<T, Downgrade>) {
          return "downgrade";
        } else if constexpr (std::is_same_v<T, Core> || std::is_same_v<T, InvalidKeyMaterial> ||
                             std::is_same_v<T, OfferInvalid> || std::is_same_v<T, NoPendingEnrollment> ||
                             std::is_same_v<T, NothingToRevoke>) {
          return std::nullopt;
        } else {
          static_assert(kAlwaysFalse<T>, "every variant is either a refusal or not");
        }
      },
      value_);
}

}  // namespace quillmere
