// setup.exe: installs the first printer of the maker's own port monitor
// "Quorvel". It installs the monitor (on Linux the CUPS backend quorvel and
// the monitor's registry key, see monitor_setup.h), asks it for a new port
// Quorvel<n>:, points the port at pdfcp.exe, and adds the printer named by
// key PrinterName of section installation of config.ini beside it ("Quorvel
// PDFPrinter" when empty) with the first driver of the setting
// PrinterDrivers that the spooler knows.
//
//   setup.exe [/VERYSILENT] [/SILENT] [/SUPPRESSMSGBOXES] [/NORESTART]
//
// It writes the program's log, and says why it failed on standard error.
// Exit codes: 0 the printer exists, 1 it could not be installed, 2 an
// unknown argument.

#include <cstdio>
#include <string>

#include "config/log.h"
#include "config/settings.h"
#include "monitor_setup.h"
#include "platform/accounts.h"
#include "platform/profile.h"
#include "platform/winspool.h"
#include "printer/installation.h"
#include "printer/port_monitor.h"
#include "printer/printer_creation.h"
#include "printer/printer_defaults.h"

namespace {

const int kInstalled = 0;
const int kFailed = 1;
const int kUsage = 2;

const char kMonitor[] = "Quorvel";
const char kMonitorDriver[] = "quorvel.dll";
const char kBackend[] = "quorvel";
const char kDefaultPrinter[] = "Quorvel PDFPrinter";

int Fail(const std::string& why) {
  OutLog("[ERROR] setup.exe: %s\n", why.c_str());
  std::fprintf(stderr, "setup.exe: %s\n", why.c_str());
  return kFailed;
}

void LogReport(const std::string& report) {
  if (!report.empty()) OutLog("setup.exe: %s", report.c_str());
}

bool InstallMonitor() {
  std::string report;
  bool ok = monitor_setup::InstallBackend(kBackend, &report) &&
            monitor_setup::RegisterMonitor(kMonitor, kMonitorDriver, &report);
  LogReport(report);
  return ok;
}

int InstallPrinter() {
  char name[300] = {};
  platform::GetPrivateProfileStringA("installation", "PrinterName", "", name, sizeof(name),
                                     GetConfigFilePath().c_str());
  if (!name[0]) std::snprintf(name, sizeof(name), "%s", kDefaultPrinter);
  if (PrinterExists(name)) {
    OutLog("setup.exe: the printer \"%s\" is already installed.\n", name);
    return kInstalled;
  }
  if (!InstallMonitor()) return Fail("the port monitor \"Quorvel\" could not be installed");
  if (!AddPortA(nullptr, 0, kMonitor)) {
    return Fail("the monitor \"Quorvel\" gave no port: " +
                platform::SpoolerErrorText(GetLastError()));
  }
  char port[100] = {};
  GetNewPortName(port);
  OutLog("setup.exe: new port \"%s\".\n", port);
  if (long status = SetPortCommand(port)) {
    return Fail("the command of the port \"" + std::string(port) +
                "\" could not be written (registry error " + std::to_string(status) + ")");
  }
  if (!InstallWithFirstWorkingDriver(name, port)) {
    return Fail("no driver of the setting PrinterDrivers gave the printer \"" + std::string(name) +
                "\"; the port \"" + port + "\" stays for the next attempt");
  }
  return kInstalled;
}

}  // namespace

int main(int argc, char** argv) {
  ShareLogOf("tarvelin");
  for (int i = 1; i < argc; ++i) {
    if (!monitor_setup::IsInstallerSwitch(argv[i])) {
      std::fprintf(stderr,
                   "usage: setup.exe [/VERYSILENT] [/SILENT] [/SUPPRESSMSGBOXES] [/NORESTART]\n"
                   "Installs the first printer of the maker's port monitor \"Quorvel\" (run as "
                   "root).\n");
      return kUsage;
    }
  }
  if (!platform::IsSuperUser()) {
    return Fail("only root can install the port monitor and the printer; nothing was changed");
  }
  return InstallPrinter();
}
