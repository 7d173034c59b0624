#include "printer/installation.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/command_options.h"
#include "config/log.h"
#include "config/path_macros.h"
#include "config/profile.h"
#include "config/registry.h"
#include "config/settings.h"
#include "platform/accounts.h"
#include "platform/names.h"
#include "platform/platform.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/spooler.h"
#include "platform/winspool.h"
#include "printer/port_monitor.h"
#include "printer/printer_creation.h"
#include "printer/printer_defaults.h"
#include "printer/spooler_queries.h"
#include "process/autorun.h"
#include "process/process_runner.h"

namespace {

const char kUserSettingsKey[] = "Software\\quorvel\\lumaset";
const char kOutputFileName[] = "out.pdf";

const char kInstallFailed[] =
    "Failed to install the Virtual Printer Driver, please contact to Quorvel to get more support "
    "information.";

// Fills an empty field from its setting; a name given on the command line
// is used as it is and nothing is read for it.
void FillFromSettings(char* field, int size, const char* key, const char* defaultValue) {
  if (field[0] == '\0') ReadSettingString("Options", key, defaultValue, field, size);
}

// The port monitor runs the command of every job as an unprivileged
// account, never as the super-user: that account must be able to write the
// settings and the log beside the program, and the port's own folder.
void LetPortAccountWrite() {
  if (!platform::IsSuperUser()) return;
  std::string account = platform::PortCommandAccount("");
  std::string error;
  std::string folder = platform::ProgramFolder();
  if (!platform::ShareFolderWithAccount(folder, account, &error)) {
    OutLog("[ERROR] \"%s\" cannot be shared with %s: %s\n", folder.c_str(), account.c_str(),
           error.c_str());
  }
  std::vector<std::string> files{GetConfigFilePath()};
  if (platform::PathExists(LogFilePath())) files.push_back(LogFilePath());
  for (const std::string& file : files) {
    if (!platform::GiveFileToAccount(file, account, &error)) {
      OutLog("[ERROR] \"%s\" cannot be given to %s: %s\n", file.c_str(), account.c_str(),
             error.c_str());
    }
  }
  // The system's temporary folder is everybody's already.
  std::string spool = ReadSettingText("Options", "TempFolder", "");
  if (!spool.empty()) {
    spool = ExpandPathMacros(spool);
    if (platform::IsDirectory(spool) && !platform::ShareFolderWithAccount(spool, account, &error)) {
      OutLog("[ERROR] \"%s\" cannot be shared with %s: %s\n", spool.c_str(), account.c_str(),
             error.c_str());
    }
  }
}

// Runs the commands that restart the spooler; their outcome is only logged.
void RestartSpooler() {
  OutLog("We will restart spooler.\n");
  std::string error;
  if (!platform::RestartSpoolerService(&error)) {
    OutLog("[ERROR] The spooler could not be restarted: %s\n", error.c_str());
  }
}

void DeleteOldPrinter(const char* printer) {
  if (!PrinterExists(printer)) return;
  OutLog("Deleting the old printer of \"%s\"\n", printer);
  std::string error;
  if (!platform::DeletePrinterByName(printer, &error)) {
    OutLog("[ERROR] \"%s\" could not be deleted: %s\n", printer, error.c_str());
  }
}

std::vector<std::string> DriverList() {
  std::string drivers =
      ReadSettingText("Options", "PrinterDrivers", platform::DefaultPrinterDrivers());
  std::vector<std::string> list;
  SplitString(drivers, "||", list);
  for (size_t i = 0; i < list.size(); ++i) {
    OutLog("Printer Driver[%d]: \"%s\"\n", static_cast<int>(i + 1), list[i].c_str());
  }
  return list;
}

// Runs setup.exe beside the program, quoted, and waits for it; nothing is
// said when there is none.
void RunSetupProgram() {
  std::string setup = platform::ProgramFolder() + platform::kPathSeparator + "setup.exe";
  if (!platform::PathExists(setup)) return;
  std::string command = "\"" + setup + "\"";
  NTSystemCommand(command.c_str(), 1);
}

// With -addprinter: the first printer through setup.exe, or a further one
// on a new port of the maker's monitor. Returns 0 when the flow must stop.
int AddPrinterOrFirst(CommandOptions* options, int* added) {
  if (!IsPrinterPortFound() || !IsPrinterDriverFound()) {
    OutLog("This is the first printer, we will install the first printer.\n");
    *added = InstallFirstPrinter();
  } else {
    OutLog("Checking '%s' printer.\n", options->printerName);
    if (PrinterExists(options->printerName)) {
      OutLog("\"%s\" printer is already installed, we will do nothing now.\n",
             options->printerName);
      return 0;
    }
    OutLog("This is NOT the first printer, we will add '%s' printer.\n", options->printerName);
    *added = AddNewPrinter(options->printerName, options->newPortName);
  }
  if (*added) {
    SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, 0, 0, 1000, nullptr);
  }
  return 1;
}

// "Software\quorvel\lumaset", and for an added printer its port word
// ("Quorvel3:" gives "Quorvel3").
void BuildSettingsKeyPath(CommandOptions* options) {
  char* port = options->newPortName;
  const size_t wordLength = std::strlen(platform::kMakerPortWord);
  if (IsQuorvelName(port)) {
    char* end = port + wordLength;
    while (*end >= '0' && *end <= '9') ++end;
    *end = '\0';
  }
  std::snprintf(options->settingsKeyPath, sizeof(options->settingsKeyPath), "%s%s%s",
                kUserSettingsKey, port[0] ? "\\" : "", port);
}

