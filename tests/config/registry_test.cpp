#include "config/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "support/temp_dir.h"

namespace {

class CRegistryTest : public testing::Test {
 protected:
  CRegistryTest() {
    const char* old = getenv("TARVELIN_REGISTRY_DIR");
    if (old) old_ = old;
    had_ = old != nullptr;
    setenv("TARVELIN_REGISTRY_DIR", dir_.path().c_str(), 1);
  }
  ~CRegistryTest() override {
    if (had_) {
      setenv("TARVELIN_REGISTRY_DIR", old_.c_str(), 1);
    } else {
      unsetenv("TARVELIN_REGISTRY_DIR");
    }
  }
  std::string Hive() const { return dir_.Join("HKEY_LOCAL_MACHINE.reg"); }
  /// The stored value as type and raw bytes, or "<error N>".
  std::string Stored(const char* name, uint32_t* type = nullptr) {
    HKEY key = nullptr;
    long status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Port", 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS) return "<error " + std::to_string(status) + ">";
    std::string data(8192, '\0');
    uint32_t size = static_cast<uint32_t>(data.size());
    status = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<unsigned char*>(&data[0]),
                              &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return "<error " + std::to_string(status) + ">";
    return data.substr(0, size);
  }

  ScopedTempDir dir_;
  std::string old_;
  bool had_;
};

TEST_F(CRegistryTest, OpenLoadsTheSupportedValuesWithoutWriting) {
  // CRLF and capital hex digits: any rewrite of the file would show.
  std::string hive =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Port]\r\n"
      "\"Driver\"=\"PS\"\r\n\"Timeout\"=dword:0000012C\r\n\"Names\"=hex(7):61,00,62,00,00\r\n"
      "\"Home\"=hex(2):25,00\r\n\"Huge\"=\"" +
      std::string(2100, 'h') + "\"\r\n";
  WriteFileText(Hive(), hive);
  CRegistry reg(CRegistry::kCreateKey);
  ASSERT_TRUE(reg.Open("Software\\Port", HKEY_LOCAL_MACHINE, KEY_QUERY_VALUE | KEY_SET_VALUE));
  EXPECT_EQ(CRegistry::kCreateKey, reg.Flags());
  ASSERT_EQ(3u, reg.EntryCount());  // no entry for REG_EXPAND_SZ, none for data over 2048 bytes
  EXPECT_STREQ("PS", reg["Driver"].Text());
  EXPECT_EQ(REG_DWORD, reg["Timeout"].Type());
  EXPECT_EQ(300u, reg["Timeout"].Number());
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), reg["Names"].Texts());
  EXPECT_EQ(3u, reg.EntryCount());
  EXPECT_EQ(hive, ReadFileText(Hive()));
}

TEST_F(CRegistryTest, SubscriptIgnoresLetterCase) {
  CRegistry reg(CRegistry::kCreateKey);
  ASSERT_TRUE(reg.Open("Software\\Port", HKEY_LOCAL_MACHINE, 3));
  CRegEntry& driver = reg["Driver"];
  EXPECT_EQ(&driver, &reg["DRIVER"]);
  EXPECT_EQ(1u, reg.EntryCount());
  reg["DRIVER"] = "x";
  EXPECT_EQ(std::string("x\0", 2), Stored("driver"));
  EXPECT_EQ("Driver", driver.Name());
}

TEST_F(CRegistryTest, TextOverNumberBecomesText) {
  CRegistry reg(CRegistry::kCreateKey);
  ASSERT_TRUE(reg.Open("Software\\Port", HKEY_LOCAL_MACHINE, 3));
  reg["Port"] = 9;
  uint32_t type = 0;
  EXPECT_EQ(std::string("\x09\0\0\0", 4), Stored("Port", &type));
  EXPECT_EQ(REG_DWORD, type);
  reg["Port"] = "LPT1:";
  EXPECT_EQ(REG_SZ, reg["Port"].Type());
  EXPECT_EQ(std::string("LPT1:\0", 6), Stored("Port", &type));
  EXPECT_EQ(REG_SZ, type);
}

TEST_F(CRegistryTest, LongTextIsCutInTheEntryButStoredWhole) {
  CRegistry reg(CRegistry::kCreateKey);
  ASSERT_TRUE(reg.Open("Software\\Port", HKEY_LOCAL_MACHINE, 3));
  std::string text(3000, 't');
  reg["Command"] = text.c_str();
  EXPECT_EQ(2047u, strlen(reg["Command"].Text()));
  EXPECT_EQ(text + '\0', Stored("Command"));
}

TEST_F(CRegistryTest, BinaryAndMultiStrings) {
  CRegistry reg(CRegistry::kCreateKey);
  ASSERT_TRUE(reg.Open("Software\\Port", HKEY_LOCAL_MACHINE, 3));
  reg["Multi"].SetMulti("a\0b\0\0", 5);
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), reg["Multi"].Texts());
  EXPECT_EQ(std::string("a\0b\0\0", 5), Stored("Multi"));
  reg["Multi"].SetMulti("\0\0", 2);
  EXPECT_TRUE(reg["Multi"].Texts().empty());
  EXPECT_EQ(REG_MULTI_SZ, reg["Multi"].Type());

  const unsigned char bytes[] = {1, 0, 2};
  reg["Bin"].SetBinary(bytes, 0);
  EXPECT_EQ(REG_NONE, reg["Bin"].Type());
  EXPECT_EQ("<error 2>", Stored("Bin"));
  reg["Bin"].SetBinary(bytes, 3);
  EXPECT_EQ(std::string("\x01\0\x02", 3), Stored("Bin"));
  EXPECT_EQ(3u, reg["bin"].Bytes().size());
}

TEST_F(CRegistryTest, AfterCloseAssignmentsChangeOnlyTheEntry) {
  CRegistry reg(CRegistry::kCreateKey);
  ASSERT_TRUE(reg.Open("Software\\Port", HKEY_LOCAL_MACHINE, 3));
  reg["Kept"] = 1u;
  reg.Close();
  std::string before = ReadFileText(Hive());
  reg["Kept"] = "changed";
  reg["Late"] = 5u;
  EXPECT_STREQ("changed", reg["Kept"].Text());
  EXPECT_EQ(before, ReadFileText(Hive()));
}

TEST_F(CRegistryTest, OpenFailsWithoutAKey) {
  CRegistry plain(0);
  EXPECT_FALSE(plain.Open("Software\\Missing", HKEY_LOCAL_MACHINE, 3));
  EXPECT_FALSE(plain.IsOpen());
  EXPECT_FALSE(plain.Refresh());
  plain["Name"] = "nowhere";  // no key: nothing written, nothing crashes
  EXPECT_FALSE(platform::PathExists(Hive()));

  WriteFileText(dir_.Join("file"), "");
  setenv("TARVELIN_REGISTRY_DIR", dir_.Join("file/sub").c_str(), 1);
  CRegistry create(CRegistry::kCreateKey);
  EXPECT_FALSE(create.Open("Software\\Port", HKEY_LOCAL_MACHINE, 3));
}

}  // namespace
