#include "printer/printer_defaults.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/log.h"
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

std::string ErrorCodeText(uint32_t code) {
  switch (code) {
    case ERROR_INVALID_PRINTER_NAME:
      return "no such printer";
    case ERROR_SPOOLER_ACCESS_DENIED:
      return "access denied";
    case 2:
      return "no default printer";
    default:
      return "spooler error " + std::to_string(code);
  }
}

// The printer to work on: the given name, or the default printer's when
// none is given. Only then is a default printer needed.
bool PrinterToChange(const char* given, std::string* name, std::string* error) {
  if (given && *given) {
    *name = given;
    return true;
  }
  uint32_t size = 0;
  GetDefaultPrinterA(nullptr, &size);
  std::vector<char> buffer(size + 1, '\0');
  if (size == 0 || !GetDefaultPrinterA(buffer.data(), &size)) {
    *error = ErrorCodeText(GetLastError());
    return false;
  }
  *name = buffer.data();
  return true;
}

// Changes one field of the printer's default device mode: reads the
// printer's level-2 information (and its device mode), lets `change` set
// the field, has the driver merge and validate it and writes it back.
// `change` returns false when the driver does not offer the field.
template <typename Change>
bool ChangeDefaults(const std::string& name, Change change, std::string* error) {
  PRINTER_DEFAULTSA access{nullptr, nullptr, PRINTER_ALL_ACCESS};
  HANDLE handle = nullptr;
  if (!OpenPrinterA(name.c_str(), &handle, &access) || !handle) {
    *error = ErrorCodeText(GetLastError());
    return false;
  }
  OpenPrinter printer(handle);
  SetLastError(0);
  uint32_t needed = 0;
  if (GetPrinterA(handle, 2, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
      needed == 0) {
    *error = ErrorCodeText(GetLastError());
    return false;
  }
  std::vector<unsigned char> info(needed, 0);
  if (!GetPrinterA(handle, 2, info.data(), needed, &needed)) {
    *error = ErrorCodeText(GetLastError());
    return false;
  }
  auto* printerInfo = reinterpret_cast<PRINTER_INFO_2A*>(info.data());
  std::vector<unsigned char> devModeBuffer;
  if (!printerInfo->pDevMode) {
    long size = DocumentPropertiesA(nullptr, handle, name.c_str(), nullptr, nullptr, 0);
    if (size < static_cast<long>(sizeof(DEVMODEA))) {
      *error = "the driver gives no device mode";
      return false;
    }
    devModeBuffer.assign(static_cast<size_t>(size), 0);
    auto* devMode = reinterpret_cast<DEVMODEA*>(devModeBuffer.data());
    if (DocumentPropertiesA(nullptr, handle, name.c_str(), devMode, nullptr, DM_OUT_BUFFER) != 1) {
      *error = "the driver gives no device mode";
      return false;
    }
    printerInfo->pDevMode = devMode;
  }
  if (!change(printerInfo->pDevMode)) {
    *error = "the driver offers no such setting";
    return false;
  }
  // Leaves the printer's security as it is.
  printerInfo->pSecurityDescriptor = nullptr;
  if (DocumentPropertiesA(nullptr, handle, name.c_str(), printerInfo->pDevMode,
                          printerInfo->pDevMode, DM_IN_BUFFER | DM_OUT_BUFFER) != 1) {
    *error = "the driver refused the setting";
    return false;
  }
  if (!SetPrinterA(handle, 2, info.data(), 0)) {
    *error = ErrorCodeText(GetLastError());
    return false;
  }
  SendMessageTimeoutA(HWND_BROADCAST, WM_DEVMODECHANGE, 0, reinterpret_cast<intptr_t>(name.c_str()),
                      0, 1000, nullptr);
  return true;
}

}  // namespace

int SetDefaultPaperSize(const char* printerName, int16_t paperSize) {
  std::string name, error;
  bool done = PrinterToChange(printerName, &name, &error) && ChangeDefaults(
                                                                 name,
                                                                 [paperSize](DEVMODEA* devMode) {
                                                                   devMode->dmFields = DM_PAPERSIZE;
                                                                   devMode->dmPaperSize = paperSize;
                                                                   return true;
                                                                 },
                                                                 &error);
  if (!done) {
    OutLog("[ERROR] Could not set the default paper size of \"%s\" to %d: %s.\n", name.c_str(),
           paperSize, error.c_str());
  }
  return done ? 1 : 0;
}

int SetDefaultOrientation(const char* printerName, int16_t orientation) {
  std::string name, error;
  int previous = 0;
  bool done = PrinterToChange(printerName, &name, &error) &&
              ChangeDefaults(
                  name,
                  [orientation, &previous](DEVMODEA* devMode) {
                    if (!(devMode->dmFields & DM_ORIENTATION)) return false;
                    devMode->dmFields = DM_ORIENTATION;
                    previous = devMode->dmOrientation;
                    devMode->dmOrientation = orientation;
                    return true;
                  },
                  &error);
  if (!done) {
    OutLog("[ERROR] Could not set the default orientation of \"%s\" to %d: %s.\n", name.c_str(),
           orientation, error.c_str());
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
