#include <brackfern/contracts/debug_quote.hpp>

#include <gtest/gtest.h>

#include <string>

namespace brackfern {
namespace {

struct Case {
  std::string input;
  std::string quoted;
};

TEST(DebugQuote, EscapesAsTheErrorLineShowsText) {
  using namespace std::string_literals;
  const Case cases[] = {
      {"", R"("")"},
      {"plain text", R"("plain text")"},
      {R"(say "hi")", R"("say \"hi\"")"},
      {R"(C:\dir)", R"("C:\\dir")"},
      {"it's", R"("it's")"},
      {"a\tb\rc\nd", R"("a\tb\rc\nd")"},
      {"nul\0here"s, R"("nul\0here")"},
      {"\x01\x1f", R"("\u{1}\u{1f}")"},
      {"del\x7f", R"("del\u{7f}")"},
      {"\xc2\x85", R"("\u{85}")"},        // NEL, a C1 control
      {"e\xcc\x81", R"("e\u{301}")"},     // combining acute accent
      {"\xe2\x80\x8b", R"("\u{200b}")"},  // zero-width space
      {"\xef\xbb\xbf", R"("\u{feff}")"},  // byte order mark
      {"\xc2\xad", R"("\u{ad}")"},        // soft hyphen
      {"\xe2\x80\xae", R"("\u{202e}")"},  // right-to-left override
      {"caf\xc3\xa9 \xe2\x80\x94 \xf0\x9f\x99\x82", "\"caf\xc3\xa9 \xe2\x80\x94 \xf0\x9f\x99\x82\""},
      {"\xff", R"("\x{ff}")"},
      {"a\xc3", R"("a\x{c3}")"},                    // truncated sequence
      {"\xc0\xaf", R"("\x{c0}\x{af}")"},            // overlong '/'
      {"\xed\xa0\x80", R"("\x{ed}\x{a0}\x{80}")"},  // encoded surrogate
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.quoted);
    EXPECT_EQ(debug_quote(c.input), c.quoted);
  }
}

}  // namespace
}  // namespace brackfern
