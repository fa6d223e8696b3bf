#include <quillmere/contracts/quillmere_error.hpp>

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere {
namespace {

using brackfern::CoreError;

struct ErrorCase {
  const char* name;
  QuillmereError error;
  std::string message;
  std::string debug;
  std::optional<std::string_view> reason_code;
};

std::vector<ErrorCase> error_cases() {
  using namespace quillmere_error;
  return {
      {"core validation shows the core text unchanged",
       CoreError::validation("audit chain sequence gap: expected 2, found 5"),
       "validation failed: audit chain sequence gap: expected 2, found 5",
       R"(Core(Validation("audit chain sequence gap: expected 2, found 5")))", std::nullopt},
      {"core signature", CoreError::signature_invalid(), "signature verification failed", "Core(SignatureInvalid)",
       std::nullopt},
      {"core expired", CoreError(brackfern::core_error::Expired{"2026-03-01T08:14:59Z"}),
       "envelope expired at 2026-03-01T08:14:59Z", R"(Core(Expired { expired_at: "2026-03-01T08:14:59Z" }))",
       std::nullopt},
      {"invalid key material, 10 characters",
       QuillmereError(InvalidKeyMaterial{"expected 64 lowercase hex characters, got 10 characters"}),
       "invalid control-plane key material: expected 64 lowercase hex characters, got 10 characters",
       R"(InvalidKeyMaterial("expected 64 lowercase hex characters, got 10 characters"))", std::nullopt},
      {"audit seed shares the control-plane prefix",
       QuillmereError(InvalidKeyMaterial{"node audit signing key seed is not 64 hex characters"}),
       "invalid control-plane key material: node audit signing key seed is not 64 hex characters",
       R"(InvalidKeyMaterial("node audit signing key seed is not 64 hex characters"))", std::nullopt},
      {"key material text is debug-quoted", QuillmereError(InvalidKeyMaterial{"a \"q\"\n"}),
       "invalid control-plane key material: a \"q\"\n", R"(InvalidKeyMaterial("a \"q\"\n"))", std::nullopt},
      {"offer invalid", QuillmereError(OfferInvalid{}), "enrollment offer failed verification", "OfferInvalid",
       std::nullopt},
      {"no pending enrollment", QuillmereError(NoPendingEnrollment{}),
       "cannot approve enrollment: no offer is pending local owner review", "NoPendingEnrollment", std::nullopt},
      {"nothing to revoke", QuillmereError(NothingToRevoke{}),
       "cannot revoke: node is not currently enrolled or pending", "NothingToRevoke", std::nullopt},
      {"not enrolled", QuillmereError(NotEnrolled{}), "bundle refused: node is not enrolled", "NotEnrolled",
       "not_enrolled"},
      {"unknown control-plane key", QuillmereError(UnknownControlPlaneKey{}),
       "bundle refused: signed by a key that does not match the enrolled control plane", "UnknownControlPlaneKey",
       "unknown_control_plane_key"},
      {"envelope invalid", QuillmereError(EnvelopeInvalid{}), "bundle refused: envelope failed verification",
       "EnvelopeInvalid", "envelope_invalid"},
      {"wrong node names the addressee first",
       QuillmereError(WrongNode{"11111111-1111-4111-8111-111111111111", "22222222-2222-4222-8222-222222222222"}),
       "bundle refused: addressed to node 11111111-1111-4111-8111-111111111111 but this node is "
       "22222222-2222-4222-8222-222222222222",
       R"(WrongNode { expected: "11111111-1111-4111-8111-111111111111", actual: "22222222-2222-4222-8222-222222222222" })",
       "wrong_node"},
      {"downgrade, equal versions", QuillmereError(Downgrade{3, 3}),
       "bundle refused: version 3 is not newer than the currently committed version 3",
       "Downgrade { attempted: 3, current: 3 }", "downgrade"},
      {"downgrade, largest versions", QuillmereError(Downgrade{std::numeric_limits<BundleVersion>::max(), 0}),
       "bundle refused: version 18446744073709551615 is not newer than the currently committed version 0",
       "Downgrade { attempted: 18446744073709551615, current: 0 }", "downgrade"},
  };
}

TEST(QuillmereErrorTest, DisplayDebugAndReasonCodeOfEveryVariant) {
  for (const ErrorCase& c : error_cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.error.message(), c.message);
    EXPECT_EQ(c.error.debug(), c.debug);
    EXPECT_EQ(c.error.admission_reason_code(), c.reason_code);
  }
}

TEST(QuillmereErrorTest, CoreErrorConvertsIntoCore) {
  const QuillmereError error = CoreError::validation("");
  ASSERT_TRUE(error.is<quillmere_error::Core>());
  EXPECT_EQ(error.message(), "validation failed: ");
  EXPECT_EQ(error.debug(), R"(Core(Validation("")))");
}

}  // namespace
}  // namespace quillmere
