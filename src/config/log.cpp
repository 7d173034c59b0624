#include "config/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "config/settings_file.h"
#include "platform/platform.h"

namespace {

const int64_t kLogSizeLimit = 1024000;
// One entry longer than this is cut, so that a single huge entry (a tool's
// whole output) can never make the size rule throw the log away.
const size_t kMaxEntrySize = 65536;
// The log holds job names and tools' output: not for other users.
const unsigned kLogMode = 0640;

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::vector<char> buf(static_cast<size_t>(n) + 1);
  vsnprintf(buf.data(), buf.size(), format, args);
  return std::string(buf.data(), static_cast<size_t>(n));
}

// The log is a text file of the platform: its lines end as the platform's do.
std::string WithLineEnds(const std::string& text) {
  if (std::strcmp(platform::kLineEnd, "\n") == 0) return text;
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
      out += platform::kLineEnd;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool IsNo(const char* value) {
  return (value[0] == 'N' || value[0] == 'n') && (value[1] == 'O' || value[1] == 'o') &&
         value[2] == '\0';
}

// The platform layer's messages (a damaged registry file, ...) are entries of
// this log. The sink is installed before main, so the first of them is kept.
void LogDiagnostic(const std::string& line) { OutLog("%s", line.c_str()); }

struct LogSinkInstaller {
  LogSinkInstaller() { platform::SetDiagnosticSink(&LogDiagnostic); }
} g_logSinkInstaller;

std::string g_logProgramName;

}  // namespace

void ShareLogOf(const char* programName) { g_logProgramName = programName ? programName : ""; }

std::string LogFilePath() {
  std::string exe = platform::ModuleFileName();
  std::string folder = platform::DirName(exe);
  std::string name = g_logProgramName.empty() ? platform::BaseName(exe) : g_logProgramName;
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return folder + platform::kPathSeparator + name + ".log";
}

void OutLog(const char* format, ...) {
  // The switch is looked up on every call, so it can be flipped while a long
  // run is going on; the settings file is read again only when it changed.
  // It is written back when it lacks the switch; a failure there is not
  // logged, which would only come back here.
  SettingsFile& settings = ProgramSettings();
  std::string flag = settings.Text("debug", "outlog", "No", 300);
  settings.Save();
  if (IsNo(flag.c_str())) return;

  std::tm now = platform::CurrentClock().LocalTimeNow();
  char prefix[1000];
  strftime(prefix, sizeof(prefix), "%Y-%m-%d %H:%M:%S -- ", &now);

  va_list args;
  va_start(args, format);
  std::string entry = prefix + FormatV(format, args);
  va_end(args);
  if (entry.size() > kMaxEntrySize) {
    size_t cut = entry.size() - kMaxEntrySize;
    entry.resize(kMaxEntrySize);
    entry += "... [cut " + std::to_string(cut) + " bytes]\n";
  }

  entry = WithLineEnds(entry);
  std::string path = LogFilePath();
  if (platform::FileSize(path) > kLogSizeLimit) platform::DeleteFile(path);
  // Prefix and text go out in one write, so entries of concurrent runs
  // never interleave inside an entry.
  std::string error;
  if (!platform::AppendToFile(path, entry, kLogMode, &error)) {
    // The entry goes with the notice, so that it is not lost: on POSIX both
    // reach standard error, which a port monitor passes on to the spooler's
    // log when the user running a job may not write the program's log.
    if (!entry.empty() && entry.back() == '\n') entry.pop_back();
    platform::ShowMessageBox("Failed to create '" + path + "' log file! (" + error + ")\n" + entry,
                             "ERROR");
  }
}
