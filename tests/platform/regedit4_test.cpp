#include "platform/regedit4.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"

namespace {

using platform::regedit4::Hive;
using platform::regedit4::ParseHive;
using platform::regedit4::SerializeHive;

Hive Parse(const std::string& text) {
  Hive hive;
  hive.root = "HKEY_CURRENT_USER";
  ParseHive(text, &hive);
  return hive;
}

const char kHeader[] = "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n";

// One value line each: what it reads as, or why it is skipped.
TEST(Regedit4Test, ValueLinesReadOrGiveTheirReason) {
  const struct {
    const char* line;
    uint32_t type;
    std::string data;
    const char* why;  // nullptr: read
  } cases[] = {
      {"@=\"d\"", REG_SZ, std::string("d\0", 2), nullptr},
      {"\"A\\\"b\" = \"x\\\\y\"", REG_SZ, std::string("x\\y\0", 4), nullptr},
      {"\"N\"=DWORD:0000012C", REG_DWORD, std::string("\x2c\x01\0\0", 4), nullptr},
      {"\"B\"=hex:", REG_BINARY, "", nullptr},
      {"\"M\"=hex(7):61, 00 ,00", REG_MULTI_SZ, std::string("a\0\0", 3), nullptr},
      {"\"L\"=hex:01,\\\n  02", REG_BINARY, "\x01\x02", nullptr},
      {"\"Q\"=\"x\\n\"", 0, "", "bad text"},
      {"\"Q=\"x\"", 0, "", "no '=' after the value name"},
      {"\"Q\\x\"=\"x\"", 0, "", "bad value name"},
      {"\"D\"=dword:123456789", 0, "", "bad dword"},
      {"\"H\"=hex(z):00", 0, "", "bad hex type"},
      {"\"H\"=hex:0g", 0, "", "bad hex data"},
      {"\"X\"=-", 0, "", "a deletion, which a hive does not hold"},
      {"\"X\"=str:1", 0, "", "unknown kind of data"},
      {"Y=1", 0, "", "neither a key nor a value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Hive hive = Parse(kHeader + std::string(c.line) + "\n");
    ASSERT_EQ(1u, hive.keys.size());
    if (c.why) {
      ASSERT_EQ(1u, hive.problems.size());
      EXPECT_EQ(c.why, hive.problems[0].why);
      EXPECT_EQ(3u, hive.problems[0].line);
      EXPECT_TRUE(hive.keys[0].values.empty());
    } else {
      EXPECT_TRUE(hive.problems.empty());
      ASSERT_EQ(1u, hive.keys[0].values.size());
      EXPECT_EQ(c.type, hive.keys[0].values[0].type);
      EXPECT_EQ(c.data, hive.keys[0].values[0].data);
    }
  }
}

TEST(Regedit4Test, HeadersAndFirstLinesGiveTheirReason) {
  const struct {
    const char* text;
    const char* why;  // nullptr: no problem
  } cases[] = {
      {"\xEF\xBB\xBFREGEDIT4\r\n[HKEY_CURRENT_USER\\K]\r\n", nullptr},
      {"Windows Registry Editor Version 5.00\n[hkey_current_user]\n", nullptr},
      {"REGEDIT5\n", "no REGEDIT4 first line"},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\K\n", "key name without ']'"},
      {"REGEDIT4\n[-HKEY_CURRENT_USER\\K]\n", "a key deletion, which a hive does not hold"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n", "key outside HKEY_CURRENT_USER"},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\K\\\\L]\n", "empty part in the key name"},
      {"REGEDIT4\n\"V\"=\"1\"\n", "value outside a readable key"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Hive hive = Parse(c.text);
    if (!c.why) {
      EXPECT_TRUE(hive.problems.empty());
      EXPECT_EQ(1u, hive.keys.size());
    } else {  // the first problem of the text (a wrong first line is read on as well)
      ASSERT_FALSE(hive.problems.empty());
      EXPECT_EQ(c.why, hive.problems[0].why);
    }
  }
}

// Headers in other letter case add to the first; a value set twice keeps
// its first place and its last data; the writer quotes, escapes, breaks
// long hex lines and writes a text with a line break (or no final zero) as
// hex(1), and its text reads back as it is.
TEST(Regedit4Test, WritesWhatItReadsInStoredOrder) {
  std::string ffs;
  for (int i = 0; i < 26; ++i) ffs += i ? ",ff" : "ff";
  const std::string read =
      "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"1\"\n\"Q\\\"\"=dword:1\n"
      "[HKEY_CURRENT_USER\\B]\n@=hex(2):25,00\n\"T\"=hex(1):61,0a,62,00\n[hkey_current_user\\a]"
      "\n\"X\"=\"2\"\n"
      "\"Long\"=hex:" +
      ffs + "\n";
  const std::string written =
      "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"2\"\n\"Q\\\"\"=dword:00000001\n"
      "\"Long\"=hex:ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,\\\n"
      "  ff,ff,ff,ff\n\n[HKEY_CURRENT_USER\\B]\n@=hex(2):25,00\n\"T\"=hex(1):61,0a,62,00\n\n";
  EXPECT_EQ(written, SerializeHive(Parse(read)));
  Hive again = Parse(written);
  EXPECT_TRUE(again.problems.empty());
  EXPECT_EQ(written, SerializeHive(again));
}

}  // namespace
