// Points the program's own folder (settings, log) at a scoped temporary
// folder for the lifetime of the object.
#pragma once

#include "platform/platform.h"
#include "support/temp_dir.h"

class ScopedProgramFolder {
 public:
  ScopedProgramFolder() { platform::SetModuleFileNameForTesting(dir_.Join("tarvelin")); }
  ~ScopedProgramFolder() { platform::SetModuleFileNameForTesting(""); }
  const std::string& path() const { return dir_.path(); }
  std::string Join(const std::string& name) const { return dir_.Join(name); }
  std::string Config() const { return dir_.Join("config.ini"); }
  std::string Log() const { return dir_.Join("tarvelin.log"); }
  void EnableLog() const { WriteFileText(Config(), "[debug]\noutlog=Yes\n"); }

 private:
  ScopedTempDir dir_;
};
