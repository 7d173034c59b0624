// A local account made for one test (root only): no login, its own group,
// its home where the test says; removed again when the object goes.
#pragma once

#include <pwd.h>
#include <unistd.h>

#include <string>

#include "support/install_copy.h"

class ScopedAccount {
 public:
  /// Makes the account "tarvelin-t<pid>-<n>" with the given home (which is
  /// not created). Ok() tells whether it exists.
  explicit ScopedAccount(const std::string& home) {
    static int count = 0;
    name_ = "tarvelin-t" + std::to_string(getpid()) + "-" + std::to_string(++count);
    RunProgram("/usr/sbin/userdel", {name_});  // left by a run that was killed
    // useradd fails while another one holds the account files' lock.
    for (int attempt = 0; attempt < 50 && !Ok(); ++attempt) {
      RunProgram("/usr/sbin/useradd", {"--system", "--no-create-home", "--user-group", "--home-dir",
                                       home, "--shell", "/usr/sbin/nologin", name_});
      if (!Ok()) SleepMs(100);
    }
  }
  ~ScopedAccount() {
    for (int attempt = 0; attempt < 50 && Ok(); ++attempt) {
      if (RunProgram("/usr/sbin/userdel", {name_}).status != 0) SleepMs(100);
    }
  }
  ScopedAccount(const ScopedAccount&) = delete;
  ScopedAccount& operator=(const ScopedAccount&) = delete;

  bool Ok() const { return getpwnam(name_.c_str()) != nullptr; }
  const std::string& name() const { return name_; }
  uid_t uid() const {
    const passwd* entry = getpwnam(name_.c_str());
    return entry ? entry->pw_uid : static_cast<uid_t>(-1);
  }
  gid_t gid() const {
    const passwd* entry = getpwnam(name_.c_str());
    return entry ? entry->pw_gid : static_cast<gid_t>(-1);
  }

 private:
  std::string name_;
};
