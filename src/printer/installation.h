// Installing the virtual printer: its port monitor, the monitor's and the
// port's settings, and the printer itself with the first driver that works.
#pragma once

#include <string>
#include <vector>

struct CommandOptions;

/// Installs the virtual printer (-install-quorvel-printer and
/// -install-ostalgrove-printer). Empty printer, port and monitor names are
/// filled from the settings. Returns 1 when the printer exists afterwards.
int InstallVirtualPrinter(CommandOptions* options);

/// Installs the printer on the port with the drivers of setting
/// PrinterDrivers in turn (each logged) until one yields the printer.
/// Returns true with the first that does.
bool InstallWithFirstWorkingDriver(const char* printer, const char* port);

/// -install-nexo-printer: runs setup.exe beside the program, or with
/// -addprinter installs the first printer or adds a further one, then
/// writes the printer's output settings under the current user's key
/// "Software\quorvel\lumaset[\Quorvel<n>]" and its default paper size.
/// Returns 1 when that key was opened, else 0.
int InstallOrAddPrinter(CommandOptions* options);

/// Runs setup.exe beside the program and returns non-zero when the printer
/// named by key PrinterName of section installation of config.ini (read
/// before setup.exe runs) exists afterwards.
int InstallFirstPrinter();

/// Appends the pieces of text between the delimiters to list; a delimiter
/// at the very end gives no empty last piece, an empty text one empty piece.
void SplitString(const std::string& text, const std::string& delimiter,
                 std::vector<std::string>& list);
