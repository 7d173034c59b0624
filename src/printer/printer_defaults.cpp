#include "printer/printer_defaults.h"

#include "platform/platform.h"
#include "platform/spooler.h"

namespace {

struct SpoolerEntryPoints {
  void* library = nullptr;
  void* setDefaultPrinter = nullptr;
  void* getDefaultPrinter = nullptr;
  void* addPrinterConnection = nullptr;
};

SpoolerEntryPoints g_spooler;

}  // namespace

int LoadSpoolerEntryPoints() {
  platform::SpoolerLibraryNames names = platform::SpoolerLibrary();
  g_spooler.library = platform::LoadSharedLibrary(names.library);
  if (!g_spooler.library) return 0;
  g_spooler.setDefaultPrinter =
      platform::FindLibrarySymbol(g_spooler.library, names.setDefaultPrinter);
  if (g_spooler.setDefaultPrinter) {
    g_spooler.getDefaultPrinter =
        platform::FindLibrarySymbol(g_spooler.library, names.getDefaultPrinter);
  }
  if (g_spooler.getDefaultPrinter) {
    g_spooler.addPrinterConnection =
        platform::FindLibrarySymbol(g_spooler.library, names.addPrinterConnection);
  }
  if (!g_spooler.addPrinterConnection) {
    UnloadSpoolerEntryPoints();
    return 0;
  }
  return 1;
}

void UnloadSpoolerEntryPoints() {
  platform::FreeSharedLibrary(g_spooler.library);
  g_spooler = SpoolerEntryPoints();
}

void* GetDefaultPrinterEntryPoint() { return g_spooler.getDefaultPrinter; }
