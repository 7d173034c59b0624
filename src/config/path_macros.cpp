#include "config/path_macros.h"

#include <cstdio>
#include <cstring>

#include "config/log.h"
#include "config/settings_file.h"
#include "platform/platform.h"

void ReplaceAll(std::string& text, const std::string& find, const std::string& replacement) {
  if (find.empty()) return;
  size_t pos = 0;
  while ((pos = text.find(find, pos)) != std::string::npos) {
    text.replace(pos, find.size(), replacement);
    pos += replacement.size();
  }
}

std::string ExpandPathMacros(std::string& text) {
  std::string result;
  result.swap(text);
  if (result.find("%TEMPFOLDER%") != std::string::npos) {
    ReplaceAll(result, "%TEMPFOLDER%", platform::SystemTempPath());
  }
  if (result.find("%PID%") != std::string::npos) {
    ReplaceAll(result, "%PID%", std::to_string(platform::ProcessId()));
  }
  if (result.find("%APPFOLDER%") != std::string::npos) {
    ReplaceAll(result, "%APPFOLDER%", platform::ProgramFolder());
  }
  const std::string sep(1, platform::kPathSeparator);
  ReplaceAll(result, sep + sep, sep);
  return result;
}

char* MyGetTempPath(int size, char* buffer) {
  if (size <= 0) return buffer;
  SettingsFile& settings = ProgramSettings();
  std::string configured = settings.Text("Options", "TempFolder", "", size);
  settings.Save();
  if (configured.empty()) {
    snprintf(buffer, static_cast<size_t>(size), "%s", platform::SystemTempPath().c_str());
    return buffer;
  }
  std::string expanded = ExpandPathMacros(configured);
  if (!platform::IsDirectory(expanded)) CreateDirectoryRecursively(expanded);
  snprintf(buffer, static_cast<size_t>(size), "%s", expanded.c_str());
  OutLog("MyGetTempPath=\"%s\"\n", buffer);
  return buffer;
}

void CreateDirectoryRecursively(std::string path) {
  if (path.empty()) return;
  platform::CreateFolders(path, nullptr, [](const std::string& folder, const std::string* error) {
    OutLog("[CreateDirectoryRecursively] CreateDirectory for \"%s\"\n", folder.c_str());
    if (error) {
      OutLog("[CreateDirectoryRecursively] Could not create directory for \"%s\": %s\n",
             folder.c_str(), error->c_str());
    }
  });
}
