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
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/posix/fd_io.h"

namespace platform {

const char kPathSeparator = '/';
const int kNoSpaceError = ENOSPC;
const bool kOpenFileBlocksReplacing = false;
const char kLineEnd[] = "\n";
const int kLongestOpenablePath = PATH_MAX - 1;

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

bool SetEnvironmentValue(const std::string& name, const char* value) {
  return (value ? setenv(name.c_str(), value, 1) : unsetenv(name.c_str())) == 0;
}

namespace {

// Puts the system's text for the error number into *error (when given) and
// returns false, so that a failure reads `return Fail(error);`.
bool Fail(std::string* error, int code = errno) {
  if (error) *error = strerror(code);
  return false;
}

}  // namespace

bool CreateUniqueTempFile(const std::string& dir, const std::string& prefix, std::string* path,
                          std::string* error) {
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
    if (errno != EEXIST) return Fail(error);
  }
  return Fail(error, EEXIST);
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

FileStamp StampOf(const std::string& path) {
  FileStamp stamp;
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return stamp;
  stamp.exists = true;
  stamp.size = static_cast<int64_t>(st.st_size);
  stamp.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.identity = static_cast<uint64_t>(st.st_ino) ^ (static_cast<uint64_t>(st.st_dev) << 40);
  return stamp;
}

bool CreateOneDirectory(const std::string& path, std::string* error) {
  return mkdir(path.c_str(), 0755) == 0 || Fail(error);
}

bool CreateFolders(const std::string& path, std::string* error, const FolderStep& step) {
  if (path.empty()) return Fail(error, ENOENT);
  std::vector<std::string> levels;
  for (size_t pos = 1; pos < path.size(); ++pos) {
    if (IsPathSeparator(path[pos])) levels.push_back(path.substr(0, pos));
  }
  levels.push_back(path);
  size_t first = levels.size();
  while (first > 0 && !PathExists(levels[first - 1])) --first;
  int lastError = ENOTDIR;
  for (size_t i = first; i < levels.size(); ++i) {
    bool made = mkdir(levels[i].c_str(), 0755) == 0;
    if (!made) lastError = errno;
    if (step) {
      std::string reason = made ? std::string() : strerror(lastError);
      step(levels[i], made ? nullptr : &reason);
    }
  }
  return IsDirectory(path) || Fail(error, lastError);
}

bool DeleteFile(const std::string& path, std::string* error) {
  return unlink(path.c_str()) == 0 || Fail(error);
}

namespace {

std::vector<std::string>* g_fileEvents = nullptr;

void Record(const char* step, const std::string& path, const std::string& to = std::string()) {
  if (g_fileEvents) g_fileEvents->push_back(step + (" " + path) + (to.empty() ? "" : " " + to));
}

}  // namespace

void SetFileEventRecorderForTesting(std::vector<std::string>* events) { g_fileEvents = events; }

namespace {

// Opens an existing regular file for writing, never through a link.
int OpenRegularForWrite(const std::string& path, int flags, std::string* error) {
  int fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | flags);
  if (fd < 0) {
    Fail(error);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    Fail(error);
    close(fd);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    if (error) *error = "Not a regular file";
    return -1;
  }
  return fd;
}

bool SyncAndClose(int fd, const std::string& path, std::string* error) {
  int failure = fsync(fd) == 0 ? 0 : errno;
  if (failure == 0) Record("fsync", path);
  if (close(fd) != 0 && failure == 0) failure = errno;
  return failure == 0 || Fail(error, failure);
}

}  // namespace

bool AppendAndSync(const std::string& path, const std::string& data, std::string* error) {
  int fd = OpenRegularForWrite(path, O_APPEND, error);
  if (fd < 0) return false;
  for (size_t done = 0; done < data.size();) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int failure = n < 0 ? errno : ENOSPC;
      close(fd);
      return Fail(error, failure);
    }
    done += static_cast<size_t>(n);
  }
  Record("append", path);
  return SyncAndClose(fd, path, error);
}

bool TruncateFile(const std::string& path, int64_t length, std::string* error) {
  int fd = OpenRegularForWrite(path, 0, error);
  if (fd < 0) return false;
  if (ftruncate(fd, static_cast<off_t>(length)) != 0) {
    int failure = errno;
    close(fd);
    return Fail(error, failure);
  }
  Record("truncate", path);
  return SyncAndClose(fd, path, error);
}

