// mfilemon: the Multi File Port Monitor as a CUPS backend. A queue whose
// device URI is mfilemon:/PORT hands each job to this program, which writes
// it into the port's OutputPath under a name made from its FilePattern and
// runs the port's UserCommand on that file. The port's values are those of
// the registry key of the monitor on Windows.
//
//   mfilemon                                          list the ports (CUPS device lines)
//   mfilemon job-id user title copies options [file]  deliver one job
//
// Exit codes are CUPS's: 0 the job is delivered (the command got its file);
// 4 (CUPS_BACKEND_STOP) the job could not be delivered and CUPS is to keep
// it. CUPS then stops the queue with the job pending at its head, whatever
// the queue's error policy, so no job is lost and later jobs wait behind it;
// once the cause is mended, enabling the queue (cupsenable) sends it again.
// The other codes do not keep it safely: CUPS_BACKEND_RETRY (6) holds the
// job for JobRetryInterval while later jobs print before it (the order is
// lost) and aborts it for good after JobRetryLimit tries; CUPS_BACKEND_FAILED
// (1) leaves the outcome to the queue's printer-error-policy, which may be
// abort-job. 1 is used only for a program started with wrong arguments.

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

using cups_backend::kBackendFailed;
using cups_backend::kBackendOk;
using cups_backend::KeepJob;
using cups_backend::QueryNumber;
using cups_backend::QueryText;
using cups_backend::Say;

const char kScheme[] = "mfilemon";
const char kMonitorKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Multi File Port Monitor";
// The account CUPS itself gives its backends and filters.
const char kCupsAccount[] = "lp";
const uint32_t kDefaultWaitSeconds = 300;
// A FilePattern's %i counts up to this before the folder counts as full.
const int kMaxFileNumber = 1000000;
std::string ReplaceAll(const std::string& text, const std::string& what, const std::string& with) {
  std::string out;
  size_t start = 0;
  for (size_t pos; (pos = text.find(what, start)) != std::string::npos; start = pos + what.size()) {
    out.append(text, start, pos - start);
    out += with;
  }
  out.append(text, start, std::string::npos);
  return out;
}

// ---------------------------------------------------------------------------
// The port and its values.

struct PortSettings {
  std::string outputPath;
  std::string filePattern;
  std::string userCommand;
  std::string user;
  bool waitTermination = false;
  uint32_t waitTimeoutSeconds = kDefaultWaitSeconds;
};

// A FilePattern names a file inside OutputPath: no separator may lead out of
// it, and "." or ".." would name the folder or its parent.
bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (platform::IsPathSeparator(c)) return false;
  }
  return true;
}

