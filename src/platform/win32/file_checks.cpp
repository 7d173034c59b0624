// Win32 implementation of the checks on job and target files: identity,
// kind, drive state, exclusive links; the error texts and the code page.
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"

namespace platform {

namespace win32 {

std::string LastErrorText() { return ErrorText(static_cast<int>(GetLastError())); }

}  // namespace win32

namespace {

// The identity of a file: its volume and its index on the volume.
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = GetFileInformationByHandle(h, info) != 0;
  CloseHandle(h);
  return ok;
}

std::string StripTrailingSeparators(std::string path) {
  // "C:\" stays: it is the drive's root, "C:" its current folder.
  while (path.size() > 1 && IsPathSeparator(path.back()) && !(path.size() == 3 && path[1] == ':')) {
    path.pop_back();
  }
  return path;
}

}  // namespace

bool IsSameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION ia, ib;
  return FileIdentity(a, &ia) && FileIdentity(b, &ib) &&
         ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

bool PathEntryExists(const std::string& path) {
  return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsPlainRegularFile(const std::string& path) {
  DWORD a = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES &&
         !(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
}

bool CanWriteInPlace(const std::string& path) {
  DWORD a = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
  return IsPlainRegularFile(path) && !(a & FILE_ATTRIBUTE_READONLY);
}

// A removable drive is expected at its letter; without its medium the
// letter is there but the volume answers nothing.
bool IsUnmountedMountPoint(const std::string& folder) {
  char full[MAX_PATH];
  DWORD n = GetFullPathNameA(folder.c_str(), sizeof(full), full, nullptr);
  if (n == 0 || n >= sizeof(full) || full[1] != ':') return false;
  std::string root = std::string(full, 2) + "\\";
  UINT type = GetDriveTypeA(root.c_str());
  if (type != DRIVE_REMOVABLE && type != DRIVE_CDROM) return false;
  UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
  bool present =
      GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0) != 0;
  SetErrorMode(oldMode);
  return !present;
}

bool LinkOrCopyFile(const std::string& from, const std::string& to, std::string* error) {
  if (CreateHardLinkA(to.c_str(), from.c_str(), nullptr)) return true;
  DWORD code = GetLastError();
  if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return win32::Fail(error);
  // Copy with fail-if-exists: `to` is created exclusively here as well.
  return CopyFileA(from.c_str(), to.c_str(), TRUE) || win32::Fail(error);
}

int RemoveStaleSiblingTemps(const std::string& path) {
  std::string dir = DirName(path);
  std::string prefix = "." + BaseName(path) + ".";
  std::string folder = dir.empty() ? std::string() : dir + "\\";
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + prefix + "*.tmp").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int removed = 0;
  do {
    std::string name = found.cFileName;
    // ".<base>.<pid>.<n>.tmp"
    if (name.size() < prefix.size() + 4) continue;
    std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    size_t dot = middle.find('.');
    if (dot == 0 || dot == std::string::npos ||
        middle.find_first_not_of("0123456789.") != std::string::npos ||
        middle.find('.', dot + 1) != std::string::npos) {
      continue;
    }
    DWORD pid = static_cast<DWORD>(strtoul(middle.substr(0, dot).c_str(), nullptr, 10));
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process) {
      bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
      CloseHandle(process);
      if (running) continue;
    } else if (GetLastError() == ERROR_ACCESS_DENIED) {
      continue;  // there, but another user's
    }
    std::string full = folder + name;
    if (IsPlainRegularFile(full) && DeleteFileA(full.c_str())) ++removed;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return removed;
}

std::string CurrentFolder() {
  char buf[MAX_PATH];
  DWORD n = GetCurrentDirectoryA(sizeof(buf), buf);
  return n > 0 && n < sizeof(buf) ? StripTrailingSeparators(std::string(buf, n)) : std::string();
}

// The system's message without its closing period and line end, so it reads
// well after "Could not copy A to B: ".
std::string ErrorText(int error) {
  char* text = nullptr;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = n > 0 && text ? std::string(text, n) : std::string();
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' ||
                              message.back() == '.' || message.back() == ' ')) {
    message.pop_back();
  }
  if (message.empty()) message = "error " + std::to_string(error);
  return message;
}

std::string AnsiToUtf8(const std::string& text) {
  if (text.empty()) return text;
  int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (wide <= 0) return text;
  std::vector<wchar_t> utf16(static_cast<size_t>(wide));
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), utf16.data(), wide);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return text;
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, &out[0], bytes, nullptr, nullptr);
  return out;
}

}  // namespace platform
