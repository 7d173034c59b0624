// POSIX implementation of the checks on job and target files: identity,
// kind, mount state, exclusive links and private folders.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/fd_io.h"

namespace platform {

namespace {

// Undoes the octal escapes (\040 for a blank) of fstab and mountinfo fields.
std::string Unescape(const std::string& field) {
  auto octal = [&](size_t i) { return i < field.size() && field[i] >= '0' && field[i] <= '7'; };
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += static_cast<char>(strtol(field.substr(i + 1, 3).c_str(), nullptr, 8));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

std::string StripTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool IsUnder(const std::string& path, const std::string& folder) {
  if (folder == "/") return true;
  return path == folder ||
         (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
          path[folder.size()] == '/');
}

std::vector<std::string> Fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> fields;
  std::string field;
  while (in >> field) fields.push_back(field);
  return fields;
}

}  // namespace

bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool PathEntryExists(const std::string& path) {
  struct stat st;
  return !path.empty() && lstat(path.c_str(), &st) == 0;
}

bool IsPlainRegularFile(const std::string& path) {
  struct stat st;
  return !path.empty() && lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool CanWriteInPlace(const std::string& path) {
  return IsPlainRegularFile(path) && access(path.c_str(), W_OK) == 0;
}

bool IsUnmountedMountPoint(const std::string& folder) {
  const char* table = getenv("TARVELIN_FSTAB");
  std::ifstream fstab(table && *table ? table : "/etc/fstab");
  if (!fstab) return false;
  char resolved[PATH_MAX];
  std::string path =
      StripTrailingSeparators(realpath(folder.c_str(), resolved) ? resolved : folder);

  // The longest listed mount point that holds the folder is the one the
  // folder's files belong on.
  std::string expected;
  std::string line;
  while (std::getline(fstab, line)) {
    std::vector<std::string> f = Fields(line);
    if (f.size() < 2 || f[0][0] == '#' || f[1][0] != '/') continue;
    std::string point = StripTrailingSeparators(Unescape(f[1]));
    if (point != "/" && IsUnder(path, point) && point.size() > expected.size()) expected = point;
  }
  if (expected.empty()) return false;

  std::ifstream mountinfo("/proc/self/mountinfo");
  while (std::getline(mountinfo, line)) {
    std::vector<std::string> f = Fields(line);
    if (f.size() >= 5 && StripTrailingSeparators(Unescape(f[4])) == expected) return false;
  }
  return true;
}

bool LinkOrCopyFile(const std::string& from, const std::string& to, std::string* error) {
  if (link(from.c_str(), to.c_str()) == 0) return true;
  if (errno == EEXIST) {
    *error = strerror(errno);
    return false;
  }
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (in < 0) {
    *error = strerror(errno);
    return false;
  }
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) {
    *error = strerror(errno);
    close(in);
    return false;
  }
  bool ok = true;
  char buf[65536];
  for (;;) {
    ssize_t n = read(in, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n > 0 && !WriteAll(out, buf, static_cast<size_t>(n)))) {
      *error = strerror(errno);
      ok = false;
    }
    if (n <= 0 || !ok) break;
  }
  if (close(out) != 0 && ok) {
    *error = strerror(errno);
    ok = false;
  }
  close(in);
  if (!ok) unlink(to.c_str());
  return ok;
}

int RemoveStaleSiblingTemps(const std::string& path) {
  std::string dir = DirName(path);
  std::string prefix = "." + BaseName(path) + ".";
  DIR* folder = opendir(dir.empty() ? "." : dir.c_str());
  if (!folder) return 0;
  int removed = 0;
  while (dirent* entry = readdir(folder)) {
    std::string name = entry->d_name;
    // ".<base>.<pid>.<n>.tmp"
    if (name.compare(0, prefix.size(), prefix) != 0 || name.size() < prefix.size() + 4 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0) {
      continue;
    }
    std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    size_t dot = middle.find('.');
    if (dot == 0 || dot == std::string::npos ||
        middle.find_first_not_of("0123456789.") != std::string::npos ||
        middle.find('.', dot + 1) != std::string::npos) {
      continue;
    }
    pid_t pid = static_cast<pid_t>(atol(middle.substr(0, dot).c_str()));
    if (pid <= 0 || kill(pid, 0) == 0 || errno == EPERM) continue;
    std::string full = (dir.empty() ? std::string() : dir + "/") + name;
    // Only this account's own leftovers: the folder may be shared.
    struct stat st;
    if (lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
        unlink(full.c_str()) == 0) {
      ++removed;
    }
  }
  closedir(folder);
  return removed;
}

