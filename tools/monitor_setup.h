// Installing a port monitor on Linux, shared by the setup programs: the
// monitor is a CUPS backend from the program's folder, installed into CUPS's
// backend folder owned by root with mode 0700 (so CUPS starts it as root
// and it can become the account a job runs as), and the monitor's registry
// key with its Driver value, so the spooler layer lists the monitor.
#pragma once

#include <string>

namespace monitor_setup {

/// The switches of the Windows installers; accepted and without effect, as
/// nothing here opens a window.
bool IsInstallerSwitch(const char* argument);

/// Copies the backend of that name from the program's folder into CUPS's
/// backend folder (below CUPS_SERVERBIN when set, else /usr/lib/cups).
/// Messages go to *report, each line ending in a line break.
bool InstallBackend(const std::string& backend, std::string* report);

/// Creates the monitor's key under HKLM
/// "SYSTEM\CurrentControlSet\Control\Print\Monitors" with its Driver value
/// unless it has that value already.
bool RegisterMonitor(const std::string& monitor, const std::string& driver, std::string* report);

}  // namespace monitor_setup
