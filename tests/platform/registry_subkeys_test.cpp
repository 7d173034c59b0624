// Listing the sub keys of a key in the registry store (RegEnumKeyExA).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

class RegistrySubKeysTest : public testing::Test {
 protected:
  std::string Hive() const { return dir_.Join("HKEY_LOCAL_MACHINE.reg"); }
  /// Every sub key name of path, by RegEnumKeyExA, or "<error N>" as the last entry.
  std::vector<std::string> SubKeys(const char* path) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    long status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
    for (uint32_t index = 0; status == ERROR_SUCCESS; ++index) {
      char name[256];
      uint32_t length = sizeof(name);
      status = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_SUCCESS) names.push_back(std::string(name, length));
    }
    if (status != ERROR_NO_MORE_ITEMS) names.push_back("<error " + std::to_string(status) + ">");
    RegCloseKey(key);
    return names;
  }

  ScopedTempDir dir_;
  ScopedEnv env_{"TARVELIN_REGISTRY_DIR", dir_.path().c_str()};
};

// Direct children only, each once, ordered by name without regard to case,
// spelled as the hive first spells them; a child known only through a
// deeper key counts too.
TEST_F(RegistrySubKeysTest, ListsDirectChildrenByName) {
  WriteFileText(Hive(),
                "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Mon]\n\n[HKEY_LOCAL_MACHINE\\Mon\\zeta]\n\n"
                "[HKEY_LOCAL_MACHINE\\Mon\\Alpha]\n\"V\"=\"1\"\n\n"
                "[HKEY_LOCAL_MACHINE\\MON\\ALPHA\\Deep]\n\n"
                "[HKEY_LOCAL_MACHINE\\Mon\\beta\\Only\\Below]\n\n[HKEY_LOCAL_MACHINE\\Monitor]\n");
  EXPECT_EQ((std::vector<std::string>{"Alpha", "beta", "zeta"}), SubKeys("mon"));
  EXPECT_EQ((std::vector<std::string>{"Deep"}), SubKeys("Mon\\Alpha"));
  EXPECT_EQ((std::vector<std::string>{}), SubKeys("Mon\\zeta"));
}

// The system keys of every store are listed like the others.
TEST_F(RegistrySubKeysTest, ListsSystemKeysOfANewStore) {
  EXPECT_EQ((std::vector<std::string>{"Monitors"}),
            SubKeys("SYSTEM\\CurrentControlSet\\Control\\Print"));
}

TEST_F(RegistrySubKeysTest, ShortBufferAndMissingAccessAreRefused) {
  WriteFileText(Hive(), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Mon\\LongName]\n");
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Mon", 0, KEY_READ, &key));
  char name[8];
  uint32_t length = sizeof(name);
  EXPECT_EQ(ERROR_MORE_DATA,
            RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  length = 9;
  char fits[9];
  char keyClass[4] = "x";
  uint32_t classLength = sizeof(keyClass);
  FILETIME written{0, 0};
  EXPECT_EQ(ERROR_SUCCESS,
            RegEnumKeyExA(key, 0, fits, &length, nullptr, keyClass, &classLength, &written));
  EXPECT_EQ("LongName", std::string(fits));
  EXPECT_EQ(8u, length);
  EXPECT_EQ("", std::string(keyClass));
  EXPECT_EQ(0u, classLength);
  EXPECT_NE(0u, written.dwHighDateTime);
  RegCloseKey(key);

  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Mon", 0, KEY_QUERY_VALUE, &key));
  length = sizeof(fits);
  EXPECT_EQ(ERROR_ACCESS_DENIED,
            RegEnumKeyExA(key, 0, fits, &length, nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(key);
}

}  // namespace
