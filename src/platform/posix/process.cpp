// POSIX implementation of child processes: the command line is split by the
// Windows rules and the program started with posix_spawn, never via a shell.
#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/fd_io.h"

extern char** environ;

namespace platform {

namespace {

bool IsExecutableFile(const std::string& path, bool* exists) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  *exists = true;
  return S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// A name without a separator is looked up in PATH, as CreateProcess searches
// for a bare name. The current folder is not searched: an empty PATH entry
// is skipped, so a file dropped into the working folder is never run.
bool ResolveProgram(const std::string& name, std::string* path, int* error) {
  if (name.empty()) {
    *error = ENOENT;
    return false;
  }
  if (name.find('/') != std::string::npos) {
    *path = name;
    return true;
  }
  const char* env = getenv("PATH");
  std::string dirs = env ? env : "/usr/local/bin:/usr/bin:/bin";
  bool sawUnusable = false;
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    start = end + 1;
    if (dir.empty()) continue;
    std::string candidate = dir + "/" + name;
    bool exists = false;
    if (IsExecutableFile(candidate, &exists)) {
      *path = candidate;
      return true;
    }
    if (exists) sawUnusable = true;
  }
  *error = sawUnusable ? EACCES : ENOENT;
  return false;
}

// Makes a close-on-exec pipe whose ends are both above the standard
// descriptors, so the child's dup2 onto 0..2 can never hit one of them.
bool MakePipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    if (fds[i] > 2) continue;
    int moved = fcntl(fds[i], F_DUPFD_CLOEXEC, 3);
    int saved = errno;
    close(fds[i]);
    if (moved < 0) {
      close(fds[1 - i]);
      errno = saved;
      return false;
    }
    fds[i] = moved;
  }
  return true;
}

// Everything posix_spawn needs, prepared up front so that the detached path
// can spawn from a forked process without allocating.
class SpawnPlan {
 public:
  SpawnPlan() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attr_);
  }
  ~SpawnPlan() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
    if (inherited_ >= 0) close(inherited_);
  }
  SpawnPlan(const SpawnPlan&) = delete;
  SpawnPlan& operator=(const SpawnPlan&) = delete;

  // outputFd -1 sends standard output and error to /dev/null; inheritFd, when
  // not -1, is handed to the child as descriptor 3.
  bool Prepare(const std::string& commandLine, int outputFd, bool newSession, int* error,
               int inheritFd = -1) {
    words_ = SplitCommandLine(commandLine);
    if (words_.empty()) {
      *error = ENOENT;
      return false;
    }
    if (!ResolveProgram(words_[0], &program_, error)) return false;
    for (std::string& word : words_) argv_.push_back(&word[0]);
    argv_.push_back(nullptr);

    int rc = posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    if (rc == 0 && outputFd >= 0) {
      rc = posix_spawn_file_actions_adddup2(&actions_, outputFd, 1);
      if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions_, outputFd, 2);
    } else if (rc == 0) {
      rc = posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
      if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions_, 1, 2);
    }
    int firstClosed = 3;
    if (rc == 0 && inheritFd >= 0) {
      // A private duplicate above the standard descriptors, so the dup2 onto
      // 3 never meets a descriptor of the same number (which would keep its
      // close-on-exec flag).
      inherited_ = fcntl(inheritFd, F_DUPFD_CLOEXEC, 10);
      rc = inherited_ < 0 ? errno : posix_spawn_file_actions_adddup2(&actions_, inherited_, 3);
      firstClosed = 4;
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors that other parts of the program opened without
    // close-on-exec must not live on in the child.
    if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions_, firstClosed);
#else
    (void)firstClosed;
#endif

    // A new Windows process inherits no signal state; neither does ours, so
    // an ignored SIGPIPE in the parent does not leak into the child.
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_SETSID
    if (newSession) flags |= POSIX_SPAWN_SETSID;
#else
    (void)newSession;
#endif
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    if (rc == 0) rc = posix_spawnattr_setflags(&attr_, flags);
    if (rc == 0) rc = posix_spawnattr_setsigmask(&attr_, &none);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(&attr_, &all);
    if (rc != 0) {
      *error = rc;
      return false;
    }
    return true;
  }

  // Returns 0 or the error number; glibc reports a failed exec here too.
  int Spawn(pid_t* pid) {
    return posix_spawn(pid, program_.c_str(), &actions_, &attr_, argv_.data(), environ);
  }

 private:
  std::vector<std::string> words_;
  std::vector<char*> argv_;
  std::string program_;
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
  int inherited_ = -1;
};

// A signal death reads like a shell's status for it: 128 + the signal.
int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

pid_t WaitPid(pid_t pid, int* status, int options) {
  pid_t r;
  do {
    r = waitpid(pid, status, options);
  } while (r < 0 && errno == EINTR);
  return r;
}

}  // namespace

// Only a child that waitpid still reports as running is killed: once it is
// reaped its pid may belong to another process.
void ReleaseChildProcess(ChildProcess* child) {
  CloseChildProcess(child);
  if (child->pid <= 0) return;
  pid_t pid = static_cast<pid_t>(child->pid);
  int status = 0;
  if (WaitPid(pid, &status, WNOHANG) == 0 && kill(pid, SIGKILL) == 0) WaitPid(pid, &status, 0);
  child->pid = -1;
}

