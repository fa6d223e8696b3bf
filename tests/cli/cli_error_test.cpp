// The five kinds of command failure and the forms the entry prints them in.

#include "cli_error.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <utility>

namespace zidazavavide {
namespace {

TEST(CliError, TextDebugFormQuotesAndEscapes) {
  struct Case {
    const char* name;
    std::string text;
    std::string debug;
  };
  const Case cases[] = {
      {"plain", "node-state.json already exists; pass --force to overwrite",
       R"("node-state.json already exists; pass --force to overwrite")"},
      {"empty", "", R"("")"},
      {"tab", "a\tb", R"("a\tb")"},
      {"line feed", "a\nb", R"("a\nb")"},
      {"carriage return", "a\rb", R"("a\rb")"},
      {"double quote", "say \"yes\"", R"("say \"yes\"")"},
      {"backslash", "C:\\dir", R"("C:\\dir")"},
      {"NUL", std::string("a\0b", 3), R"("a\0b")"},
      {"other control character", "bell\x07", R"("bell\u{7}")"},
      {"delete", "x\x7F", R"("x\u{7f}")"},
      {"combining acute accent U+0301", "e\xCC\x81", R"("e\u{301}")"},
      {"non-ASCII letters unchanged", "Zürich ñ 東京", R"("Zürich ñ 東京")"},
      {"em dash unchanged", "a — b", R"("a — b")"},
      {"single quote unchanged", "control plane 'acme'", R"("control plane 'acme'")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CliError error = CliError::text(c.text);
    EXPECT_TRUE(error.is<TextMessage>());
    EXPECT_EQ(error.debug(), c.debug);
    EXPECT_EQ(error.display(), c.text);
  }
}

TEST(CliError, JsonErrorForms) {
  const CliError error = brackfern::JsonError{"missing field `identity`", 3, 1};
  EXPECT_TRUE(error.is<brackfern::JsonError>());
  EXPECT_EQ(error.debug(), R"(Error("missing field `identity`", line: 3, column: 1))");
  EXPECT_EQ(error.display(), "missing field `identity` at line 3 column 1");

  const CliError empty_input = brackfern::JsonError{"EOF while parsing a value", 1, 0};
  EXPECT_EQ(empty_input.debug(), R"(Error("EOF while parsing a value", line: 1, column: 0))");

  const CliError quoted = brackfern::JsonError{"invalid type: string \"abc\", expected u64", 1, 12};
  EXPECT_EQ(quoted.debug(), R"(Error("invalid type: string \"abc\", expected u64", line: 1, column: 12))");
}

TEST(CliError, OsErrorForms) {
  const CliError missing = quillmere::OsError::from_errno(ENOENT);
  EXPECT_TRUE(missing.is<quillmere::OsError>());
  EXPECT_EQ(missing.debug(), R"(Os { code: 2, kind: NotFound, message: "No such file or directory" })");
  EXPECT_EQ(missing.display(), "No such file or directory (os error 2)");

  const CliError denied = quillmere::OsError::from_errno(EACCES);
  EXPECT_EQ(denied.debug(), R"(Os { code: 13, kind: PermissionDenied, message: "Permission denied" })");

  const CliError not_utf8 = quillmere::OsError::invalid_utf8();
  EXPECT_EQ(not_utf8.debug(), R"(Error { kind: InvalidData, message: "stream did not contain valid UTF-8" })");
  EXPECT_EQ(not_utf8.display(), "stream did not contain valid UTF-8");
}

quillmere::QuillmereError node_error(quillmere::QuillmereError::Variant variant) {
  return {std::move(variant)};
}

TEST(CliError, NodeErrorForms) {
  struct Case {
    quillmere::QuillmereError error;
    std::string debug;
  };
  const Case cases[] = {
      {node_error(
           quillmere::quillmere_error::InvalidKeyMaterial{"node audit signing key seed is not 64 hex characters"}),
       R"(InvalidKeyMaterial("node audit signing key seed is not 64 hex characters"))"},
      {brackfern::CoreError::validation("audit chain sequence gap: expected 2, found 5"),
       R"(Core(Validation("audit chain sequence gap: expected 2, found 5")))"},
      {node_error(quillmere::quillmere_error::NotEnrolled{}), "NotEnrolled"},
      {node_error(quillmere::quillmere_error::Downgrade{2, 3}), "Downgrade { attempted: 2, current: 3 }"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.debug);
    const CliError error = c.error;
    EXPECT_TRUE(error.is<quillmere::QuillmereError>());
    EXPECT_EQ(error.debug(), c.debug);
    EXPECT_EQ(error.display(), c.error.message());
  }
}

TEST(CliError, CoreErrorForms) {
  struct Case {
    brackfern::CoreError error;
    std::string debug;
  };
  const Case cases[] = {
      {brackfern::CoreError::validation("duplicate service_id in bundle: web"),
       R"(Validation("duplicate service_id in bundle: web"))"},
      {brackfern::CoreError::invalid_identifier("Slug", "contains \"A\""),
       R"(InvalidIdentifier { kind: "Slug", reason: "contains \"A\"" })"},
      {brackfern::CoreError::signature_invalid(), "SignatureInvalid"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.debug);
    const CliError error = c.error;
    EXPECT_TRUE(error.is<brackfern::CoreError>());
    EXPECT_EQ(error.debug(), c.debug);
    EXPECT_EQ(error.display(), c.error.message());
  }
}

TEST(CliError, HandlersCanReturnAnyKindDirectly) {
  const auto fails_with_os_error = []() -> CommandResult {
    return std::unexpected(quillmere::OsError::from_errno(ENOENT));
  };
  const auto fails_with_text = []() -> CommandResult { return text_error("approval declined at console"); };
  EXPECT_EQ(fails_with_os_error().error().debug(),
            R"(Os { code: 2, kind: NotFound, message: "No such file or directory" })");
  EXPECT_EQ(fails_with_text().error().debug(), R"("approval declined at console")");
}

}  // namespace
}  // namespace zidazavavide
