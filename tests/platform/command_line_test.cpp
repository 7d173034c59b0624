#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process.h"

namespace {

TEST(SplitCommandLineTest, FollowsTheWindowsRules) {
  struct {
    const char* line;
    std::vector<std::string> words;
  } cases[] = {
      // Blanks and tabs separate words.
      {"", {}},
      {" \t ", {}},
      {"prog", {"prog"}},
      {"prog\ta \t b", {"prog", "a", "b"}},
      {"   prog   a   ", {"prog", "a"}},
      {"prog a\t", {"prog", "a"}},
      // Quotes group; "" inside quotes is a quote.
      {R"(prog "a b" c)", {"prog", "a b", "c"}},
      {R"(prog a"b c"d)", {"prog", "ab cd"}},
      {R"(prog "" x "")", {"prog", "", "x", ""}},
      {R"(prog "	tab")", {"prog", "\ttab"}},
      {R"(prog "open a b)", {"prog", "open a b"}},
      {R"(prog "a ""b"" c")", {"prog", "a \"b\" c"}},
      {R"(prog """")", {"prog", "\""}},
      // Backslashes before a quote: pairs make one, an odd one escapes the quote.
      {R"(prog a\"b c)", {"prog", "a\"b", "c"}},
      {R"(prog a\\"b c")", {"prog", "a\\b c"}},
      {R"(prog a\\\"b c)", {"prog", "a\\\"b", "c"}},
      {R"(prog a\\\\"b c")", {"prog", "a\\\\b c"}},
      {R"(prog "a\\" b)", {"prog", "a\\", "b"}},
      {R"(prog "a\" b")", {"prog", "a\" b"}},
      // Other backslashes are literal.
      {R"(prog a\b c\\d)", {"prog", "a\\b", "c\\\\d"}},
      {R"(prog a\\\\ b)", {"prog", "a\\\\\\\\", "b"}},
      {R"(prog "c:\dir\file x")", {"prog", "c:\\dir\\file x"}},
      // The program word only groups quotes: backslashes never escape there.
      {R"("/opt/my tools/prog" -q)", {"/opt/my tools/prog", "-q"}},
      {R"("c:\dir\" x)", {"c:\\dir\\", "x"}},
      {R"(pr"o g" x)", {"pro g", "x"}},
      {R"("" x)", {"", "x"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.words, platform::SplitCommandLine(c.line)) << c.line;
  }
  EXPECT_EQ((std::vector<std::string>{"prog", "a"}),  // the line ends at a zero byte
            platform::SplitCommandLine(std::string("prog a\0b", 8)));
}

}  // namespace
