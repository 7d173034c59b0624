// Where the print spooler's client library and its entry points are found.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

/// The spooler client library loaded at run time and the names of the three
/// entry points the program holds: set default, get default, add connection.
struct SpoolerLibraryNames {
  const char* library;
  const char* setDefaultPrinter;
  const char* getDefaultPrinter;
  const char* addPrinterConnection;
};

/// The names for this platform (WINSPOOL.DRV on Windows, libcups elsewhere).
SpoolerLibraryNames SpoolerLibrary();

/// The printer drivers the installation tries when the settings name none,
/// separated by "||". On POSIX the generic PostScript driver that every CUPS
/// has comes second, so the installation works on a plain machine.
const char* DefaultPrinterDrivers();

/// The level-2 lists of the spooler.
enum class SpoolerList { kPorts, kMonitors, kPrinters };

/// Where the system's spooler speaks the winspool calls itself (Windows),
/// EnumPortsA, EnumMonitorsA or EnumPrintersA (with flags) straight into the
/// caller's buffer, whose records have the layout of the platform layer's
/// own: returns true and sets *code to 0 or the system's error code, and
/// *words to the system's text for it. False where the lists are made from
/// the Spooler service's records (POSIX).
bool SystemSpoolerList(SpoolerList list, uint32_t flags, const char* name, uint32_t level,
                       unsigned char* buffer, uint32_t size, uint32_t* needed, uint32_t* returned,
                       uint32_t* code, std::string* words);

}  // namespace platform
