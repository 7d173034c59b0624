// The contract of the registry calls, held by both halves: the hive files of
// the POSIX store (in a temporary folder) and the system's registry on
// Windows (a key of its own under HKEY_CURRENT_USER).
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/registry.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

class RegistryContractTest : public testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    using platform::BaseName;
    // A key no run has made before: Windows keeps its registry.
    path_ = "Software\\tarvelin-test\\" + BaseName(dir_.path()) + "-" + std::to_string(++counter);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key_, nullptr));
    // Two values every test finds, a text and a number, in this order.
    ASSERT_EQ(ERROR_SUCCESS, Set("Driver", REG_SZ, std::string("PS", 3)));
    ASSERT_EQ(ERROR_SUCCESS, Set("Timeout", REG_DWORD, std::string("\x2C\x01\0\0", 4)));
  }
  void TearDown() override {
    if (key_) RegCloseKey(key_);
  }
  long Set(const char* name, uint32_t type, const std::string& data) {
    return RegSetValueExA(key_, name, 0, type, reinterpret_cast<const unsigned char*>(data.data()),
                          static_cast<uint32_t>(data.size()));
  }
  /// "type:data" of a value, or "<error N>".
  std::string Get(const char* name) {
    char data[64];
    uint32_t size = sizeof(data), type = 0;
    long rc =
        RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<unsigned char*>(data), &size);
    if (rc != ERROR_SUCCESS) return "<error " + std::to_string(rc) + ">";
    return std::to_string(type) + ":" + std::string(data, size);
  }

  ScopedTempDir dir_;
  ScopedEnv store_{"TARVELIN_REGISTRY_DIR", dir_.path().c_str()};
  std::string path_;
  HKEY key_ = nullptr;
};

// Missing keys and values are not found; a create tells new from existing;
// names match without regard to case; a value keeps its type and data.
TEST_F(RegistryContractTest, KeysAndValuesMatchWithoutCaseAndKeepTheirType) {
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExA(HKEY_CURRENT_USER, (path_ + "\\none").c_str(), 0, KEY_READ, &key));
  uint32_t disposition = 0;
  for (uint32_t expected : {REG_CREATED_NEW_KEY, REG_OPENED_EXISTING_KEY}) {
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_CURRENT_USER, (path_ + "\\Sub\\Deeper").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition));
    EXPECT_EQ(expected, disposition);
    RegCloseKey(key);
  }
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CURRENT_USER, (path_ + "\\SUB").c_str(), 0, KEY_READ, &key));
  RegCloseKey(key);
  const std::string multi("a\0b\0\0", 5);
  ASSERT_EQ(ERROR_SUCCESS, Set("Names", REG_MULTI_SZ, multi));
  ASSERT_EQ(ERROR_SUCCESS, Set("names", REG_SZ, std::string("X", 2)));
  EXPECT_EQ(std::string("1:PS\0|4:\x2C\x01\0\0|1:X\0|<error 2>", 27),
            Get("DRIVER") + "|" + Get("timeout") + "|" + Get("NAMES") + "|" + Get("none"));
}

// Sub keys are listed by name without regard to case; the value listing
// and the key's counts follow the size protocol.
TEST_F(RegistryContractTest, InfoAndEnumerationFollowTheSizeProtocol) {
  for (const char* sub : {"beta", "Alpha", "gamma"}) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(key_, sub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);
  }
  std::string names;
  char name[32];
  uint32_t length = sizeof(name);
  for (uint32_t i = 0;
       RegEnumKeyExA(key_, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
       ++i, length = sizeof(name)) {
    names += std::string(name, length) + " ";
  }
  EXPECT_EQ("Alpha beta gamma ", names);
  uint32_t values = 0, maxName = 0, maxData = 0, subKeys = 9;
  ASSERT_EQ(ERROR_SUCCESS,
            RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                             &maxName, &maxData, nullptr, nullptr));
  EXPECT_EQ("3 2 7",
            std::to_string(subKeys) + " " + std::to_string(values) + " " + std::to_string(maxName));
  EXPECT_GE(maxData, 4u);  // Windows counts a text's data as it stores it: UTF-16

  uint32_t type = 0, size = 0;
  length = 4;  // too short for the name
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(key_, 1, name, &length, nullptr, &type, nullptr, &size));
  length = sizeof(name);
  ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(key_, 1, name, &length, nullptr, &type, nullptr, &size));
  EXPECT_EQ("Timeout 4 4",
            std::string(name, length) + " " + std::to_string(type) + " " + std::to_string(size));
  unsigned char data[2];  // too small: the size it needs is given back
  length = sizeof(name);
  size = sizeof(data);
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(key_, 1, name, &length, nullptr, &type, data, &size));
  EXPECT_EQ(4u, size);
  length = sizeof(name);
  EXPECT_EQ(ERROR_NO_MORE_ITEMS,
            RegEnumValueA(key_, 2, name, &length, nullptr, &type, nullptr, &size));
}

}  // namespace
