#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/registry.h"
#include "support/file_size_limit.h"
#include "support/forked_child.h"
#include "support/links.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

class RegistryStoreTest : public testing::Test {
 protected:
  std::string Hive() const { return dir_.Join("HKEY_LOCAL_MACHINE.reg"); }
  /// The value as raw bytes, or "<error N>".
  std::string Query(HKEY key, const char* name) {
    unsigned char data[4096];
    uint32_t size = sizeof(data);
    long status = RegQueryValueExA(key, name, nullptr, nullptr, data, &size);
    if (status != ERROR_SUCCESS) return "<error " + std::to_string(status) + ">";
    return std::string(reinterpret_cast<char*>(data), size);
  }
  long Set(HKEY key, const char* name, uint32_t type, const std::string& data) {
    return RegSetValueExA(key, name, 0, type, reinterpret_cast<const unsigned char*>(data.data()),
                          static_cast<uint32_t>(data.size()));
  }
  long Open(const char* path, uint32_t access, HKEY* key) {
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, key);
  }
  long CreateKey(const char* path, uint32_t access, HKEY* key) {
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                           nullptr, key, nullptr);
  }
  HKEY Create(const char* path, uint32_t access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, CreateKey(path, access, &key));
    return key;
  }
  /// Every sub key name of path, by RegEnumKeyExA, or "<error N>" as the last entry.
  std::vector<std::string> SubKeys(const char* path) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    long status = Open(path, KEY_READ, &key);
    char name[256];
    for (uint32_t i = 0, length = sizeof(name); status == ERROR_SUCCESS; length = sizeof(name)) {
      status = RegEnumKeyExA(key, i++, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_SUCCESS) names.push_back(std::string(name, length));
    }
    if (status != ERROR_NO_MORE_ITEMS) names.push_back("<error " + std::to_string(status) + ">");
    RegCloseKey(key);
    return names;
  }
  /// Tries to write and then to read key Run (whose X is "1"): the results on one line.
  std::string Attempts() {
    HKEY key = nullptr;
    std::string line = std::to_string(Open("Run", KEY_WRITE, &key)) + (key ? " key" : "");
    line += " " + std::to_string(CreateKey("Run", KEY_SET_VALUE, &key));
    line += " " + std::to_string(CreateKey("New", KEY_READ, &key));
    line += " " + std::to_string(Open("run", KEY_READ, &key));
    line += " " + std::string(Query(key, "x").c_str());
    RegCloseKey(key);
    return line;
  }

  ScopedTempDir dir_;
  ScopedEnv env_{"TARVELIN_REGISTRY_DIR", dir_.path().c_str()};
};

// Keys are found through an index by folded path: a hive of many keys, with
// a header repeated in other letter case, reads and writes back in order.
TEST_F(RegistryStoreTest, HiveWithManyKeysRoundTrips) {
  const int kKeys = 2000;
  auto header = [](const std::string& path) { return "[HKEY_LOCAL_MACHINE\\" + path + "]\n"; };
  auto dword = [](int n) {
    char line[32];
    snprintf(line, sizeof(line), "\"V\"=dword:%08x\n", n);
    return std::string(line);
  };
  std::string text = "REGEDIT4\n\n", expected = text;
  for (int i = 0; i < kKeys; ++i) {
    std::string key = header("Software\\Many\\Key" + std::to_string(i));
    text += key + dword(i) + "\n";
    expected += key + dword(i == kKeys - 1 ? 7 : i) + (i == 7 ? "\"W\"=\"w\"\n\n" : "\n");
  }
  text += header("SOFTWARE\\MANY\\KEY7") + "\"W\"=\"w\"\n";
  // New keys come with headers for their parents that had none.
  for (const char* added :
       {"Software", "Software\\Many", "Software\\Many\\NEW", "Software\\Many\\NEW\\Sub"}) {
    expected += header(added) + "\n";
  }
  WriteFileText(Hive(), text);

  HKEY key = Create("software\\many\\key1999");
  EXPECT_EQ(ERROR_SUCCESS, Set(key, "v", REG_DWORD, std::string("\x07\0\0\0", 4)));
  RegCloseKey(key);
  RegCloseKey(Create("SOFTWARE\\MANY\\NEW\\Sub"));
  key = Create("Software\\Many", KEY_READ);
  uint32_t subKeys = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(static_cast<uint32_t>(kKeys + 1), subKeys);
  RegCloseKey(key);
  std::string written = ReadFileText(Hive());
  size_t differs =
      std::mismatch(expected.begin(), expected.end(), written.begin(), written.end()).first -
      expected.begin();
  EXPECT_EQ(expected.substr(differs, 100), written.substr(differs, 100)) << "at " << differs;
}