bool ReadPortSettings(const std::string& port, PortSettings* settings, std::string* error) {
  std::string path = std::string(kMonitorKey) + "\\" + port;
  HKEY key = nullptr;
  long status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
  if (status != ERROR_SUCCESS) {
    *error = "The port \"" + port + "\" is not configured (registry key HKLM\\" + path +
             ": error " + std::to_string(status) + ")";
    return false;
  }
  bool hasOutput = QueryText(key, "OutputPath", &settings->outputPath);
  bool hasPattern = QueryText(key, "FilePattern", &settings->filePattern);
  QueryText(key, "UserCommand", &settings->userCommand);
  QueryText(key, "User", &settings->user);
  uint32_t number = 0;
  if (QueryNumber(key, "WaitTermination", &number)) settings->waitTermination = number != 0;
  // Every wait has a bound: a missing or zero timeout is the default one.
  if (QueryNumber(key, "WaitTimeout", &number) && number > 0) {
    settings->waitTimeoutSeconds = number;
  }
  RegCloseKey(key);

  // A command of blanks only is no command.
  if (platform::SplitCommandLine(settings->userCommand).empty()) settings->userCommand.clear();
  while (settings->outputPath.size() > 1 &&
         platform::IsPathSeparator(settings->outputPath.back())) {
    settings->outputPath.pop_back();
  }
  if (!hasOutput || settings->outputPath.empty() || settings->outputPath[0] != '/') {
    *error =
        "The port \"" + port + "\" has no absolute OutputPath (\"" + settings->outputPath + "\")";
    return false;
  }
  std::string sample = ReplaceAll(settings->filePattern, "%i", "1");
  if (!hasPattern || !IsPlainFileName(sample)) {
    *error = "The FilePattern \"" + settings->filePattern + "\" of the port \"" + port +
             "\" does not name a file inside its OutputPath";
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Delivering a job.

// As the super-user the program becomes the port's account, else CUPS's own;
// started by anyone else it stays who it is.
bool BecomeJobAccount(const PortSettings& settings, std::string* error) {
  if (!platform::IsSuperUser()) {
    if (!settings.user.empty() && settings.user != platform::CurrentAccount().name) {
      Say("DEBUG", "Not started as root: the job stays with \"" + platform::CurrentAccount().name +
                       "\" instead of the port's account \"" + settings.user + "\"");
    }
    return true;
  }
  std::string account = settings.user.empty() ? kCupsAccount : settings.user;
  std::string why;
  if (!platform::DropToAccount(account, &why)) {
    *error = "Cannot give up root for the account \"" + account + "\": " + why;
    return false;
  }
  Say("DEBUG", "Running as \"" + account + "\"");
  return true;
}

// UserCommand with %f replaced must split into the words the port's command
// has with %f replaced word by word; a path whose quotes or blanks would
// change the words is refused, never passed on.
bool BuildCommandLine(const std::string& command, const std::string& jobPath, std::string* line) {
  *line = ReplaceAll(command, "%f", jobPath);
  std::vector<std::string> expected = platform::SplitCommandLine(command);
  for (std::string& word : expected) word = ReplaceAll(word, "%f", jobPath);
  return platform::SplitCommandLine(*line) == expected;
}

// Takes the first name of the pattern that is free, creating it exclusively
// and never through a link (a planted link is a taken name), readable only
// by the account the program now runs as. Then checks that the command
// line can carry the name, and only then copies the job into it. Whatever
// fails on the way, the file is removed: no command has seen it yet.
bool WriteJobFile(const PortSettings& settings, std::FILE* input, std::string* jobPath,
                  std::string* commandLine, std::string* error) {
  bool numbered = settings.filePattern.find("%i") != std::string::npos;
  platform::NewFile file;
  std::string path;
  for (int number = 1;; ++number) {
    if (number > kMaxFileNumber || (!numbered && number > 1)) {
      *error = "No free name for the job by the FilePattern \"" + settings.filePattern +
               "\" in \"" + settings.outputPath + "\"";
      return false;
    }
    std::string name = ReplaceAll(settings.filePattern, "%i", std::to_string(number));
    if (!IsPlainFileName(name)) {
      *error = "The FilePattern \"" + settings.filePattern + "\" gives \"" + name +
               "\", which is not a file inside the OutputPath";
      return false;
    }
    path = settings.outputPath + platform::kPathSeparator + name;
    std::string why;
    int created = file.Create(path, 0600, &why);
    if (created == 1) break;
    if (created < 0) {
      *error = "Cannot write the job into \"" + settings.outputPath + "\": " + why;
      return false;
    }
  }
  if (!settings.userCommand.empty() && !BuildCommandLine(settings.userCommand, path, commandLine)) {
    file.Discard();
    *error = "The job file \"" + path + "\" cannot be passed as one word by the UserCommand " +
             settings.userCommand + " (put %f in double quotes, keep quotes out of OutputPath)";
    return false;
  }
  std::string why;
  if (!cups_backend::CopyJob(input, file.stream(), path, &why) || !file.SyncAndClose(&why)) {
    file.Discard();
    *error = why + "; the partial file is removed";
    return false;
  }
  *jobPath = path;
  return true;
}

// The command got the job file, so from here on the job is delivered
// whatever the command does: tarvelin keeps the jobs it cannot deliver
// itself, and a job sent again could be printed twice. A command that has to
// be ended is reported; its file stays where it is.
int RunUserCommand(const PortSettings& settings, const std::string& commandLine,
                   const std::string& jobPath) {
  int error = 0;
  if (!settings.waitTermination) {
    if (!platform::StartDetachedProcess(commandLine, &error)) {
      return KeepJob("Cannot start the UserCommand " + commandLine + ": " +
                     platform::ErrorText(error) + "; the job file \"" + jobPath + "\" stays");
    }
    Say("INFO", "Job written to \"" + jobPath + "\" and the UserCommand started");
    return kBackendOk;
  }
  cups_backend::CommandEnd end;
  if (!cups_backend::RunCommandRelayed(commandLine, settings.waitTimeoutSeconds, &end, &error)) {
    return KeepJob("Cannot start the UserCommand " + commandLine + ": " +
                   platform::ErrorText(error) + "; the job file \"" + jobPath + "\" stays");
  }
  cups_backend::ReportCommandEnd("UserCommand", end, settings.waitTimeoutSeconds, jobPath);
  return kBackendOk;
}

// The steps of one job. Everything that can be checked is checked before a
// file is written, and the job's input is opened while the program may still
// read CUPS's spool files; the job itself is read only after the program has
// become the port's account.
int DeliverJob(int argc, char** argv) {
  std::string port;
  std::string error;
  if (!cups_backend::JobPort(kScheme, argv[0], &port, &error)) return KeepJob(error);
  PortSettings settings;
  if (!ReadPortSettings(port, &settings, &error)) return KeepJob(error);
  std::FILE* input = cups_backend::OpenJobInput(argc, argv, &error);
  if (!input) return KeepJob(error);
  if (!BecomeJobAccount(settings, &error)) return KeepJob(error);

  std::string jobPath;
  std::string commandLine;
  bool written = WriteJobFile(settings, input, &jobPath, &commandLine, &error);
  if (input != stdin) std::fclose(input);
  if (!written) return KeepJob(error);
  if (commandLine.empty()) {
    Say("INFO", "Job written to \"" + jobPath + "\"");
    return kBackendOk;
  }
  return RunUserCommand(settings, commandLine, jobPath);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 1) return cups_backend::ListPortKeys(kScheme, kMonitorKey, "Multi File Port Monitor");
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", kScheme);
    return kBackendFailed;
  }
  return DeliverJob(argc, argv);
}