// A value whose last part has no "." names a folder: "out.pdf" goes into
// it. False when the completed value would not fit its field.
bool CompleteOutFolder(char* folder, size_t size) {
  std::string value = folder;
  size_t lastPart = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    if (platform::IsPathSeparator(value[i])) lastPart = i + 1;
  }
  if (value.find('.', lastPart) != std::string::npos) return true;
  if (!platform::IsPathSeparator(value.back())) value += platform::kPathSeparator;
  value += kOutputFileName;
  if (value.size() >= size) return false;
  std::memcpy(folder, value.c_str(), value.size() + 1);
  return true;
}

void WriteUserSettings(CommandOptions* options, CRegistry* key) {
  if (options->outFolder[0]) {
    if (CompleteOutFolder(options->outFolder, sizeof(options->outFolder))) {
      (*key)["AutomaticDirectory"] = options->outFolder;
      (*key)["AutomaticOutput"] = 1;
      (*key)["AutomaticValue"] = 5;
    } else {
      OutLog(
          "[ERROR] The output folder \"%s\" is too long to take \"%s\" (at most %d "
          "characters in all); the output settings are not written.\n",
          options->outFolder, kOutputFileName, static_cast<int>(sizeof(options->outFolder) - 1));
    }
  }
  if (options->runExe[0]) {
    (*key)["AutoExecProgram"] = options->runExe;
    (*key)["AutoExec"] = 1;
  }
}

}  // namespace

bool InstallWithFirstWorkingDriver(const char* printer, const char* port) {
  for (const std::string& driver : DriverList()) {
    OutLog("Installing the printer with printer driver: \"%s\"\n", driver.c_str());
    std::string error;
    if (!platform::InstallPrinterWithDriver(printer, port, driver, &error)) {
      OutLog("[ERROR] The printer could not be installed with \"%s\": %s\n", driver.c_str(),
             error.c_str());
    }
    if (PrinterExists(printer)) {
      OutLog(
          "Install the printer \"%s\" with printer driver \"%s\" on \"%s\" Printer Port "
          "successful.\n",
          printer, driver.c_str(), port);
      return true;
    }
  }
  return false;
}

int InstallFirstPrinter() {
  char name[300] = {};
  platform::GetPrivateProfileStringA("installation", "PrinterName", "", name, sizeof(name),
                                     GetConfigFilePath().c_str());
  RunSetupProgram();
  return PrinterExists(name);
}

int InstallOrAddPrinter(CommandOptions* options) {
  std::string config = GetConfigFilePath();
  if (options->printerName[0]) {
    SetProfileString(config.c_str(), "installation", "PrinterName", options->printerName);
  }
  if (options->addPrinter) {
    int added = 0;
    if (!AddPrinterOrFirst(options, &added)) return 0;
  } else {
    RunSetupProgram();
  }
  BuildSettingsKeyPath(options);
  OutLog("Registry: \"%s\"\n", options->settingsKeyPath);
  CRegistry key(CRegistry::kCreateKey);
  if (!key.Open(options->settingsKeyPath, HKEY_CURRENT_USER, KEY_QUERY_VALUE | KEY_SET_VALUE)) {
    return 0;
  }
  WriteUserSettings(options, &key);
  if (options->paper != 0) {
    SetDefaultPaperSize(options->printerName, static_cast<int16_t>(options->paper & 0xFFFF));
  }
  return 1;
}

void SplitString(const std::string& text, const std::string& delimiter,
                 std::vector<std::string>& list) {
  size_t position = 0;
  for (;;) {
    size_t match = position < text.size() && !delimiter.empty() ? text.find(delimiter, position)
                                                                : std::string::npos;
    if (match == std::string::npos) {
      list.push_back(position < text.size() ? text.substr(position) : std::string());
      return;
    }
    list.push_back(text.substr(position, match - position));
    position = match + delimiter.size();
    if (position >= text.size()) return;
  }
}

int InstallVirtualPrinter(CommandOptions* options) {
  FillFromSettings(options->printerName, sizeof(options->printerName), "PrinterName",
                   "Quorvel PDFPrinter");
  FillFromSettings(options->portName, sizeof(options->portName), "PortName", "QuorvelPort");
  FillFromSettings(options->monitorName, sizeof(options->monitorName), "MonitorName",
                   "Multi File Port Monitor");
  const char* printer = options->printerName;
  const char* port = options->portName;
  const char* monitor = options->monitorName;
  OutLog("MonitorName: \"%s\"\n", monitor);
  OutLog("PortName: \"%s\"\n", port);

  if (!InstallMonitor(monitor)) {
    OutLog("[ERROR] Failed to install MonitorName: \"%s\"\n", monitor);
    return 0;
  }
  OutLog("Monitor \"%s\" has been installed successful, we will update Printer Port Settings.\n",
         monitor);
  if (!ConfigureMonitorPort(monitor, port)) return 0;
  LetPortAccountWrite();
  RestartSpooler();
  DeleteOldPrinter(printer);
  OutLog("Installing the \"%s\" printer.\n", printer);
  if (!InstallWithFirstWorkingDriver(printer, port)) {
    OutLog("%s\n", kInstallFailed);
    platform::ShowMessageBox(kInstallFailed, "Error");
    return 0;
  }
  OutLog("We will execute RunSyncMonitorApp\n");
  if (ReadSettingInt("Options", "IsRunSyncMonitorApp", 0) != 0) RunSyncMonitorApp();
  return 1;
}
