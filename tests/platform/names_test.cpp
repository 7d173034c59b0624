#include "platform/names.h"

#include <gtest/gtest.h>

#include <string>

#include "config/registry.h"
#include "platform/profile.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

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

// Profile sections and keys and registry entries follow the same rule.
TEST(NamesTest, ProfileAndRegistryFoldTheSameWay) {
  ScopedTempDir dir;
  std::string ini = dir.Join("config.ini");
  WriteFileText(ini, "[\xC3\xA4Section]\nKEY=1\n");
  char value[16];
  platform::GetPrivateProfileStringA("\xC3\xA4sECTION", "key", "-", value, sizeof(value),
                                     ini.c_str());
  EXPECT_STREQ("1", value);
  platform::GetPrivateProfileStringA("\xC3\x84Section", "KEY", "-", value, sizeof(value),
                                     ini.c_str());
  EXPECT_STREQ("-", value);

#ifdef _WIN32
  GTEST_SKIP() << "the Windows registry folds the case of every letter, not ASCII only";
#endif
  ScopedEnv store("TARVELIN_REGISTRY_DIR", dir.path().c_str());
  CRegistry reg(CRegistry::kCreateKey);
  ASSERT_TRUE(reg.Open("Software\\Names", HKEY_LOCAL_MACHINE, KEY_ALL_ACCESS));
  EXPECT_EQ(&reg["\xC3\xA4Value"], &reg["\xC3\xA4VALUE"]);
  EXPECT_NE(&reg["\xC3\xA4Value"], &reg["\xC3\x84Value"]);
}

}  // namespace
