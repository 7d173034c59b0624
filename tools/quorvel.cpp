// quorvel: the maker's port monitor "Quorvel" as a CUPS backend. A queue
// whose device URI is quorvel:/PORT hands each job to this program, which
// takes only jobs of the port's owner (its User value) that CUPS
// authenticated, writes each into a private spool file of the owner and runs
// the port's Command (pdfcp.exe) as the owner, with the words of the port's
// Arguments and the spool file's path. The port's values are those of its
// registry key on Windows.
//
//   quorvel                                          list the ports (CUPS device lines)
//   quorvel job-id user title copies options [file]  deliver one job
//
// Exit codes are CUPS's, for the reasons tools/mfilemon.cpp gives: 0 once the
// command got its file, whatever it does with it (pdfcp.exe keeps the jobs it
// cannot place and logs where); 4 (CUPS_BACKEND_STOP) when the job cannot be
// delivered, so CUPS keeps it at the head of the stopped queue; 5
// (CUPS_BACKEND_CANCEL) for a job that is not the port owner's, which must
// neither run nor stop the owner's queue; 1 only for a program started with
// wrong arguments.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cups_backend.h"
#include "platform/accounts.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace {

using cups_backend::CancelJob;
using cups_backend::kBackendFailed;
using cups_backend::kBackendOk;
using cups_backend::KeepJob;
using cups_backend::Say;

const char kScheme[] = "quorvel";
const char kPortsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Quorvel\\Ports";
// The spool folder below the owner's home: only the owner may enter it.
const char kSpoolFolder[] = "/.cache/tarvelin/spool";
// Every wait has a bound; waiting at all keeps the queue's jobs in order.
const uint32_t kCommandWaitSeconds = 600;
// Spool names per job id tried before the folder counts as full.
const int kMaxSpoolNames = 1000;

// The port's command: the program's path and the words given before the
// spool file's path; and the port's owner, the one account whose jobs it
// takes.
struct PortCommand {
  std::string program;
  std::vector<std::string> arguments;
  std::string owner;
};

bool ReadPortCommand(const std::string& port, PortCommand* command, std::string* error) {
  std::string path = std::string(kPortsKey) + "\\" + port;
  HKEY key = nullptr;
  long status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
  if (status != ERROR_SUCCESS) {
    *error = "The port \"" + port + "\" is not configured (registry key HKLM\\" + path +
             ": error " + std::to_string(status) + ")";
    return false;
  }
  std::string arguments;
  cups_backend::QueryText(key, "Command", &command->program);
  cups_backend::QueryText(key, "Arguments", &arguments);
  cups_backend::QueryText(key, "User", &command->owner);
  RegCloseKey(key);
  if (command->program.empty()) {
    *error = "The port \"" + port + "\" has no Command";
    return false;
  }
  if (command->owner.empty()) {
    *error = "The port \"" + port + "\" names no owner (its User value): nobody may print to it";
    return false;
  }
  // Arguments holds argument words only: a program word in front of them
  // lets them all be read by the rules of arguments.
  command->arguments = platform::SplitCommandLine("program " + arguments);
  command->arguments.erase(command->arguments.begin());
  std::string line;
  if (!platform::JoinCommandLine({command->program}, &line)) {
    *error = "The Command \"" + command->program + "\" of the port \"" + port +
             "\" cannot be passed as a program (a double quote in its path)";
    return false;
  }
  return true;
}

// Whether the job may run as the port's owner. The user name CUPS passes
// (argv[2]) is whatever the client claimed (lp -U) unless the queue's policy
// made CUPS authenticate the sender; only then does CUPS hand the backend
// AUTH_UID, the user id it took from the peer credentials of its local
// socket or from a login, which no client can choose. The port's owner was
// written by root into the machine's registry store when the printer was
// made. So a job runs only when its name is the owner's and CUPS vouches
// for the owner's user id; any other job is someone else's on this queue.
bool IsOwnersJob(const std::string& owner, const std::string& jobUser, platform::Account* account,
                 std::string* why) {
  if (jobUser != owner) {
    *why =
        "The job of \"" + jobUser + "\" is refused: this printer prints only for \"" + owner + "\"";
    return false;
  }
  std::string error;
  if (!platform::LookUpAccount(owner, account, &error)) {
    *why = "The printer's owner \"" + owner + "\" is not a local account: " + error;
    return false;
  }
  if (account->userId == 0) {
    *why = "The printer's owner \"" + owner + "\" has the super-user's rights; no job runs as root";
    return false;
  }
  const char* authUid = std::getenv("AUTH_UID");
  if (!authUid || !*authUid) {
    *why = "CUPS did not authenticate the sender of the job of \"" + owner +
           "\" (no AUTH_UID): the queue needs an operation policy that authenticates, such as "
           "\"authenticated\"";
    return false;
  }
  if (std::string(authUid) != std::to_string(account->userId)) {
    *why = "CUPS authenticated the job's sender as user id " + std::string(authUid) +
           ", not as the printer's owner \"" + owner + "\" (" + std::to_string(account->userId) +
           ")";
    return false;
  }
  return true;
}

