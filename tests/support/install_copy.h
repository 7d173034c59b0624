// A private copy of the install folder for tests that run the built program,
// so each test has its own config.ini and log.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

struct RunResult {
  int status = -1;  ///< exit status 0..255, or -1 when it did not exit normally
  std::string stderrText;
  std::string stdoutText;
};

/// How RunTool starts a program: chosen standard input, extra environment,
/// and a last step in the child before the program starts (limits, another
/// account).
struct ToolLaunch {
  std::vector<std::string> args;
  std::string stdinPath = "/dev/null";
  /// NAME=VALUE entries that replace or add to the test's environment.
  std::vector<std::string> env;
  /// Runs in the child just before the program starts; a false result ends
  /// the child with 126.
  std::function<bool()> inChild;
};

/// The NULL-ended array of the words' C strings, for exec and spawn calls.
inline std::vector<char*> CStrings(std::vector<std::string>& words) {
  std::vector<char*> array;
  for (auto& w : words) array.push_back(&w[0]);
  array.push_back(nullptr);
  return array;
}

/// Runs program (no shell) and waits for it; stdout and stderr are captured.
inline RunResult RunTool(const std::string& program, const ToolLaunch& launch) {
  std::vector<std::string> words{program};
  words.insert(words.end(), launch.args.begin(), launch.args.end());
  std::vector<char*> argv = CStrings(words);
  std::vector<std::string> env(launch.env);  // the child's putenv keeps them

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
    for (std::string& entry : env) {
      if (putenv(&entry[0]) != 0) _exit(125);
    }
    if (launch.inChild && !launch.inChild()) _exit(126);
    execv(program.c_str(), argv.data());
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

/// Runs program with args (no shell), stdin from /dev/null, the extra
/// NAME=VALUE entries in its environment; stdout and stderr are captured.
inline RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                            const std::vector<std::string>& extraEnv = {}) {
  return RunTool(program, ToolLaunch{args, "/dev/null", extraEnv, nullptr});
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
  /// Starts the program (or another of the folder's, by its path) in the
  /// background; the caller waits for or stops it.
  pid_t Start(const std::vector<std::string>& args, const std::string& program = "") const {
    std::vector<std::string> words{program.empty() ? Program() : program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv = CStrings(words);
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
  for (size_t ff; (ff = r.stdoutText.find('\f', pos)) != std::string::npos; pos = ff + 1)
    pages.push_back(r.stdoutText.substr(pos, ff - pos));
  return pages;
}

/// The sample print jobs.
inline const std::string kSamples = TARVELIN_TEST_DATA "/../../samples/";

/// Expects the pages of the jobs in order, one letter a job: I the invoice
/// sample (three pages), L the letter (two), F a "Filler page".
inline void ExpectJobs(const std::string& pdf, const std::string& jobs) {
  std::vector<std::string> expected;
  for (char job : jobs) {
    const int pages = job == 'I' ? 3 : job == 'L' ? 2 : 1;
    for (int page = 1; page <= pages; ++page) {
      expected.push_back(job == 'F' ? "Filler page"
                                    : (job == 'I' ? "Invoice page " : "Letter page ") +
                                          std::to_string(page) + " of " + std::to_string(pages));
    }
  }
  std::vector<std::string> texts = PdfPageTexts(pdf);
  ASSERT_EQ(expected.size(), texts.size()) << pdf;
  for (size_t i = 0; i < texts.size(); ++i)
    EXPECT_NE(std::string::npos, texts[i].find(expected[i])) << "page " << i + 1;
}

/// The process id of a live program whose name ends in `name` and whose
/// command line holds `argument`, and in *word the rest of its word that
/// begins with `prefix` (read from /proc); -1 for none.
inline pid_t FindProcess(const std::string& name, const std::string& argument,
                         const std::string& prefix = "", std::string* word = nullptr) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string dir = entry.path().string(), pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string comm = ReadFileText(dir + "/cmdline"), stat = ReadFileText(dir + "/stat");
    const std::string program = comm.substr(0, comm.find('\0'));
    const size_t paren = stat.rfind(')');
    if (comm.find(argument) == std::string::npos || program.size() < name.size() ||
        program.compare(program.size() - name.size(), name.size(), name) != 0 ||
        paren == std::string::npos || stat.size() <= paren + 2 || stat[paren + 2] == 'Z') {
      continue;
    }
    for (size_t at = 0; word && at < comm.size(); at = comm.find('\0', at) + 1) {
      if (comm.compare(at, prefix.size(), prefix) == 0)
        *word = comm.substr(at + prefix.size(), comm.find('\0', at) - at - prefix.size());
      if (comm.find('\0', at) == std::string::npos) break;
    }
    return static_cast<pid_t>(std::stol(pid));
  }
  return -1;
}
