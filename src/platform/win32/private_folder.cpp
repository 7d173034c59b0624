// Win32 implementation of what belongs to the process's own account: a
// folder that only that account can enter (its access list names that
// account alone and inherits nothing), the records it may believe, and the
// room left on a drive.
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"
// after <windows.h>, whose types they use
#include <aclapi.h>
#include <sddl.h>

namespace platform {

namespace {

// The process token's user and default owner (an administrator's new files
// belong to the Administrators group).
struct TokenAccounts {
  std::vector<BYTE> user, owner;
  PSID User() { return reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid; }
  PSID Owner() { return reinterpret_cast<TOKEN_OWNER*>(owner.data())->Owner; }
};

bool QueryToken(HANDLE token, TOKEN_INFORMATION_CLASS what, std::vector<BYTE>* out) {
  DWORD size = 0;
  GetTokenInformation(token, what, nullptr, 0, &size);
  if (size == 0) return false;
  out->resize(size);
  return GetTokenInformation(token, what, out->data(), size, &size) != 0;
}

bool ReadToken(TokenAccounts* accounts) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  bool ok = QueryToken(token, TokenUser, &accounts->user) &&
            QueryToken(token, TokenOwner, &accounts->owner);
  CloseHandle(token);
  return ok;
}

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return "an unknown account";
  std::string out = text;
  LocalFree(text);
  return out;
}

struct LocalDeleter {
  void operator()(void* p) const { LocalFree(p); }
};

}  // namespace

// The checks go through a handle to the folder itself (a link is opened as
// itself and refused), so what is checked and narrowed is the folder,
// whatever is swapped in at its name.
bool EnsurePrivateFolder(const std::string& path, std::string* error) {
  std::string parent = DirName(path);
  if (!parent.empty() && !IsDirectory(parent) && !CreateFolders(parent, error)) return false;
  TokenAccounts accounts;
  if (!ReadToken(&accounts)) return win32::Fail(error);
  EXPLICIT_ACCESS_A access{};
  access.grfAccessPermissions = GENERIC_ALL;
  access.grfAccessMode = SET_ACCESS;
  access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_USER;
  access.Trustee.ptstrName = static_cast<LPSTR>(accounts.User());
  PACL rawList = nullptr;
  DWORD rc = SetEntriesInAclA(1, &access, nullptr, &rawList);
  if (rc != ERROR_SUCCESS) {
    *error = ErrorText(static_cast<int>(rc));
    return false;
  }
  std::unique_ptr<ACL, LocalDeleter> ownOnly(rawList);
  SECURITY_DESCRIPTOR descriptor;
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, ownOnly.get(), FALSE);
  SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, FALSE};
  if (!CreateDirectoryA(path.c_str(), &attributes) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return win32::Fail(error);
  }
  HANDLE h =
      CreateFileA(path.c_str(), READ_CONTROL | WRITE_DAC,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return win32::Fail(error);
  BY_HANDLE_FILE_INFORMATION info;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR present = nullptr;
  bool ok = false;
  if (!GetFileInformationByHandle(h, &info)) {
    win32::Fail(error);
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    *error = "it is a symbolic link";
  } else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *error = "it is not a folder";
  } else if ((rc = GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                   nullptr, nullptr, &present)) != ERROR_SUCCESS) {
    *error = ErrorText(static_cast<int>(rc));
  } else if (!EqualSid(owner, accounts.User()) && !EqualSid(owner, accounts.Owner())) {
    *error = "it belongs to " + SidText(owner);
  } else if ((rc = SetSecurityInfo(h, SE_FILE_OBJECT,
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, ownOnly.get(), nullptr)) != ERROR_SUCCESS) {
    *error = ErrorText(static_cast<int>(rc));
  } else {
    ok = true;
  }
  if (present) LocalFree(present);
  CloseHandle(h);
  return ok;
}

