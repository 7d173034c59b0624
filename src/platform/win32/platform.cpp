// Win32 implementation of the basic OS services.
#include "platform/platform.h"

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/windows_api.h"

namespace platform {

const char kPathSeparator = '\\';
const int kNoSpaceError = ERROR_DISK_FULL;
const bool kOpenFileBlocksReplacing = true;
const char kLineEnd[] = "\r\n";
const int kLongestOpenablePath = MAX_PATH - 1;

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

namespace {
std::string g_moduleFileNameOverride;
}  // namespace

void SetModuleFileNameForTesting(const std::string& path) { g_moduleFileNameOverride = path; }

std::string ModuleFileName() {
  if (!g_moduleFileNameOverride.empty()) return g_moduleFileNameOverride;
  std::vector<char> buf(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return std::string();
    if (n < buf.size()) return std::string(buf.data(), n);
    if (buf.size() >= 32768) return std::string();
    buf.resize(buf.size() * 2);
  }
}

std::string ProgramFolder() { return DirName(ModuleFileName()); }

int ProcessId() { return static_cast<int>(GetCurrentProcessId()); }

// The system's copy of the environment, which CreateProcessA hands to
// children, and the C runtime's, which getenv reads; "NAME=" removes the
// runtime's entry.
bool SetEnvironmentValue(const std::string& name, const char* value) {
  if (name.empty() || name.find('=') != std::string::npos) return false;
  if (!SetEnvironmentVariableA(name.c_str(), value)) return false;
  std::string entry = name + "=" + (value ? value : "");
  return _putenv(entry.c_str()) == 0;
}

std::string SystemTempPath() {
  char buf[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof(buf), buf);
  std::string dir = n > 0 && n < sizeof(buf) ? std::string(buf, n) : std::string("C:\\");
  if (!IsPathSeparator(dir.back())) dir += '\\';
  return dir;
}

using win32::Fail;

bool CreateUniqueTempFile(const std::string& dir, const std::string& prefix, std::string* path,
                          std::string* error) {
  char buf[MAX_PATH];
  if (GetTempFileNameA(dir.c_str(), prefix.c_str(), 0, buf) == 0) return Fail(error);
  *path = buf;
  return true;
}

namespace {

DWORD Attributes(const std::string& path) {
  return path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
}

}  // namespace

bool PathExists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::string& path) {
  DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsRegularFile(const std::string& path) {
  DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

int64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

FileStamp StampOf(const std::string& path) {
  FileStamp stamp;
  HANDLE file = path.empty()
                    ? INVALID_HANDLE_VALUE
                    : CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return stamp;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(file, &info)) {
    stamp.exists = true;
    stamp.size = (static_cast<int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    stamp.modified = (static_cast<int64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                     info.ftLastWriteTime.dwLowDateTime;
    stamp.identity = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }
  CloseHandle(file);
  return stamp;
}

bool CreateOneDirectory(const std::string& path, std::string* error) {
  return CreateDirectoryA(path.c_str(), nullptr) || Fail(error);
}

bool CreateFolders(const std::string& path, std::string* error, const FolderStep& step) {
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return Fail(error);
  }
  std::vector<std::string> levels;
  for (size_t pos = 1; pos < path.size(); ++pos) {
    if (IsPathSeparator(path[pos])) levels.push_back(path.substr(0, pos));
  }
  levels.push_back(path);
  size_t first = levels.size();
  while (first > 0 && !PathExists(levels[first - 1])) --first;
  std::string lastError = ErrorText(ERROR_DIRECTORY);
  for (size_t i = first; i < levels.size(); ++i) {
    bool made = CreateDirectoryA(levels[i].c_str(), nullptr) != 0;
    if (!made) lastError = win32::LastErrorText();
    if (step) step(levels[i], made ? nullptr : &lastError);
  }
  if (IsDirectory(path)) return true;
  if (error) *error = lastError;
  return false;
}

bool DeleteFile(const std::string& path, std::string* error) {
  return DeleteFileA(path.c_str()) || Fail(error);
}

namespace {

std::vector<std::string>* g_fileEvents = nullptr;

void Record(const char* step, const std::string& path, const std::string& to = std::string()) {
  if (g_fileEvents) g_fileEvents->push_back(step + (" " + path) + (to.empty() ? "" : " " + to));
}

// A file another process has open without sharing deletion (a virus scanner,
// an indexer, a reader of the settings) refuses a rename for a moment.
const int kBusyRetries = 20;
const int kBusyWaitMs = 50;

bool IsBusy(DWORD code) { return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION; }

}  // namespace

void SetFileEventRecorderForTesting(std::vector<std::string>* events) { g_fileEvents = events; }

void win32::RecordFileEvent(const char* step, const std::string& path, const std::string& to) {
  Record(step, path, to);
}

bool SyncFileToDisk(const std::string& path, std::string* error) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Fail(error);
  bool ok = FlushFileBuffers(h) != 0;
  if (!ok) Fail(error);
  CloseHandle(h);
  if (ok) Record("fsync", path);
  return ok;
}

bool ReplaceFile(const std::string& from, const std::string& to, std::string* error) {
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      Record("rename", from, to);
      return true;
    }
    if (attempt >= kBusyRetries || !IsBusy(GetLastError())) return Fail(error);
    Sleep(kBusyWaitMs);
  }
}

