// Where the print spooler's client library and its entry points are found.
#pragma once

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

}  // namespace platform
