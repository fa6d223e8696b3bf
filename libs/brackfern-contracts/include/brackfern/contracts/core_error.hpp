#pragma once

#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace brackfern {

// The shared core's error: a closed set of variants, each a small struct.
// message() is the display form used inside other messages; debug() is the
// variant name with its fields, used only on the program's final error line.
namespace core_error {
struct InvalidIdentifier {
  std::string kind;  // "Slug" or "NodeId"
  std::string reason;
};
struct UnsupportedVersion {
  std::string requested;
  std::string min;
  std::string max;
};
struct CanonicalSerialization {
  std::string message;
};
struct SignatureInvalid {};
struct UnknownAlgorithm {
  std::string algorithm;
};
struct Expired {
  std::string expired_at;
};
struct NotYetValid {
  std::string not_before;
};
struct EncryptionFailed {};
struct DecryptionFailed {};
struct Validation {
  std::string message;
};
struct UnknownProduct {
  std::string product;
};
}  // namespace core_error

class CoreError {
 public:
  using Variant = std::variant<core_error::InvalidIdentifier, core_error::UnsupportedVersion,
                               core_error::CanonicalSerialization, core_error::SignatureInvalid,
                               core_error::UnknownAlgorithm, core_error::Expired, core_error::NotYetValid,
                               core_error::EncryptionFailed, core_error::DecryptionFailed,
                               core_error::Validation, core_error::UnknownProduct>;

  CoreError(Variant v) : value_(std::move(v)) {}  // NOLINT: implicit by design
  // Each variant struct converts directly (one user-defined conversion, so
  // `return core_error::Validation{...};` works where a CoreError is expected).
  template <class T>
    requires(!std::is_same_v<std::remove_cvref_t<T>, CoreError> &&
             !std::is_same_v<std::remove_cvref_t<T>, Variant> && std::is_constructible_v<Variant, T &&>)
  CoreError(T&& v) : value_(std::forward<T>(v)) {}  // NOLINT: implicit by design

  static CoreError validation(std::string message) { return core_error::Validation{std::move(message)}; }
  static CoreError invalid_identifier(std::string kind, std::string reason) {
    return core_error::InvalidIdentifier{std::move(kind), std::move(reason)};
  }
  static CoreError canonical_serialization(std::string message) {
    return core_error::CanonicalSerialization{std::move(message)};
  }
  static CoreError signature_invalid() { return core_error::SignatureInvalid{}; }

  [[nodiscard]] const Variant& value() const { return value_; }
  template <class T>
  [[nodiscard]] bool is() const {
    return std::holds_alternative<T>(value_);
  }

  // Display form, e.g. "validation failed: {}".
  [[nodiscard]] std::string message() const;
  // Debug form, e.g. Validation("…") or InvalidIdentifier { kind: "Slug", reason: "…" }.
  [[nodiscard]] std::string debug() const;

  friend bool operator==(const CoreError& a, const CoreError& b) { return a.debug() == b.debug(); }

 private:
  Variant value_;
};

}  // namespace brackfern
