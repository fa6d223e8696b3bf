// The text forms of identifiers, times, hashes, signatures and keys on
// arbitrary text.
//
// Properties: nothing crashes; whatever is accepted prints in a form that is
// accepted again as the same value; Slug::validate agrees with the rules of a
// slug written out independently here.

#include "fuzz_check.hpp"

#include <quillmere/contracts/enrollment.hpp>

#include <brackfern/contracts/identifiers.hpp>
#include <brackfern/contracts/timestamp.hpp>
#include <brackfern/crypto/content_hash.hpp>
#include <brackfern/crypto/keys.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using zzv_fuzz::require;

// 1–64 bytes of a–z, 0–9 and '-', no '-' first or last, no "--".
bool is_slug(std::string_view text) {
  if (text.empty() || text.size() > 64) return false;
  if (text.front() == '-' || text.back() == '-') return false;
  if (text.find("--") != std::string_view::npos) return false;
  for (char c : text) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    if (!ok) return false;
  }
  return true;
}

// Instants whose RFC 3339 form has a four-digit year (0000–9999); others
// print as a count of seconds, which is not meant to be read back.
bool has_four_digit_year(const brackfern::Timestamp& t) {
  return t.unix_seconds() >= -62'167'219'200 && t.unix_seconds() <= 253'402'300'799;
}

void check_timestamp(std::string_view text) {
  auto t = brackfern::Timestamp::from_str(text);
  if (!t || !has_four_digit_year(*t)) return;
  auto again = brackfern::Timestamp::from_str(t->to_rfc3339());
  require(again.has_value(), "a timestamp's RFC 3339 form parses");
  require(*again == *t, "a timestamp's RFC 3339 form reads back equal");
}

void check_content_hash(std::string_view text) {
  auto hash = brackfern::ContentHash::from_str(text);
  if (!hash) return;
  auto again = brackfern::ContentHash::from_str(hash->to_string());
  require(again.has_value() && *again == *hash, "a content hash's text reads back equal");
}

void check_uuid(std::string_view text) {
  auto uuid = brackfern::Uuid::parse(text);
  if (!uuid) return;
  const std::string printed = uuid->to_string();
  require(printed.size() == 36, "a UUID prints as 36 characters");
  auto again = brackfern::Uuid::parse(printed);
  require(again.has_value() && *again == *uuid, "a UUID's text reads back equal");
  auto id = brackfern::NodeId::from_str(text);
  require(id.has_value() && id->uuid() == *uuid, "NodeId accepts what Uuid accepts");
}

void check_slug(std::string_view text) {
  const bool valid = brackfern::Slug::validate(text).has_value();
  require(valid == is_slug(text), "Slug::validate follows the slug rules");
  if (!valid) return;
  auto slug = brackfern::Slug::create(std::string(text));
  require(slug.has_value() && slug->str() == text, "a valid slug is kept as given");
}

void check_signature(std::string_view text) {
  auto signature = brackfern::Signature::from_hex(text);
  if (!signature) return;
  auto again = brackfern::Signature::from_hex(signature->to_hex());
  require(again.has_value() && *again == *signature, "a signature's hex reads back equal");
}

void check_key_material(std::string_view text) {
  auto key = quillmere::ControlPlaneKeyMaterial(std::string(text)).to_verifying_key();
  if (!key) return;
  auto again = quillmere::ControlPlaneKeyMaterial(*key).to_verifying_key();
  require(again.has_value() && *again == *key, "a control plane key's hex reads back equal");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = zzv_fuzz::as_text(data, size);
  check_timestamp(text);
  check_content_hash(text);
  check_uuid(text);
  check_slug(text);
  check_signature(text);
  check_key_material(text);
  return 0;
}
