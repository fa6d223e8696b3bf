#include <brackfern/contracts/utf8.hpp>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace brackfern {
namespace {

struct Case {
  const char* name;
  std::string text;
  bool valid;
};

TEST(IsValidUtf8, AcceptsExactlyWellFormedText) {
  const std::string ascii_run(37, 'a');  // longer than the eight-byte fast path, not a multiple of it
  const Case cases[] = {
      {"empty", "", true},
      {"ascii", ascii_run, true},
      {"two bytes", "\xC3\xA9", true},
      {"three bytes", "\xE2\x80\x94", true},
      {"four bytes", "\xF0\x9F\x98\x80", true},
      {"last scalar", "\xF4\x8F\xBF\xBF", true},
      {"after an ascii run", ascii_run + "\xC3\xA9", true},
      {"lone continuation", "\x80", false},
      {"overlong two bytes", "\xC0\x80", false},
      {"overlong C1", "\xC1\xBF", false},
      {"overlong three bytes", "\xE0\x80\x80", false},
      {"surrogate", "\xED\xA0\x80", false},
      {"overlong four bytes", "\xF0\x80\x80\x80", false},
      {"above U+10FFFF", "\xF4\x90\x80\x80", false},
      {"F5 lead", "\xF5\x80\x80\x80", false},
      {"truncated at the end", ascii_run + "\xE2\x80", false},
      {"bad continuation", "\xE2\x28\xA1", false},
      {"bad byte inside the fast path", std::string("abcdefg\xFF") + "abcdefgh", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(is_valid_utf8(c.text), c.valid);
  }
}

TEST(ToUtf8Lossy, ReplacesEachMaximalSubpartOnce) {
  struct LossyCase {
    const char* name;
    std::string text;
    std::string lossy;
  };
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  const LossyCase cases[] = {
      {"well-formed unchanged", "Z\xC3\xBCrich \xF0\x9F\x98\x80", "Z\xC3\xBCrich \xF0\x9F\x98\x80"},
      {"lone byte", "st\xFF.json", "st" + r + ".json"},
      {"each lone continuation", "\x80\xBF", r + r},
      {"truncated four-byte prefix is one",
       "a\xF1\x80\x80"
       "b",
       "a" + r + "b"},
      // The example of the Unicode standard: a F1 80 80 E1 80 C2 62 80 63 80 BF 64.
      {"mixed prefixes", "a\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       "a" + r + r + r + "b" + r + "c" + r + r + "d"},
      {"overlong lead bytes one each", "\xC0\xAF", r + r},
      {"E0 below its range", "\xE0\x80\x80", r + r + r},
      {"surrogate", "\xED\xA0\x80", r + r + r},
      {"above U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
      {"truncated at the end", "x\xE2\x80", "x" + r},
      {"the byte that breaks a sequence starts the next", "\xE2\x28\xA1", r + "(" + r},
  };
  for (const LossyCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(to_utf8_lossy(c.text), c.lossy);
    EXPECT_TRUE(is_valid_utf8(to_utf8_lossy(c.text)));
  }
}

}  // namespace
}  // namespace brackfern
