#include "config/settings.h"

#include <cstdio>
#include <vector>

#include "config/command_options.h"
#include "config/log.h"
#include "platform/platform.h"
#include "platform/profile.h"

namespace {

// Writes a setting back into the file; the first write of a run that fails
// (a file another program holds locked, a folder without write access) is
// logged, the others would only repeat it.
void WriteBack(const char* section, const char* key, const char* value, const std::string& file) {
  static bool reported = false;
  if (platform::WritePrivateProfileStringA(section, key, value, file.c_str()) || reported) return;
  reported = true;
  OutLog("[ERROR] Could not write %s=%s into \"%s\"; the settings are used as they were read.\n",
         key, value, file.c_str());
}

}  // namespace

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
  WriteBack(section, key, text, GetConfigFilePath());
  return value;
}

int ReadSettingString(const char* section, const char* key, const char* defaultValue, char* buffer,
                      int size) {
  std::string file = GetConfigFilePath();
  int copied =
      platform::GetPrivateProfileStringA(section, key, defaultValue, buffer, size, file.c_str());
  WriteBack(section, key, buffer, file);
  return copied;
}

std::string ReadSettingText(const char* section, const char* key, const char* defaultValue) {
  std::vector<char> buffer(4096, '\0');
  ReadSettingString(section, key, defaultValue, buffer.data(), static_cast<int>(buffer.size()));
  return std::string(buffer.data());
}

bool ReadSettingWhole(const char* key, int size, std::string* value) {
  // Large enough for any line a person writes; only a longer one is cut here,
  // and it is longer than size anyway.
  std::vector<char> buffer(65536, '\0');
  std::string file = GetConfigFilePath();
  int length = platform::GetPrivateProfileStringA("Options", key, "", buffer.data(),
                                                  static_cast<int>(buffer.size()), file.c_str());
  value->assign(buffer.data(), static_cast<size_t>(length));
  if (length >= size) {
    OutLog("[ERROR] The setting %s is %d bytes long, more than %d; it is not used.\n", key, length,
           size - 1);
    value->clear();
    return false;
  }
  WriteBack("Options", key, value->c_str(), file);
  return true;
}

void ReadDocumentInformation(CommandOptions* o) {
  ReadSettingString("Options", "PDFVersion", "1.7", o->pdfVersion, sizeof(o->pdfVersion));
  ReadSettingString("Options", "Producer", "", o->producer, sizeof(o->producer));
  ReadSettingString("Options", "Creator", "", o->creator, sizeof(o->creator));
  ReadSettingString("Options", "Subject", "", o->subject, sizeof(o->subject));
  ReadSettingString("Options", "Title", "", o->title, sizeof(o->title));
  ReadSettingString("Options", "Author", "", o->author, sizeof(o->author));
  ReadSettingString("Options", "Keywords", "", o->keywords, sizeof(o->keywords));
}