bool SyncFolder(const std::string& folder, std::string* error) {
  int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(error);
  return SyncAndClose(fd, folder, error);
}

bool SyncFileToDisk(const std::string& path, std::string* error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(error);
  int failure = fsync(fd) == 0 ? 0 : errno;
  if (failure == 0) Record("fsync", path);
  if (close(fd) != 0 && failure == 0) failure = errno;
  return failure == 0 || Fail(error, failure);
}

namespace {

// Renames over an existing target; the new name reaches the disk with the
// next forcing of the folder, or at once when `name` asks for it.
bool RenameOver(const std::string& from, const std::string& to, std::string* error,
                NameOnDisk name) {
  if (rename(from.c_str(), to.c_str()) != 0) return Fail(error);
  Record("rename", from, to);
  // Without this a power cut may bring the old file back after the caller
  // went on as if the new one were in place.
  return name == NameOnDisk::kWithTheFolder || SyncFolder(DirName(to), error);
}

}  // namespace

bool ReplaceFile(const std::string& from, const std::string& to, std::string* error) {
  return RenameOver(from, to, error, NameOnDisk::kNow);
}

namespace {

// How many predictable names beside a file are tried before giving up.
const int kSiblingAttempts = 100;

std::string Reason(const std::string& what, const std::string& path) {
  return what + " \"" + path + "\": " + strerror(errno);
}

// O_EXCL refuses every name that exists, a dangling symbolic link included;
// O_NOFOLLOW states the same for the last part of the path.
int OpenNew(const std::string& path, mode_t mode) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd >= 0) Record("open", path);
  return fd;
}

// A file the super-user replaces keeps its owner: the settings that the
// printer installation gave to the port's account stay that account's.
void KeepOwnerOf(const std::string& target, int fd) {
  struct stat st;
  if (geteuid() != 0 || lstat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  if (st.st_uid != 0 || st.st_gid != 0) (void)fchown(fd, st.st_uid, st.st_gid);
}

// Sibling names are predictable, so others may have planted something at
// one: the next name is tried then. On failure errno tells why.
int OpenNewSibling(const std::string& target, mode_t mode, std::string* temp) {
  for (int attempt = 0; attempt < kSiblingAttempts; ++attempt) {
    *temp = SiblingTempName(target);
    int fd = OpenNew(*temp, mode);
    if (fd >= 0) KeepOwnerOf(target, fd);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Permission bits of the regular file at path, or fallback when there is none.
mode_t ModeOf(const std::string& path, mode_t fallback) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 0777;
  return fallback;
}

// Writes whatever `produce` writes to fd into a new sibling temporary file,
// forces it to the disk, then renames it over path. The temporary file is
// removed on any failure. `produce` leaves errno set when it fails.
template <typename Produce>
bool WriteViaSibling(const std::string& path, Produce produce, mode_t mode, std::string* error,
                     NameOnDisk name = NameOnDisk::kNow) {
  std::string tmp;
  int fd = OpenNewSibling(path, mode, &tmp);
  if (fd < 0) return Fail(error);
  int failure = produce(fd) ? 0 : errno;
  if (failure == 0) {
    Record("write", tmp);
    failure = fsync(fd) == 0 ? 0 : errno;
  }
  if (failure == 0) Record("fsync", tmp);
  if (close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0 && RenameOver(tmp, path, error, name)) return true;
  if (failure != 0) Fail(error, failure);
  unlink(tmp.c_str());
  return false;
}

}  // namespace

bool CopyFileAtomically(const std::string& from, const std::string& to, unsigned modeForNew,
                        std::string* error) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Fail(error);
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
      ModeOf(to, static_cast<mode_t>(modeForNew & 0777)), error);
  close(in);
  return ok;
}

bool ReadWholeFile(const std::string& path, std::string* content, std::string* error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(error);
  content->clear();
  char buf[65536];
  int failure = 0;
  for (;;) {
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failure = errno;
    if (n <= 0) break;
    content->append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return failure == 0 || Fail(error, failure);
}

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string* error,
                         NameOnDisk name) {
  return WriteViaSibling(
      path, [&content](int fd) { return WriteAll(fd, content.data(), content.size()); },
      ModeOf(path, 0644), error, name);
}

