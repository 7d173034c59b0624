// Win32 accounts: names through the security database, the administrator
// check on the process token, and rights granted by adding an entry to a
// file's access-control list. Windows has no user and group numbers: the
// records carry 0 for them. An account's home is its profile folder.
#include "platform/accounts.h"

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"
// after <windows.h>, whose types it uses
#include <aclapi.h>
#include <sddl.h>
#include <userenv.h>

namespace platform {

namespace {

// The profile folder the system keeps for an account's SID under
// ProfileList ("" for an account that never logged on here).
std::string ProfileFolder(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return std::string();
  std::string key =
      std::string("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\") + text;
  LocalFree(text);
  char raw[MAX_PATH];
  DWORD size = sizeof(raw);
  if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), "ProfileImagePath",
                   RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, raw,
                   &size) != ERROR_SUCCESS) {
    return std::string();
  }
  char expanded[MAX_PATH];
  DWORD n = ExpandEnvironmentStringsA(raw, expanded, sizeof(expanded));
  return n > 0 && n <= sizeof(expanded) ? std::string(expanded) : std::string();
}

}  // namespace

bool LookUpAccount(const std::string& name, Account* account, std::string* error) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof(sid);
  char domain[256];
  DWORD domainSize = sizeof(domain);
  SID_NAME_USE use;
  if (!LookupAccountNameA(nullptr, name.c_str(), sid, &sidSize, domain, &domainSize, &use)) {
    return win32::Fail(error);
  }
  *account = Account{name, 0, 0, ProfileFolder(sid)};
  return true;
}

Account CurrentAccount() {
  char name[257];
  DWORD size = sizeof(name);
  Account account;
  account.name = GetUserNameA(name, &size) ? name : "#0";
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    char home[MAX_PATH];
    DWORD homeSize = sizeof(home);
    if (GetUserProfileDirectoryA(token, home, &homeSize)) account.home = home;
    CloseHandle(token);
  }
  return account;
}

// A member of the Administrators group whose token is elevated.
bool IsSuperUser() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                0, 0, 0, 0, &administrators)) {
    return false;
  }
  BOOL member = FALSE;
  if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
  FreeSid(administrators);
  return member != FALSE;
}

// Only the POSIX port-monitor backends change their account; a Windows
// process cannot become another account for good.
bool DropToAccount(const std::string& name, std::string* error) {
  if (error) *error = "cannot become account \"" + name + "\": not possible on Windows";
  return false;
}

bool InstallFileCopy(const std::string& source, const std::string& target, unsigned, bool* changed,
                     std::string* error) {
  std::string wanted, present;
  if (!ReadWholeFile(source, &wanted, error)) return false;
  *changed = false;
  if (IsPlainRegularFile(target) && ReadWholeFile(target, &present) && present == wanted) {
    return true;
  }
  if (!WriteFileAtomically(target, wanted, error)) return false;
  *changed = true;
  return true;
}

// The spooler service runs the port monitors, and so a port's command, as
// the local system account unless the port names a user.
std::string PortCommandAccount(const std::string& portUser) {
  return portUser.empty() ? "SYSTEM" : portUser;
}

namespace {

// Adds an entry granting the account `rights` to the object's list, keeping
// every entry it had.
bool GrantAccess(const std::string& path, const std::string& account, DWORD rights,
                 DWORD inheritance, std::string* error) {
  PACL oldList = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD rc = GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                   nullptr, &oldList, nullptr, &descriptor);
  if (rc == ERROR_SUCCESS) {
    EXPLICIT_ACCESS_A access{};
    std::vector<char> name(account.begin(), account.end());
    name.push_back('\0');
    BuildExplicitAccessWithNameA(&access, name.data(), rights, GRANT_ACCESS, inheritance);
    PACL newList = nullptr;
    rc = SetEntriesInAclA(1, &access, oldList, &newList);
    if (rc == ERROR_SUCCESS) {
      std::vector<char> target(path.begin(), path.end());
      target.push_back('\0');
      rc = SetNamedSecurityInfoA(target.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                 nullptr, newList, nullptr);
      LocalFree(newList);
    }
    LocalFree(descriptor);
  }
  if (rc == ERROR_SUCCESS) return true;
  if (error) *error = ErrorText(static_cast<int>(rc));
  return false;
}

}  // namespace

bool GiveFileToAccount(const std::string& path, const std::string& account, std::string* error) {
  if (!PathEntryExists(path)) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return win32::Fail(error);
    CloseHandle(h);
  }
  if (!IsPlainRegularFile(path)) {
    if (error) *error = "Not a regular file";
    return false;
  }
  return GrantAccess(path, account, FILE_GENERIC_READ | FILE_GENERIC_WRITE, NO_INHERITANCE, error);
}

// Adding files and folders, not deleting others': no DELETE_CHILD right.
bool ShareFolderWithAccount(const std::string& folder, const std::string& account,
                            std::string* error) {
  return GrantAccess(folder, account, FILE_GENERIC_READ | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY,
                     NO_INHERITANCE, error);
}

}  // namespace platform
