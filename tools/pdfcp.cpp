// pdfcp.exe: the command of the maker's port monitor "Quorvel". The monitor
// runs it as the job's owner with the port's Arguments and the job's spool
// file; it converts the job and puts its pages into the owner's PDF, named by
// the owner's settings, through the same locked, journalled append as
// `tarvelin -appendfile`, then may start the owner's program on the PDF.
//
//   pdfcp.exe PORT SPOOLFILE
//
// The settings are the values of HKCU\Software\quorvel\lumaset\<PORT without
// its colon>, or of HKCU\Software\quorvel\lumaset when that key is missing:
// AutomaticOutput (1: on) and AutomaticDirectory (the PDF, or a folder that
// gets out.pdf), AutoExec (1: on) and AutoExecProgram. Everything goes to the
// log beside the program (or to standard error when this user may not write
// it). Exit codes: 0 the job's pages are in the PDF; 1 the job was not
// placed and stays as a file, the log says where; 2 wrong arguments.

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/log.h"
#include "config/registry.h"
#include "config/settings.h"
#include "delivery/append_driver.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace {

const int kPlaced = 0;
const int kNotPlaced = 1;
const int kUsage = 2;

const char kSettingsKey[] = "Software\\quorvel\\lumaset";
// The PDF's name when AutomaticDirectory names a folder.
const char kPdfInFolder[] = "out.pdf";

// The owner's settings for one port.
struct UserSettings {
  std::string key;  // the key they came from
  bool automaticOutput = false;
  std::string automaticDirectory;
  bool autoExec = false;
  std::string autoExecProgram;
};

// A switch is on when its value is 1: a REG_DWORD, or a text as some setup
// tools write numbers.
bool IsOn(CRegEntry& entry) {
  if (entry.Type() == REG_DWORD) return entry.Number() == 1;
  return entry.Type() == REG_SZ && std::strcmp(entry.Text(), "1") == 0;
}

std::string TextOf(CRegEntry& entry) { return entry.Type() == REG_SZ ? entry.Text() : ""; }

// The registry store reports a damaged hive through the diagnostic sink while
// it reads it: such a report is noted and passed on to the log.
bool g_storeDamaged = false;
platform::DiagnosticSink g_logSink = nullptr;

void NoteDiagnostic(const std::string& line) {
  g_storeDamaged = true;
  if (g_logSink) g_logSink(line);
}

// Opens the port's own key, else the general one. The port's word is its
// name without the colon ("Quorvel2:" reads ...\lumaset\Quorvel2).
bool OpenSettingsKey(const std::string& port, CRegistry* registry, std::string* key) {
  std::string word = port;
  if (!word.empty() && word.back() == ':') word.pop_back();
  if (!word.empty() && word.find('\\') == std::string::npos) {
    *key = std::string(kSettingsKey) + "\\" + word;
    if (registry->Open(key->c_str(), HKEY_CURRENT_USER, KEY_READ)) return true;
  }
  *key = kSettingsKey;
  return registry->Open(key->c_str(), HKEY_CURRENT_USER, KEY_READ);
}

bool ReadUserSettings(const std::string& port, UserSettings* settings, std::string* error) {
  g_storeDamaged = false;
  g_logSink = platform::SetDiagnosticSink(&NoteDiagnostic);
  CRegistry registry(0);
  bool opened = OpenSettingsKey(port, &registry, &settings->key);
  platform::SetDiagnosticSink(g_logSink);
  if (g_storeDamaged) {
    *error = "The per-user registry store is damaged (see above); its settings are not used";
    return false;
  }
  if (!opened) {
    *error = "There are no per-user settings for the port \"" + port + "\" (HKCU\\" +
             std::string(kSettingsKey) + ")";
    return false;
  }
  settings->automaticOutput = IsOn(registry["AutomaticOutput"]);
  settings->automaticDirectory = TextOf(registry["AutomaticDirectory"]);
  settings->autoExec = IsOn(registry["AutoExec"]);
  settings->autoExecProgram = TextOf(registry["AutoExecProgram"]);
  if (!settings->automaticOutput || settings->automaticDirectory.empty()) {
    *error = "The per-user settings HKCU\\" + settings->key +
             " do not turn on AutomaticOutput with an AutomaticDirectory";
    return false;
  }
  return true;
}