// As the super-user the program becomes the job's owner, with the owner's
// home in its environment so that the command reads the owner's settings.
// CUPS's own XDG_CONFIG_HOME and TMPDIR would lead elsewhere (its temporary
// folder is closed to the owner). Started by anyone else it stays who it is.
bool BecomeOwner(platform::Account* account, std::string* error) {
  const std::string owner = account->name;
  if (!platform::IsSuperUser()) {
    *account = platform::CurrentAccount();
    if (account->name != owner) {
      Say("DEBUG", "Not started as root: the job stays with \"" + account->name +
                       "\" instead of its owner \"" + owner + "\"");
    }
    const char* home = std::getenv("HOME");
    if (home && *home) account->home = home;
    return true;
  }
  std::string why;
  if (!platform::DropToAccount(owner, &why)) {
    *error = "Cannot give up root for the job's owner \"" + owner + "\": " + why;
    return false;
  }
  bool set = platform::SetEnvironmentValue("HOME", account->home.c_str()) &&
             platform::SetEnvironmentValue("USER", account->name.c_str()) &&
             platform::SetEnvironmentValue("LOGNAME", account->name.c_str()) &&
             platform::SetEnvironmentValue("XDG_CONFIG_HOME", nullptr) &&
             platform::SetEnvironmentValue("TMPDIR", nullptr);
  if (!set) {
    *error = "Cannot set the environment of the job's owner \"" + owner + "\"";
    return false;
  }
  Say("DEBUG", "Running as \"" + owner + "\"");
  return true;
}

// The spool name tells the job: "job" and the digits of CUPS's job id.
std::string SpoolName(const std::string& jobId, int number) {
  std::string digits;
  for (char c : jobId) {
    if (c >= '0' && c <= '9' && digits.size() < 12) digits += c;
  }
  std::string name = "job" + digits;
  if (number > 1) name += "-" + std::to_string(number);
  return name + ".ps";
}

// Writes the job into a new file of the owner's private spool folder,
// created exclusively and never through a link, and forces it to the disk
// before any command sees it. A file that could not be completed is removed.
bool WriteSpoolFile(const platform::Account& account, const std::string& jobId, std::FILE* input,
                    std::string* spoolPath, std::string* error) {
  if (account.home.empty() || account.home[0] != '/') {
    *error = "The account \"" + account.name + "\" has no home folder for its spool files";
    return false;
  }
  std::string folder = account.home + kSpoolFolder;
  std::string why;
  if (!platform::EnsurePrivateFolder(folder, &why)) {
    *error = "The spool folder \"" + folder + "\" cannot be used: " + why;
    return false;
  }
  platform::NewFile file;
  for (int number = 1;; ++number) {
    if (number > kMaxSpoolNames) {
      *error = "No free name for the job in \"" + folder + "\"";
      return false;
    }
    std::string path = folder + platform::kPathSeparator + SpoolName(jobId, number);
    int created = file.Create(path, 0600, &why);
    if (created == 1) break;
    if (created < 0) {
      *error = "Cannot write the job into \"" + folder + "\": " + why;
      return false;
    }
  }
  if (!cups_backend::CopyJob(input, file.stream(), file.path(), &why) || !file.SyncAndClose(&why)) {
    file.Discard();
    *error = why + "; the partial file is removed";
    return false;
  }
  *spoolPath = file.path();
  return true;
}

// Runs the command without a shell: its words are passed as they are. Once
// the command got the file the job is delivered, whatever the command does;
// a command that cannot start never saw the file, which goes, as CUPS keeps
// the job.
int RunPortCommand(const PortCommand& command, const std::string& spoolPath) {
  std::vector<std::string> words{command.program};
  words.insert(words.end(), command.arguments.begin(), command.arguments.end());
  words.push_back(spoolPath);
  std::string line;
  platform::JoinCommandLine(words, &line);
  cups_backend::CommandEnd end;
  int error = 0;
  if (!cups_backend::RunCommandRelayed(line, kCommandWaitSeconds, &end, &error)) {
    platform::DeleteFile(spoolPath);
    return KeepJob("Cannot start the Command " + line + ": " + platform::ErrorText(error));
  }
  cups_backend::ReportCommandEnd("Command", end, kCommandWaitSeconds, spoolPath);
  return kBackendOk;
}

// The steps of one job: the port's command is read, the job checked and
// its input opened while the program may still read CUPS's files; the job
// itself is read only after the program has become the port's owner.
int DeliverJob(int argc, char** argv) {
  std::string port;
  std::string error;
  if (!cups_backend::JobPort(kScheme, argv[0], &port, &error)) return KeepJob(error);
  PortCommand command;
  if (!ReadPortCommand(port, &command, &error)) return KeepJob(error);
  platform::Account account;
  if (!IsOwnersJob(command.owner, argv[2], &account, &error)) return CancelJob(error);
  std::FILE* input = cups_backend::OpenJobInput(argc, argv, &error);
  if (!input) return KeepJob(error);
  std::string spoolPath;
  bool written =
      BecomeOwner(&account, &error) && WriteSpoolFile(account, argv[1], input, &spoolPath, &error);
  if (input != stdin) std::fclose(input);
  if (!written) return KeepJob(error);
  return RunPortCommand(command, spoolPath);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 1) return cups_backend::ListPortKeys(kScheme, kPortsKey, "Quorvel");
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", kScheme);
    return kBackendFailed;
  }
  return DeliverJob(argc, argv);
}
