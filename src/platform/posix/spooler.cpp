#include "platform/spooler.h"

#include <cstdlib>

#include "platform/winspool.h"

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

// The lists come from CUPS and the registry store through the Spooler
// service's records.
bool SystemSpoolerList(SpoolerList, uint32_t, const char*, uint32_t, unsigned char*, uint32_t,
                       uint32_t*, uint32_t*, uint32_t*, std::string*) {
  return false;
}

}  // namespace platform

// No window listens for setting changes here.
uintptr_t SendMessageTimeoutA(uintptr_t, uint32_t, uintptr_t, intptr_t, uint32_t, uint32_t,
                              uintptr_t* result) {
  if (result) *result = 0;
  return 1;
}
