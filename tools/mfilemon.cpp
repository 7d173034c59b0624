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

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/accounts.h"
#include "platform/names.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace {

// The exit codes of cups/backend.h.
const int kBackendOk = 0;      // CUPS_BACKEND_OK
const int kBackendFailed = 1;  // CUPS_BACKEND_FAILED
const int kBackendStop = 4;    // CUPS_BACKEND_STOP
const int kKeepJob = kBackendStop;

const char kScheme[] = "mfilemon";
const char kMonitorKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Multi File Port Monitor";
// The account CUPS itself gives its backends and filters.
const char kCupsAccount[] = "lp";
const uint32_t kDefaultWaitSeconds = 300;
// A FilePattern's %i counts up to this before the folder counts as full.
const int kMaxFileNumber = 1000000;
// How much of the command's output is passed on to CUPS's log.
const size_t kMaxRelayedOutput = 64 * 1024;

// One message line for CUPS: a prefix it knows, no line break inside.
void Say(const char* prefix, const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::fprintf(stderr, "%s: %s\n", prefix, line.c_str());
}

int KeepJob(const std::string& why) {
  Say("ERROR", why);
  return kKeepJob;
}

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

// A port is one registry key name: never empty, never a path of keys.
bool IsValidPortName(const std::string& port) {
  if (port.empty()) return false;
  for (char c : port) {
    if (c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

// mfilemon:/PORT (or mfilemon://PORT) gives PORT, with CUPS's %XX escapes
// undone.
bool PortFromUri(const std::string& uri, std::string* port) {
  std::string prefix = std::string(kScheme) + ":";
  if (uri.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(uri[i])) != prefix[i]) return false;
  }
  size_t pos = prefix.size();
  while (pos < uri.size() && uri[pos] == '/') ++pos;
  port->clear();
  for (; pos < uri.size(); ++pos) {
    if (uri[pos] != '%') {
      *port += uri[pos];
      continue;
    }
    int high = pos + 2 < uri.size() ? platform::HexDigitValue(uri[pos + 1]) : -1;
    int low = high >= 0 ? platform::HexDigitValue(uri[pos + 2]) : -1;
    if (low < 0) return false;
    *port += static_cast<char>(high * 16 + low);
    pos += 2;
  }
  return IsValidPortName(*port);
}

// The URI of a port for the device list, escaped as CUPS escapes URIs.
std::string UriOfPort(const std::string& port) {
  std::string uri = std::string(kScheme) + ":/";
  for (unsigned char c : port) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      uri += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof(escaped), "%%%02X", c);
      uri += escaped;
    }
  }
  return uri;
}

// A quoted field of a device line: quotes and backslashes escaped.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// A REG_SZ or REG_EXPAND_SZ value without its terminator; false when it is
// missing or of another type.
bool QueryText(HKEY key, const char* name, std::string* text) {
  uint32_t type = 0;
  uint32_t size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  std::vector<unsigned char> data(size + 1, 0);
  if (RegQueryValueExA(key, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) {
    return false;
  }
  *text = std::string(reinterpret_cast<const char*>(data.data()));
  return true;
}

// A REG_DWORD value, or a REG_SZ of decimal digits as some setup tools write
// numbers; false when it is missing or neither.
bool QueryNumber(HKEY key, const char* name, uint32_t* number) {
  uint32_t type = 0;
  unsigned char data[4];
  uint32_t size = sizeof(data);
  long status = RegQueryValueExA(key, name, nullptr, &type, data, &size);
  if (status == ERROR_SUCCESS && type == REG_DWORD && size == 4) {
    *number = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
    return true;
  }
  std::string text;
  if (!QueryText(key, name, &text) || text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *number = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
  return true;
}

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
// The device list.

int ListPorts() {
  HKEY monitor = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMonitorKey, 0, KEY_READ, &monitor) != ERROR_SUCCESS) {
    return kBackendOk;
  }
  for (uint32_t index = 0;; ++index) {
    char name[256];
    uint32_t length = sizeof(name);
    long status = RegEnumKeyExA(monitor, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) break;
    std::string port(name, length);
    if (!IsValidPortName(port)) continue;
    std::printf("file %s %s %s\n", UriOfPort(port).c_str(), Quoted("Unknown").c_str(),
                Quoted("Multi File Port Monitor " + port).c_str());
  }
  RegCloseKey(monitor);
  return std::fflush(stdout) == 0 ? kBackendOk : kBackendFailed;
}

// ---------------------------------------------------------------------------
// Delivering a job.

// The job comes from the file CUPS names, else from standard input.
std::FILE* OpenJobInput(int argc, char** argv, std::string* error) {
  if (argc < 7) return stdin;
  std::FILE* input = std::fopen(argv[6], "rb");
  if (!input)
    *error = "Cannot open the job file \"" + std::string(argv[6]) + "\": " + std::strerror(errno);
  return input;
}

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

