// POSIX implementation of the basic OS services.
#include "platform/platform.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/posix/fd_io.h"

namespace platform {

const char kPathSeparator = '/';

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

namespace {
std::string g_moduleFileNameOverride;
}  // namespace

void SetModuleFileNameForTesting(const std::string& path) { g_moduleFileNameOverride = path; }

std::string ModuleFileName() {
  if (!g_moduleFileNameOverride.empty()) return g_moduleFileNameOverride;
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

std::string ProgramFolder() { return DirName(ModuleFileName()); }

int ProcessId() { return static_cast<int>(getpid()); }

std::string SystemTempPath() {
  const char* tmp = getenv("TMPDIR");
  std::string dir = (tmp && *tmp) ? tmp : "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

bool CreateUniqueTempFile(const std::string& dir, const std::string& prefix, std::string* path) {
  std::string base = dir;
  if (!base.empty() && !IsPathSeparator(base.back())) base += '/';
  base += prefix.substr(0, 3);
  // Start from a value that differs between processes, then count up until a
  // name is free, as the Windows service does.
  unsigned start =
      static_cast<unsigned>(getpid() * 2654435761u) ^ static_cast<unsigned>(time(nullptr));
  for (unsigned i = 0; i < 0x10000; ++i) {
    unsigned n = (start + i) & 0xFFFF;
    if (n == 0) continue;
    char hex[16];
    snprintf(hex, sizeof(hex), "%X", n);
    std::string candidate = base + hex + ".tmp";
    int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      close(fd);
      *path = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool PathExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int64_t FileSize(const std::string& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool CreateOneDirectory(const std::string& path) { return mkdir(path.c_str(), 0755) == 0; }

bool DeleteFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool SyncFileToDisk(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fsync(fd) == 0;
  return (close(fd) == 0) && ok;
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

namespace {

// Writes whatever `produce` writes to fd into a sibling temporary file, then
// renames it over path. The temporary file is removed on any failure.
template <typename Produce>
bool WriteViaSibling(const std::string& path, Produce produce, mode_t mode) {
  std::string tmp = SiblingTempName(path);
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return false;
  bool ok = produce(fd) && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  if (ok) ok = rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) unlink(tmp.c_str());
  return ok;
}

}  // namespace

bool CopyFileAtomically(const std::string& from, const std::string& to) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  mode_t mode = (fstat(in, &st) == 0) ? (st.st_mode & 0777) : 0644;
  bool ok = WriteViaSibling(
      to,
      [in](int out) {
        char buf[65536];
        for (;;) {
          ssize_t n = read(in, buf, sizeof(buf));
          if (n < 0 && errno == EINTR) continue;
          if (n < 0) return false;
          if (n == 0) return true;
          if (!WriteAll(out, buf, static_cast<size_t>(n))) return false;
        }
      },
      mode);
  close(in);
  return ok;
}

bool ReadWholeFile(const std::string& path, std::string* content) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  content->clear();
  char buf[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    content->append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return ok;
}

bool WriteFileAtomically(const std::string& path, const std::string& content) {
  struct stat st;
  mode_t mode = (stat(path.c_str(), &st) == 0) ? (st.st_mode & 0777) : 0644;
  return WriteViaSibling(
      path, [&content](int fd) { return WriteAll(fd, content.data(), content.size()); }, mode);
}

bool AppendToFile(const std::string& path, const std::string& data) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  // One write call: O_APPEND makes it land whole at the end of the file.
  ssize_t n = write(fd, data.data(), data.size());
  bool ok = n == static_cast<ssize_t>(data.size());
  return (close(fd) == 0) && ok;
}

std::string SiblingTempName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  std::string dir = DirName(path);
  std::string prefix = dir.empty() ? std::string() : dir + kPathSeparator;
  char tail[64];
  snprintf(tail, sizeof(tail), ".%d.%u.tmp", static_cast<int>(getpid()), counter++);
  return prefix + "." + BaseName(path) + tail;
}

std::string DirName(const std::string& path) {
  size_t pos = path.find_last_of("/\\");
  if (pos == std::string::npos) return std::string();
  if (pos == 0) return path.substr(0, 1);
  return path.substr(0, pos);
}

std::string BaseName(const std::string& path) {
  size_t pos = path.find_last_of("/\\");
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

namespace {

struct HeldLock {
  int fd;
  int count;
};

std::map<std::string, HeldLock>& HeldLocks() {
  static std::map<std::string, HeldLock> locks;
  return locks;
}

}  // namespace

FileLock::FileLock(const std::string& lockPath, int timeoutMs) : path_(lockPath) {
  auto& locks = HeldLocks();
  auto it = locks.find(path_);
  if (it != locks.end()) {
    ++it->second.count;
    held_ = true;
    return;
  }
  // Read access is all flock needs; a lock file that others cannot open
  // cannot be held by them to freeze every run.
  int fd = open(path_.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    error_ = strerror(errno);
    return;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error_ = "not a regular file";
    close(fd);
    return;
  }
  const int kPollMs = 50;
  int waited = 0;
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      error_ = strerror(errno);
      close(fd);
      return;
    }
    if (timeoutMs >= 0 && waited >= timeoutMs) {
      error_ = "held by another process for " + std::to_string(waited / 1000) + " s";
      close(fd);
      return;
    }
    CurrentClock().SleepMs(kPollMs);
    waited += kPollMs;
  }
  locks[path_] = HeldLock{fd, 1};
  held_ = true;
}

FileLock::~FileLock() {
  if (!held_) return;
  auto& locks = HeldLocks();
  auto it = locks.find(path_);
  if (it == locks.end()) return;
  if (--it->second.count == 0) {
    // Only a close: a child that inherited the descriptor keeps the lock
    // for as long as it still runs.
    close(it->second.fd);
    locks.erase(it);
  }
}

intptr_t FileLock::NativeHandle() const {
  if (!held_) return -1;
  auto it = HeldLocks().find(path_);
  return it == HeldLocks().end() ? -1 : it->second.fd;
}

void ShowMessageBox(const std::string& text, const std::string& caption) {
  fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

void DebugOutput(const std::string&) {}

namespace {

class RealClock : public Clock {
 public:
  void SleepMs(int milliseconds) override {
    struct timespec ts;
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }
  std::tm LocalTimeNow() override {
    time_t now = time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm;
  }
};

RealClock g_realClock;
Clock* g_clock = &g_realClock;

}  // namespace

Clock& CurrentClock() { return *g_clock; }

void SetClockForTesting(Clock* clock) { g_clock = clock ? clock : &g_realClock; }

void* LoadSharedLibrary(const std::string& name) { return dlopen(name.c_str(), RTLD_LAZY); }

void* FindLibrarySymbol(void* library, const std::string& name) {
  return library ? dlsym(library, name.c_str()) : nullptr;
}

void FreeSharedLibrary(void* library) {
  if (library) dlclose(library);
}

}  // namespace platform
