// The operating-system services the program uses. This header and the ones
// beside it are the only way the rest of the program reaches the OS; the
// implementations live in platform/posix/ and platform/win32/.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace platform {

/// The platform's path limit, terminator included (MAX_PATH): every path
/// buffer of the program has this size.
constexpr int kMaxPathLength = 260;

/// The native path separator ('\\' on Windows, '/' on POSIX). Wherever the
/// program's rules speak of a backslash between path parts, this is meant.
extern const char kPathSeparator;
/// The longest path, in bytes without the terminator, that the platform's
/// file calls open: 259 on Windows (MAX_PATH of the "A" calls), PATH_MAX - 1
/// on POSIX.
extern const int kLongestOpenablePath;
/// The system's error number for a full disk (ENOSPC, ERROR_DISK_FULL).
extern const int kNoSpaceError;
/// True where a file this process holds open cannot be renamed over or
/// deleted by another (Windows): a reader must not keep an output open
/// while others may replace it.
extern const bool kOpenFileBlocksReplacing;
/// How the platform's text files end a line: "\n", or "\r\n" on Windows.
extern const char kLineEnd[];

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
///
/// This and the other file operations below that return a bool take an
/// optional last argument error: on failure it receives the system's text
/// for the cause ("No space left on device"), for a message like "Could not
/// copy A to B: REASON"; it is left alone on success.
bool CreateUniqueTempFile(const std::string& dir, const std::string& prefix, std::string* path,
                          std::string* error = nullptr);

/// True when something (file or folder) exists at the path.
bool PathExists(const std::string& path);
/// True when the path exists and is a folder (a symbolic link to one counts).
bool IsDirectory(const std::string& path);
/// True when the path exists and is a regular file.
bool IsRegularFile(const std::string& path);
/// Size in bytes, or -1 when the path cannot be examined.
int64_t FileSize(const std::string& path);

/// What tells one version of a file from the next without opening it: size,
/// time of the last write and the file's identity (a file replaced by
/// another has a new one). Two equal stamps: not written or replaced between.
struct FileStamp {
  bool exists = false;
  int64_t size = 0;
  int64_t modified = 0;
  uint64_t identity = 0;
  bool operator==(const FileStamp& o) const {
    return exists == o.exists && size == o.size && modified == o.modified && identity == o.identity;
  }
  bool operator!=(const FileStamp& o) const { return !(*this == o); }
};
FileStamp StampOf(const std::string& path);
/// Creates one folder level. Returns false on failure (also when it exists).
bool CreateOneDirectory(const std::string& path, std::string* error = nullptr);
/// Told of each folder CreateFolders tried to create, in order: error is
/// nullptr when it was made, else the system's reason.
using FolderStep = std::function<void(const std::string& folder, const std::string* error)>;
/// Creates the folder and its missing parents. The levels are the path up
/// to each separator after its first character, then the whole path; the
/// levels below the deepest one that exists (in any form) are created in
/// order, each tried even when one above it failed, and each reported to
/// step when one is given. True when path is a folder at the end; false
/// with *error (if given) set to the last failure's reason, or to "Not a
/// directory" when something else is in the way.
bool CreateFolders(const std::string& path, std::string* error = nullptr,
                   const FolderStep& step = nullptr);
/// Deletes a file. Returns false on failure.
bool DeleteFile(const std::string& path, std::string* error = nullptr);
/// Forces a written file's data to the disk. Returns false on failure.
bool SyncFileToDisk(const std::string& path, std::string* error = nullptr);
/// Renames over an existing target atomically (same file system) and makes
/// the new name durable (the folder is forced to the disk as well).
bool ReplaceFile(const std::string& from, const std::string& to, std::string* error = nullptr);
/// Copies a file, overwriting the target. The copy is written to a new
/// temporary file in the target's folder (see NewFile::CreateBeside) and
/// renamed into place, so the target is either the old file or the complete
/// copy. It has the old target's permissions (modeForNew when there is
/// none). Returns false on failure.
bool CopyFileAtomically(const std::string& from, const std::string& to, unsigned modeForNew = 0644,
                        std::string* error = nullptr);
/// Reads a whole file. Returns false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* content, std::string* error = nullptr);
/// When a replaced file's new name must be on the disk: at once, or with
/// the next forcing of its folder (for a file whose older version serves as
/// well after a power cut, or whose folder the caller forces out next).
enum class NameOnDisk { kNow, kWithTheFolder };
/// Writes content to a new temporary file in the same folder (see
/// NewFile::CreateBeside), forces it to the disk and renames it over path.
/// The file keeps its permissions (0644 for a new one). Returns false (and
/// leaves path alone) on failure.
bool WriteFileAtomically(const std::string& path, const std::string& content,
                         std::string* error = nullptr, NameOnDisk name = NameOnDisk::kNow);