bool AppendToFile(const std::string& path, const std::string& data, unsigned mode,
                  std::string* error) {
  // O_NONBLOCK keeps a planted FIFO from blocking the open; it means nothing
  // for the regular file that is the only thing written to.
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                static_cast<mode_t>(mode));
  if (fd < 0) return Fail(error);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int failure = errno;
    close(fd);
    return Fail(error, failure);
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    if (error) *error = "Not a regular file";
    return false;
  }
  // A file left wider by an older version is narrowed; fails harmlessly
  // when another user owns it.
  if ((st.st_mode & 0777 & ~static_cast<mode_t>(mode)) != 0) {
    (void)fchmod(fd, st.st_mode & 0777 & static_cast<mode_t>(mode));
  }
  // One write call: O_APPEND makes it land whole at the end of the file.
  ssize_t n = write(fd, data.data(), data.size());
  std::string failure;
  if (n < 0) {
    failure = strerror(errno);
  } else if (static_cast<size_t>(n) != data.size()) {
    failure =
        "only " + std::to_string(n) + " of " + std::to_string(data.size()) + " bytes were written";
  }
  if (close(fd) != 0 && failure.empty()) failure = strerror(errno);
  if (failure.empty()) return true;
  if (error) *error = failure;
  return false;
}

std::string SiblingTempName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  std::string dir = DirName(path);
  std::string prefix = dir.empty() ? std::string() : dir + kPathSeparator;
  char tail[64];
  snprintf(tail, sizeof(tail), ".%d.%u.tmp", static_cast<int>(getpid()), counter++);
  return prefix + "." + BaseName(path) + tail;
}

NewFile::~NewFile() { Close(); }

void NewFile::Close() {
  if (stream_) fclose(stream_);
  stream_ = nullptr;
}

int NewFile::Create(const std::string& path, unsigned mode, std::string* error) {
  Close();
  path_.clear();
  int fd = OpenNew(path, static_cast<mode_t>(mode));
  if (fd < 0) {
    bool exists = errno == EEXIST || errno == ELOOP;
    *error = Reason(exists ? "something already exists at" : "cannot create", path);
    return exists ? 0 : -1;
  }
  return Adopt(fd, path, error) ? 1 : -1;
}

bool NewFile::CreateBeside(const std::string& target, unsigned modeForNewTarget,
                           std::string* error) {
  Close();
  path_.clear();
  std::string temp;
  int fd = OpenNewSibling(target, ModeOf(target, static_cast<mode_t>(modeForNewTarget)), &temp);
  if (fd < 0) {
    *error = Reason("cannot create", temp);
    return false;
  }
  return Adopt(fd, temp, error);
}

bool NewFile::Adopt(int fd, const std::string& path, std::string* error) {
  stream_ = fdopen(fd, "wb");
  if (!stream_) {
    *error = Reason("cannot open a stream on", path);
    close(fd);
    unlink(path.c_str());
    return false;
  }
  path_ = path;
  return true;
}

bool NewFile::SyncAndClose(std::string* error) {
  if (!stream_) {
    *error = "no file is open";
    return false;
  }
  bool ok = fflush(stream_) == 0 && !ferror(stream_);
  if (!ok) {
    *error = Reason("cannot write", path_);
  } else {
    Record("write", path_);
    ok = fsync(fileno(stream_)) == 0;
    if (ok) {
      Record("fsync", path_);
    } else {
      *error = Reason("cannot force to the disk", path_);
    }
  }
  if (fclose(stream_) != 0 && ok) {
    *error = Reason("cannot close", path_);
    ok = false;
  }
  stream_ = nullptr;
  return ok;
}

void NewFile::Discard() {
  Close();
  if (!path_.empty()) unlink(path_.c_str());
  path_.clear();
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

void SleepMilliseconds(int milliseconds) {
  if (milliseconds <= 0) return;
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  // nanosleep leaves the time still to sleep in ts when a signal cuts it short.
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void ShowMessageBox(const std::string& text, const std::string& caption) {
  fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

void DebugOutput(const std::string&) {}

namespace {

class RealClock : public Clock {
 public:
  void SleepMs(int milliseconds) override { SleepMilliseconds(milliseconds); }
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

void* LoadSharedLibrary(const std::string& name, std::string* why) {
  void* library = dlopen(name.c_str(), RTLD_LAZY);
  if (!library && why) {
    const char* words = dlerror();
    *why = words ? words : name + " cannot be loaded";
  }
  return library;
}

void* FindLibrarySymbol(void* library, const std::string& name) {
  return library ? dlsym(library, name.c_str()) : nullptr;
}

void FreeSharedLibrary(void* library) {
  if (library) dlclose(library);
}

}  // namespace platform
