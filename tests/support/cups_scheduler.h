// A private CUPS scheduler for tests: its own configuration, spool, state and
// server-bin folders in a temporary folder, listening only on a unix socket
// there, letting anyone do anything (no authentication) unless told to keep
// CUPS's stock locations and default policy. While it runs, the test process
// (and the CUPS tools it starts) reach it through CUPS_SERVER; CUPS_SERVERROOT
// points at its folder (so no client.conf or lpoptions of the machine
// interferes, and `lpoptions -l` reads its queues' PPDs) and CUPS_SERVERBIN
// at its server-bin folder. It is stopped by its process id.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/install_copy.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

struct CupsSchedulerOptions {
  /// Variables for the backends and filters (SetEnv lines), e.g.
  /// {"TARVELIN_REGISTRY_DIR", dir}.
  std::vector<std::pair<std::string, std::string>> env;
  /// Refuses every administrative request (queues, the default printer), as
  /// a scheduler refuses a user without the rights.
  bool refuseAdministration = false;
  /// CUPS's shipped locations and default policy instead (DefaultAuthType
  /// Basic; local users are known by the socket's peer credentials).
  bool stockPolicy = false;
};

class CupsScheduler {
 public:
  using Options = CupsSchedulerOptions;
  static constexpr const char* kCupsd = "/usr/sbin/cupsd";

  /// True when cupsd is installed (scripts/setup installs it).
  static bool Installed() { return access(kCupsd, X_OK) == 0; }

  explicit CupsScheduler(Options options = Options()) : options_(std::move(options)) {}
  ~CupsScheduler() { Stop(); }
  CupsScheduler(const CupsScheduler&) = delete;
  CupsScheduler& operator=(const CupsScheduler&) = delete;

  /// Writes the configuration, starts cupsd and waits (at most 20 s) until
  /// its socket takes connections. False with *error set (and the
  /// scheduler's own log appended) when it does not come up.
  bool Start(std::string* error) {
    WriteFolders();
    const std::string out = Path("log/cupsd.out");
    std::vector<std::string> words{
        kCupsd, "-f", "-c", Path("cupsd.conf"), "-s", Path("cups-files.conf")};
    std::vector<char*> argv = CStrings(words);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    int failed = posix_spawn(&pid_, kCupsd, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) {
      pid_ = -1;
      *error = std::string("cannot start cupsd: ") + std::strerror(failed);
      return false;
    }
    if (!WaitUntilListening(error)) {
      *error += "\n" + ReadFileText(out) + ErrorLog();
      Stop();
      return false;
    }
    env_.emplace_back(new ScopedEnv("CUPS_SERVER", Socket().c_str()));
    env_.emplace_back(new ScopedEnv("CUPS_SERVERROOT", dir_.path().c_str()));
    env_.emplace_back(new ScopedEnv("CUPS_SERVERBIN", Path("serverbin").c_str()));
    return true;
  }

