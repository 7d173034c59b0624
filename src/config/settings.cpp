#include "config/settings.h"

#include <cstdio>
#include <vector>

#include "platform/platform.h"
#include "platform/profile.h"

std::string GetConfigFilePath() {
  return platform::ProgramFolder() + platform::kPathSeparator + "config.ini";
}

int ReadSettingInt(const char* section, const char* key, int defaultValue) {
  std::string file = GetConfigFilePath();
  int value = platform::GetPrivateProfileIntA(section, key, defaultValue, file.c_str());
  WriteSettingInt(section, key, value);
  return value;
}

int WriteSettingInt(const char* section, const char* key, int value) {
  char text[200];
  snprintf(text, sizeof(text), "%d", value);
  platform::WritePrivateProfileStringA(section, key, text, GetConfigFilePath().c_str());
  return value;
}

int ReadSettingString(const char* section, const char* key, const char* defaultValue, char* buffer,
                      int size) {
  std::string file = GetConfigFilePath();
  int copied =
      platform::GetPrivateProfileStringA(section, key, defaultValue, buffer, size, file.c_str());
  platform::WritePrivateProfileStringA(section, key, buffer, file.c_str());
  return copied;
}

std::string ReadSettingText(const char* section, const char* key, const char* defaultValue) {
  std::vector<char> buffer(4096, '\0');
  ReadSettingString(section, key, defaultValue, buffer.data(), static_cast<int>(buffer.size()));
  return std::string(buffer.data());
}