// Direct children only, each once, ordered by name without regard to case,
// spelled as the hive first spells them; a child known only through a
// deeper key counts too. The system's keys exist in a new store (the Run
// key: the auto-run test).
TEST_F(RegistryStoreTest, SubKeysAreTheDirectChildrenByName) {
  EXPECT_EQ((std::vector<std::string>{"Monitors"}),
            SubKeys("SYSTEM\\CurrentControlSet\\Control\\Print"));
  EXPECT_EQ((std::vector<std::string>{"<error 2>"}), SubKeys("SOFTWARE\\Quorvel"));
  WriteFileText(Hive(),
                "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Mon]\n\n[HKEY_LOCAL_MACHINE\\Mon\\zeta]\n\n"
                "[HKEY_LOCAL_MACHINE\\Mon\\Alpha]\n\"V\"=\"1\"\n\n"
                "[HKEY_LOCAL_MACHINE\\MON\\ALPHA\\Deep]\n\n"
                "[HKEY_LOCAL_MACHINE\\Mon\\beta\\Only\\Below]\n\n[HKEY_LOCAL_MACHINE\\Monitor]\n");
  EXPECT_EQ((std::vector<std::string>{"Alpha", "beta", "zeta"}), SubKeys("mon"));
  EXPECT_EQ((std::vector<std::string>{"Deep"}), SubKeys("Mon\\Alpha"));
  EXPECT_EQ((std::vector<std::string>{}), SubKeys("Mon\\zeta"));

  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, Open("Mon", KEY_QUERY_VALUE, &key));
  char name[8];
  uint32_t length = sizeof(name);
  EXPECT_EQ(ERROR_ACCESS_DENIED,
            RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_ACCESS_DENIED, Set(key, "x", REG_SZ, std::string("y", 2)));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
}

// Each damaged line is reported with its reason, a zero byte ending the
// quoted text as it ends a C string; the first write keeps a copy.
TEST_F(RegistryStoreTest, DamagedHiveKeepsReadablePartsAndACopy) {
  ScopedProgramFolder program;
  program.EnableLog();
  const char text[] =
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Good]\n\"A\"=\"1\"\ngarbage\0tail\n\"B\"=dword:xyz\n"
      "[HKEY_CURRENT_USER\\Foreign]\n\"C\"=\"lost?\"\n"
      "[HKEY_LOCAL_MACHINE\\Good\\Child]\n\"D\"=hex:0g\n\"E\"=hex:01\n";
  const std::string damaged(text, sizeof(text) - 1);
  WriteFileText(Hive(), damaged);
  HKEY key = Create("Good");
  EXPECT_EQ(std::string("1\0", 2), Query(key, "A"));
  EXPECT_EQ("<error 2>", Query(key, "B"));
  const std::string file = "Registry file \"" + Hive() + "\"";
  std::string log = ReadFileText(program.Log());
  EXPECT_TRUE(Has(
      log, "[ERROR] " + file +
               " line 5 is not readable (neither a key nor a value) and is skipped: garbage\n"));
  for (const char* line : {"line 6", "line 7", "line 8", "line 10"}) EXPECT_TRUE(Has(log, line));
  EXPECT_EQ(ReadFileText(Hive()), damaged);  // reading never rewrites

  EXPECT_EQ(ERROR_SUCCESS, Set(key, "New", REG_SZ, std::string("n\0", 2)));
  EXPECT_TRUE(Has(ReadFileText(program.Log()), " is damaged; a copy is kept as \"" + Hive()));
  EXPECT_EQ(damaged, ReadFileText(Hive() + ".damaged"));
  EXPECT_EQ(
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Good]\n\"A\"=\"1\"\n\"New\"=\"n\"\n\n"
      "[HKEY_LOCAL_MACHINE\\Good\\Child]\n\"E\"=hex:01\n\n",
      ReadFileText(Hive()));
  // Damaged again later: the first copy stays, a second one is kept.
  WriteFileText(Hive(), ReadFileText(Hive()) + "oops\n");
  EXPECT_EQ(ERROR_SUCCESS, Set(key, "New", REG_SZ, std::string("m\0", 2)));
  EXPECT_EQ(damaged, ReadFileText(Hive() + ".damaged"));
  EXPECT_TRUE(platform::PathExists(Hive() + ".damaged.2"));
  RegCloseKey(key);
}

// A hive that cannot be written whole (here past the file size limit, as on
// a full disk) stays as it was, and the log line says why.
TEST_F(RegistryStoreTest, FailedWriteSaysWhyAndKeepsTheHive) {
  ScopedProgramFolder program;
  program.EnableLog();
  RegCloseKey(Create("Big"));
  const std::string before = ReadFileText(Hive());
  EXPECT_EQ("5", RunWithFileSizeLimit(4096, [&] {
              HKEY key = Create("Big");
              long status = Set(key, "V", REG_BINARY, std::string(8192, 'b'));
              RegCloseKey(key);
              return std::to_string(status);
            }));
  EXPECT_TRUE(Has(ReadFileText(program.Log()), "[ERROR] Registry file \"" + Hive() +
                                                   "\" could not be written: File too large\n"));
  EXPECT_EQ(before, ReadFileText(Hive()));
}

