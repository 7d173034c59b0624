// Running a built tool of the install folder as CUPS or an installer script
// would: chosen standard input, extra environment, and a last step in the
// child before the program starts (limits, another account); and setting
// the registry values that configure the tools.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "support/install_copy.h"
#include "support/temp_dir.h"

struct ToolLaunch {
  std::vector<std::string> args;
  std::string stdinPath = "/dev/null";
  /// NAME=VALUE entries that replace or add to the test's environment.
  std::vector<std::string> env;
  /// Runs in the child just before the program starts; a false result ends
  /// the child with 126.
  std::function<bool()> inChild;
};

/// Runs program (no shell) and waits for it; stdout and stderr are captured.
inline RunResult RunTool(const std::string& program, const ToolLaunch& launch) {
  std::vector<std::string> words{program};
  words.insert(words.end(), launch.args.begin(), launch.args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  std::vector<std::string> envStore(launch.env);
  for (char** e = environ; *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    size_t nameLength = eq ? static_cast<size_t>(eq - *e) + 1 : std::strlen(*e);
    bool replaced = false;
    for (const std::string& extra : launch.env) {
      if (extra.compare(0, nameLength, *e, nameLength) == 0) replaced = true;
    }
    if (!replaced) envStore.push_back(*e);
  }
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(&e[0]);
  envp.push_back(nullptr);

  ScopedTempDir capture;
  std::string outPath = capture.Join("stdout");
  std::string errPath = capture.Join("stderr");
  RunResult result;
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(launch.stdinPath.c_str(), O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
      _exit(125);
    }
    if (launch.inChild && !launch.inChild()) _exit(126);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  if (pid > 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  result.stdoutText = ReadFileText(outPath);
  result.stderrText = ReadFileText(errPath);
  return result;
}

/// Sets a value under root\\path, making the key: text as REG_SZ, a number
/// as REG_DWORD.
inline void SetRegistryData(HKEY root, const std::string& path, const char* name, uint32_t type,
                            const std::string& data) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr));
  EXPECT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key, name, 0, type, reinterpret_cast<const unsigned char*>(data.data()),
                           static_cast<uint32_t>(data.size())));
  RegCloseKey(key);
}
inline void SetRegistryValue(HKEY root, const std::string& path, const char* name,
                             const std::string& text) {
  SetRegistryData(root, path, name, REG_SZ, text + '\0');
}
inline void SetRegistryValue(HKEY root, const std::string& path, const char* name,
                             uint32_t number) {
  std::string data;
  for (int shift = 0; shift < 32; shift += 8) data += static_cast<char>(number >> shift);
  SetRegistryData(root, path, name, REG_DWORD, data);
}