namespace {

const int kSiblingAttempts = 100;

std::string Reason(const std::string& what, const std::string& path) {
  return what + " \"" + path + "\": " + win32::LastErrorText();
}

// CREATE_NEW refuses every name that exists, a link included.
HANDLE OpenNew(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h != INVALID_HANDLE_VALUE) Record("open", path);
  return h;
}

bool IsTaken(DWORD code) { return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS; }

HANDLE OpenNewSibling(const std::string& target, std::string* temp) {
  for (int attempt = 0; attempt < kSiblingAttempts; ++attempt) {
    *temp = SiblingTempName(target);
    HANDLE h = OpenNew(*temp);
    if (h != INVALID_HANDLE_VALUE || !IsTaken(GetLastError())) return h;
  }
  return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE h, const char* data, size_t size) {
  while (size > 0) {
    DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(h, data, chunk, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

// Writes what `produce` writes to the handle into a new sibling temporary
// file, forces it to the disk, then renames it over path. The temporary file
// is removed on any failure; `produce` leaves the last error set when it fails.
template <typename Produce>
bool WriteViaSibling(const std::string& path, Produce produce, std::string* error) {
  std::string tmp;
  HANDLE h = OpenNewSibling(path, &tmp);
  if (h == INVALID_HANDLE_VALUE) return Fail(error);
  bool ok = produce(h);
  if (ok) Record("write", tmp);
  ok = ok && FlushFileBuffers(h);
  if (ok) Record("fsync", tmp);
  if (!ok) Fail(error);
  CloseHandle(h);
  if (ok && ReplaceFile(tmp, path, error)) return true;
  DeleteFileA(tmp.c_str());
  return false;
}

}  // namespace

bool CopyFileAtomically(const std::string& from, const std::string& to, unsigned,
                        std::string* error) {
  HANDLE in = CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (in == INVALID_HANDLE_VALUE) return Fail(error);
  bool ok = WriteViaSibling(
      to,
      [in](HANDLE out) {
        std::vector<char> buf(65536);
        for (;;) {
          DWORD n = 0;
          if (!ReadFile(in, buf.data(), static_cast<DWORD>(buf.size()), &n, nullptr)) return false;
          if (n == 0) return true;
          if (!WriteAll(out, buf.data(), n)) return false;
        }
      },
      error);
  CloseHandle(in);
  return ok;
}

bool ReadWholeFile(const std::string& path, std::string* content, std::string* error) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Fail(error);
  content->clear();
  char buf[65536];
  bool ok = true;
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h, buf, sizeof(buf), &n, nullptr)) {
      ok = Fail(error);
      break;
    }
    if (n == 0) break;
    content->append(buf, n);
  }
  CloseHandle(h);
  return ok;
}

// The move is written through in any case: Windows has no cheaper rename
// whose durability a later flush of the folder would settle.
bool WriteFileAtomically(const std::string& path, const std::string& content, std::string* error,
                         NameOnDisk) {
  return WriteViaSibling(
      path, [&content](HANDLE h) { return WriteAll(h, content.data(), content.size()); }, error);
}