bool CopyJob(std::FILE* input, std::FILE* output, const std::string& jobPath, std::string* error) {
  std::vector<char> buffer(65536);
  for (;;) {
    size_t n = std::fread(buffer.data(), 1, buffer.size(), input);
    if (n > 0 && std::fwrite(buffer.data(), 1, n, output) != n) {
      *error = "Cannot write \"" + jobPath + "\": " + std::strerror(errno);
      return false;
    }
    if (n < buffer.size()) break;
  }
  if (std::ferror(input)) {
    *error = std::string("Cannot read the job: ") + std::strerror(errno);
    return false;
  }
  return true;
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
  if (!CopyJob(input, file.stream(), path, &why) || !file.SyncAndClose(&why)) {
    file.Discard();
    *error = why + "; the partial file is removed";
    return false;
  }
  *jobPath = path;
  return true;
}

// The command's output goes to CUPS's log line by line, up to a bound.
class OutputRelay {
 public:
  void Add(const char* data, size_t size) {
    if (relayed_ >= kMaxRelayedOutput) {
      dropped_ += size;
      return;
    }
    size_t keep = std::min(size, kMaxRelayedOutput - relayed_);
    relayed_ += keep;
    dropped_ += size - keep;
    pending_.append(data, keep);
    for (size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      Say("DEBUG", "[command] " + pending_.substr(0, end));
      pending_.erase(0, end + 1);
    }
  }
  void Finish() {
    if (!pending_.empty()) Say("DEBUG", "[command] " + pending_);
    pending_.clear();
    if (dropped_ > 0) Say("DEBUG", "[command] ... " + std::to_string(dropped_) + " bytes more");
  }

 private:
  std::string pending_;
  size_t relayed_ = 0;
  size_t dropped_ = 0;
};

void DrainOutput(const platform::ChildProcess& child, OutputRelay* relay) {
  char buffer[4096];
  while (platform::PeekChildOutput(child) > 0) {
    int n = platform::ReadChildOutput(child, buffer, sizeof(buffer));
    if (n <= 0) break;
    relay->Add(buffer, static_cast<size_t>(n));
  }
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
  platform::ChildProcess child;
  if (!platform::StartChildProcess(commandLine, true, &child, &error)) {
    return KeepJob("Cannot start the UserCommand " + commandLine + ": " +
                   platform::ErrorText(error) + "; the job file \"" + jobPath + "\" stays");
  }
  int64_t deadline = platform::MonotonicMs() + int64_t{settings.waitTimeoutSeconds} * 1000;
  OutputRelay relay;
  int exitCode = -1;
  int ended = 0;
  bool timedOut = false;
  while (ended == 0) {
    int64_t left = deadline - platform::MonotonicMs();
    if (left <= 0) {
      platform::KillChildProcess(child);
      ended = platform::WaitChildProcess(&child, -1, &exitCode);
      timedOut = true;
      break;
    }
    platform::WaitChildActivity(child, static_cast<int>(std::min<int64_t>(left, 200)));
    DrainOutput(child, &relay);
    ended = platform::WaitChildProcess(&child, 0, &exitCode);
  }
  DrainOutput(child, &relay);
  relay.Finish();
  platform::CloseChildProcess(&child);

  if (timedOut) {
    Say("ERROR", "The UserCommand did not end within " +
                     std::to_string(settings.waitTimeoutSeconds) +
                     " s and was ended; the job file \"" + jobPath + "\" stays");
  } else if (ended < 0) {
    Say("ERROR", "The end of the UserCommand could not be awaited; the job file \"" + jobPath +
                     "\" is left to it");
  } else if (exitCode != 0) {
    Say("ERROR", "The UserCommand ended with exit code " + std::to_string(exitCode) +
                     "; the job file \"" + jobPath + "\" is left to it");
  } else {
    Say("INFO", "Job delivered as \"" + jobPath + "\"");
  }
  return kBackendOk;
}

// The steps of one job. Everything that can be checked is checked before a
// file is written, and the job's input is opened while the program may still
// read CUPS's spool files; the job itself is read only after the program has
// become the port's account.
int DeliverJob(int argc, char** argv) {
  const char* deviceUri = std::getenv("DEVICE_URI");
  std::string uri = deviceUri && *deviceUri ? deviceUri : argv[0];
  std::string port;
  if (!PortFromUri(uri, &port)) {
    return KeepJob("The device URI \"" + uri + "\" does not name a port of " + kScheme);
  }
  PortSettings settings;
  std::string error;
  if (!ReadPortSettings(port, &settings, &error)) return KeepJob(error);
  std::FILE* input = OpenJobInput(argc, argv, &error);
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
  if (argc == 1) return ListPorts();
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", kScheme);
    return kBackendFailed;
  }
  return DeliverJob(argc, argv);
}
