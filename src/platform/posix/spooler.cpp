#include "platform/spooler.h"

#include <cstdlib>

namespace platform {

SpoolerLibraryNames SpoolerLibrary() {
  // TARVELIN_SPOOLER_LIBRARY names another client library (tests use it to
  // see how a run behaves without one).
  const char* override = getenv("TARVELIN_SPOOLER_LIBRARY");
  return SpoolerLibraryNames{override && *override ? override : "libcups.so.2",
                             "cupsSetDefaultDest", "cupsGetDefault", "cupsAddDest"};
}

const char* DefaultPrinterDrivers() {
  return "HP Color LaserJet 2800 Series PS||Generic PostScript Printer";
}

}  // namespace platform