/// Appends data to a file with a single write on a descriptor opened for
/// appending, so concurrent appenders never interleave inside one call. A
/// missing file is created with permission bits mode (narrowed by the umask);
/// an existing one wider than mode is narrowed to it where this process may.
/// Never writes through a symbolic link or into anything but a regular file.
/// Returns false on failure.
bool AppendToFile(const std::string& path, const std::string& data, unsigned mode = 0644,
                  std::string* error = nullptr);
/// Writes data at the end of an existing regular file (never through a
/// link) and forces the file to the disk. On failure the file may hold part
/// of data; the caller cuts it back (TruncateFile).
bool AppendAndSync(const std::string& path, const std::string& data, std::string* error = nullptr);
/// Cuts an existing regular file (never through a link) to length bytes
/// and forces it to the disk.
bool TruncateFile(const std::string& path, int64_t length, std::string* error = nullptr);
/// Forces the names created, renamed or removed in the folder to the disk.
bool SyncFolder(const std::string& folder, std::string* error = nullptr);
/// A name for a temporary file beside path (same folder, so a rename over
/// path is atomic): "." + base name + ".PID.N.tmp", N counting up in this
/// process. Predictable, so create it only with NewFile.
std::string SiblingTempName(const std::string& path);

/// A file this process has just created for writing: never a file that was
/// there before and never reached through a symbolic link. The object owns
/// the open file and closes it (without deleting it) when destroyed.
class NewFile {
 public:
  NewFile() = default;
  ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  /// Creates path with permission bits mode (narrowed by the umask). Returns
  /// 1 when created; 0 when something exists at path in any form (a file, a
  /// folder, a symbolic link even when dangling); -1 on another failure.
  /// *error receives the reason unless 1 is returned.
  int Create(const std::string& path, unsigned mode, std::string* error);
  /// Creates a temporary file beside target for a write that is renamed over
  /// it: a SiblingTempName, taking the next one while a name is taken (up
  /// to 100 names). Its permissions are those of target when target is a
  /// file, else modeForNewTarget. False with *error set on failure.
  bool CreateBeside(const std::string& target, unsigned modeForNewTarget, std::string* error);

  /// The created file's path ("" before a Create).
  const std::string& path() const { return path_; }
  /// The open file as a stdio stream, nullptr when none is open.
  std::FILE* stream() const { return stream_; }
  /// Writes out the stream's buffer, forces the data to the disk and closes
  /// the file. False with *error set on any failure; the file is closed then
  /// all the same.
  bool SyncAndClose(std::string* error);
  /// Closes the file when it is open and deletes it.
  void Discard();

 private:
  void Close();
  bool Adopt(int fd, const std::string& path, std::string* error);

  std::string path_;
  std::FILE* stream_ = nullptr;
};

/// Text in the system's code page for narrow ("A") texts (settings values,
/// document information) as UTF-8. Windows: the ANSI code page. POSIX, whose
/// code page is UTF-8: the text itself when it is valid UTF-8, else its bytes
/// read as Windows-1252, so a settings file written on Windows stays legible.
/// True for well-formed UTF-8 (no overlong forms, no surrogates, nothing
/// past U+10FFFF).
bool IsValidUtf8(const std::string& text);
std::string AnsiToUtf8(const std::string& text);

/// For tests: from now on the steps of the atomic writes (NewFile,
/// WriteFileAtomically, CopyFileAtomically, ReplaceFile, SyncFileToDisk) are
/// appended to *events as "open PATH", "write PATH", "fsync PATH" and
/// "rename FROM TO", in the order they succeed; nullptr stops it. A write
/// through a NewFile's stream is recorded when it is flushed.
void SetFileEventRecorderForTesting(std::vector<std::string>* events);

/// The folder part of a path (before its last separator), or "" for none.
std::string DirName(const std::string& path);
/// The part after the last separator.
std::string BaseName(const std::string& path);

/// An exclusive advisory lock held on a lock file for the object's lifetime.
/// The lock file is created readable by its owner only and never opened
/// through a symbolic link. The lock belongs to the open file (flock; on
/// Windows the file's sharing as well as LockFileEx), so a child that holds
/// its handle (NativeHandle) keeps it after this process has ended. Taking
/// a lock on a path this process already holds succeeds at once (the lock
/// is counted), so nested users of one lock cannot deadlock.
class FileLock {
 public:
  /// Waits at most timeoutMs (through the current clock) until the lock on
  /// lockPath is held; a negative timeout waits without limit.
  explicit FileLock(const std::string& lockPath, int timeoutMs = -1);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  /// False when the lock file could not be opened or locked in time.
  bool Held() const { return held_; }
  /// Why the lock is not held (the system's error text, or a time-out).
  const std::string& Error() const { return error_; }
  /// The open lock file's handle, for a child process that must keep the
  /// lock held as long as it runs (-1 when not held).
  intptr_t NativeHandle() const;

 private:
  std::string path_;
  bool held_ = false;
  std::string error_;
};

/// Receives the platform layer's diagnostics: one complete log entry, ending
/// in a line break, per call.
using DiagnosticSink = void (*)(const std::string& line);
/// Installs where the platform layer's diagnostics go and returns the sink
/// in force before; nullptr restores the default. The program's log
/// installs itself when the program starts. Safe to call from any thread.
DiagnosticSink SetDiagnosticSink(DiagnosticSink sink);
/// Hands one diagnostic line to the sink in force; without a sink it goes
/// to the debugger channel (DebugOutput).
void ReportDiagnostic(const std::string& line);