  /// Ends cupsd (SIGTERM, then SIGKILL after 10 s) and restores the
  /// variables. Nothing to do when it is not running.
  void Stop() {
    env_.clear();
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int waited = 0; waitpid(pid_, nullptr, WNOHANG) != pid_; waited += 50) {
      if (waited > 10000) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        break;
      }
      SleepMs(50);
    }
    pid_ = -1;
  }

  /// Installs a backend written as a script text.
  bool AddBackendScript(const std::string& scheme, const std::string& text, mode_t mode) const {
    const std::string target = Path("serverbin/backend/" + scheme);
    WriteFileText(target, text);
    return chmod(target.c_str(), mode) == 0;
  }

  /// Runs a CUPS tool (lpadmin, lpoptions, lpstat, ...) against this scheduler.
  RunResult Tool(const std::string& program, const std::vector<std::string>& args) const {
    return RunProgram(program, args);
  }

  /// Waits (at most 60 s) until the queue holds no job.
  bool WaitForNoJobs(const std::string& queue) const {
    for (int i = 0; i < 240; ++i) {
      RunResult r = Tool("/usr/bin/lpstat", {"-o", queue});
      if (r.status == 0 && r.stdoutText.empty()) return true;
      SleepMs(250);
    }
    return false;
  }

  std::string Socket() const { return Path("cups.sock"); }
  std::string Path(const std::string& name) const { return dir_.Join(name); }
  std::string ErrorLog() const { return ReadFileText(Path("log/error_log")); }

 private:
  // The policy: open to all, or CUPS's shipped locations and first policy.
  std::string Rules() const {
    if (options_.stockPolicy) {
      const std::string conf = ReadFileText("/usr/share/cups/cupsd.conf.default");
      size_t start = conf.find("<Location />"), end = conf.find("</Policy>\n");
      if (start == std::string::npos || end == std::string::npos) return "";
      return "DefaultAuthType Basic\n" + conf.substr(start, end + 10 - start);
    }
    const std::string refuse =
        "  <Limit CUPS-Add-Modify-Printer CUPS-Delete-Printer CUPS-Add-Modify-Class "
        "CUPS-Delete-Class CUPS-Set-Default Pause-Printer Resume-Printer CUPS-Accept-Jobs "
        "CUPS-Reject-Jobs>\n    AuthType Basic\n    Require user tarvelin-nobody\n  </Limit>\n";
    return "DefaultAuthType None\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
           "<Policy default>\n" +
           (options_.refuseAdministration ? refuse : "") +
           "  <Limit All>\n    Order allow,deny\n    Allow all\n  </Limit>\n</Policy>\n";
  }

  void WriteFolders() const {
    namespace fs = std::filesystem;
    // The scheduler's children run as lp (as root; else as this user) and
    // must reach their programs and the spool below this folder.
    chmod(dir_.path().c_str(), 0755);
    std::error_code ec;
    for (const char* folder : {"spool/tmp", "cache", "state", "log", "serverbin/backend"})
      fs::create_directories(Path(folder), ec);
    const std::string system = "/usr/lib/cups/";
    for (const char* folder : {"filter", "cgi-bin", "daemon", "monitor", "notifier", "driver"})
      fs::create_symlink(system + folder, Path("serverbin/") + folder, ec);
    for (const auto& entry : fs::directory_iterator(system + "backend", ec)) {
      std::error_code linkError;
      fs::create_symlink(entry.path(),
                         Path("serverbin/backend/") + entry.path().filename().string(), linkError);
    }
    WriteFileText(Path("cupsd.conf"), "Listen " + Socket() +
                                          "\nBrowsing No\nDefaultShared No\nWebInterface No\n" +
                                          "LogLevel debug\n" + Rules());
    const passwd* user = getpwuid(geteuid());
    const group* grp = getgrgid(getegid());
    std::string files = "ServerRoot " + dir_.path() + "\nRequestRoot " + Path("spool") +
                        "\nTempDir " + Path("spool/tmp") + "\nCacheDir " + Path("cache") +
                        "\nStateDir " + Path("state") + "\nServerBin " + Path("serverbin") +
                        "\nDataDir /usr/share/cups\nErrorLog " + Path("log/error_log") +
                        "\nAccessLog " + Path("log/access_log") + "\nPageLog " +
                        Path("log/page_log") + "\nFileDevice No\n" +
                        (geteuid() == 0 ? std::string("User lp\nGroup lp\n")
                                        : std::string("User ") + (user ? user->pw_name : "nobody") +
                                              "\nGroup " + (grp ? grp->gr_name : "nogroup") + "\n");
    for (const auto& variable : options_.env)
      files += "SetEnv " + variable.first + " " + variable.second + "\n";
    WriteFileText(Path("cups-files.conf"), files);
  }

  bool WaitUntilListening(std::string* error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (Socket().size() >= sizeof(address.sun_path)) {
      *error = "the socket path " + Socket() + " is too long for a unix socket";
      return false;
    }
    std::strncpy(address.sun_path, Socket().c_str(), sizeof(address.sun_path) - 1);
    for (int waited = 0; waited <= 20000; waited += 50) {
      int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      bool connected =
          fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
      if (fd >= 0) close(fd);
      if (connected) return true;
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        *error = "cupsd ended before it listened (status " + std::to_string(status) + ")";
        return false;
      }
      SleepMs(50);
    }
    *error = "cupsd did not listen on " + Socket() + " within 20 s";
    return false;
  }

  Options options_;
  ScopedTempDir dir_;
  pid_t pid_ = -1;
  std::vector<std::unique_ptr<ScopedEnv>> env_;
};
