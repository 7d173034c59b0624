// The operating-system services the program uses. This header and the ones
// beside it are the only way the rest of the program reaches the OS; the
// implementations live in platform/posix/ and platform/win32/.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace platform {

/// The native path separator ('\\' on Windows, '/' on POSIX). Wherever the
/// program's rules speak of a backslash between path parts, this is meant.
extern const char kPathSeparator;

/// True for either separator character.
bool IsPathSeparator(char c);

/// Full path of the running program's own file.
std::string ModuleFileName();

/// Makes ModuleFileName report another path (tests place the program's
/// settings and log in a temporary folder); empty restores the real one.
void SetModuleFileNameForTesting(const std::string& path);

/// Folder of the running program, without a trailing separator.
std::string ProgramFolder();

/// The current process id.
int ProcessId();

/// The system's temporary folder, always ending with a separator
/// (GetTempPathA; on POSIX $TMPDIR or /tmp/).
std::string SystemTempPath();

/// GetTempFileNameA with unique number 0: creates a new empty file named
/// dir + first three characters of prefix + hex digits + ".tmp" and returns
/// its path in *path. Returns false when no file could be created.
bool CreateUniqueTempFile(const std::string& dir, const std::string& prefix, std::string* path);

/// True when something (file or folder) exists at the path.
bool PathExists(const std::string& path);
/// True when the path exists and is a folder.
bool IsDirectory(const std::string& path);
/// True when the path exists and is a regular file.
bool IsRegularFile(const std::string& path);
/// Size in bytes, or -1 when the path cannot be examined.
int64_t FileSize(const std::string& path);
/// Creates one folder level. Returns false on failure (also when it exists).
bool CreateOneDirectory(const std::string& path);
/// Deletes a file. Returns false on failure.
bool DeleteFile(const std::string& path);
/// Forces a written file's data to the disk. Returns false on failure.
bool SyncFileToDisk(const std::string& path);
/// Renames over an existing target atomically (same file system).
bool ReplaceFile(const std::string& from, const std::string& to);
/// Copies a file, overwriting the target. The copy is written to a temporary
/// file in the target's folder and renamed into place, so the target is
/// either the old file or the complete copy. Returns false on failure.
bool CopyFileAtomically(const std::string& from, const std::string& to);
/// Reads a whole file. Returns false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* content);
/// Writes content to a temporary file in the same folder, flushes it and
/// renames it over path. Returns false (and leaves path alone) on failure.
bool WriteFileAtomically(const std::string& path, const std::string& content);
/// Appends data to a file (created if missing) with a single write on a
/// descriptor opened for appending, so concurrent appenders never interleave
/// inside one call. Returns false on failure.
bool AppendToFile(const std::string& path, const std::string& data);
/// A name for a temporary file beside path (same folder, so a rename over
/// path is atomic); unique within this process and across processes.
std::string SiblingTempName(const std::string& path);

/// Text in the system's code page for narrow ("A") texts (settings values,
/// document information) as UTF-8. Windows: the ANSI code page. POSIX, whose
/// code page is UTF-8: the text itself when it is valid UTF-8, else its bytes
/// read as Windows-1252, so a settings file written on Windows stays legible.
std::string AnsiToUtf8(const std::string& text);

/// The folder part of a path (before its last separator), or "" for none.
std::string DirName(const std::string& path);
/// The part after the last separator.
std::string BaseName(const std::string& path);

/// An exclusive advisory lock held on a lock file for the object's lifetime.
/// Taking a lock on a path this process already holds succeeds at once
/// (the lock is counted), so nested users of one lock cannot deadlock.
class FileLock {
 public:
  /// Blocks until the lock on lockPath is held or it cannot be taken.
  explicit FileLock(const std::string& lockPath);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  /// False when the lock file could not be opened or locked.
  bool Held() const { return held_; }

 private:
  std::string path_;
  bool held_ = false;
};

/// Shows a modal notice (MessageBoxA with an OK button; POSIX: stderr).
void ShowMessageBox(const std::string& text, const std::string& caption);
/// Sends text to the debugger channel (OutputDebugStringA; POSIX: nothing).
void DebugOutput(const std::string& text);

/// The clock and sleep, behind an interface so tests can replace them.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual void SleepMs(int milliseconds) = 0;
  virtual std::tm LocalTimeNow() = 0;
};
/// The clock in force (the real one unless a test installed another).
Clock& CurrentClock();
/// Installs a clock for tests; nullptr restores the real one.
void SetClockForTesting(Clock* clock);

/// Loads a shared library at run time (LoadLibraryA / dlopen). nullptr on failure.
void* LoadSharedLibrary(const std::string& name);
/// Looks up an entry point (GetProcAddress / dlsym). nullptr when missing.
void* FindLibrarySymbol(void* library, const std::string& name);
/// Frees a library from LoadSharedLibrary.
void FreeSharedLibrary(void* library);

}  // namespace platform