bool AppendToFile(const std::string& path, const std::string& data, unsigned, std::string* error) {
  // Append-only access makes every write land whole at the end of the file.
  HANDLE h =
      CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Fail(error);
  BY_HANDLE_FILE_INFORMATION info;
  std::string failure;
  if (!GetFileInformationByHandle(h, &info)) {
    failure = win32::LastErrorText();
  } else if (GetFileType(h) != FILE_TYPE_DISK ||
             (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    failure = "Not a regular file";
  } else {
    DWORD written = 0;
    if (!WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr)) {
      failure = win32::LastErrorText();
    } else if (written != data.size()) {
      failure = "only " + std::to_string(written) + " of " + std::to_string(data.size()) +
                " bytes were written";
    }
  }
  CloseHandle(h);
  if (failure.empty()) return true;
  if (error) *error = failure;
  return false;
}

std::string SiblingTempName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  std::string dir = DirName(path);
  std::string prefix = dir.empty() ? std::string() : dir + kPathSeparator;
  char tail[64];
  snprintf(tail, sizeof(tail), ".%lu.%u.tmp", static_cast<unsigned long>(GetCurrentProcessId()),
           counter++);
  return prefix + "." + BaseName(path) + tail;
}

NewFile::~NewFile() { Close(); }

void NewFile::Close() {
  if (stream_) fclose(stream_);
  stream_ = nullptr;
}

namespace {

// The C runtime's descriptor for a handle, which then owns it; -1 on failure
// (the handle is closed then).
int DescriptorOf(HANDLE h) {
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  if (fd < 0) CloseHandle(h);
  return fd;
}

}  // namespace

int NewFile::Create(const std::string& path, unsigned, std::string* error) {
  Close();
  path_.clear();
  HANDLE h = OpenNew(path);
  if (h == INVALID_HANDLE_VALUE) {
    bool exists = IsTaken(GetLastError());
    *error = Reason(exists ? "something already exists at" : "cannot create", path);
    return exists ? 0 : -1;
  }
  return Adopt(DescriptorOf(h), path, error) ? 1 : -1;
}

bool NewFile::CreateBeside(const std::string& target, unsigned, std::string* error) {
  Close();
  path_.clear();
  std::string temp;
  HANDLE h = OpenNewSibling(target, &temp);
  if (h == INVALID_HANDLE_VALUE) {
    *error = Reason("cannot create", temp);
    return false;
  }
  return Adopt(DescriptorOf(h), temp, error);
}

bool NewFile::Adopt(int fd, const std::string& path, std::string* error) {
  stream_ = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
  if (!stream_) {
    *error = "cannot open a stream on \"" + path + "\"";
    if (fd >= 0) _close(fd);
    DeleteFileA(path.c_str());
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
    *error = "cannot write \"" + path_ + "\"";
  } else {
    Record("write", path_);
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream_)));
    ok = FlushFileBuffers(h) != 0;
    if (ok) {
      Record("fsync", path_);
    } else {
      *error = Reason("cannot force to the disk", path_);
    }
  }
  if (fclose(stream_) != 0 && ok) {
    *error = "cannot close \"" + path_ + "\"";
    ok = false;
  }
  stream_ = nullptr;
  return ok;
}

void NewFile::Discard() {
  Close();
  if (!path_.empty()) DeleteFileA(path_.c_str());
  path_.clear();
}

std::string DirName(const std::string& path) {
  size_t pos = path.find_last_of("/\\");
  if (pos == std::string::npos) return std::string();
  if (pos == 0) return path.substr(0, 1);
  // "C:\" keeps its separator: "C:" alone would mean the drive's current folder.
  if (pos == 2 && path[1] == ':') return path.substr(0, 3);
  return path.substr(0, pos);
}

