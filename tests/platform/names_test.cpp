#include "platform/names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(NamesTest, OnlyAsciiLettersFold) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"Software\\Run", "SOFTWARE\\run", true},
      {"@[`{", "@[`{", true},
      {"@", "`", false},
      {"[", "{", false},
      {"\xC3\x84", "\xC3\xA4", false},
      {"\xC4", "\xE4", false},
      {"Key", "Key ", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    EXPECT_EQ(c.same, platform::SameNameIgnoringCase(c.a, c.b));
    EXPECT_EQ(c.same, platform::FoldNameCase(c.a) == platform::FoldNameCase(c.b));
  }
  EXPECT_EQ("abc\xC3\x84z", platform::FoldNameCase("AbC\xC3\x84Z"));
}

}  // namespace
