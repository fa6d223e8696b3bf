#include <brackfern/crypto/signed_envelope.hpp>

#include <brackfern/contracts/hex.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace brackfern {
namespace {

struct TestPayload {
  std::string name;
  std::uint64_t count = 0;

  [[nodiscard]] JsonValue to_json() const {
    JsonValue out = JsonValue::empty_object();
    out.add("name", JsonValue(name));
    out.add("count", JsonValue(count));
    return out;
  }

  [[nodiscard]] static JsonResult<TestPayload> from_json(JsonSource& value) {
    TestPayload payload;
    auto read = read_object(value, "struct TestPayload",
                            {
                                {"name", true,
                                 [&](JsonSource& v) -> std::expected<void, JsonError> {
                                   auto s = read_string(v);
                                   if (!s) return std::unexpected(s.error());
                                   payload.name = *s;
                                   return {};
                                 }},
                                {"count", true,
                                 [&](JsonSource& v) -> std::expected<void, JsonError> {
                                   auto n = read_u64(v);
                                   if (!n) return std::unexpected(n.error());
                                   payload.count = *n;
                                   return {};
                                 }},
                            });
    if (!read) return std::unexpected(read.error());
    return payload;
  }
};

// A payload that is any JSON value, to reach the canonicalization failure.
struct RawPayload {
  JsonValue value;
  [[nodiscard]] JsonValue to_json() const { return value; }
  [[nodiscard]] static JsonResult<RawPayload> from_json(JsonSource& source) {
    auto value = source.value();
    if (!value) return std::unexpected(std::move(value.error()));
    return RawPayload{std::move(*value)};
  }
};

using Envelope = SignedEnvelope<TestPayload>;

const std::vector<std::string> kBundle{std::string(kServiceBundleContext)};
const std::vector<std::string> kOffer{std::string(kEnrollmentOfferContext)};

Timestamp at(const char* text) {
  return Timestamp::from_str(text).value();
}

SigningKey test_key(char fill = '5') {
  return SigningKey::from_seed(decode_hex_exact<32>(std::string(64, fill)).value());
}

KeyId test_key_id() {
  return KeyId::from_str("8f0e4b5a-2c1d-4e3f-9a7b-6c5d4e3f2a1b").value();
}

Envelope make(const SigningKey& key, std::vector<std::string> context = kBundle) {
  auto envelope =
      Envelope::sign(TestPayload{"web", 3}, test_key_id(), key, at("2026-03-01T08:15:00Z"), std::move(context));
  EXPECT_TRUE(envelope.has_value());
  return std::move(envelope).value();
}

// Signs the envelope's current header and payload again, as a creator that
// set other header values would.
void resign(Envelope& envelope, const SigningKey& key) {
  envelope.signature = key.sign(envelope.signing_view()).value();
}

Envelope read_text(const std::string& text) {
  auto value = parse_json(text);
  EXPECT_TRUE(value.has_value()) << text;
  auto envelope = brackfern::read_tree<Envelope>(value.value());
  EXPECT_TRUE(envelope.has_value()) << (envelope ? "" : envelope.error().message);
  return std::move(envelope).value();
}

std::string verify_message(const Envelope& envelope, const SigningKey& key, const Timestamp& now,
                           const std::vector<std::string>& context = kBundle) {
  auto result = envelope.verify(key.verifying_key(), now, context);
  return result ? "ok" : result.error().message();
}

// One minute after the test envelopes are created.
const Timestamp kNow = Timestamp::from_str("2026-03-01T08:16:00Z").value();

// Sets member `name` of object `v`, adding it when absent.
void replace_member(JsonValue& v, const std::string& name, const JsonValue& value) {
  for (JsonMember& m : *v.as_object()) {
    if (m.key == name) {
      m.value = value;
      return;
    }
  }
  v.add(name, value);
}

TEST(SignedEnvelope, SignAndVerify) {
  const SigningKey key = test_key();
  const Envelope envelope = make(key);
  EXPECT_EQ(envelope.header.format_version, 1);
  EXPECT_FALSE(envelope.header.expires_at.has_value());
  EXPECT_FALSE(envelope.header.previous_hash.has_value());
  EXPECT_EQ(envelope.header.associated_data, kBundle);
  EXPECT_EQ(verify_message(envelope, key, kNow), "ok");
  // A created_at in the future is not checked.
  EXPECT_EQ(verify_message(envelope, key, at("2000-01-01T00:00:00Z")), "ok");
  EXPECT_EQ(verify_message(envelope, test_key('6'), kNow), "signature verification failed");
}

TEST(SignedEnvelope, EqualInputsDifferOnlyInIdAndSignature) {
  const SigningKey key = test_key();
  const Envelope first = make(key);
  const Envelope second = make(key);
  EXPECT_NE(first.header.envelope_id, second.header.envelope_id);
  EXPECT_NE(first.signature, second.signature);
  Envelope aligned = second;
  aligned.header.envelope_id = first.header.envelope_id;
  aligned.signature = first.signature;
  EXPECT_EQ(aligned.to_json(), first.to_json());
}

TEST(SignedEnvelope, SigningViewHasAllEightMembersInCanonicalOrder) {
  const SigningKey key = test_key();
  Envelope envelope = make(key);
  envelope.header.envelope_id = EnvelopeId::from_str("0b7f4c2e-9d1a-4e8b-8c3f-5a6b7c8d9e0f").value();
  const auto bytes = canonical_bytes(envelope.signing_view());
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(*bytes,
            "{\"associated_data\":[\"quillmere.service_bundle.v1\"],\"created_at\":\"2026-03-01T08:15:00Z\","
            "\"envelope_id\":\"0b7f4c2e-9d1a-4e8b-8c3f-5a6b7c8d9e0f\",\"expires_at\":null,\"format_version\":1,"
            "\"key_id\":\"8f0e4b5a-2c1d-4e3f-9a7b-6c5d4e3f2a1b\",\"payload\":{\"count\":3,\"name\":\"web\"},"
            "\"previous_hash\":null}");
  // The written form leaves out what is absent or empty; the view keeps it.
  envelope.header.associated_data.clear();
  const JsonValue written = envelope.to_json();
  EXPECT_EQ(written.find("expires_at"), nullptr);
  EXPECT_EQ(written.find("previous_hash"), nullptr);
  EXPECT_EQ(written.find("associated_data"), nullptr);
  const JsonValue view = envelope.signing_view();
  ASSERT_NE(view.find("associated_data"), nullptr);
  EXPECT_EQ(*view.find("associated_data"), JsonValue::empty_array());
  EXPECT_EQ(view.find("signature"), nullptr);
}

TEST(SignedEnvelope, WrittenFormMemberOrder) {
  const SigningKey key = test_key();
  Envelope envelope = make(key);
  envelope.header.expires_at = at("2027-01-01T00:00:00Z");
  envelope.header.previous_hash = blake3_hash(std::string_view("prev"));
  const JsonValue written = envelope.to_json();
  std::vector<std::string> names;
  for (const JsonMember& member : *written.as_object()) names.push_back(member.key);
  EXPECT_EQ(names, (std::vector<std::string>{"format_version", "envelope_id", "key_id", "created_at", "expires_at",
                                             "associated_data", "payload", "previous_hash", "signature"}));
  EXPECT_EQ(*written.find("signature")->as_string(), envelope.signature.to_hex());

  // Reading it back gives the same envelope.
  const Envelope back = read_text(write_pretty_json(written));
  EXPECT_EQ(back.to_json(), written);
  EXPECT_EQ(back.header.expires_at, envelope.header.expires_at);
  EXPECT_EQ(back.header.previous_hash, envelope.header.previous_hash);
}

TEST(SignedEnvelope, LayoutOfStoredTextDoesNotMatter) {
  const SigningKey key = test_key();
  const Envelope envelope = make(key);
  const nlohmann::json text = nlohmann::json::parse(write_pretty_json(envelope.to_json()));
  // nlohmann::json sorts members by name, which reorders them; different
  // indentation and compact forms change the whitespace.
  for (const std::string& form : {text.dump(), text.dump(7), text.dump(1, '\t')}) {
    SCOPED_TRACE(form);
    EXPECT_EQ(verify_message(read_text(form), key, kNow), "ok");
  }
}

TEST(SignedEnvelope, UnknownTopLevelMemberIsIgnored) {
  const SigningKey key = test_key();
  JsonValue written = make(key).to_json();
  written.add("comment", JsonValue("not signed"));
  EXPECT_EQ(verify_message(read_text(write_pretty_json(written)), key, kNow), "ok");
}

TEST(SignedEnvelope, ChangingAnySignedMemberBreaksTheSignature) {
  const SigningKey key = test_key();
  const JsonValue written = make(key).to_json();
  struct Case {
    const char* name;
    std::function<void(JsonValue&)> change;
  };
  auto set = [](const char* member, JsonValue value) {
    return [member, value](JsonValue& v) { replace_member(v, member, value); };
  };
  auto set_in_payload = [](const char* member, JsonValue value) {
    return [member, value](JsonValue& v) {
      for (JsonMember& m : *v.as_object()) {
        if (m.key == "payload") replace_member(m.value, member, value);
      }
    };
  };
  const std::string signature = *written.find("signature")->as_string();
  const Case cases[] = {
      {"envelope_id", set("envelope_id", JsonValue("11111111-2222-4333-8444-555555555555"))},
      {"key_id", set("key_id", JsonValue("11111111-2222-4333-8444-555555555555"))},
      {"created_at", set("created_at", JsonValue("2026-03-01T08:15:01Z"))},
      {"expires_at added", set("expires_at", JsonValue("2099-01-01T00:00:00Z"))},
      {"previous_hash added", set("previous_hash", JsonValue(blake3_hash(std::string_view("x")).to_string()))},
      {"payload name", set_in_payload("name", JsonValue("db"))},
      {"payload count", set_in_payload("count", JsonValue(std::uint64_t{4}))},
      {"signature first character",
       set("signature", JsonValue((signature[0] == '0' ? "1" : "0") + signature.substr(1)))},
      {"signature last character",
       set("signature", JsonValue(signature.substr(0, 127) + (signature[127] == '0' ? "1" : "0")))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JsonValue changed = written;
    c.change(changed);
    ASSERT_NE(changed, written);
    const Envelope envelope = read_text(write_pretty_json(changed));
    EXPECT_EQ(verify_message(envelope, key, kNow), "signature verification failed");
  }
}

TEST(SignedEnvelope, ContextIsCheckedBeforeTheSignature) {
  const SigningKey key = test_key();
  Envelope offer = make(key, kOffer);
  EXPECT_EQ(verify_message(offer, key, kNow, kOffer), "ok");
  offer.signature = Signature(std::array<std::uint8_t, 64>{});
  EXPECT_EQ(verify_message(offer, key, kNow, kBundle),
            "validation failed: envelope associated data does not match the expected context");

  const std::string bundle(kServiceBundleContext);
  struct Case {
    const char* name;
    std::vector<std::string> associated_data;
  };
  const Case cases[] = {
      {"twice", {bundle, bundle}},
      {"extra string", {bundle, "extra"}},
      {"extra string first", {"extra", bundle}},
      {"empty", {}},
      {"prefix only", {bundle.substr(0, bundle.size() - 1)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Envelope envelope = make(key, c.associated_data);
    EXPECT_EQ(verify_message(envelope, key, kNow, kBundle),
              "validation failed: envelope associated data does not match the expected context");
  }
}

TEST(SignedEnvelope, UnsupportedVersionEvenWithAValidSignature) {
  const SigningKey key = test_key();
  Envelope envelope = make(key);
  envelope.header.format_version = 2;
  resign(envelope, key);
  ASSERT_TRUE(
      key.verifying_key().verify(canonical_bytes(envelope.signing_view()).value(), envelope.signature).has_value());
  const auto result = envelope.verify(key.verifying_key(), kNow, kBundle);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(), "unsupported contract version: 2 (supported 1..=1)");
  const auto* fields = std::get_if<core_error::UnsupportedVersion>(&result.error().value());
  ASSERT_NE(fields, nullptr);
  EXPECT_EQ(fields->requested, "2");
  EXPECT_EQ(fields->min, "1");
  EXPECT_EQ(fields->max, "1");
  // The version is checked before the context.
  EXPECT_EQ(verify_message(envelope, key, kNow, kOffer), "unsupported contract version: 2 (supported 1..=1)");
}

TEST(SignedEnvelope, Expiry) {
  const SigningKey key = test_key();
  const Timestamp now = at("2026-03-01T09:00:00Z");
  Envelope envelope = make(key);

  envelope.header.expires_at = at("2026-03-01T08:59:59Z");
  resign(envelope, key);
  const auto expired = envelope.verify(key.verifying_key(), now, kBundle);
  ASSERT_FALSE(expired.has_value());
  EXPECT_TRUE(expired.error().is<core_error::Expired>());
  EXPECT_EQ(expired.error().message(), "envelope expired at 2026-03-01T08:59:59Z");

  envelope.header.expires_at = at("2026-03-01T10:59:59+02:00");  // the same instant, written with an offset
  resign(envelope, key);
  EXPECT_EQ(verify_message(envelope, key, now), "envelope expired at 2026-03-01T08:59:59Z");

  envelope.header.expires_at = now;
  resign(envelope, key);
  EXPECT_EQ(verify_message(envelope, key, now), "ok");

  // The signature is checked before the expiry.
  envelope.header.expires_at = at("2026-03-01T08:00:00Z");
  EXPECT_EQ(verify_message(envelope, key, now), "signature verification failed");
}

TEST(SignedEnvelope, CanonicalizationFailureIsReturnedUnchanged) {
  const SigningKey key = test_key();
  JsonValue value = JsonValue::empty_object();
  value.add("price", JsonValue(1.5));
  const auto signed_raw =
      SignedEnvelope<RawPayload>::sign(RawPayload{value}, test_key_id(), key, at("2026-03-01T08:15:00Z"), kBundle);
  ASSERT_FALSE(signed_raw.has_value());
  const std::string message =
      "canonical serialization failed: floating-point number at payload.price cannot be canonicalised; use an "
      "integer or a decimal string in signed contracts";
  EXPECT_EQ(signed_raw.error().message(), message);

  SignedEnvelope<RawPayload> envelope{make(key).header, RawPayload{value}, Signature(std::array<std::uint8_t, 64>{})};
  const auto result = envelope.verify(key.verifying_key(), kNow, kBundle);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(), message);
}

TEST(SignedEnvelope, ReadingMembers) {
  const SigningKey key = test_key();
  const JsonValue written = make(key).to_json();
  auto without = [&](const char* name) {
    JsonValue copy = JsonValue::empty_object();
    for (const JsonMember& m : *written.as_object()) {
      if (m.key != name) copy.add(m.key, m.value);
    }
    return copy;
  };
  auto read_error = [](const JsonValue& value) {
    auto parsed = parse_json(write_pretty_json(value));
    EXPECT_TRUE(parsed.has_value());
    auto envelope = brackfern::read_tree<Envelope>(parsed.value());
    return envelope ? std::string("ok") : envelope.error().message;
  };
  for (const char* name : {"format_version", "envelope_id", "key_id", "created_at", "payload", "signature"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(read_error(without(name)), std::string("missing field `") + name + "`");
  }
  // Missing associated_data reads as empty; null optionals read as absent.
  JsonValue nulls = without("associated_data");
  nulls.add("expires_at", JsonValue(nullptr));
  nulls.add("previous_hash", JsonValue(nullptr));
  const Envelope read = read_text(write_pretty_json(nulls));
  EXPECT_TRUE(read.header.associated_data.empty());
  EXPECT_FALSE(read.header.expires_at.has_value());
  EXPECT_FALSE(read.header.previous_hash.has_value());

  JsonValue bad_signature = without("signature");
  bad_signature.add("signature", JsonValue("zz"));
  EXPECT_EQ(read_error(bad_signature), "validation failed: ed25519 signature must be 128 hex characters, got 2");
  JsonValue version_too_large = without("format_version");
  version_too_large.add("format_version", JsonValue(std::uint64_t{65536}));
  EXPECT_NE(read_error(version_too_large), "ok");
  JsonValue not_object = JsonValue::empty_array();
  EXPECT_NE(read_error(not_object), "ok");
}

}  // namespace
}  // namespace brackfern