namespace {

// Records are small; anything larger is not one of ours.
const DWORD kLargestRecord = 1 << 20;

// The owner of an open file, or "" with *why set.
bool OwnerOf(HANDLE h, std::vector<BYTE>* sid, std::string* why) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD rc = GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                             nullptr, nullptr, &descriptor);
  if (rc != ERROR_SUCCESS) {
    *why = ErrorText(static_cast<int>(rc));
    return false;
  }
  DWORD length = GetLengthSid(owner);
  sid->assign(static_cast<BYTE*>(owner), static_cast<BYTE*>(owner) + length);
  LocalFree(descriptor);
  return true;
}

HANDLE OpenAsItself(const std::string& path, DWORD access) {
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING,
                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Why the open file (or folder, when folder is true) cannot be believed, or
// "" when it can: it must be a plain file with one name (or a plain folder),
// owned by the process's account (or its default owner) or by the owner of
// the reference file.
std::string Distrust(HANDLE h, const std::string& reference, bool folder = false) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return win32::LastErrorText();
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return "it is a symbolic link";
  bool isFolder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (isFolder != folder) return folder ? "it is not a folder" : "it is not a regular file";
  if (!folder && info.nNumberOfLinks != 1) return "it has other names (hard links)";
  std::vector<BYTE> owner;
  std::string why;
  TokenAccounts accounts;
  if (!OwnerOf(h, &owner, &why)) return why;
  if (!ReadToken(&accounts)) return win32::LastErrorText();
  PSID sid = owner.data();
  if (EqualSid(sid, accounts.User()) || EqualSid(sid, accounts.Owner())) return std::string();
  HANDLE ref = reference.empty() ? INVALID_HANDLE_VALUE : OpenAsItself(reference, READ_CONTROL);
  if (ref != INVALID_HANDLE_VALUE) {
    std::vector<BYTE> refOwner;
    std::string ignored;
    bool same = OwnerOf(ref, &refOwner, &ignored) && EqualSid(sid, refOwner.data());
    CloseHandle(ref);
    if (same) return std::string();
  }
  return "it belongs to " + SidText(sid);
}

}  // namespace

// The checks are made on the open handle, so what is read is what was
// checked.
Trust ReadOwnRecord(const std::string& path, const std::string& reference, std::string* content,
                    std::string* why) {
  content->clear();
  HANDLE h = OpenAsItself(path, GENERIC_READ | READ_CONTROL);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return Trust::kMissing;
    *why = ErrorText(static_cast<int>(code));
    return Trust::kUnreadable;
  }
  *why = Distrust(h, reference);
  LARGE_INTEGER size{};
  if (why->empty() && GetFileSizeEx(h, &size) && size.QuadPart > kLargestRecord) {
    *why = "it is too large";
  }
  if (!why->empty()) {
    CloseHandle(h);
    return Trust::kUntrusted;
  }
  char buf[65536];
  DWORD got = 0;
  Trust trust = Trust::kTrusted;
  for (;;) {
    if (!ReadFile(h, buf, sizeof(buf), &got, nullptr)) {
      *why = win32::LastErrorText();
      content->clear();
      trust = Trust::kUnreadable;
      break;
    }
    if (got == 0) break;
    content->append(buf, got);
  }
  CloseHandle(h);
  return trust;
}

namespace {

// The look behind IsOwnFile and IsOwnFolder, through a handle to the entry
// itself.
bool IsOwnEntry(const std::string& path, const std::string& reference, bool folder,
                std::string* why) {
  HANDLE h = OpenAsItself(path, READ_CONTROL);
  if (h == INVALID_HANDLE_VALUE) {
    *why = win32::LastErrorText();
    return false;
  }
  *why = Distrust(h, reference, folder);
  CloseHandle(h);
  return why->empty();
}

}  // namespace

bool IsOwnFile(const std::string& path, const std::string& reference, std::string* why) {
  return IsOwnEntry(path, reference, false, why);
}

bool IsOwnFolder(const std::string& path, const std::string& reference, std::string* why) {
  return IsOwnEntry(path, reference, true, why);
}

int64_t AvailableDiskBytes(const std::string& folder, std::string* why) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExA(folder.empty() ? "." : folder.c_str(), &available, nullptr, nullptr)) {
    *why = win32::LastErrorText();
    return -1;
  }
  return static_cast<int64_t>(available.QuadPart);
}

unsigned SetFileCreationMask(unsigned) { return 0; }

}  // namespace platform
