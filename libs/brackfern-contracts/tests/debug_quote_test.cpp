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
      // Spaces other than U+0020 are not printable.
      {" ", R"(" ")"},
      {"a\xc2\xa0!", R"("a\u{a0}!")"},                        // no-break space
      {"\xe2\x80\x80", R"("\u{2000}")"},                      // en quad
      {"\xe2\x80\xaf", R"("\u{202f}")"},                      // narrow no-break space
      {"\xe3\x80\x80", R"("\u{3000}")"},                      // ideographic space
      {"\xe2\x80\xa8\xe2\x80\xa9", R"("\u{2028}\u{2029}")"},  // line and paragraph separators
      // Format characters, private use, unassigned and noncharacters.
      {"\xee\x80\x80", R"("\u{e000}")"},
      {"\xf3\xb0\x80\x80", R"("\u{f0000}")"},
      {"\xcd\xb7\xcd\xb8", "\"\xcd\xb7\\u{378}\""},  // U+0377 is assigned, U+0378 is not
      {"\xe2\x80\x8d", R"("\u{200d}")"},             // zero-width joiner, a format character
      {"\xef\xbf\xbf", R"("\u{ffff}")"},
      {"\xf4\x8f\xbf\xbf", R"("\u{10ffff}")"},
      // Grapheme extenders, including those outside categories Mn and Me.
      {"\xe0\xa5\x8d", R"("\u{94d}")"},        // Devanagari virama
      {"\xe2\x80\x8c", R"("\u{200c}")"},       // zero-width non-joiner
      {"\xe2\x83\x9d", R"("\u{20dd}")"},       // combining enclosing circle (Me)
      {"\xe0\xa6\xbe", R"("\u{9be}")"},        // Bengali vowel sign AA
      {"\xf3\xa0\x80\xa0", R"("\u{e0020}")"},  // tag space
      {"\xef\xbe\x9e", R"("\u{ff9e}")"},       // halfwidth katakana voiced mark
      // Printable non-ASCII stays as it is, spacing marks included.
      {"\xc3\xa9\xe2\x80\x94\xc3\x9f\xe4\xb8\xad\xf0\x9f\x98\x80",
       "\"\xc3\xa9\xe2\x80\x94\xc3\x9f\xe4\xb8\xad\xf0\x9f\x98\x80\""},  // é — ß 中 😀
      {"\xe0\xa4\xbe", "\"\xe0\xa4\xbe\""},                              // Devanagari vowel sign AA (Mc, not extending)
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
