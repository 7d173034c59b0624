// The profile functions are the system's own; writers take the same lock
// file as on POSIX, so a read followed by a write stays atomic against other
// processes of the program.
#include "platform/profile.h"

#include <string>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"

namespace platform {

int GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                             char* buffer, int size, const char* file) {
  if (!buffer || size <= 0) return 0;
  return static_cast<int>(::GetPrivateProfileStringA(section, key, defaultValue, buffer,
                                                     static_cast<DWORD>(size), file));
}

int GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                          const char* file) {
  return static_cast<int>(::GetPrivateProfileIntA(section, key, defaultValue, file));
}

int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                               const char* file) {
  if (!section || !file || !*file) return 0;
  FileLock lock(ProfileLockPath(file));
  return ::WritePrivateProfileStringA(section, key, value, file) ? 1 : 0;
}

std::string ProfileLockPath(const std::string& file) { return file + ".lock"; }

}  // namespace platform
