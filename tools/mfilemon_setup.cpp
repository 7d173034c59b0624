// mfilemon-setup.exe: installs the Multi File Port Monitor, on Linux the
// CUPS backend mfilemon from this program's folder (see monitor_setup.h).
//
//   mfilemon-setup.exe [/VERYSILENT] [/SILENT] [/SUPPRESSMSGBOXES] [/NORESTART]
//
// The switches of the Windows installer are accepted; none changes anything,
// since this program never opens a window. Messages go to standard output.
// Exit codes: 0 installed (or already installed), 1 not run as root (nothing
// is changed) or a step failed, 2 an unknown argument.

#include <cstdio>
#include <string>

#include "monitor_setup.h"
#include "platform/accounts.h"

namespace {

const int kInstalled = 0;
const int kFailed = 1;
const int kUsage = 2;

void PrintUsage() {
  std::printf(
      "usage: mfilemon-setup.exe [/VERYSILENT] [/SILENT] [/SUPPRESSMSGBOXES] [/NORESTART]\n"
      "Installs the Multi File Port Monitor (run as root): the CUPS backend mfilemon and\n"
      "the monitor's registry key.\n");
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (!monitor_setup::IsInstallerSwitch(argv[i])) {
      PrintUsage();
      return kUsage;
    }
  }
  if (!platform::IsSuperUser()) {
    std::printf(
        "mfilemon-setup.exe: only root can install the port monitor (CUPS runs it as root only "
        "when root owns it); nothing was changed.\n");
    return kFailed;
  }
  std::string report;
  bool ok = monitor_setup::InstallBackend("mfilemon", &report) &&
            monitor_setup::RegisterMonitor("Multi File Port Monitor", "mfilemon.dll", &report);
  std::fputs(report.c_str(), stdout);
  std::fflush(stdout);
  return ok ? kInstalled : kFailed;
}