/// Shows a modal notice (MessageBoxA with an OK button; POSIX: stderr).
void ShowMessageBox(const std::string& text, const std::string& caption);
/// Sends text to the debugger channel (OutputDebugStringA; POSIX: nothing).
void DebugOutput(const std::string& text);

/// Blocks the calling thread for at least milliseconds (Sleep / nanosleep,
/// resumed after signals); 0 or less returns at once. The real sleep, which
/// waits on children and the real Clock use: code whose waits tests must
/// control sleeps through CurrentClock() instead.
void SleepMilliseconds(int milliseconds);

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

/// Loads a shared library at run time (LoadLibraryA / dlopen). nullptr on
/// failure, with the loader's words in *why when given.
void* LoadSharedLibrary(const std::string& name, std::string* why = nullptr);
/// Looks up an entry point (GetProcAddress / dlsym). nullptr when missing.
void* FindLibrarySymbol(void* library, const std::string& name);
/// Frees a library from LoadSharedLibrary.
void FreeSharedLibrary(void* library);

/// True when both paths name the same existing file (hard links and
/// symbolic links included).
bool IsSameFile(const std::string& a, const std::string& b);
/// True when anything is at the path, a dangling symbolic link included.
bool PathEntryExists(const std::string& path);
/// True when the path itself (not a link's target) is a regular file.
bool IsPlainRegularFile(const std::string& path);
/// True when the path itself is a regular file this process may write to
/// in place (AppendAndSync, TruncateFile).
bool CanWriteInPlace(const std::string& path);
/// True when the folder is, or lies under, a mount point that the system's
/// table of file systems lists (a drive that is expected there) but that is
/// not mounted now. TARVELIN_FSTAB names another table (tests).
bool IsUnmountedMountPoint(const std::string& folder);
/// Creates `to` exclusively as a hard link to `from`, or as a copy where a
/// link cannot be made. Returns false with *error set on failure.
bool LinkOrCopyFile(const std::string& from, const std::string& to, std::string* error);
/// Deletes the temporary files that SiblingTempName made beside path for
/// processes that no longer run (left behind by a kill). Returns how many.
int RemoveStaleSiblingTemps(const std::string& path);
/// What a look at a file that another account may have planted found.
enum class Trust { kMissing, kTrusted, kUntrusted, kUnreadable };
/// Reads a small record this program keeps for itself beside `reference`
/// (a journal beside an output, a length record) and tells whether it may be
/// believed: a regular file reached without a link, with no other name,
/// owned by this process's user or by the owner of `reference` (when that
/// is a regular file), and writable by no one else (POSIX: no group or other
/// write bit). *content receives the file only when kTrusted; *why says what
/// is wrong (or the system's reason for kUnreadable).
Trust ReadOwnRecord(const std::string& path, const std::string& reference, std::string* content,
                    std::string* why);
/// The same look without reading: true when path is such a file.
bool IsOwnFile(const std::string& path, const std::string& reference, std::string* why);
/// True when path itself (not a link) is a folder made by one of the
/// accounts ReadOwnRecord believes; *why says what is wrong otherwise.
bool IsOwnFolder(const std::string& path, const std::string& reference, std::string* why);
/// Whether the folder's file system can take bytes more now: false, with
/// the system's reason in *why, when it has less free space than that or a
/// small probe file cannot be written and forced to the disk there
/// (read-only, quota, I/O error, no right to write). Tells the machine's
/// faults from a job's after a write failed.
bool HasRoomFor(const std::string& folder, int64_t bytes, std::string* why);
/// The bytes an unprivileged writer may still put on the folder's file
/// system; -1 with the system's reason in *why when it cannot be told.
int64_t AvailableDiskBytes(const std::string& folder, std::string* why);
/// Sets the permission bits taken away from files that this process and the
/// children it starts from now on create (umask; nothing on Windows, whose
/// files take their folder's access list). Returns the bits in force before.
unsigned SetFileCreationMask(unsigned mask);
/// The current working folder, without a trailing separator.
std::string CurrentFolder();
/// Makes path a folder that only the process's effective user can enter:
/// creates its missing parents (by the umask) and the folder itself (mode
/// 0700), then opens it without following a link and checks that it is a
/// folder of that user; an own folder open to others is narrowed to the
/// owner. False with *error set when it cannot be made, or is a symbolic
/// link, not a folder, or another user's.
bool EnsurePrivateFolder(const std::string& path, std::string* error);
/// Sets an environment variable of the process (SetEnvironmentVariableA);
/// value nullptr removes it. False when it cannot be set.
bool SetEnvironmentValue(const std::string& name, const char* value);
/// The system's text for an error number (errno on POSIX, GetLastError on
/// Windows).
std::string ErrorText(int error);

}  // namespace platform
