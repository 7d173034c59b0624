// A private copy of the install folder for tests that run the built program,
// so each test has its own config.ini and log.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

struct RunResult {
  int status = -1;  ///< exit status 0..255, or -1 when it did not exit normally
  std::string stderrText;
  std::string stdoutText;
};

/// Runs program with args (no shell); stdout and stderr are captured.
inline RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                            const std::vector<std::string>& extraEnv = {}) {
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  std::vector<std::string> envStore(extraEnv);
  for (char** e = environ; *e; ++e) envStore.push_back(*e);
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(&e[0]);
  envp.push_back(nullptr);

  ScopedTempDir capture;
  std::string errPath = capture.Join("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::string outPath = capture.Join("stdout");
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid;
  RunResult result;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  result.stderrText = ReadFileText(errPath);
  result.stdoutText = ReadFileText(outPath);
  return result;
}

inline void SleepMs(int ms) {
  struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&ts, nullptr);
}

class InstallCopy {
 public:
  InstallCopy() {
    namespace fs = std::filesystem;
    fs::copy(TARVELIN_DIST_DIR, dir_.path(),
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  }
  const std::string& folder() const { return dir_.path(); }
  std::string Path(const std::string& name) const { return dir_.Join(name); }
  std::string Program() const { return Path("tarvelin"); }
  std::string ConfigPath() const { return Path("config.ini"); }
  std::string LogText() const { return ReadFileText(Path("tarvelin.log")); }
  void WriteConfig(const std::string& text) const { WriteFileText(ConfigPath(), text); }
  RunResult Run(const std::vector<std::string>& args,
                const std::vector<std::string>& extraEnv = {}) const {
    return RunProgram(Program(), args, extraEnv);
  }
  /// Starts the program in the background; the caller waits for or stops it.
  pid_t Start(const std::vector<std::string>& args) const {
    std::vector<std::string> words{Program()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn(&pid, words[0].c_str(), nullptr, nullptr, argv.data(), environ);
    return pid;
  }

 private:
  ScopedTempDir dir_;
};

/// The text of each page of a PDF, by pdftotext (pages end with a form feed).
inline std::vector<std::string> PdfPageTexts(const std::string& pdf) {
  RunResult r = RunProgram("/usr/bin/pdftotext", {"-q", pdf, "-"});
  std::vector<std::string> pages;
  size_t pos = 0;
  for (size_t ff; (ff = r.stdoutText.find('\f', pos)) != std::string::npos; pos = ff + 1) {
    pages.push_back(r.stdoutText.substr(pos, ff - pos));
  }
  return pages;
}
