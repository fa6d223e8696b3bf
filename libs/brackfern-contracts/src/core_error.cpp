#include <brackfern/contracts/core_error.hpp>

#include <brackfern/contracts/debug_quote.hpp>

#include <string>
#include <type_traits>
#include <variant>

namespace brackfern {

namespace {

template <class>
inline constexpr bool kAlwaysFalse = false;

// "Name(\"text\")": a variant with one unnamed text field.
std::string tuple_form(const char* name, const std::string& field) {
  return std::string(name) + "(" + debug_quote(field) + ")";
}

// "Name { field: \"text\" }": a variant with one named text field.
std::string struct_form(const char* name, const char* field, const std::string& value) {
  return std::string(name) + " { " + field + ": " + debug_quote(value) + " }";
}

}  // namespace

std::string CoreError::message() const {
  return std::visit(
      [](const auto& e) -> std::string {
        using T = std::decay_t<decltype(e)>;
        using namespace core_error;
        if constexpr (std::is_same_v<T, InvalidIdentifier>) {
          return "invalid " + e.kind + " identifier: " + e.reason;
        } else if constexpr (std::is_same_v<T, UnsupportedVersion>) {
          return "unsupported contract version: " + e.requested + " (supported " + e.min + "..=" + e.max + ")";
        } else if constexpr (std::is_same_v<T, CanonicalSerialization>) {
          return "canonical serialization failed: " + e.message;
        } else if constexpr (std::is_same_v<T, SignatureInvalid>) {
          return "signature verification failed";
        } else if constexpr (std::is_same_v<T, UnknownAlgorithm>) {
          return "unknown or rejected algorithm: " + e.algorithm;
        } else if constexpr (std::is_same_v<T, Expired>) {
          return "envelope expired at " + e.expired_at;
        } else if constexpr (std::is_same_v<T, NotYetValid>) {
          return "envelope is not yet valid until " + e.not_before;
        } else if constexpr (std::is_same_v<T, EncryptionFailed>) {
          return "encryption failed";
        } else if constexpr (std::is_same_v<T, DecryptionFailed>) {
          return "decryption failed";
        } else if constexpr (std::is_same_v<T, Validation>) {
          return "validation failed: " + e.message;
        } else if constexpr (std::is_same_v<T, UnknownProduct>) {
          return "unknown product: " + e.product;
        } else {
          static_assert(kAlwaysFalse<T>, "every CoreError variant needs a display form");
        }
      },
      value_);
}

std::string CoreError::debug() const {
  return std::visit(
      [](const auto& e) -> std::string {
        using T = std::decay_t<decltype(e)>;
        using namespace core_error;
        if constexpr (std::is_same_v<T, InvalidIdentifier>) {
          return "InvalidIdentifier { kind: " + debug_quote(e.kind) + ", reason: " + debug_quote(e.reason) + " }";
        } else if constexpr (std::is_same_v<T, UnsupportedVersion>) {
          return "UnsupportedVersion { requested: " + debug_quote(e.requested) + ", min: " + debug_quote(e.min) +
                 ", max: " + debug_quote(e.max) + " }";
        } else if constexpr (std::is_same_v<T, CanonicalSerialization>) {
          return tuple_form("CanonicalSerialization", e.message);
        } else if constexpr (std::is_same_v<T, SignatureInvalid>) {
          return "SignatureInvalid";
        } else if constexpr (std::is_same_v<T, UnknownAlgorithm>) {
          return tuple_form("UnknownAlgorithm", e.algorithm);
        } else if constexpr (std::is_same_v<T, Expired>) {
          return struct_form("Expired", "expired_at", e.expired_at);
        } else if constexpr (std::is_same_v<T, NotYetValid>) {
          return struct_form("NotYetValid", "not_before", e.not_before);
        } else if constexpr (std::is_same_v<T, EncryptionFailed>) {
          return "EncryptionFailed";
        } else if constexpr (std::is_same_v<T, DecryptionFailed>) {
          return "DecryptionFailed";
        } else if constexpr (std::is_same_v<T, Validation>) {
          return tuple_form("Validation", e.message);
        } else if constexpr (std::is_same_v<T, UnknownProduct>) {
          return tuple_form("UnknownProduct", e.product);
        } else {
          static_assert(kAlwaysFalse<T>, "every CoreError variant needs a debug form");
        }
      },
      value_);
}

}  // namespace brackfern
