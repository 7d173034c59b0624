// The file port monitor that hands every print job to this program: its
// installation and the registry values of the monitor and its port.
#pragma once

/// 1 when the spooler lists a monitor of that name (letter case ignored).
int GetAllMonitors(const char* monitorName);

/// Installs the Multi File Port Monitor with mfilemon-setup.exe beside the
/// program, unless a monitor of that name is there. 1 when it is present
/// afterwards, else 0.
int InstallMonitor(const char* monitorName);

/// Writes the monitor's values and those of its port (file pattern, output
/// folder, the command run for every job). 1 when both keys were written,
/// else 0 (and a message that administrator rights are needed).
int ConfigureMonitorPort(const char* monitorName, const char* portName);

/// Writes the command and arguments of a port of the maker's own monitor.
/// Returns 0, or the registry's error code when the port's key cannot be
/// opened (nothing is written then) or a value cannot be written; each
/// failure is logged with its reason.
long SetPortCommand(const char* portName);

/// The key of the monitors in the local machine's hive.
extern const char kMonitorsKey[];
