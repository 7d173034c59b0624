#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace {

TEST(AnsiToUtf8Test, KeepsUtf8AndReadsOtherBytesAsWindows1252) {
  const std::string utf8 = "M\xC3\xBCller \xE2\x80\x93 \xE2\x82\xAC \xF0\x9F\x98\x80";
  struct {
    std::string in, out;
  } cases[] = {
      {"plain", "plain"},
      {utf8, utf8},
      {"M\xFCller \x96 \x80", "M\xC3\xBCller \xE2\x80\x93 \xE2\x82\xAC"},
      {"\x81\x9F", "\xC2\x81\xC5\xB8"},                  // undefined byte kept, then Y diaeresis
      {"\xC0\xAF", "\xC3\x80\xC2\xAF"},                  // overlong form
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},  // surrogate
      {"\xC3", "\xC3\x83"},                              // cut sequence
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(c.out, platform::AnsiToUtf8(c.in));
  }
}

}  // namespace
