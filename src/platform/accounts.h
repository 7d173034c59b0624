// The accounts a program runs as: finding them, giving up the super-user's
// rights for one of them, and installing a file that only its owner may
// change.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

/// An account of the system.
struct Account {
  std::string name;
  uint32_t userId = 0;
  uint32_t groupId = 0;  ///< the account's primary group
  std::string home;      ///< the account's home folder ("" when it has none)
};

/// Looks an account up by name. False with *error set when there is no such
/// account or the account database cannot be read.
bool LookUpAccount(const std::string& name, Account* account, std::string* error);

/// The account of the process's real user id; its name is "#" and the id
/// when the account database has no entry for it.
Account CurrentAccount();

/// True when any user id of the process (real, effective or saved) is the
/// super-user's, so that it could act as the super-user.
bool IsSuperUser();

/// Becomes the named account for good: its supplementary groups (those the
/// group database lists for it), then its primary group, then its user id,
/// each as real, effective and saved id. Then checks that it stuck: every
/// user and group id is the account's and the super-user's id cannot be
/// taken back. Refuses an account whose user id is the super-user's. False
/// with *error set when any step fails; the process may then hold some of
/// the account's ids and must not go on with what it gave up its rights for.
bool DropToAccount(const std::string& name, std::string* error);

/// Makes target a regular file holding exactly the content of source, with
/// permission bits mode, owned by the process's effective user and group.
/// When target already is such a file (target itself, not a file a link
/// points to), nothing is written and *changed is false. Otherwise the
/// content goes to a new file beside target (see NewFile::CreateBeside),
/// which is forced to the disk and renamed over target, so target is either
/// what it was or the complete copy; a link at target is replaced, never
/// followed. *changed is then true. False with *error set on failure.
bool InstallFileCopy(const std::string& source, const std::string& target, unsigned mode,
                     bool* changed, std::string* error);

/// The account the port monitor runs a port's command as: the port's User
/// value when it is not empty, else the spooler's own unprivileged account
/// ("lp" on CUPS).
std::string PortCommandAccount(const std::string& portUser);

/// Lets the account write the file (created empty, mode 0640, when missing):
/// makes it the account's, never following a link. False with *error set
/// on failure (also when the path is not a regular file).
bool GiveFileToAccount(const std::string& path, const std::string& account, std::string* error);

/// Lets the account create files in the folder without letting it remove or
/// replace files it does not own: the folder gets the account's group,
/// group write and the sticky bit. False with *error set on failure.
bool ShareFolderWithAccount(const std::string& folder, const std::string& account,
                            std::string* error);

}  // namespace platform
