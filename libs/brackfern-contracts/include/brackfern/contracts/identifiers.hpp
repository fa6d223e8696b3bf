#pragma once

#include <brackfern/contracts/core_error.hpp>

#include <array>
#include <compare>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>

namespace brackfern {

// A lower-case name of 1–64 bytes from a–z, 0–9 and "-", not starting or
// ending with "-" and without "--". Every Slug in hand is valid.
class Slug {
 public:
  // Checks the invariant; the first failing rule decides the reason
  // (InvalidIdentifier with kind "Slug").
  [[nodiscard]] static std::expected<void, CoreError> validate(std::string_view text);
  // Validates and keeps the string.
  [[nodiscard]] static std::expected<Slug, CoreError> create(std::string text);
  // For names fixed at build time ("quillmere"); aborts if invalid.
  [[nodiscard]] static Slug from_static(std::string_view text);

  [[nodiscard]] const std::string& str() const { return text_; }
  friend bool operator==(const Slug&, const Slug&) = default;
  friend auto operator<=>(const Slug&, const Slug&) = default;

 private:
  explicit Slug(std::string text) : text_(std::move(text)) {}
  std::string text_;
};

// Slug-backed identifiers: distinct types with the Slug interface.
template <class Tag>
class SlugId {
 public:
  [[nodiscard]] static std::expected<SlugId, CoreError> create(std::string text) {
    auto slug = Slug::create(std::move(text));
    if (!slug) return std::unexpected(std::move(slug.error()));
    return SlugId(std::move(*slug));
  }
  // Same as create; the name the JSON readers use for every text parser.
  [[nodiscard]] static std::expected<SlugId, CoreError> from_str(std::string_view text) {
    return create(std::string(text));
  }
  [[nodiscard]] static SlugId from_static(std::string_view text) { return SlugId(Slug::from_static(text)); }
  [[nodiscard]] const std::string& str() const { return slug_.str(); }
  [[nodiscard]] const Slug& slug() const { return slug_; }
  friend bool operator==(const SlugId&, const SlugId&) = default;
  friend auto operator<=>(const SlugId&, const SlugId&) = default;

 private:
  explicit SlugId(Slug slug) : slug_(std::move(slug)) {}
  Slug slug_;
};

using ProductId = SlugId<struct ProductIdTag>;
using ServiceId = SlugId<struct ServiceIdTag>;
using ControlPlaneId = SlugId<struct ControlPlaneIdTag>;

// A 128-bit UUID held as 16 bytes.
struct Uuid {
  std::array<std::uint8_t, 16> bytes{};

  // A random version-4 UUID (RFC 9562 layout). Stops the program with
  // "could not retrieve random bytes for uuid: {}" if the random source fails.
  [[nodiscard]] static Uuid new_v4();
  // Accepts 32 hex digits, the hyphenated form, the hyphenated form in braces
  // and "urn:uuid:" + hyphenated; digits in either case. On failure returns a
  // description of what is wrong (the length, or the bad character and where).
  [[nodiscard]] static std::expected<Uuid, std::string> parse(std::string_view text);
  // 36-character lower-case hyphenated form.
  [[nodiscard]] std::string to_string() const;

  friend bool operator==(const Uuid&, const Uuid&) = default;
  friend auto operator<=>(const Uuid&, const Uuid&) = default;
};

// UUID-backed identifiers: distinct types, none converts into another.
// Tag::name is the type's name as error messages show it ("NodeId").
template <class Tag>
class UuidId {
 public:
  [[nodiscard]] static UuidId create() { return UuidId(Uuid::new_v4()); }
  [[nodiscard]] static UuidId from_uuid(Uuid uuid) { return UuidId(uuid); }
  // Any accepted UUID text form; failure is InvalidIdentifier with kind Tag::name.
  [[nodiscard]] static std::expected<UuidId, CoreError> from_str(std::string_view text) {
    auto uuid = Uuid::parse(text);
    if (!uuid) return std::unexpected(CoreError::invalid_identifier(std::string(Tag::name), std::move(uuid.error())));
    return UuidId(*uuid);
  }
  [[nodiscard]] std::string to_string() const { return uuid_.to_string(); }
  [[nodiscard]] const Uuid& uuid() const { return uuid_; }
  friend bool operator==(const UuidId&, const UuidId&) = default;
  friend auto operator<=>(const UuidId&, const UuidId&) = default;

 private:
  explicit UuidId(Uuid uuid) : uuid_(uuid) {}
  Uuid uuid_;
};

struct NodeIdTag { static constexpr std::string_view name = "NodeId"; };
struct KeyIdTag { static constexpr std::string_view name = "KeyId"; };
struct EnvelopeIdTag { static constexpr std::string_view name = "EnvelopeId"; };
struct AuditEventIdTag { static constexpr std::string_view name = "AuditEventId"; };
struct TenantIdTag { static constexpr std::string_view name = "TenantId"; };
struct WorkspaceIdTag { static constexpr std::string_view name = "WorkspaceId"; };
struct RedactionPolicyIdTag { static constexpr std::string_view name = "RedactionPolicyId"; };
struct IdentityIdTag { static constexpr std::string_view name = "IdentityId"; };

using NodeId = UuidId<NodeIdTag>;
using KeyId = UuidId<KeyIdTag>;
using EnvelopeId = UuidId<EnvelopeIdTag>;
using AuditEventId = UuidId<AuditEventIdTag>;
using TenantId = UuidId<TenantIdTag>;
using WorkspaceId = UuidId<WorkspaceIdTag>;
using PolicyId = UuidId<RedactionPolicyIdTag>;
using IdentityId = UuidId<IdentityIdTag>;

}  // namespace brackfern
