// INI profile functions with the semantics of the Windows ones, over the INI
// text code the settings file shares.
#include "platform/profile.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "platform/profile_text.h"

namespace platform {

int GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                             char* buffer, int size, const char* file) {
  if (!buffer || size <= 0) return 0;
  std::string content, value;
  if (!section || !key || !file || !ReadWholeFile(file, &content) ||
      !FindProfileValue(content, section, key, &value)) {
    value = ProfileDefault(defaultValue);
  }
  size_t n = std::min(value.size(), static_cast<size_t>(size - 1));
  memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

int GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                          const char* file) {
  std::string content, value;
  if (!section || !key || !file || !ReadWholeFile(file, &content) ||
      !FindProfileValue(content, section, key, &value) || value.empty()) {
    return defaultValue;
  }
  return ProfileNumber(value);
}

int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                               const char* file) {
  if (!section || !file || !*file) return 0;
  FileLock lock(ProfileLockPath(file));
  std::string content;
  bool existed = ReadWholeFile(file, &content);
  std::string updated = ApplyProfileWrite(content, section, key, value);
  if (existed && updated == content) return 1;
  return WriteFileAtomically(file, updated) ? 1 : 0;
}

std::string ProfileLockPath(const std::string& file) { return file + ".lock"; }

}  // namespace platform