// The PDF that AutomaticDirectory names: the file itself, or out.pdf in a
// folder that exists (or that the value ends in a separator to name). A
// missing folder is created for it, as the owner asked for a PDF there; not
// on a drive that is expected but not mounted, where it would hide below the
// mount point.
bool ChooseOutput(const std::string& directory, std::string* output, std::string* error) {
  bool drive = directory.size() > 2 && std::isalpha(static_cast<unsigned char>(directory[0])) &&
               directory[1] == ':' && platform::IsPathSeparator(directory[2]);
  if (!drive && !platform::IsPathSeparator(directory[0])) {
    *error = "AutomaticDirectory \"" + directory + "\" is not an absolute path";
    return false;
  }
  *output = directory;
  if (platform::IsPathSeparator(directory.back()) || platform::IsDirectory(directory)) {
    std::string folder = directory;
    while (folder.size() > 1 && platform::IsPathSeparator(folder.back())) folder.pop_back();
    *output = folder + platform::kPathSeparator + kPdfInFolder;
  }
  std::string folder = platform::DirName(*output);
  if (folder.empty() || platform::IsDirectory(folder)) return true;
  if (platform::IsUnmountedMountPoint(folder)) {
    *error = "The folder \"" + folder + "\" lies on a drive that is not mounted";
    return false;
  }
  std::string why;
  if (!platform::CreateFolders(folder, &why)) {
    *error = "The folder \"" + folder + "\" cannot be created: " + why;
    return false;
  }
  OutLog("[INFO] Created the folder \"%s\" for the PDF.\n", folder.c_str());
  return true;
}

// Started detached and without a shell: the PDF's path is its one argument.
void StartAutoExecProgram(const std::string& program, const std::string& pdf) {
  std::string line;
  if (!platform::JoinCommandLine({program, pdf}, &line)) {
    OutLog("[ERROR] AutoExecProgram \"%s\" cannot be started (a double quote in its path).\n",
           program.c_str());
    return;
  }
  int error = 0;
  if (!platform::StartDetachedProcess(line, &error)) {
    OutLog("[ERROR] Could not start AutoExecProgram \"%s\": %s.\n", program.c_str(),
           platform::ErrorText(error).c_str());
    return;
  }
  OutLog("[CMD] %s\n", line.c_str());
}

int PlaceJob(const std::string& port, const std::string& spool) {
  UserSettings settings;
  std::string output;
  std::string error;
  if (!ReadUserSettings(port, &settings, &error) ||
      !ChooseOutput(settings.automaticDirectory, &output, &error)) {
    OutLog("[ERROR] %s; the job stays in \"%s\".\n", error.c_str(), spool.c_str());
    return kNotPlaced;
  }
  // The same bound as the main program's -appendfile option.
  const size_t kLongestJobPath = 1023;
  if (spool.size() > kLongestJobPath) {
    OutLog("[ERROR] The job's path is longer than %d bytes; the job stays in \"%s\".\n",
           static_cast<int>(kLongestJobPath), spool.c_str());
    return kNotPlaced;
  }
  if (!AppendFileToPDFFile(spool.c_str(), output.c_str(), CurrentJobSettings())) {
    if (platform::PathExists(spool)) {
      OutLog("[ERROR] The job did not reach \"%s\"; it stays in \"%s\".\n", output.c_str(),
             spool.c_str());
    } else {
      OutLog("[ERROR] The job did not reach \"%s\"; see above for where it went.\n",
             output.c_str());
    }
    return kNotPlaced;
  }
  OutLog("[INFO] The pages of the job are in \"%s\".\n", output.c_str());
  if (settings.autoExec && !settings.autoExecProgram.empty()) {
    StartAutoExecProgram(settings.autoExecProgram, output);
  }
  return kPlaced;
}

}  // namespace

int main(int argc, char** argv) {
  ShareLogOf("tarvelin");
  std::string commandLine;
  for (int i = 0; i < argc; ++i) commandLine += std::string("\"") + argv[i] + "\" ";
  OutLog("[CMD] %s\n", commandLine.c_str());
  if (argc != 3 || !argv[1][0] || !argv[2][0]) {
    OutLog("[ERROR] Usage: pdfcp.exe PORT SPOOLFILE\n");
    std::fprintf(stderr, "Usage: pdfcp.exe PORT SPOOLFILE\n");
    return kUsage;
  }
  return PlaceJob(argv[1], argv[2]);
}
