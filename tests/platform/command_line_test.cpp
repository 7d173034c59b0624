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
      // Quotes group; "" inside quotes is a quote.
      {R"(prog "a b" c)", {"prog", "a b", "c"}},
      {R"(prog a"b c"d)", {"prog", "ab cd"}},
      {R"(prog "" x "")", {"prog", "", "x", ""}},
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

// Every word of bytes that matter to the rules, shell syntax among them,
// comes back as it was.
TEST(JoinCommandLineTest, RandomWordsSurviveTheRoundTrip) {
  const char alphabet[] = {'a', ' ', '\t', '"', '\\', '\'', ';', '$', '|', '`', '('};
  unsigned seed = 12345;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::string> words{"/bin/prog x"};
    for (unsigned n = next() % 4; n > 0; --n) {
      std::string word;
      for (unsigned length = next() % 8; length > 0; --length) {
        word += alphabet[next() % sizeof(alphabet)];
      }
      words.push_back(word);
    }
    std::string line;
    ASSERT_TRUE(platform::JoinCommandLine(words, &line));
    ASSERT_EQ(words, platform::SplitCommandLine(line)) << line;
  }
}

}  // namespace
