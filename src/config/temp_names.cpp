#include "config/temp_names.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/log.h"
#include "config/path_macros.h"
#include "config/settings_file.h"
#include "platform/platform.h"
#include "platform/profile.h"

namespace {

bool Fits(const std::string& name, int size) {
  return name.size() + 1 <= static_cast<size_t>(size) &&
         name.size() + 1 <= platform::kMaxPathLength;
}

// Copies a complete name into the caller's buffer, or refuses it: a cut name
// would point somewhere else.
int DeliverName(const std::string& name, int size, char* buffer) {
  if (!Fits(name, size)) {
    OutLog("[ERROR] Temporary file name \"%s\" is longer than %d bytes.\n", name.c_str(),
           platform::kMaxPathLength - 1);
    buffer[0] = '\0';
    return 0;
  }
  memcpy(buffer, name.c_str(), name.size() + 1);
  return static_cast<int>(name.size());
}

}  // namespace

int CountedTempFileName(int size, char* buffer, const char* extension) {
  if (size == 0 || !buffer) return 0;
  OutLog("Enter CountedTempFileName function.\n");
  char folder[platform::kMaxPathLength];
  MyGetTempPath(sizeof(folder), folder);
  OutLog("MyGetTempPath: \"%s\"\n", folder);

  std::string dir = folder;
  if (dir.empty() || !platform::IsPathSeparator(dir.back())) dir += platform::kPathSeparator;
  const std::string ext = extension ? extension : ".tmp";

  std::string name;
  {
    // Read, increment and write of the counter under the settings lock, so two
    // concurrent runs never receive the same number.
    SettingsFile& settings = ProgramSettings();
    platform::FileLock lock(platform::ProfileLockPath(settings.path()));
    static bool lockReported = false;
    if (!lock.Held() && !lockReported) {
      lockReported = true;
      OutLog(
          "[ERROR] Could not lock \"%s\": %s; LastFileIndex is read but not advanced (each "
          "name is made unique all the same).\n",
          platform::ProfileLockPath(settings.path()).c_str(), lock.Error().c_str());
    }
    int index = settings.Int("Options", "LastFileIndex", 1);
    if (index < 1) index = 1;
    for (;; ++index) {
      char number[32];
      snprintf(number, sizeof(number), "file%06d", index);
      name = dir + number + ext;
      if (!Fits(name, size)) break;  // refused below, before anything is created
      // The name is created here, under the lock: a taken name (another job's
      // file, or a link planted in a shared folder) is skipped, and nothing
      // can take this one before the converter writes it.
      platform::NewFile file;
      std::string error;
      int made = file.Create(name, 0600, &error);
      if (made == 1) break;
      if (made < 0 || index == 0x7FFFFFFF) {
        OutLog("[ERROR] Could not create a temporary file: %s\n", error.c_str());
        name.clear();
        break;
      }
    }
    settings.Set("Options", "LastFileIndex", std::to_string(index < 0x7FFFFFFF ? index + 1 : 1));
    // Unsaved, another run may try the same number: the name made above is
    // still this run's alone, as it was created under the lock.
    if (lock.Held()) settings.SaveLocked();
    OutLog("LastFileIndex=\"%d\"\n", index);
  }
  if (name.empty()) {
    buffer[0] = '\0';
    return 0;
  }
  OutLog("UniqueTempFile=\"%s\"\n", name.substr(0, name.size() - ext.size()).c_str());
  int length = DeliverName(name, size, buffer);
  if (length > 0) OutLog("[INFO] UniqueTempFile \"%s\"\n", buffer);
  return length;
}

int TempFileName(int size, char* buffer, const char* extension) {
  if (size == 0 || !buffer) return 0;
  // The platform's unique name is free again once deleted, so a name taken
  // before (still in use under its longer form) would come back: each
  // unique file is kept until a derived name is free, then all are removed.
  std::vector<std::string> reserved;
  std::string name;
  for (int attempt = 0; attempt < 100 && name.empty(); ++attempt) {
    std::string unique;
    if (!platform::CreateUniqueTempFile(platform::SystemTempPath(), "file", &unique)) break;
    reserved.push_back(unique);
    size_t dot = unique.find_last_of('.');
    if (dot != std::string::npos) unique.resize(dot);
    std::string candidate =
        unique + "-" + std::to_string(platform::ProcessId()) + (extension ? extension : ".tmp");
    if (!platform::PathEntryExists(candidate)) {
      name = candidate;
    }
  }
  for (const std::string& file : reserved) DeleteFileLogged(file.c_str());
  if (name.empty()) {
    OutLog("[ERROR] Could not create a temporary file in \"%s\".\n",
           platform::SystemTempPath().c_str());
    buffer[0] = '\0';
    return 0;
  }
  int length = DeliverName(name, size, buffer);
  if (length > 0) OutLog("[INFO] TempFile \"%s\"\n", buffer);
  return length;
}

void DeleteFileLogged(const char* path) {
  if (!path || !*path) return;
  OutLog("DeleteFile: %s\n", path);
  std::string error;
  if (!platform::DeleteFile(path, &error) && platform::PathEntryExists(path)) {
    OutLog("[ERROR] Could not delete \"%s\": %s\n", path, error.c_str());
  }
}
