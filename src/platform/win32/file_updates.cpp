// Win32 implementation of the in-place updates of a file (an append forced
// to the disk, a cut back to a length) and of forcing a folder's entries to
// the disk.
#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"

namespace platform {

using win32::Fail;

namespace {

// Opens an existing file for writing without following a link (a reparse
// point is opened as itself and refused). Returns INVALID_HANDLE_VALUE with
// *error set when it cannot be opened or is no regular file.
HANDLE OpenRegularForWrite(const std::string& path, std::string* error) {
  HANDLE h =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Fail(error);
    return h;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) {
    Fail(error);
  } else if (GetFileType(h) != FILE_TYPE_DISK ||
             (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    if (error) *error = "Not a regular file";
  } else {
    return h;
  }
  CloseHandle(h);
  return INVALID_HANDLE_VALUE;
}

// Forces the file to the disk and closes it; the first failure is reported.
bool FlushAndClose(HANDLE h, const std::string& path, std::string* error) {
  bool ok = FlushFileBuffers(h) != 0;
  if (ok) {
    win32::RecordFileEvent("fsync", path);
  } else {
    Fail(error);
  }
  CloseHandle(h);
  return ok;
}

}  // namespace

bool AppendAndSync(const std::string& path, const std::string& data, std::string* error) {
  HANDLE h = OpenRegularForWrite(path, error);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER zero{};
  bool ok = SetFilePointerEx(h, zero, nullptr, FILE_END) != 0;
  for (size_t done = 0; ok && done < data.size();) {
    size_t left = data.size() - done;
    DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD written = 0;
    ok = WriteFile(h, data.data() + done, chunk, &written, nullptr) != 0;
    if (ok && written == 0) {
      SetLastError(ERROR_DISK_FULL);
      ok = false;
    }
    done += written;
  }
  if (!ok) {
    Fail(error);
    CloseHandle(h);
    return false;
  }
  win32::RecordFileEvent("append", path);
  return FlushAndClose(h, path, error);
}

bool TruncateFile(const std::string& path, int64_t length, std::string* error) {
  HANDLE h = OpenRegularForWrite(path, error);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER at;
  at.QuadPart = length;
  if (length < 0 || !SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !SetEndOfFile(h)) {
    if (length < 0) SetLastError(ERROR_NEGATIVE_SEEK);
    Fail(error);
    CloseHandle(h);
    return false;
  }
  win32::RecordFileEvent("truncate", path);
  return FlushAndClose(h, path, error);
}

// A folder is opened as itself with backup semantics; FlushFileBuffers on
// it writes its entries out on NTFS when the handle may write, which takes
// an administrator. Elsewhere the open or the flush is refused (access
// denied, or a file system that cannot flush a folder): that counts as
// done, because NTFS journals every change of a folder's entries and
// ReplaceFile renames with MOVEFILE_WRITE_THROUGH, which returns only once
// the rename is on the disk. A folder that is not there is a failure.
bool SyncFolder(const std::string& folder, std::string* error) {
  std::string path = folder.empty() ? std::string(".") : folder;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Fail(error);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetLastError(ERROR_DIRECTORY);
    return Fail(error);
  }
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    if (code == ERROR_ACCESS_DENIED || code == ERROR_PRIVILEGE_NOT_HELD) return true;
    return Fail(error);
  }
  bool flushed = FlushFileBuffers(h) != 0;
  DWORD code = flushed ? ERROR_SUCCESS : GetLastError();
  CloseHandle(h);
  if (flushed) {
    win32::RecordFileEvent("fsync", path);
    return true;
  }
  if (code == ERROR_ACCESS_DENIED || code == ERROR_INVALID_FUNCTION ||
      code == ERROR_INVALID_HANDLE || code == ERROR_NOT_SUPPORTED) {
    return true;
  }
  SetLastError(code);
  return Fail(error);
}

}  // namespace platform
