#include <brackfern/contracts/identifiers.hpp>

#include <brackfern/contracts/hex.hpp>
#include <brackfern/contracts/random.hpp>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>

namespace brackfern {

namespace {

constexpr std::size_t kMaxSlugBytes = 64;

bool is_slug_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

CoreError slug_error(std::string reason) {
  return CoreError::invalid_identifier("Slug", std::move(reason));
}

}  // namespace

std::expected<void, CoreError> Slug::validate(std::string_view text) {
  if (text.empty()) return std::unexpected(slug_error("must not be empty"));
  if (text.size() > kMaxSlugBytes) {
    return std::unexpected(
        slug_error("must be at most " + std::to_string(kMaxSlugBytes) + " bytes, got " + std::to_string(text.size())));
  }
  for (const char c : text) {
    if (!is_slug_byte(c)) {
      return std::unexpected(slug_error("may contain only lowercase ASCII letters, digits and hyphens"));
    }
  }
  if (text.front() == '-' || text.back() == '-') {
    return std::unexpected(slug_error("must not start or end with a hyphen"));
  }
  if (text.find("--") != std::string_view::npos) {
    return std::unexpected(slug_error("must not contain consecutive hyphens"));
  }
  return {};
}

std::expected<Slug, CoreError> Slug::create(std::string text) {
  if (auto valid = validate(text); !valid) return std::unexpected(std::move(valid.error()));
  return Slug(std::move(text));
}

Slug Slug::from_static(std::string_view text) {
  auto slug = create(std::string(text));
  if (!slug) {
    const std::string line = "internal error: invalid built-in slug: " + slug.error().message() + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::abort();
  }
  return std::move(*slug);
}

// ---------------------------------------------------------------------------
// UUIDs

Uuid Uuid::new_v4() {
  Uuid uuid;
  if (auto filled = fill_random(uuid.bytes); !filled) {
    fatal_random_failure("could not retrieve random bytes for uuid: ", filled.error());
  }
  uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0F) | 0x40);  // version 4
  uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3F) | 0x80);  // RFC 9562 variant
  return uuid;
}

namespace {

constexpr std::string_view kUrnPrefix = "urn:uuid:";
// Offsets of the five groups in the hyphenated form.
constexpr std::array<std::size_t, 5> kGroupStarts{0, 9, 14, 19, 24};
constexpr std::array<std::size_t, 5> kGroupLengths{8, 4, 4, 4, 12};

std::optional<Uuid> decode_simple(std::string_view text) {
  const auto bytes = decode_hex_exact<16>(text);
  if (!bytes) return std::nullopt;
  return Uuid{*bytes};
}

std::optional<Uuid> decode_hyphenated(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  std::string simple;
  simple.reserve(32);
  for (std::size_t g = 0; g < kGroupStarts.size(); ++g) {
    if (g > 0 && text[kGroupStarts[g] - 1] != '-') return std::nullopt;
    simple.append(text.substr(kGroupStarts[g], kGroupLengths[g]));
  }
  return decode_simple(simple);
}

bool is_well_formed_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    std::size_t length = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    const auto second = static_cast<std::uint8_t>(text[i + 1]);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second > 0x8F)) {
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<std::uint8_t>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

// Length in bytes of the UTF-8 character starting at text[i] (text is well formed).
std::size_t utf8_char_length(std::string_view text, std::size_t i) {
  const auto lead = static_cast<std::uint8_t>(text[i]);
  if (lead < 0x80) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

// Explains why `input` is not a UUID in any accepted form. Positions are
// 1-based and count bytes of the whole input, prefix included.
std::string describe_invalid_uuid(std::string_view input) {
  if (!is_well_formed_utf8(input)) return "non-UTF8 input";
  std::string_view body = input;
  std::size_t offset = 0;
  bool simple = true;
  if (input.size() >= 2 && input.front() == '{' && input.back() == '}') {
    body = input.substr(1, input.size() - 2);
    offset = 1;
    simple = false;
  } else if (input.starts_with(kUrnPrefix)) {
    body = input.substr(kUrnPrefix.size());
    offset = kUrnPrefix.size();
    simple = false;
  }

  std::size_t hyphens = 0;
  std::array<std::size_t, 4> hyphen_positions{};
  for (std::size_t i = 0; i < body.size();) {
    const std::size_t length = utf8_char_length(body, i);
    const char c = body[i];
    if (length == 1 && c == '-') {
      if (hyphens < hyphen_positions.size()) hyphen_positions[hyphens] = i;
      ++hyphens;
    } else if (length > 1 || hex_digit_value(c) < 0) {
      return "invalid character: expected an optional prefix of `urn:uuid:` followed by [0-9a-fA-F-], found `" +
             std::string(body.substr(i, length)) + "` at " + std::to_string(i + offset + 1);
    }
    i += length;
  }

  if (hyphens == 0 && simple) {
    return "invalid length: expected length 32 for simple format, found " + std::to_string(input.size());
  }
  if (hyphens != 4) return "invalid group count: expected 5, found " + std::to_string(hyphens + 1);
  for (std::size_t g = 0; g < hyphen_positions.size(); ++g) {
    if (hyphen_positions[g] != kGroupStarts[g + 1] - 1) {
      return "invalid group length in group " + std::to_string(g) + ": expected " + std::to_string(kGroupLengths[g]) +
             ", found " + std::to_string(hyphen_positions[g] - kGroupStarts[g]);
    }
  }
  // The first four groups are right, so the last one is not.
  return "invalid group length in group 4: expected 12, found " + std::to_string(body.size() - kGroupStarts[4]);
}

}  // namespace

std::expected<Uuid, std::string> Uuid::parse(std::string_view text) {
  std::optional<Uuid> uuid;
  if (text.size() == 32) {
    uuid = decode_simple(text);
  } else if (text.size() == 36) {
    uuid = decode_hyphenated(text);
  } else if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
    uuid = decode_hyphenated(text.substr(1, 36));
  } else if (text.size() == 45 && text.starts_with(kUrnPrefix)) {
    uuid = decode_hyphenated(text.substr(kUrnPrefix.size()));
  }
  if (uuid) return *uuid;
  return std::unexpected(describe_invalid_uuid(text));
}

std::string Uuid::to_string() const {
  const std::string simple = to_hex(bytes);
  std::string out;
  out.reserve(36);
  for (std::size_t g = 0; g < kGroupStarts.size(); ++g) {
    if (g > 0) out += '-';
    out.append(simple, kGroupStarts[g] - g, kGroupLengths[g]);
  }
  return out;
}

}  // namespace brackfern
