#include "config/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

class CRegistryTest : public testing::Test {
 protected:
  std::string Hive() const { return dir_.Join("HKEY_LOCAL_MACHINE.reg"); }
  bool Open() { return reg_.Open("Software\\Port", HKEY_LOCAL_MACHINE, 3); }
  /// The stored value as Typed(type, data), or "<error N>".
  std::string Stored(const char* name) {
    HKEY key = nullptr;
    long status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Port", 0, KEY_READ, &key);
    std::string data(8192, '\0');
    uint32_t size = static_cast<uint32_t>(data.size()), type = 0;
    if (status == ERROR_SUCCESS) {
      status = RegQueryValueExA(key, name, nullptr, &type,
                                reinterpret_cast<unsigned char*>(&data[0]), &size);
      RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS) return "<error " + std::to_string(status) + ">";
    return Typed(type, data.substr(0, size));
  }
  static std::string Typed(uint32_t type, const std::string& data) {
    return std::to_string(type) + ":" + data;
  }

  ScopedTempDir dir_;
  ScopedEnv store_{"TARVELIN_REGISTRY_DIR", dir_.path().c_str()};
  CRegistry reg_{CRegistry::kCreateKey};  // last: closed before the environment is restored
};

TEST_F(CRegistryTest, OpenLoadsTheSupportedValuesWithoutWriting) {
  // CRLF and capital hex digits: any rewrite of the file would show.
  std::string hive =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Port]\r\n"
      "\"Driver\"=\"PS\"\r\n\"Timeout\"=dword:0000012C\r\n\"Names\"=hex(7):61,00,62,00,00\r\n"
      "\"Home\"=hex(2):25,00\r\n\"Huge\"=\"" +
      std::string(2100, 'h') + "\"\r\n";
  WriteFileText(Hive(), hive);
  ASSERT_TRUE(reg_.Open("Software\\Port", HKEY_LOCAL_MACHINE, KEY_QUERY_VALUE | KEY_SET_VALUE));
  EXPECT_STREQ("PS", reg_["Driver"].Text());
  EXPECT_EQ(REG_DWORD, reg_["Timeout"].Type());
  EXPECT_EQ(300u, reg_["Timeout"].Number());
  EXPECT_EQ(hive, ReadFileText(Hive()));
}

TEST_F(CRegistryTest, AssignmentsStoreTheirType) {
  ASSERT_TRUE(Open());
  CRegEntry& port = reg_["Port"];  // letter case is ignored, the first name is kept
  EXPECT_EQ(&port, &reg_["PORT"]);
  reg_["PORT"] = 9;
  EXPECT_EQ(Typed(REG_DWORD, std::string("\x09\0\0\0", 4)), Stored("port"));
  reg_["port"] = "LPT1:";  // text over a number becomes text
  EXPECT_EQ(REG_SZ, port.Type());
  EXPECT_EQ("Port", port.Name());
  EXPECT_EQ(Typed(REG_SZ, std::string("LPT1:\0", 6)), Stored("Port"));

  std::string text(3000, 't');  // cut in the entry, stored whole
  reg_["Command"] = text.c_str();
  EXPECT_EQ(2047u, strlen(reg_["Command"].Text()));
  EXPECT_EQ(Typed(REG_SZ, text + '\0'), Stored("Command"));
}

TEST_F(CRegistryTest, WithoutAnOpenKeyAssignmentsChangeOnlyTheEntry) {
  CRegistry plain(0);
  EXPECT_FALSE(plain.Open("Software\\Missing", HKEY_LOCAL_MACHINE, 3));
  plain["Name"] = "nowhere";  // nothing written, nothing crashes
  EXPECT_FALSE(platform::PathExists(Hive()));

  ASSERT_TRUE(Open());
  reg_["Kept"] = 1u;
  reg_.Close();
  std::string before = ReadFileText(Hive());
  reg_["Kept"] = "changed";
  reg_["Late"] = 5u;
  EXPECT_STREQ("changed", reg_["Kept"].Text());
  EXPECT_EQ(before, ReadFileText(Hive()));

  WriteFileText(dir_.Join("file"), "");  // a store folder that cannot be made
  ScopedEnv unusable("TARVELIN_REGISTRY_DIR", dir_.Join("file/sub").c_str());
  EXPECT_FALSE(Open());
}

}  // namespace
