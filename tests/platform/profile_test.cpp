// The profile functions of the POSIX half under concurrent writers; the
// contract both halves keep is in profile_contract_test.cpp.
#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "support/temp_dir.h"

using platform::GetPrivateProfileStringA;
using platform::WritePrivateProfileStringA;

namespace {

std::string Get(const std::string& file, const char* section, const char* key) {
  char buf[256];
  GetPrivateProfileStringA(section, key, "DEF", buf, sizeof(buf), file.c_str());
  return buf;
}

TEST(ProfileTest, ConcurrentWritersLoseNothing) {
  ScopedTempDir dir;
  std::string ini = dir.Join("config.ini");
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    if (children[c] == 0) {
      for (int i = 0; i < 200; ++i) {
        std::string key = "k" + std::to_string(c) + "_" + std::to_string(i);
        WritePrivateProfileStringA("Options", key.c_str(), "v", ini.c_str());
      }
      _exit(0);
    }
  }
  for (pid_t child : children) waitpid(child, nullptr, 0);
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < 200; ++i) {
      std::string key = "k" + std::to_string(c) + "_" + std::to_string(i);
      ASSERT_EQ("v", Get(ini, "Options", key.c_str())) << key;
    }
  }
}

}  // namespace
