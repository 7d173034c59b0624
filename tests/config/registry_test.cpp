#include "config/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

// An assignment writes the value with its type, under the name first used.
TEST(CRegistryTest, AssignmentsStoreTheirType) {
  ScopedTempDir dir;
  ScopedEnv store("TARVELIN_REGISTRY_DIR", dir.path().c_str());
  auto hive = [&dir] { return ReadFileText(dir.Join("HKEY_LOCAL_MACHINE.reg")); };
  CRegistry reg(CRegistry::kCreateKey);  // closed before the environment is restored
  ASSERT_TRUE(reg.Open("Software\\Port", HKEY_LOCAL_MACHINE, 3));
  CRegEntry& port = reg["Port"];  // letter case is ignored
  EXPECT_EQ(&port, &reg["PORT"]);
  reg["PORT"] = 9;
  EXPECT_TRUE(Has(hive(), "\n\"Port\"=dword:00000009\n"));
  reg["port"] = "LPT1:";  // text over a number becomes text
  EXPECT_TRUE(Has(hive(), "\n\"Port\"=\"LPT1:\"\n"));
  std::string text(3000, 't');  // cut in the entry, stored whole
  reg["Command"] = text.c_str();
  EXPECT_EQ(2047u, strlen(reg["Command"].Text()));
  EXPECT_TRUE(Has(hive(), "\n\"Command\"=\"" + text + "\"\n"));
}

}  // namespace
