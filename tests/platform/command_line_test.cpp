#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process.h"

namespace {

struct SplitCase {
  const char* line;
  std::vector<std::string> words;
};

void ExpectSplits(const std::vector<SplitCase>& cases) {
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(c.words, platform::SplitCommandLine(c.line));
  }
}

TEST(SplitCommandLineTest, BlanksAndTabsSeparateWords) {
  ExpectSplits({
      {"", {}},
      {" \t ", {}},
      {"prog", {"prog"}},
      {"prog a b", {"prog", "a", "b"}},
      {"prog\ta \t b", {"prog", "a", "b"}},
      {"   prog   a   ", {"prog", "a"}},
      {"prog a\t", {"prog", "a"}},
  });
}

TEST(SplitCommandLineTest, QuotesGroup) {
  ExpectSplits({
      {R"(prog "a b" c)", {"prog", "a b", "c"}},
      {R"(prog a"b c"d)", {"prog", "ab cd"}},
      {R"(prog "")", {"prog", ""}},
      {R"(prog "" x "")", {"prog", "", "x", ""}},
      {R"(prog "	tab")", {"prog", "\ttab"}},
      {R"(prog "open a b)", {"prog", "open a b"}},
      {R"(prog "a ""b"" c")", {"prog", "a \"b\" c"}},
      {R"(prog """")", {"prog", "\""}},
  });
}

TEST(SplitCommandLineTest, BackslashesBeforeQuote) {
  ExpectSplits({
      {R"(prog a\"b c)", {"prog", "a\"b", "c"}},
      {R"(prog a\\"b c")", {"prog", "a\\b c"}},
      {R"(prog a\\\"b c)", {"prog", "a\\\"b", "c"}},
      {R"(prog a\\\\"b c")", {"prog", "a\\\\b c"}},
      {R"(prog "a\\" b)", {"prog", "a\\", "b"}},
      {R"(prog "a\" b")", {"prog", "a\" b"}},
  });
}

TEST(SplitCommandLineTest, OtherBackslashesAreLiteral) {
  ExpectSplits({
      {R"(prog a\b c\\d)", {"prog", "a\\b", "c\\\\d"}},
      {R"(prog a\\\\ b)", {"prog", "a\\\\\\\\", "b"}},
      {R"(prog "c:\dir\file x")", {"prog", "c:\\dir\\file x"}},
  });
}

TEST(SplitCommandLineTest, ProgramWordOnlyGroupsQuotes) {
  ExpectSplits({
      {R"("/opt/my tools/prog" -q)", {"/opt/my tools/prog", "-q"}},
      {R"("c:\dir\" x)", {"c:\\dir\\", "x"}},
      {R"(pr"o g" x)", {"pro g", "x"}},
      {R"("" x)", {"", "x"}},
  });
}

TEST(SplitCommandLineTest, EndsAtZeroByte) {
  EXPECT_EQ((std::vector<std::string>{"prog", "a"}),
            platform::SplitCommandLine(std::string("prog a\0b", 8)));
}

}  // namespace
