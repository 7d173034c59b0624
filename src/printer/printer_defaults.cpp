#include "printer/printer_defaults.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/log.h"
#include "config/status.h"
#include "platform/platform.h"
#include "platform/spooler.h"
#include "platform/winspool.h"

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

namespace {

// An open printer, closed on every path.
struct PrinterCloser {
  void operator()(void* printer) const { ClosePrinter(printer); }
};
using OpenPrinter = std::unique_ptr<void, PrinterCloser>;

// The last spooler call's failure with what: "what: code text: words".
Status SpoolerFailure(const std::string& what) {
  return Status::Failure(what + ": " + platform::LastSpoolerErrorText());
}

// The printer to work on: the given name, or the default printer's when
// none is given. Only then is a default printer needed.
Status PrinterToChange(const char* given, std::string* name) {
  if (given && *given) {
    *name = given;
    return Status();
  }
  uint32_t size = 0;
  GetDefaultPrinterA(nullptr, &size);
  std::vector<char> buffer(size + 1, '\0');
  if (size == 0 || !GetDefaultPrinterA(buffer.data(), &size)) {
    return SpoolerFailure("no default printer");
  }
  *name = buffer.data();
  return Status();
}

// Changes one field of the printer's default device mode: reads the
// printer's level-2 information (and its device mode), lets `change` set
// the field, has the driver merge and validate it, lets `taken` check that
// the driver kept the value, and writes it back. `change` and `taken` give
// the reason when the driver does not offer the field or dropped the value.
template <typename Change, typename Taken>
Status ChangeDefaults(const std::string& name, Change change, Taken taken) {
  PRINTER_DEFAULTSA access{nullptr, nullptr, PRINTER_ALL_ACCESS};
  HANDLE handle = nullptr;
  if (!OpenPrinterA(name.c_str(), &handle, &access) || !handle) {
    return SpoolerFailure("cannot open the printer");
  }
  OpenPrinter printer(handle);
  SetLastError(0);
  uint32_t needed = 0;
  if (GetPrinterA(handle, 2, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
      needed == 0) {
    return SpoolerFailure("cannot read the printer's information");
  }
  std::vector<unsigned char> info(needed, 0);
  if (!GetPrinterA(handle, 2, info.data(), needed, &needed)) {
    return SpoolerFailure("cannot read the printer's information");
  }
  auto* printerInfo = reinterpret_cast<PRINTER_INFO_2A*>(info.data());
  std::vector<unsigned char> devModeBuffer;
  if (!printerInfo->pDevMode) {
    long size = DocumentPropertiesA(nullptr, handle, name.c_str(), nullptr, nullptr, 0);
    if (size < static_cast<long>(sizeof(DEVMODEA))) {
      return SpoolerFailure("the driver gives no device mode");
    }
    devModeBuffer.assign(static_cast<size_t>(size), 0);
    auto* devMode = reinterpret_cast<DEVMODEA*>(devModeBuffer.data());
    if (DocumentPropertiesA(nullptr, handle, name.c_str(), devMode, nullptr, DM_OUT_BUFFER) != 1) {
      return SpoolerFailure("the driver gives no device mode");
    }
    printerInfo->pDevMode = devMode;
  }
  Status changed = change(printerInfo->pDevMode);
  if (!changed) return changed;
  // Leaves the printer's security as it is.
  printerInfo->pSecurityDescriptor = nullptr;
  if (DocumentPropertiesA(nullptr, handle, name.c_str(), printerInfo->pDevMode,
                          printerInfo->pDevMode, DM_IN_BUFFER | DM_OUT_BUFFER) != 1) {
    return SpoolerFailure("the driver refused the setting");
  }
  // A driver ignores a field it does not offer: nothing would change.
  Status kept = taken(*printerInfo->pDevMode);
  if (!kept) return kept;
  if (!SetPrinterA(handle, 2, info.data(), 0)) {
    return SpoolerFailure("the spooler did not store the setting");
  }
  SendMessageTimeoutA(HWND_BROADCAST, WM_DEVMODECHANGE, 0, reinterpret_cast<intptr_t>(name.c_str()),
                      0, 1000, nullptr);
  return Status();
}

}  // namespace

int SetDefaultPaperSize(const char* printerName, int16_t paperSize) {
  std::string name;
  Status done = PrinterToChange(printerName, &name);
  if (done) {
    done = ChangeDefaults(
        name,
        [paperSize](DEVMODEA* devMode) {
          devMode->dmFields = DM_PAPERSIZE;
          devMode->dmPaperSize = paperSize;
          return Status();
        },
        [&name, paperSize](const DEVMODEA& merged) {
          if ((merged.dmFields & DM_PAPERSIZE) && merged.dmPaperSize == paperSize) return Status();
          return Status::Failure(platform::PaperSizeRefusal(name, paperSize));
        });
  }
  if (!done) {
    OutLog("[ERROR] Could not set the default paper size of \"%s\" to %d: %s.\n", name.c_str(),
           paperSize, done.reason().c_str());
  }
  return done ? 1 : 0;
}

int SetDefaultOrientation(const char* printerName, int16_t orientation) {
  std::string name;
  int previous = 0;
  Status done = PrinterToChange(printerName, &name);
  if (done) {
    done = ChangeDefaults(
        name,
        [orientation, &previous](DEVMODEA* devMode) {
          if (!(devMode->dmFields & DM_ORIENTATION)) {
            return Status::Failure("the driver offers no orientation");
          }
          devMode->dmFields = DM_ORIENTATION;
          previous = devMode->dmOrientation;
          devMode->dmOrientation = orientation;
          return Status();
        },
        [orientation](const DEVMODEA& merged) {
          if ((merged.dmFields & DM_ORIENTATION) && merged.dmOrientation == orientation) {
            return Status();
          }
          return Status::Failure("the driver did not keep orientation " +
                                 std::to_string(orientation));
        });
  }
  if (!done) {
    OutLog("[ERROR] Could not set the default orientation of \"%s\" to %d: %s.\n", name.c_str(),
           orientation, done.reason().c_str());
    return 0;
  }
  return previous;
}

int PrinterExists(const char* printerName) {
  PRINTER_DEFAULTSA access{nullptr, nullptr, PRINTER_ACCESS_USE};
  HANDLE handle = nullptr;
  if (!OpenPrinterA(printerName, &handle, &access)) return 0;
  if (handle) ClosePrinter(handle);
  return 1;
}
