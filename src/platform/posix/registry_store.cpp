#include "platform/posix/registry_store.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "platform/registry.h"

namespace platform {
namespace registry_store {

namespace {

const char* const kRootNames[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"};

std::mutex g_damageMutex;
std::map<std::string, size_t> g_reportedDamage;

std::string LockFile(const std::string& file) { return file + ".lock"; }

/// Who called sudo, when the process is the super-user by sudo: that
/// person's store is the current user's, and its files are theirs.
struct SudoCaller {
  bool known = false;
  uid_t uid = 0;
  gid_t gid = 0;
  std::string home;
};

SudoCaller FindSudoCaller() {
  SudoCaller caller;
  const char* name = getenv("SUDO_USER");
  if (geteuid() != 0 || !name || !*name) return caller;
  struct passwd* user = getpwnam(name);
  if (!user || user->pw_uid == 0) return caller;
  caller.known = true;
  caller.uid = user->pw_uid;
  caller.gid = user->pw_gid;
  caller.home = user->pw_dir ? user->pw_dir : "";
  return caller;
}

/// Hands what the super-user made in the caller's store to the caller; a
/// link put in its place is left alone (lchown).
void GiveToCaller(const SudoCaller& caller, const std::string& path) {
  if (caller.known && lchown(path.c_str(), caller.uid, caller.gid) != 0) {
    platform::ReportDiagnostic("[ERROR] \"" + path + "\" cannot be given to user id " +
                               std::to_string(caller.uid) + ": " + std::strerror(errno) + "\n");
  }
}

/// The user's config folder: $XDG_CONFIG_HOME when absolute, else ~/.config;
/// under sudo the caller's ~/.config.
std::string UserConfigFolder() {
  SudoCaller caller = FindSudoCaller();
  if (caller.known) return caller.home + "/.config";
  const char* config = getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return config;
  const char* home = getenv("HOME");
  if (!home || !*home) {
    struct passwd* user = getpwuid(getuid());
    home = (user && user->pw_dir) ? user->pw_dir : "";
  }
  return std::string(home) + "/.config";
}

/// Logs the unreadable lines of a damaged hive, once for each content seen.
void ReportDamage(const std::string& file, const std::string& content, const regedit4::Hive& data) {
  size_t hash = std::hash<std::string>()(content);
  {
    std::lock_guard<std::mutex> guard(g_damageMutex);
    auto it = g_reportedDamage.find(file);
    if (it != g_reportedDamage.end() && it->second == hash) return;
    g_reportedDamage[file] = hash;
  }
  for (const regedit4::Problem& problem : data.problems) {
    // The line's text ends at a zero byte, as a C string passed to the log would.
    platform::ReportDiagnostic("[ERROR] Registry file \"" + file + "\" line " +
                               std::to_string(problem.line) + " is not readable (" + problem.why +
                               ") and is skipped: " + problem.text.c_str() + "\n");
  }
}

/// Reads and parses the hive. A missing file is an empty hive; false when
/// the file exists but cannot be read.
bool LoadHive(const std::string& file, int hive, regedit4::Hive* data) {
  data->root = RootName(hive);
  struct stat st;
  if (stat(file.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR;
  std::string content;
  if (!S_ISREG(st.st_mode) || !platform::ReadWholeFile(file, &content)) return false;
  regedit4::ParseHive(content, data);
  if (!data->problems.empty()) ReportDamage(file, content, *data);
  return true;
}

/// Keeps a copy of a damaged hive under a name not yet taken. False with
/// *error set when none could be made.
bool KeepDamagedCopy(const std::string& file, std::string* error) {
  std::string copy = file + ".damaged";
  for (int n = 2; platform::PathExists(copy); ++n) {
    if (n > 1000) {
      *error = "1000 copies are kept already";
      return false;
    }
    copy = file + ".damaged." + std::to_string(n);
  }
  if (!platform::CopyFileAtomically(file, copy, 0644, error)) return false;
  platform::ReportDiagnostic("[INFO] Registry file \"" + file +
                             "\" is damaged; a copy is kept as \"" + copy +
                             "\" before it is rewritten.\n");
  return true;
}

}  // namespace

const char* RootName(int hive) { return kRootNames[hive == kCurrentUser ? 1 : 0]; }

std::string HiveFile(int hive) {
  std::string folder;
  const char* dir = getenv("TARVELIN_REGISTRY_DIR");
  if (dir && *dir) {
    folder = dir;
  } else if (hive == kLocalMachine) {
    folder = "/var/lib/tarvelin/registry";
  } else {
    folder = UserConfigFolder() + "/tarvelin";
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder + "/" + RootName(hive) + ".reg";
}

bool CanWriteStore(const std::string& file) {
  std::string dir = platform::DirName(file);
  if (!platform::IsDirectory(dir) && !platform::CreateFolders(dir)) return false;
  if (access(dir.c_str(), W_OK | X_OK) != 0) return false;
  struct stat st;
  if (stat(file.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || access(file.c_str(), W_OK) != 0)) {
    return false;
  }
  platform::FileLock lock(LockFile(file));
  return lock.Held();
}

// A store that cannot be written is still read without the lock: writers
// rename whole files, so such a read sees the old or the new hive.
bool ReadHive(const std::string& file, int hive, regedit4::Hive* data) {
  std::unique_ptr<platform::FileLock> lock;
  if (access(LockFile(file).c_str(), W_OK) == 0 ||
      access(platform::DirName(file).c_str(), W_OK) == 0) {
    lock.reset(new platform::FileLock(LockFile(file)));
  }
  return LoadHive(file, hive, data);
}

long ModifyHive(const std::string& file, int hive, const HiveChange& change) {
  SudoCaller caller = hive == kCurrentUser ? FindSudoCaller() : SudoCaller();
  if (caller.known) {
    platform::CreateFolders(platform::DirName(file), nullptr,
                            [&](const std::string& folder, const std::string* error) {
                              if (!error) GiveToCaller(caller, folder);
                            });
  }
  if (!CanWriteStore(file)) return ERROR_ACCESS_DENIED;
  platform::FileLock lock(LockFile(file));
  if (!lock.Held()) return ERROR_ACCESS_DENIED;
  GiveToCaller(caller, LockFile(file));
  regedit4::Hive data;
  if (!LoadHive(file, hive, &data)) return ERROR_ACCESS_DENIED;
  bool changed = false;
  long result = change(&data, &changed);
  if (result != ERROR_SUCCESS || !changed) return result;
  std::string error;
  if (!data.problems.empty() && !KeepDamagedCopy(file, &error)) {
    platform::ReportDiagnostic("[ERROR] Registry file \"" + file +
                               "\" is damaged and no copy of it could be kept (" + error +
                               "); it is not changed.\n");
    return ERROR_ACCESS_DENIED;
  }
  if (!platform::WriteFileAtomically(file, regedit4::SerializeHive(data), &error)) {
    platform::ReportDiagnostic("[ERROR] Registry file \"" + file +
                               "\" could not be written: " + error + "\n");
    return ERROR_ACCESS_DENIED;
  }
  GiveToCaller(caller, file);
  return ERROR_SUCCESS;
}

uint64_t HiveFileTime(const std::string& file) {
  struct stat st;
  if (stat(file.c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_mtim.tv_sec) * 10000000u +
         static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100u + 116444736000000000ull;
}

}  // namespace registry_store
}  // namespace platform