TEST_F(RegistryStoreTest, UnwritableStoreDeniesWritesButReads) {
  WriteFileText(Hive(), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Run]\n\"X\"=\"1\"\n\n");
  const std::string denied = "5 5 5 0 1";  // ERROR_ACCESS_DENIED thrice, then X reads
  // A lock that cannot be taken stops every write, for root too.
  ASSERT_TRUE(platform::CreateOneDirectory(Hive() + ".lock"));
  EXPECT_EQ(denied, Attempts());
  std::filesystem::remove(Hive() + ".lock");

  chmod(Hive().c_str(), 0644);
  chmod(dir_.path().c_str(), 0555);
  if (geteuid() != 0) {
    EXPECT_EQ(denied, Attempts());
  } else {  // file modes do not stop root: check as an ordinary user in a child
    EXPECT_EQ(0, InChild([&] { return Attempts() != denied; }, true));
  }

  // A folder that cannot exist: its path runs through a regular file.
  ScopedEnv below("TARVELIN_REGISTRY_DIR", (Hive() + "/sub").c_str());
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_ACCESS_DENIED, CreateKey("Run", KEY_WRITE, &key));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Open("Run", KEY_READ, &key));
}

// The user's hive follows the environment at each open. Run by root through
// sudo, the user's settings are the caller's, and so are the files written
// for them; the machine's stay root's.
TEST_F(RegistryStoreTest, UserHiveFollowsTheEnvironmentAndTheCallerOfSudo) {
  ScopedTempDir config;
  auto setUserValue = [this](const char* path) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, Set(key, "K", REG_DWORD, std::string(4, '\0')));
    RegCloseKey(key);
  };
  {
    ScopedEnv unset("TARVELIN_REGISTRY_DIR", nullptr);
    ScopedEnv xdg("XDG_CONFIG_HOME", config.path().c_str());
    setUserValue("Software\\quorvel\\lumaset");
  }
  EXPECT_TRUE(Has(ReadFileText(config.Join("tarvelin/HKEY_CURRENT_USER.reg")),
                  "[HKEY_CURRENT_USER\\Software\\quorvel\\lumaset]\n\"K\"=dword:00000000\n"));
  EXPECT_FALSE(platform::PathExists(dir_.Join("HKEY_CURRENT_USER.reg")));

  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  struct passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nullptr, nobody);
  const std::string user = dir_.Join("HKEY_CURRENT_USER.reg");
  for (const char* caller : {"nobody", "root"}) {  // root: no one to hand the files to
    SCOPED_TRACE(caller);
    const uid_t owner = std::string(caller) == "nobody" ? nobody->pw_uid : 0;
    ScopedEnv sudo("SUDO_USER", caller);
    unlink(user.c_str());
    unlink((user + ".lock").c_str());
    setUserValue("Software\\quorvel\\lumaset");
    RegCloseKey(Create("Machine"));
    for (const std::string& name : {user, user + ".lock"}) {
      EXPECT_TRUE(S_ISREG(LinkStat(name).st_mode)) << name;
      EXPECT_EQ(owner, LinkStat(name).st_uid) << name;
      EXPECT_EQ(owner ? nobody->pw_gid : 0, LinkStat(name).st_gid) << name;
    }
    EXPECT_TRUE(S_ISREG(LinkStat(Hive()).st_mode) && LinkStat(Hive()).st_uid == 0);
  }
}

TEST_F(RegistryStoreTest, ConcurrentWritersLoseNothing) {
  RegCloseKey(Create("Shared"));
  pid_t children[2];
  for (int child = 0; child < 2; ++child) {
    children[child] = StartChild([&] {
      HKEY key = nullptr;
      int failures = Open("Shared", KEY_SET_VALUE, &key) != ERROR_SUCCESS;
      for (int i = 0; i < 100; ++i) {
        std::string name = "v" + std::to_string(child) + "_" + std::to_string(i);
        failures += Set(key, name.c_str(), REG_SZ, name + '\0') != ERROR_SUCCESS;
      }
      return failures;
    });
  }
  for (pid_t pid : children) EXPECT_EQ(0, ChildExitCode(pid));
  HKEY key = Create("Shared", KEY_READ);
  uint32_t values = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, &values, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(200u, values);
  EXPECT_EQ(std::string("v1_99\0", 6), Query(key, "V1_99"));
  RegCloseKey(key);
}

}  // namespace
