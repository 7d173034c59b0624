#include "config/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

class CRegistryTest : public testing::Test {
 protected:
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

}  // namespace
