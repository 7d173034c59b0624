// Win32 implementation of a folder that only the process's own account can
// enter: its access list names that account alone and inherits nothing.
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

}  // namespace platform