namespace {

// Records are small; anything larger is not one of ours.
const size_t kLargestRecord = 1 << 20;

// Who made the entry that st describes: "" when this process's user, root or
// the owner of the reference file, else why not.
std::string ForeignOwner(const struct stat& st, const std::string& reference) {
  // The super-user's files are as safe as one's own: nobody else makes them.
  if (st.st_uid == geteuid() || st.st_uid == 0) return std::string();
  struct stat ref;
  if (!reference.empty() && lstat(reference.c_str(), &ref) == 0 && S_ISREG(ref.st_mode) &&
      ref.st_uid == st.st_uid) {
    return std::string();
  }
  return "it belongs to another account (uid " + std::to_string(st.st_uid) + ")";
}

// Why the file that st describes cannot be believed, or "" when it can.
std::string Distrust(const struct stat& st, const std::string& reference) {
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  if (st.st_nlink != 1) return "it has other names (hard links)";
  if (st.st_mode & (S_IWGRP | S_IWOTH)) {
    char mode[16];
    snprintf(mode, sizeof(mode), "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return std::string("others may write to it (mode ") + mode + ")";
  }
  return ForeignOwner(st, reference);
}

// Opens path for reading without following a link; -1 with the verdict in
// *trust and *why when it cannot be opened.
int OpenRecord(const std::string& path, Trust* trust, std::string* why) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) return fd;
  if (errno == ENOENT) {
    *trust = Trust::kMissing;
  } else if (errno == ELOOP) {
    *trust = Trust::kUntrusted;
    *why = "it is a symbolic link";
  } else {
    *trust = Trust::kUnreadable;
    *why = strerror(errno);
  }
  return -1;
}

}  // namespace

// The checks are made on the open descriptor, so what is read is what was
// checked, whatever is swapped in at the name meanwhile.
Trust ReadOwnRecord(const std::string& path, const std::string& reference, std::string* content,
                    std::string* why) {
  content->clear();
  Trust trust = Trust::kTrusted;
  int fd = OpenRecord(path, &trust, why);
  if (fd < 0) return trust;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *why = strerror(errno);
    close(fd);
    return Trust::kUnreadable;
  }
  *why = Distrust(st, reference);
  if (why->empty() && st.st_size > static_cast<off_t>(kLargestRecord)) *why = "it is too large";
  if (!why->empty()) {
    close(fd);
    return Trust::kUntrusted;
  }
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *why = strerror(errno);
      close(fd);
      content->clear();
      return Trust::kUnreadable;
    }
    if (n == 0) break;
    content->append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return Trust::kTrusted;
}

namespace {

// The look behind IsOwnFile and IsOwnFolder, at the entry itself.
bool IsOwnEntry(const std::string& path, const std::string& reference, bool folder,
                std::string* why) {
  struct stat st;
  if (path.empty() || lstat(path.c_str(), &st) != 0) {
    *why = strerror(path.empty() ? ENOENT : errno);
    return false;
  }
  *why = S_ISLNK(st.st_mode)    ? "it is a symbolic link"
         : !folder              ? Distrust(st, reference)
         : !S_ISDIR(st.st_mode) ? "it is not a folder"
                                : ForeignOwner(st, reference);
  return why->empty();
}

}  // namespace

bool IsOwnFile(const std::string& path, const std::string& reference, std::string* why) {
  return IsOwnEntry(path, reference, false, why);
}

bool IsOwnFolder(const std::string& path, const std::string& reference, std::string* why) {
  return IsOwnEntry(path, reference, true, why);
}

int64_t AvailableDiskBytes(const std::string& folder, std::string* why) {
  struct statvfs fs;
  if (statvfs(folder.empty() ? "." : folder.c_str(), &fs) != 0) {
    *why = strerror(errno);
    return -1;
  }
  // What an unprivileged writer may still use; root's reserve does not count.
  return static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize);
}

unsigned SetFileCreationMask(unsigned mask) { return umask(static_cast<mode_t>(mask & 0777)); }

std::string CurrentFolder() {
  char buf[PATH_MAX];
  return getcwd(buf, sizeof(buf)) ? StripTrailingSeparators(buf) : std::string();
}

std::string ErrorText(int error) { return strerror(error); }

// The checks go through a descriptor opened without following a link, so
// what is checked and narrowed is the folder itself, whatever is swapped in
// at its name.
bool EnsurePrivateFolder(const std::string& path, std::string* error) {
  std::string parent = DirName(path);
  if (!parent.empty() && !IsDirectory(parent) && !CreateFolders(parent, error)) return false;
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = strerror(errno);
    return false;
  }
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    *error = "it is a symbolic link";
    return false;
  }
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *error = errno == ENOTDIR ? "it is not a folder" : strerror(errno);
    return false;
  }
  bool ok = fstat(fd, &st) == 0;
  if (!ok) {
    *error = strerror(errno);
  } else if (st.st_uid != geteuid()) {
    *error = "it belongs to the user id " + std::to_string(st.st_uid);
    ok = false;
  } else if ((st.st_mode & 077) != 0 && fchmod(fd, st.st_mode & 07700) != 0) {
    *error = strerror(errno);
    ok = false;
  }
  close(fd);
  return ok;
}

}  // namespace platform
