// "config.ini" beside the program, read once and kept in memory. Each lookup
// answers from memory and records the value used, so the file comes to list
// every key the program reads; the file is read again only when another run
// changed it (its stamp), and written only when a recorded value is not in it.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "config/status.h"
#include "platform/platform.h"

/// Full path of "config.ini" beside the program.
std::string GetConfigFilePath();

class SettingsFile {
 public:
  explicit SettingsFile(std::string path);

  const std::string& path() const { return path_; }

  /// The value of key (the default, trailing blanks removed, when missing),
  /// cut to size - 1 bytes; the value returned is recorded for the file.
  std::string Text(const char* section, const char* key, const char* defaultValue, int size = 4096);
  /// The whole number of key (the default when missing or empty), recorded
  /// for the file as "%d".
  int Int(const char* section, const char* key, int defaultValue);
  /// The value of key as it stands, uncut and not recorded; false when missing.
  bool Find(const char* section, const char* key, std::string* value);
  /// Records key=value for the file.
  void Set(const char* section, const char* key, const std::string& value);

  /// Writes the recorded values into the file in one atomic replacement,
  /// under the settings lock, keeping what other runs wrote meanwhile;
  /// nothing when the file already holds them. A failed write is not tried
  /// again in this run: the values are used as they were read. The first
  /// failure is reported through the platform's diagnostics (the log).
  Status Save();
  /// Save for a caller that already holds the settings lock.
  Status SaveLocked();

 private:
  struct Write {
    std::string section, key, value;
  };
  void RefreshLocked();
  Status Reported(Status failure);
  void RecordLocked(const char* section, const char* key, const std::string& value);

  std::mutex mutex_;
  std::string path_;
  platform::FileStamp stamp_;
  bool loaded_ = false;
  std::string content_;    ///< the file as last read or written
  std::string view_;       ///< content_ with the pending writes applied
  std::string readError_;  ///< why the file that is there could not be read
  std::vector<Write> pending_;
  bool failureReported_ = false;
  // Text()'s answers for the view they were given from: asked again (the
  // log asks for its switch on every line) they cost no parse of the file.
  std::string memoView_;
  std::map<std::string, std::string> memo_;
};

/// The settings file of this run: one object for the program's whole run
/// (a new one when the program folder changes, as tests do).
SettingsFile& ProgramSettings();
