#pragma once

#include <brackfern/contracts/core_error.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace quillmere {

using BundleVersion = std::uint64_t;

// The node engine's error. message() is the display text shown after
// prefixes such as "offer refused: "; debug() is the variant with its fields,
// shown only on the final error line.
namespace quillmere_error {
struct Core {
  brackfern::CoreError error;
};
struct InvalidKeyMaterial {
  std::string text;
};
struct OfferInvalid {};
struct NoPendingEnrollment {};
struct NothingToRevoke {};
struct NotEnrolled {};
struct UnknownControlPlaneKey {};
struct EnvelopeInvalid {};
struct WrongNode {
  std::string expected;  // the node the bundle is addressed to
  std::string actual;    // this node
};
struct Downgrade {
  BundleVersion attempted;
  BundleVersion current;
};
}  // namespace quillmere_error

class QuillmereError {
 public:
  using Variant = std::variant<quillmere_error::Core, quillmere_error::InvalidKeyMaterial, quillmere_error::OfferInvalid,
                               quillmere_error::NoPendingEnrollment, quillmere_error::NothingToRevoke,
                               quillmere_error::NotEnrolled, quillmere_error::UnknownControlPlaneKey,
                               quillmere_error::EnvelopeInvalid, quillmere_error::WrongNode,
                               quillmere_error::Downgrade>;

  QuillmereError(Variant v) : value_(std::move(v)) {}                                       // NOLINT
  QuillmereError(brackfern::CoreError e) : value_(quillmere_error::Core{std::move(e)}) {}  // NOLINT: core errors convert into Core

  [[nodiscard]] const Variant& value() const { return value_; }
  template <class T>
  [[nodiscard]] bool is() const {
    return std::holds_alternative<T>(value_);
  }
  [[nodiscard]] std::string message() const;
  [[nodiscard]] std::string debug() const;
  // The short code of a bundle admission refusal ("not_enrolled",
  // "unknown_control_plane_key", "envelope_invalid", "wrong_node",
  // "downgrade"); nullopt for the variants that are not admission refusals.
  [[nodiscard]] std::optional<std::string_view> admission_reason_code() const;
  friend bool operator==(const QuillmereError& a, const QuillmereError& b) { return a.debug() == b.debug(); }

 private:
  Variant value_;
};

}  // namespace quillmere
