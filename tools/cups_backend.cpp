#include "cups_backend.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/names.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace cups_backend {

namespace {

// How much of a command's output is passed on to CUPS's log.
const size_t kMaxRelayedOutput = 64 * 1024;

// The URI of a port for the device list, escaped as CUPS escapes URIs.
std::string UriOfPort(const char* scheme, const std::string& port) {
  std::string uri = std::string(scheme) + ":/";
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

}  // namespace

void Say(const char* prefix, const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::fprintf(stderr, "%s: %s\n", prefix, line.c_str());
}

int KeepJob(const std::string& why) {
  Say("ERROR", why);
  return kBackendStop;
}

int CancelJob(const std::string& why) {
  Say("ERROR", why);
  return kBackendCancel;
}

bool IsValidPortName(const std::string& port) {
  if (port.empty()) return false;
  for (char c : port) {
    if (c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

bool PortFromUri(const std::string& scheme, const std::string& uri, std::string* port) {
  std::string prefix = scheme + ":";
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

bool JobPort(const std::string& scheme, const char* argv0, std::string* port, std::string* error) {
  const char* deviceUri = std::getenv("DEVICE_URI");
  std::string uri = deviceUri && *deviceUri ? deviceUri : argv0;
  if (PortFromUri(scheme, uri, port)) return true;
  *error = "The device URI \"" + uri + "\" does not name a port of " + scheme;
  return false;
}

int ListPortKeys(const char* scheme, const std::string& portsKey, const std::string& description) {
  HKEY ports = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, portsKey.c_str(), 0, KEY_READ, &ports) != ERROR_SUCCESS) {
    return kBackendOk;
  }
  for (uint32_t index = 0;; ++index) {
    char name[256];
    uint32_t length = sizeof(name);
    long status = RegEnumKeyExA(ports, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS) break;
    std::string port(name, length);
    if (!IsValidPortName(port)) continue;
    std::printf("file %s %s %s\n", UriOfPort(scheme, port).c_str(), Quoted("Unknown").c_str(),
                Quoted(description + " " + port).c_str());
  }
  RegCloseKey(ports);
  return std::fflush(stdout) == 0 ? kBackendOk : kBackendFailed;
}

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

std::FILE* OpenJobInput(int argc, char** argv, std::string* error) {
  if (argc < 7) return stdin;
  std::FILE* input = std::fopen(argv[6], "rb");
  if (!input)
    *error = "Cannot open the job file \"" + std::string(argv[6]) + "\": " + std::strerror(errno);
  return input;
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

bool RunCommandRelayed(const std::string& commandLine, uint32_t timeoutSeconds, CommandEnd* end,
                       int* startError) {
  platform::ChildProcess child;
  if (!platform::StartChildProcess(commandLine, true, &child, startError)) return false;
  int64_t deadline = platform::MonotonicMs() + int64_t{timeoutSeconds} * 1000;
  OutputRelay relay;
  int ended = 0;
  while (ended == 0) {
    int64_t left = deadline - platform::MonotonicMs();
    if (left <= 0) {
      platform::KillChildProcess(child);
      ended = platform::WaitChildProcess(&child, -1, &end->exitCode);
      end->timedOut = true;
      break;
    }
    platform::WaitChildActivity(child, static_cast<int>(std::min<int64_t>(left, 200)));
    DrainOutput(child, &relay);
    ended = platform::WaitChildProcess(&child, 0, &end->exitCode);
  }
  DrainOutput(child, &relay);
  relay.Finish();
  platform::CloseChildProcess(&child);
  end->awaited = ended > 0 && !end->timedOut;
  return true;
}

void ReportCommandEnd(const std::string& name, const CommandEnd& end, uint32_t timeoutSeconds,
                      const std::string& jobPath) {
  if (end.timedOut) {
    Say("ERROR", "The " + name + " did not end within " + std::to_string(timeoutSeconds) +
                     " s and was ended; the job file \"" + jobPath + "\" stays");
  } else if (!end.awaited) {
    Say("ERROR", "The end of the " + name + " could not be awaited; the job file \"" + jobPath +
                     "\" is left to it");
  } else if (end.exitCode != 0) {
    Say("ERROR", "The " + name + " ended with exit code " + std::to_string(end.exitCode) +
                     "; the job file \"" + jobPath + "\" is left to it");
  } else {
    Say("INFO", "Job delivered as \"" + jobPath + "\"");
  }
}

}  // namespace cups_backend