bool StartChildProcess(const std::string& commandLine, bool capture, ChildProcess* child,
                       int* error, intptr_t inheritHandle) {
  ReleaseChildProcess(child);
  int localError = 0;
  if (!error) error = &localError;
  int fds[2] = {-1, -1};
  if (capture && !MakePipe(fds)) {
    *error = errno;
    return false;
  }
  SpawnPlan plan;
  pid_t pid = -1;
  int rc = 0;
  if (!plan.Prepare(commandLine, fds[1], false, &rc, static_cast<int>(inheritHandle)) ||
      (rc = plan.Spawn(&pid)) != 0) {
    if (fds[0] >= 0) close(fds[0]);
    if (fds[1] >= 0) close(fds[1]);
    *error = rc;
    return false;
  }
  child->pid = pid;
  child->outputFd = fds[0];
  child->writeFd = fds[1];
  return true;
}

// The real child is started by a short-lived intermediate that ends at once,
// so the child is adopted by init, which reaps it; the caller reaps only the
// intermediate. The spawn result comes back through a close-on-exec pipe.
bool StartDetachedProcess(const std::string& commandLine, int* error) {
  int localError = 0;
  if (!error) error = &localError;
  SpawnPlan plan;
  if (!plan.Prepare(commandLine, -1, true, error)) return false;
  int status[2];
  if (pipe2(status, O_CLOEXEC) != 0) {
    *error = errno;
    return false;
  }
  pid_t middle = fork();
  if (middle < 0) {
    *error = errno;
    close(status[0]);
    close(status[1]);
    return false;
  }
  if (middle == 0) {
    close(status[0]);
    pid_t grandchild;
    int rc = plan.Spawn(&grandchild);
    _exit(WriteAll(status[1], &rc, sizeof(rc)) ? 0 : 1);
  }
  close(status[1]);
  int rc = 0;
  bool reported = ReadAll(status[0], &rc, sizeof(rc));
  close(status[0]);
  int ignored;
  WaitPid(middle, &ignored, 0);
  if (!reported) rc = EIO;
  if (rc != 0) {
    *error = rc;
    return false;
  }
  return true;
}

int PeekChildOutput(const ChildProcess& child) {
  if (child.outputFd < 0) return -1;
  int waiting = 0;
  if (ioctl(child.outputFd, FIONREAD, &waiting) != 0) return -1;
  return waiting;
}

// The parent holds the pipe's write end, so the pipe never signals EOF; the
// child's end is seen through a pidfd where the kernel offers one.
void WaitChildActivity(const ChildProcess& child, int timeoutMs) {
  pollfd fds[2];
  int count = 0;
  if (child.outputFd >= 0) fds[count++] = {child.outputFd, POLLIN, 0};
  int pidfd = -1;
#ifdef SYS_pidfd_open
  if (child.pid > 0) pidfd = static_cast<int>(syscall(SYS_pidfd_open, child.pid, 0));
  if (pidfd >= 0) fds[count++] = {pidfd, POLLIN, 0};
#endif
  if (count == 0) {
    SleepMilliseconds(timeoutMs);
    return;
  }
  if (poll(fds, static_cast<nfds_t>(count), timeoutMs) < 0 && errno != EINTR) {
    SleepMilliseconds(timeoutMs);
  }
  if (pidfd >= 0) close(pidfd);
}

int ReadChildOutput(const ChildProcess& child, char* buffer, int max) {
  if (child.outputFd < 0 || max < 0) return -1;
  ssize_t n;
  do {
    n = read(child.outputFd, buffer, static_cast<size_t>(max));
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : static_cast<int>(n);
}

int WaitChildProcess(ChildProcess* child, int timeoutMs, int* exitCode) {
  // A reaped child has pid -1; waitpid(-1) would take any child at all.
  if (!child || child->pid <= 0) return -1;
  pid_t pid = static_cast<pid_t>(child->pid);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    pid_t r = WaitPid(pid, &status, timeoutMs < 0 ? 0 : WNOHANG);
    if (r < 0) return -1;
    if (r == pid) {
      if (exitCode) *exitCode = ExitCodeOf(status);
      child->pid = -1;
      return 1;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) return 0;
    SleepMilliseconds(left < 5 ? static_cast<int>(left) : 5);
  }
}

bool KillChildProcess(const ChildProcess& child) {
  return child.pid > 0 && kill(static_cast<pid_t>(child.pid), SIGKILL) == 0;
}

bool IsProcessRunning(long pid) {
  if (pid <= 0) return false;
  if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  // A killed child of a parent that has not reaped it yet is a zombie: ended.
  char path[64];
  snprintf(path, sizeof(path), "/proc/%ld/stat", pid);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  char buf[512];
  ssize_t n = read(fd, buf, sizeof(buf) - 1);
  close(fd);
  if (n <= 0) return true;
  buf[n] = '\0';
  const char* paren = strrchr(buf, ')');
  return !(paren && paren[1] == ' ' && paren[2] == 'Z');
}

int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool CloseChildProcess(ChildProcess* child) {
  if (!child) return false;
  bool ok = true;
  if (child->outputFd >= 0 && close(child->outputFd) != 0) ok = false;
  if (child->writeFd >= 0 && close(child->writeFd) != 0) ok = false;
  child->outputFd = -1;
  child->writeFd = -1;
  return ok;
}

}  // namespace platform
