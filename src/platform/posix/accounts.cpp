// POSIX accounts: the password and group databases, the set*id calls, and an
// install copy that compares before it writes.
#include "platform/accounts.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

namespace {

std::string Reason(const std::string& what, int error) { return what + ": " + strerror(error); }

// getpwnam_r and getpwuid_r want a buffer for the strings of the entry; it
// grows while they say it is too small.
template <typename Lookup>
bool FindPasswdEntry(Lookup lookup, passwd* entry, std::vector<char>* buffer, int* error) {
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  buffer->resize(hint > 0 ? static_cast<size_t>(hint) : 4096);
  for (;;) {
    passwd* found = nullptr;
    int rc = lookup(entry, buffer->data(), buffer->size(), &found);
    if (rc == ERANGE && buffer->size() < (1u << 20)) {
      buffer->resize(buffer->size() * 2);
      continue;
    }
    // No entry is reported as 0 with no result, or by some systems as one of
    // these codes.
    if (rc == ENOENT || rc == ESRCH || rc == EBADF || rc == EPERM) rc = 0;
    *error = rc;
    return rc == 0 && found != nullptr;
  }
}

bool ReadDescriptorToEnd(int fd, std::string* content) {
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    content->append(buf, static_cast<size_t>(n));
  }
}

// The target is opened without following a link and without blocking on a
// planted FIFO; only a regular file of the wanted owner, mode and content
// counts as already installed.
bool IsInstalledCopy(const std::string& target, const std::string& content, mode_t mode) {
  int fd = open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool same = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 07777) == mode &&
              st.st_uid == geteuid() && st.st_gid == getegid() &&
              st.st_size == static_cast<off_t>(content.size());
  std::string present;
  same = same && ReadDescriptorToEnd(fd, &present) && present == content;
  close(fd);
  return same;
}

}  // namespace

bool LookUpAccount(const std::string& name, Account* account, std::string* error) {
  passwd entry;
  std::vector<char> buffer;
  int rc = 0;
  bool found = FindPasswdEntry(
      [&name](passwd* e, char* buf, size_t size, passwd** result) {
        return getpwnam_r(name.c_str(), e, buf, size, result);
      },
      &entry, &buffer, &rc);
  if (!found) {
    *error = rc != 0 ? Reason("cannot look up the account \"" + name + "\"", rc)
                     : "there is no account \"" + name + "\"";
    return false;
  }
  account->name = entry.pw_name;
  account->userId = entry.pw_uid;
  account->groupId = entry.pw_gid;
  account->home = entry.pw_dir ? entry.pw_dir : "";
  return true;
}

Account CurrentAccount() {
  Account account;
  uid_t uid = getuid();
  account.userId = uid;
  account.groupId = getgid();
  account.name = "#" + std::to_string(uid);
  passwd entry;
  std::vector<char> buffer;
  int rc = 0;
  if (FindPasswdEntry([uid](passwd* e, char* buf, size_t size,
                            passwd** result) { return getpwuid_r(uid, e, buf, size, result); },
                      &entry, &buffer, &rc)) {
    account.name = entry.pw_name;
    account.home = entry.pw_dir ? entry.pw_dir : "";
  }
  return account;
}

bool IsSuperUser() {
  uid_t real, effective, saved;
  if (getresuid(&real, &effective, &saved) != 0) return geteuid() == 0 || getuid() == 0;
  return real == 0 || effective == 0 || saved == 0;
}

// The order matters: the groups can only be changed while the user id is
// still the super-user's, so groups first, then the group id, the user id
// last. A half-done drop is reported, never patched up.
bool DropToAccount(const std::string& name, std::string* error) {
  Account account;
  if (!LookUpAccount(name, &account, error)) return false;
  if (account.userId == 0) {
    *error = "the account \"" + name + "\" has the super-user's rights";
    return false;
  }
  uid_t uid = static_cast<uid_t>(account.userId);
  gid_t gid = static_cast<gid_t>(account.groupId);
  if (initgroups(account.name.c_str(), gid) != 0) {
    *error = Reason("cannot take the groups of \"" + name + "\"", errno);
    return false;
  }
  if (setresgid(gid, gid, gid) != 0) {
    *error = Reason("cannot take the group id " + std::to_string(gid), errno);
    return false;
  }
  if (setresuid(uid, uid, uid) != 0) {
    *error = Reason("cannot take the user id " + std::to_string(uid), errno);
    return false;
  }
  uid_t ru, eu, su;
  gid_t rg, eg, sg;
  if (getresuid(&ru, &eu, &su) != 0 || getresgid(&rg, &eg, &sg) != 0 || ru != uid || eu != uid ||
      su != uid || rg != gid || eg != gid || sg != gid) {
    *error = "the ids of \"" + name + "\" did not stick";
    return false;
  }
  if (setuid(0) == 0 || seteuid(0) == 0) {
    *error = "the super-user's id could be taken back after becoming \"" + name + "\"";
    return false;
  }
  return true;
}

bool InstallFileCopy(const std::string& source, const std::string& target, unsigned mode,
                     bool* changed, std::string* error) {
  *changed = false;
  mode_t bits = static_cast<mode_t>(mode) & 07777;
  std::string content;
  if (!ReadWholeFile(source, &content)) {
    *error = Reason("cannot read \"" + source + "\"", errno);
    return false;
  }
  if (IsInstalledCopy(target, content, bits)) return true;

  NewFile copy;
  if (!copy.CreateBeside(target, 0600, error)) return false;
  int fd = fileno(copy.stream());
  // A new file takes the folder's group where the folder says so, and the
  // umask may narrow the mode: both are set outright.
  bool ok = fchown(fd, geteuid(), getegid()) == 0 && fchmod(fd, bits) == 0;
  if (!ok) *error = Reason("cannot set the owner and mode of \"" + copy.path() + "\"", errno);
  if (ok && (std::fwrite(content.data(), 1, content.size(), copy.stream()) != content.size())) {
    *error = Reason("cannot write \"" + copy.path() + "\"", errno);
    ok = false;
  }
  if (ok) ok = copy.SyncAndClose(error);
  if (ok && !ReplaceFile(copy.path(), target)) {
    *error = Reason("cannot rename \"" + copy.path() + "\" to \"" + target + "\"", errno);
    ok = false;
  }
  if (!ok) {
    copy.Discard();
    return false;
  }
  *changed = true;
  return true;
}

std::string PortCommandAccount(const std::string& portUser) {
  return portUser.empty() ? "lp" : portUser;
}

bool GiveFileToAccount(const std::string& path, const std::string& account, std::string* error) {
  Account owner;
  if (!LookUpAccount(account, &owner, error)) return false;
  int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0640);
  if (fd < 0) {
    *error = strerror(errno);
    return false;
  }
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!ok) {
    *error = "not a regular file";
  } else if (fchown(fd, owner.userId, owner.groupId) != 0) {
    *error = strerror(errno);
    ok = false;
  }
  close(fd);
  return ok;
}

bool ShareFolderWithAccount(const std::string& folder, const std::string& account,
                            std::string* error) {
  Account user;
  if (!LookUpAccount(account, &user, error)) return false;
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *error = strerror(errno);
    return false;
  }
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && fchown(fd, static_cast<uid_t>(-1), user.groupId) == 0 &&
            fchmod(fd, (st.st_mode & 07777) | S_ISVTX | S_IRWXG | S_IXOTH) == 0;
  if (!ok) *error = strerror(errno);
  close(fd);
  return ok;
}

}  // namespace platform