std::string BaseName(const std::string& path) {
  size_t pos = path.find_last_of("/\\");
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

namespace {

struct HeldLock {
  HANDLE handle;
  int count;
};

std::mutex g_locksMutex;

std::map<std::string, HeldLock>& HeldLocks() {
  static std::map<std::string, HeldLock> locks;
  return locks;
}

// The byte LockFileEx takes: far past the end of any real lock file.
const DWORD kLockOffsetHigh = 0x7FFFFFFF;

// One attempt at the lock: 1 held (*handle open), 0 held by another process,
// -1 failed (*error set). A byte-range lock belongs to the process that took
// it and ends with it, whoever else holds the handle; the file's sharing
// belongs to the open file itself, which an inherited handle keeps open. So
// the lock file is opened without write sharing, and no other run can open
// it until every process holding this handle (a page tool started with it
// included) has ended, as with flock on POSIX. The byte-range lock is taken
// as well, against processes that open the file sharing everything.
int TryLock(const std::string& path, HANDLE* handle, std::string* error) {
  HANDLE h =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_SHARING_VIOLATION) return 0;
    *error = win32::LastErrorText();
    return -1;
  }
  if (GetFileType(h) != FILE_TYPE_DISK) {
    *error = "not a regular file";
    CloseHandle(h);
    return -1;
  }
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    *handle = h;
    return 1;
  }
  DWORD code = GetLastError();
  CloseHandle(h);
  if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return 0;
  *error = ErrorText(static_cast<int>(code));
  return -1;
}

}  // namespace

FileLock::FileLock(const std::string& lockPath, int timeoutMs) : path_(lockPath) {
  {
    std::lock_guard<std::mutex> guard(g_locksMutex);
    auto it = HeldLocks().find(path_);
    if (it != HeldLocks().end()) {
      ++it->second.count;
      held_ = true;
      return;
    }
  }
  const int kPollMs = 50;
  HANDLE h = nullptr;
  for (int waited = 0;; waited += kPollMs) {
    int state = TryLock(path_, &h, &error_);
    if (state < 0) return;
    if (state > 0) break;
    if (timeoutMs >= 0 && waited >= timeoutMs) {
      error_ = "held by another process for " + std::to_string(waited / 1000) + " s";
      return;
    }
    CurrentClock().SleepMs(kPollMs);
  }
  std::lock_guard<std::mutex> guard(g_locksMutex);
  HeldLocks()[path_] = HeldLock{h, 1};
  held_ = true;
}

FileLock::~FileLock() {
  if (!held_) return;
  std::lock_guard<std::mutex> guard(g_locksMutex);
  auto it = HeldLocks().find(path_);
  if (it == HeldLocks().end()) return;
  if (--it->second.count == 0) {
    CloseHandle(it->second.handle);
    HeldLocks().erase(it);
  }
}

intptr_t FileLock::NativeHandle() const {
  if (!held_) return -1;
  std::lock_guard<std::mutex> guard(g_locksMutex);
  auto it = HeldLocks().find(path_);
  return it == HeldLocks().end() ? -1 : reinterpret_cast<intptr_t>(it->second.handle);
}

void SleepMilliseconds(int milliseconds) {
  if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
}

void ShowMessageBox(const std::string& text, const std::string& caption) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void DebugOutput(const std::string& text) { OutputDebugStringA(text.c_str()); }

namespace {

class RealClock : public Clock {
 public:
  void SleepMs(int milliseconds) override { SleepMilliseconds(milliseconds); }
  std::tm LocalTimeNow() override {
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::tm tm{};
    tm.tm_year = now.wYear - 1900;
    tm.tm_mon = now.wMonth - 1;
    tm.tm_mday = now.wDay;
    tm.tm_hour = now.wHour;
    tm.tm_min = now.wMinute;
    tm.tm_sec = now.wSecond;
    tm.tm_wday = now.wDayOfWeek;
    tm.tm_isdst = -1;
    return tm;
  }
};

RealClock g_realClock;
Clock* g_clock = &g_realClock;

}  // namespace

Clock& CurrentClock() { return *g_clock; }

void SetClockForTesting(Clock* clock) { g_clock = clock ? clock : &g_realClock; }

void* LoadSharedLibrary(const std::string& name, std::string* why) {
  HMODULE library = LoadLibraryA(name.c_str());
  if (!library && why) *why = name + ": " + win32::LastErrorText();
  return reinterpret_cast<void*>(library);
}

void* FindLibrarySymbol(void* library, const std::string& name) {
  return library
             ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name.c_str()))
             : nullptr;
}

void FreeSharedLibrary(void* library) {
  if (library) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace platform
