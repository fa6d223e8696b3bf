#include <brackfern/contracts/core_error.hpp>

#include <gtest/gtest.h>

#include <string>

namespace brackfern {
namespace {

struct Case {
  CoreError error;
  std::string display;
  std::string debug;
};

TEST(CoreError, EveryVariantHasItsDisplayAndDebugForm) {
  const Case cases[] = {
      {core_error::InvalidIdentifier{"Slug", "must not be empty"}, "invalid Slug identifier: must not be empty",
       R"(InvalidIdentifier { kind: "Slug", reason: "must not be empty" })"},
      {core_error::UnsupportedVersion{"2", "1", "1"}, "unsupported contract version: 2 (supported 1..=1)",
       R"(UnsupportedVersion { requested: "2", min: "1", max: "1" })"},
      {core_error::CanonicalSerialization{"floating-point numbers are not allowed"},
       "canonical serialization failed: floating-point numbers are not allowed",
       R"(CanonicalSerialization("floating-point numbers are not allowed"))"},
      {core_error::SignatureInvalid{}, "signature verification failed", "SignatureInvalid"},
      {core_error::UnknownAlgorithm{"md5"}, "unknown or rejected algorithm: md5", R"(UnknownAlgorithm("md5"))"},
      {core_error::Expired{"2026-03-01T08:15:00Z"}, "envelope expired at 2026-03-01T08:15:00Z",
       R"(Expired { expired_at: "2026-03-01T08:15:00Z" })"},
      {core_error::NotYetValid{"2026-03-01T08:15:00Z"}, "envelope is not yet valid until 2026-03-01T08:15:00Z",
       R"(NotYetValid { not_before: "2026-03-01T08:15:00Z" })"},
      {core_error::EncryptionFailed{}, "encryption failed", "EncryptionFailed"},
      {core_error::DecryptionFailed{}, "decryption failed", "DecryptionFailed"},
      {core_error::Validation{"bad"}, "validation failed: bad", R"(Validation("bad"))"},
      {core_error::UnknownProduct{"brackfern"}, "unknown product: brackfern", R"(UnknownProduct("brackfern"))"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.debug);
    EXPECT_EQ(c.error.message(), c.display);
    EXPECT_EQ(c.error.debug(), c.debug);
  }
}

TEST(CoreError, EmptyValidationMessageKeepsTheTrailingSpace) {
  EXPECT_EQ(CoreError::validation("").message(), "validation failed: ");
  EXPECT_EQ(CoreError::validation("").debug(), R"(Validation(""))");
}

TEST(CoreError, DisplayAddsNoQuotesButDebugEscapesTheFields) {
  // The timestamp parser puts quotes into its message itself; display shows
  // them as they stand, debug escapes them once more.
  const CoreError error = CoreError::validation(R"(invalid RFC 3339 timestamp "x\y": year)");
  EXPECT_EQ(error.message(), R"(validation failed: invalid RFC 3339 timestamp "x\y": year)");
  EXPECT_EQ(error.debug(), R"(Validation("invalid RFC 3339 timestamp \"x\\y\": year"))");

  const CoreError identifier = CoreError::invalid_identifier("NodeId", "found `\n` at 3");
  EXPECT_EQ(identifier.debug(), R"(InvalidIdentifier { kind: "NodeId", reason: "found `\n` at 3" })");
}

TEST(CoreError, FactoriesBuildTheirVariants) {
  EXPECT_TRUE(CoreError::signature_invalid().is<core_error::SignatureInvalid>());
  EXPECT_TRUE(CoreError::canonical_serialization("x").is<core_error::CanonicalSerialization>());
  EXPECT_TRUE(CoreError::invalid_identifier("Slug", "x").is<core_error::InvalidIdentifier>());
  EXPECT_EQ(CoreError::validation("a"), CoreError(core_error::Validation{"a"}));
  EXPECT_FALSE(CoreError::validation("a") == CoreError::canonical_serialization("a"));
}

}  // namespace
}  // namespace brackfern
