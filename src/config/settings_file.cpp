#include "config/settings_file.h"

#include <map>
#include <memory>

#include "platform/profile.h"
#include "platform/profile_text.h"

std::string GetConfigFilePath() {
  return platform::ProgramFolder() + platform::kPathSeparator + "config.ini";
}

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)) {}

void SettingsFile::RefreshLocked() {
  platform::FileStamp now = platform::StampOf(path_);
  if (loaded_ && now == stamp_) return;
  std::string content;
  readError_.clear();
  if (now.exists && !platform::ReadWholeFile(path_, &content, &readError_)) {
    // A file that is there but cannot be read is used as empty (the
    // defaults) and never written over.
    if (readError_.empty()) readError_ = "it cannot be read";
    content.clear();
  }
  loaded_ = true;
  stamp_ = now;
  content_ = content;
  view_ = content_;
  for (const Write& w : pending_) {
    view_ = platform::ApplyProfileWrite(view_, w.section.c_str(), w.key.c_str(), w.value.c_str());
  }
}

void SettingsFile::RecordLocked(const char* section, const char* key, const std::string& value) {
  std::string updated = platform::ApplyProfileWrite(view_, section, key, value.c_str());
  if (updated == view_) return;
  view_ = updated;
  pending_.push_back({section, key, value});
}

bool SettingsFile::Find(const char* section, const char* key, std::string* value) {
  std::lock_guard<std::mutex> hold(mutex_);
  RefreshLocked();
  return platform::FindProfileValue(view_, section, key, value);
}

std::string SettingsFile::Text(const char* section, const char* key, const char* defaultValue,
                               int size) {
  std::lock_guard<std::mutex> hold(mutex_);
  RefreshLocked();
  std::string asked = std::string(section) + '\n' + key + '\n' + std::to_string(size) +
                      (defaultValue ? std::string("\n=") + defaultValue : std::string());
  if (view_ == memoView_) {
    auto known = memo_.find(asked);
    if (known != memo_.end()) return known->second;
  }
  std::string value;
  if (!platform::FindProfileValue(view_, section, key, &value)) {
    value = platform::ProfileDefault(defaultValue);
  }
  if (size > 0 && value.size() > static_cast<size_t>(size - 1)) value.resize(size - 1);
  RecordLocked(section, key, value);
  // Recorded, the same question gives the same answer and changes nothing.
  if (view_ != memoView_) {
    memo_.clear();
    memoView_ = view_;
  }
  memo_[asked] = value;
  return value;
}

int SettingsFile::Int(const char* section, const char* key, int defaultValue) {
  std::lock_guard<std::mutex> hold(mutex_);
  RefreshLocked();
  std::string text;
  int value = platform::FindProfileValue(view_, section, key, &text) && !text.empty()
                  ? platform::ProfileNumber(text)
                  : defaultValue;
  RecordLocked(section, key, std::to_string(value));
  return value;
}

void SettingsFile::Set(const char* section, const char* key, const std::string& value) {
  std::lock_guard<std::mutex> hold(mutex_);
  RefreshLocked();
  RecordLocked(section, key, value);
}

// Called without mutex_ held: the report goes to the log, which looks up
// its switch in this file.
Status SettingsFile::Reported(Status failure) {
  bool first;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    first = !failureReported_;
    failureReported_ = true;
  }
  // The first failure of a run is said (a file another program holds
  // locked, a folder without write access); later ones would only repeat it.
  if (first) {
    platform::ReportDiagnostic("[ERROR] Could not write \"" + path_ + "\": " + failure.reason() +
                               "; the settings are used as they were read.\n");
  }
  return failure;
}

Status SettingsFile::Save() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (pending_.empty()) return Status();
  }
  platform::FileLock lock(platform::ProfileLockPath(path_));
  if (!lock.Held()) {
    // Without the lock another run's write could be lost: this run goes on
    // with the values it read and leaves the file as it is.
    {
      std::lock_guard<std::mutex> hold(mutex_);
      pending_.clear();
    }
    return Reported(Status::Failure("cannot lock \"" + platform::ProfileLockPath(path_) +
                                    "\": " + lock.Error()));
  }
  return SaveLocked();
}

Status SettingsFile::SaveLocked() {
  std::string error;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (pending_.empty()) return Status();
    RefreshLocked();  // what other runs wrote since the last read stays
    pending_.clear();
    error = readError_.empty() ? "" : "cannot read it: " + readError_;
    // The new name need not reach the disk at once: after a power cut the
    // file as it was still holds every setting, and a counter gone back
    // only makes the next run pass over names already taken (they are
    // made exclusively).
    if (error.empty() &&
        platform::WriteFileAtomically(path_, view_, &error, platform::NameOnDisk::kWithTheFolder)) {
      content_ = view_;
      stamp_ = platform::StampOf(path_);
      return Status();
    }
  }
  // The file keeps what it held; this run goes on with the values it read.
  return Reported(Status::Failure(error));
}

SettingsFile& ProgramSettings() {
  static std::mutex mutex;
  // One object per path, never freed: a reference handed out stays valid.
  static std::map<std::string, std::unique_ptr<SettingsFile>>* files =
      new std::map<std::string, std::unique_ptr<SettingsFile>>();
  std::string path = GetConfigFilePath();
  std::lock_guard<std::mutex> hold(mutex);
  std::unique_ptr<SettingsFile>& file = (*files)[path];
  if (!file) file.reset(new SettingsFile(path));
  return *file;
}
