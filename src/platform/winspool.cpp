// The winspool-shaped calls over the Spooler service in force: the Windows
// buffer layout, size protocol, handles and error codes, in plain C++ that
// is the same on every platform.
#include "platform/winspool.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <set>

#include "platform/spooler.h"

namespace {

using platform::SpoolerMonitor;
using platform::SpoolerPort;
using platform::SpoolerPrinter;

thread_local uint32_t t_lastError = 0;
// Why the last call failed, in words ("" when only the code is known).
thread_local std::string t_lastWords;
std::atomic<platform::Spooler*> g_testSpooler{nullptr};

constexpr size_t kAlignment = 8;
constexpr uint32_t kDefaultFields = DM_PAPERSIZE | DM_ORIENTATION;
// The end of the last field the calls read from a caller's device mode.
constexpr size_t kReadFieldsEnd = offsetof(DEVMODEA, dmPaperSize) + sizeof(int16_t);

BOOL Fail(uint32_t code, const std::string& words = std::string()) {
  t_lastError = code;
  t_lastWords = words;
  return 0;
}

// A failure the spooler service answered, with its own words.
BOOL FailService(uint32_t code) { return Fail(code, platform::CurrentSpooler().LastErrorText()); }

HANDLE FailHandle(uint32_t code, const std::string& words = std::string()) {
  Fail(code, words);
  return nullptr;
}

long FailDocument(uint32_t code, const std::string& words = std::string()) {
  Fail(code, words);
  return -1;
}

size_t AlignUp(size_t offset) { return (offset + kAlignment - 1) / kAlignment * kAlignment; }

bool IsLocalServer(const char* name) { return !name || !*name; }

// One pass over the caller's buffer from a start offset: with no base it only
// counts, so the same fill code measures the buffer and then writes it.
class Layout {
 public:
  Layout(unsigned char* base, size_t start) : base_(base), used_(start) {}

  char* Text(const std::string& text) {
    char* at = nullptr;
    if (base_) {
      at = reinterpret_cast<char*>(base_ + used_);
      std::memcpy(at, text.c_str(), text.size() + 1);
    }
    used_ += text.size() + 1;
    return at;
  }

  DEVMODEA* DevMode(const DEVMODEA& mode) {
    used_ = AlignUp(used_);
    DEVMODEA* at = nullptr;
    if (base_) at = new (base_ + used_) DEVMODEA(mode);
    used_ += sizeof(DEVMODEA);
    return at;
  }

  size_t used() const { return used_; }

 private:
  unsigned char* base_;
  size_t used_;
};

// The two-call protocol for `items.size()` records of type Record, filled by
// fill(item, record, layout). Records are constructed in place, so the
// buffer holds live objects of their type.
template <typename Record, typename Item, typename Fill>
BOOL PackRecords(const std::vector<Item>& items, unsigned char* buffer, uint32_t size,
                 uint32_t* needed, uint32_t* returned, Fill fill) {
  const size_t recordsEnd = items.size() * sizeof(Record);
  Layout measure(nullptr, recordsEnd);
  for (const Item& item : items) {
    Record scratch{};
    fill(item, &scratch, &measure);
  }
  const size_t total = measure.used();
  if (returned) *returned = 0;
  if (total > UINT32_MAX) {
    *needed = UINT32_MAX;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  *needed = static_cast<uint32_t>(total);
  if (size < total || (total > 0 && !buffer)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (reinterpret_cast<uintptr_t>(buffer) % kAlignment != 0) {
    return Fail(ERROR_SPOOLER_INVALID_PARAMETER);
  }
  Layout write(buffer, recordsEnd);
  for (size_t i = 0; i < items.size(); ++i) {
    Record* record = new (buffer + i * sizeof(Record)) Record{};
    fill(items[i], record, &write);
  }
  if (returned) *returned = static_cast<uint32_t>(items.size());
  return 1;
}

// The system's own list call, when no test spooler is in force and the
// system's spooler makes the list itself: true with the call's result.
bool ListedBySystem(platform::SpoolerList list, uint32_t flags, const char* name, uint32_t level,
                    unsigned char* buffer, uint32_t size, uint32_t* needed, uint32_t* returned,
                    BOOL* result) {
  if (g_testSpooler.load()) return false;
  uint32_t code = 0;
  std::string words;
  if (!platform::SystemSpoolerList(list, flags, name, level, buffer, size, needed, returned, &code,
                                   &words)) {
    return false;
  }
  *result = code ? Fail(code, words) : 1;
  return true;
}

// The arguments every Enum call checks before it asks the spooler.
uint32_t CheckEnumArguments(const char* name, uint32_t level, uint32_t* needed,
                            uint32_t* returned) {
  if (!needed || !returned) return ERROR_SPOOLER_INVALID_PARAMETER;
  if (level != 2) return ERROR_SPOOLER_INVALID_LEVEL;
  if (!IsLocalServer(name)) return ERROR_NOT_SUPPORTED;
  return 0;
}

// Cut to 31 bytes, backing off so that no UTF-8 character is split.
void CopyDeviceName(const std::string& name, char (&out)[32]) {
  size_t length = std::min<size_t>(name.size(), sizeof(out) - 1);
  if (length < name.size()) {
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
  }
  std::memset(out, 0, sizeof(out));
  std::memcpy(out, name.data(), length);
}

DEVMODEA DevModeOf(const SpoolerPrinter& printer) {
  DEVMODEA mode;
  std::memset(&mode, 0, sizeof(mode));
  CopyDeviceName(printer.name, mode.dmDeviceName);
  mode.dmSpecVersion = DM_SPECVERSION;
  mode.dmSize = sizeof(DEVMODEA);
  mode.dmDriverExtra = 0;
  mode.dmFields = printer.fields & kDefaultFields;
  if (mode.dmFields & DM_PAPERSIZE) mode.dmPaperSize = printer.paperSize;
  if (mode.dmFields & DM_ORIENTATION) mode.dmOrientation = printer.orientation;
  return mode;
}

// Copies the fields input names and the printer offers over mode; returns
// 0 or ERROR_SPOOLER_INVALID_PARAMETER for a value the printer cannot take,
// with the reason in *why.
uint32_t MergeDevMode(const SpoolerPrinter& printer, const DEVMODEA& input, DEVMODEA* mode,
                      uint32_t* merged, std::string* why) {
  if (input.dmSize < kReadFieldsEnd) {
    *why = "the device mode's size " + std::to_string(input.dmSize) + " is too small";
    return ERROR_SPOOLER_INVALID_PARAMETER;
  }
  const uint32_t fields = input.dmFields & printer.fields & kDefaultFields;
  if (fields & DM_PAPERSIZE) {
    const auto& sizes = printer.paperSizes;
    if (std::find(sizes.begin(), sizes.end(), input.dmPaperSize) == sizes.end()) {
      *why = platform::CurrentSpooler().PaperSizeRefusal(printer, input.dmPaperSize);
      return ERROR_SPOOLER_INVALID_PARAMETER;
    }
    mode->dmPaperSize = input.dmPaperSize;
  }
  if (fields & DM_ORIENTATION) {
    if (input.dmOrientation != DMORIENT_PORTRAIT && input.dmOrientation != DMORIENT_LANDSCAPE) {
      *why = "orientation " + std::to_string(input.dmOrientation) +
             " is neither portrait (1) nor landscape (2)";
      return ERROR_SPOOLER_INVALID_PARAMETER;
    }
    mode->dmOrientation = input.dmOrientation;
  }
  if (merged) *merged = fields;
  return 0;
}

void FillPort(const SpoolerPort& port, PORT_INFO_2A* record, Layout* layout) {
  record->pPortName = layout->Text(port.name);
  record->pMonitorName = layout->Text(port.monitor);
  record->pDescription = layout->Text(port.description);
  record->fPortType = PORT_TYPE_WRITE;
  record->Reserved = 0;
}

void FillMonitor(const SpoolerMonitor& monitor, MONITOR_INFO_2A* record, Layout* layout) {
  record->pName = layout->Text(monitor.name);
  record->pEnvironment = layout->Text(monitor.environment);
  record->pDLLName = layout->Text(monitor.dll);
}

void FillPrinter(const SpoolerPrinter& printer, PRINTER_INFO_2A* record, Layout* layout) {
  record->pServerName = nullptr;
  record->pPrinterName = layout->Text(printer.name);
  record->pShareName = layout->Text("");
  record->pPortName = layout->Text(printer.port);
  record->pDriverName = layout->Text(printer.driver);
  record->pComment = layout->Text(printer.comment);
  record->pLocation = layout->Text(printer.location);
  record->pSepFile = layout->Text("");
  record->pPrintProcessor = layout->Text("");
  record->pDatatype = layout->Text("");
  record->pParameters = layout->Text("");
  record->pSecurityDescriptor = nullptr;
  record->Attributes = PRINTER_ATTRIBUTE_LOCAL;
  record->Priority = 1;
  record->DefaultPriority = 1;
  record->pDevMode = layout->DevMode(DevModeOf(printer));
}

// Live handles, so that a stale or made-up handle is refused rather than
// followed.
struct PrinterHandle {
  std::string name;
};

std::mutex& HandlesMutex() {
  static std::mutex mutex;
  return mutex;
}

std::set<PrinterHandle*>& Handles() {
  static std::set<PrinterHandle*> handles;
  return handles;
}

bool HandleName(HANDLE handle, std::string* name) {
  std::lock_guard<std::mutex> lock(HandlesMutex());
  auto it = Handles().find(static_cast<PrinterHandle*>(handle));
  if (it == Handles().end()) return false;
  *name = (*it)->name;
  return true;
}

uint32_t FindHandlePrinter(HANDLE handle, SpoolerPrinter* printer) {
  std::string name;
  if (!HandleName(handle, &name)) return ERROR_INVALID_HANDLE_VALUE;
  return platform::CurrentSpooler().FindPrinter(name, printer);
}

// A failure of FindHandlePrinter: a handle it does not know, or what the
// spooler answered.
BOOL FailFind(uint32_t code) {
  return code == ERROR_INVALID_HANDLE_VALUE ? Fail(code) : FailService(code);
}

bool Report(uint32_t code, std::string* error) {
  if (code == 0) return true;
  if (error) {
    *error = platform::SpoolerErrorText(code);
    std::string words = platform::CurrentSpooler().LastErrorText();
    if (!words.empty()) *error += ": " + words;
  }
  return false;
}

}  // namespace

uint32_t GetLastError() { return t_lastError; }

void SetLastError(uint32_t error) { t_lastError = error; }

BOOL EnumPortsA(const char* name, uint32_t level, unsigned char* buffer, uint32_t size,
                uint32_t* needed, uint32_t* returned) {
  if (uint32_t code = CheckEnumArguments(name, level, needed, returned)) return Fail(code);
  BOOL listed = 0;
  if (ListedBySystem(platform::SpoolerList::kPorts, 0, name, level, buffer, size, needed, returned,
                     &listed)) {
    return listed;
  }
  std::vector<SpoolerPort> ports;
  if (uint32_t code = platform::CurrentSpooler().Ports(&ports)) return FailService(code);
  return PackRecords<PORT_INFO_2A>(ports, buffer, size, needed, returned, FillPort);
}

BOOL EnumMonitorsA(const char* name, uint32_t level, unsigned char* buffer, uint32_t size,
                   uint32_t* needed, uint32_t* returned) {
  if (uint32_t code = CheckEnumArguments(name, level, needed, returned)) return Fail(code);
  BOOL listed = 0;
  if (ListedBySystem(platform::SpoolerList::kMonitors, 0, name, level, buffer, size, needed,
                     returned, &listed)) {
    return listed;
  }
  std::vector<SpoolerMonitor> monitors;
  if (uint32_t code = platform::CurrentSpooler().Monitors(&monitors)) return FailService(code);
  return PackRecords<MONITOR_INFO_2A>(monitors, buffer, size, needed, returned, FillMonitor);
}

BOOL EnumPrintersA(uint32_t flags, const char* name, uint32_t level, unsigned char* buffer,
                   uint32_t size, uint32_t* needed, uint32_t* returned) {
  if (uint32_t code = CheckEnumArguments(name, level, needed, returned)) return Fail(code);
  BOOL listed = 0;
  if (ListedBySystem(platform::SpoolerList::kPrinters, flags, name, level, buffer, size, needed,
                     returned, &listed)) {
    return listed;
  }
  std::vector<SpoolerPrinter> printers;
  if (flags & PRINTER_ENUM_LOCAL) {
    if (uint32_t code = platform::CurrentSpooler().Printers(&printers)) return FailService(code);
  }
  return PackRecords<PRINTER_INFO_2A>(printers, buffer, size, needed, returned, FillPrinter);
}

BOOL OpenPrinterA(const char* printerName, HANDLE* printer, PRINTER_DEFAULTSA*) {
  if (!printer) return Fail(ERROR_SPOOLER_INVALID_PARAMETER);
  *printer = nullptr;
  if (!printerName) return Fail(ERROR_INVALID_PRINTER_NAME);
  SpoolerPrinter found;
  if (uint32_t code = platform::CurrentSpooler().FindPrinter(printerName, &found)) {
    return FailService(code);
  }
  auto* handle = new PrinterHandle{found.name};
  {
    std::lock_guard<std::mutex> lock(HandlesMutex());
    Handles().insert(handle);
  }
  *printer = handle;
  return 1;
}

BOOL ClosePrinter(HANDLE printer) {
  auto* handle = static_cast<PrinterHandle*>(printer);
  {
    std::lock_guard<std::mutex> lock(HandlesMutex());
    if (Handles().erase(handle) == 0) return Fail(ERROR_INVALID_HANDLE_VALUE);
  }
  delete handle;
  return 1;
}

BOOL GetPrinterA(HANDLE printer, uint32_t level, unsigned char* buffer, uint32_t size,
                 uint32_t* needed) {
  if (!needed) return Fail(ERROR_SPOOLER_INVALID_PARAMETER);
  if (level != 2) return Fail(ERROR_SPOOLER_INVALID_LEVEL);
  SpoolerPrinter found;
  if (uint32_t code = FindHandlePrinter(printer, &found)) return FailFind(code);
  return PackRecords<PRINTER_INFO_2A>(std::vector<SpoolerPrinter>{found}, buffer, size, needed,
                                      nullptr, FillPrinter);
}

BOOL SetPrinterA(HANDLE printer, uint32_t level, unsigned char* info, uint32_t command) {
  SpoolerPrinter found;
  if (uint32_t code = FindHandlePrinter(printer, &found)) return FailFind(code);
  if (level != 2) return Fail(ERROR_SPOOLER_INVALID_LEVEL);
  if (command != 0) return Fail(ERROR_NOT_SUPPORTED);
  if (!info) return Fail(ERROR_SPOOLER_INVALID_PARAMETER);
  const DEVMODEA* input = reinterpret_cast<const PRINTER_INFO_2A*>(info)->pDevMode;
  if (!input) return 1;
  DEVMODEA mode = DevModeOf(found);
  uint32_t fields = 0;
  std::string why;
  if (uint32_t code = MergeDevMode(found, *input, &mode, &fields, &why)) return Fail(code, why);
  if (fields == 0) return 1;
  if (uint32_t code = platform::CurrentSpooler().SetPrinterDefaults(
          found.name, fields, mode.dmPaperSize, mode.dmOrientation)) {
    return FailService(code);
  }
  return 1;
}

long DocumentPropertiesA(HANDLE, HANDLE printer, const char* deviceName, DEVMODEA* output,
                         const DEVMODEA* input, uint32_t mode) {
  SpoolerPrinter found;
  uint32_t code = 0;
  if (printer) {
    code = FindHandlePrinter(printer, &found);
  } else if (deviceName) {
    code = platform::CurrentSpooler().FindPrinter(deviceName, &found);
  } else {
    return FailDocument(ERROR_INVALID_PRINTER_NAME);
  }
  if (code) {
    FailFind(code);
    return -1;
  }
  if (mode == 0) return static_cast<long>(sizeof(DEVMODEA));
  DEVMODEA result = DevModeOf(found);
  if (mode & DM_IN_BUFFER) {
    if (!input) return FailDocument(ERROR_SPOOLER_INVALID_PARAMETER);
    std::string why;
    if ((code = MergeDevMode(found, *input, &result, nullptr, &why))) {
      return FailDocument(code, why);
    }
  }
  if (mode & DM_OUT_BUFFER) {
    if (!output) return FailDocument(ERROR_SPOOLER_INVALID_PARAMETER);
    std::memcpy(output, &result, sizeof(result));
  }
  return 1;
}

BOOL GetDefaultPrinterA(char* buffer, uint32_t* size) {
  if (!size) return Fail(ERROR_SPOOLER_INVALID_PARAMETER);
  std::string name;
  if (uint32_t code = platform::CurrentSpooler().DefaultPrinter(&name)) return FailService(code);
  const uint32_t length = static_cast<uint32_t>(name.size() + 1);
  if (!buffer || *size < length) {
    *size = length;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, name.c_str(), length);
  *size = length;
  return 1;
}

BOOL AddPortA(const char* serverName, uintptr_t window, const char* monitorName) {
  if (!IsLocalServer(serverName) || window != 0) return Fail(ERROR_NOT_SUPPORTED);
  if (!monitorName) return Fail(ERROR_UNKNOWN_PRINT_MONITOR);
  std::string port;
  if (uint32_t code = platform::CurrentSpooler().AddPort(monitorName, &port)) {
    return FailService(code);
  }
  return 1;
}

HANDLE AddPrinterA(const char* serverName, uint32_t level, unsigned char* printer) {
  if (level != 2) return FailHandle(ERROR_SPOOLER_INVALID_LEVEL);
  if (!printer) return FailHandle(ERROR_SPOOLER_INVALID_PARAMETER);
  if (!IsLocalServer(serverName)) return FailHandle(ERROR_NOT_SUPPORTED);
  const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(printer);
  if (!info->pPrinterName) return FailHandle(ERROR_INVALID_PRINTER_NAME);
  if (!info->pPortName) return FailHandle(ERROR_UNKNOWN_PORT);
  if (!info->pDriverName) return FailHandle(ERROR_UNKNOWN_PRINTER_DRIVER);
  if (uint32_t code = platform::CurrentSpooler().AddPrinter(*info)) {
    FailService(code);
    return nullptr;
  }
  HANDLE handle = nullptr;
  if (!OpenPrinterA(info->pPrinterName, &handle, nullptr)) return nullptr;
  return handle;
}

namespace platform {

uint32_t Spooler::AddPrinter(const PRINTER_INFO_2A& record) {
  if (uint32_t code = InstallPrinter(record.pPrinterName, record.pPortName, record.pDriverName)) {
    return code;
  }
  SpoolerPrinter added;
  if (uint32_t code = FindPrinter(record.pPrinterName, &added)) return code;
  DEVMODEA mode = DevModeOf(added);
  uint32_t fields = 0;
  std::string ignored;
  if (record.pDevMode && MergeDevMode(added, *record.pDevMode, &mode, &fields, &ignored) == 0 &&
      fields) {
    SetPrinterDefaults(added.name, fields, mode.dmPaperSize, mode.dmOrientation);
  }
  return 0;
}

bool RestartSpoolerService(std::string* error) {
  return Report(CurrentSpooler().RestartService(), error);
}

bool DeletePrinterByName(const std::string& printerName, std::string* error) {
  return Report(CurrentSpooler().DeletePrinter(printerName), error);
}

bool InstallPrinterWithDriver(const std::string& printerName, const std::string& portName,
                              const std::string& driverName, std::string* error) {
  return Report(CurrentSpooler().InstallPrinter(printerName, portName, driverName), error);
}

std::string LastSpoolerErrorText() {
  std::string text = SpoolerErrorText(t_lastError);
  if (!t_lastWords.empty()) text += ": " + t_lastWords;
  return text;
}

std::string PaperSizeRefusal(const std::string& printerName, int16_t paperSize) {
  SpoolerPrinter printer;
  if (CurrentSpooler().FindPrinter(printerName, &printer) != 0) {
    printer.name = printerName;
  }
  return CurrentSpooler().PaperSizeRefusal(printer, paperSize);
}

std::string SpoolerErrorText(uint32_t code) {
  const char* text = nullptr;
  switch (code) {
    case 0:
      text = "done";
      break;
    case ERROR_SPOOLER_FILE_NOT_FOUND:
      text = "not found";
      break;
    case ERROR_SPOOLER_ACCESS_DENIED:
      text = "access denied";
      break;
    case ERROR_INVALID_HANDLE_VALUE:
      text = "the handle is invalid";
      break;
    case ERROR_NOT_SUPPORTED:
      text = "the request is not supported";
      break;
    case ERROR_SPOOLER_INVALID_PARAMETER:
      text = "a parameter is incorrect";
      break;
    case ERROR_INSUFFICIENT_BUFFER:
      text = "the buffer is too small";
      break;
    case ERROR_SPOOLER_INVALID_LEVEL:
      text = "the level is invalid";
      break;
    case RPC_S_SERVER_UNAVAILABLE:
      text = "the print spooler is not available";
      break;
    case ERROR_UNKNOWN_PORT:
      text = "the port is unknown";
      break;
    case ERROR_UNKNOWN_PRINTER_DRIVER:
      text = "the printer driver is unknown";
      break;
    case ERROR_INVALID_PRINTER_NAME:
      text = "the printer name is invalid";
      break;
    case ERROR_PRINTER_ALREADY_EXISTS:
      text = "the printer already exists";
      break;
    case ERROR_UNKNOWN_PRINT_MONITOR:
      text = "the port monitor is unknown";
      break;
    default:
      text = "error";
      break;
  }
  return std::string(text) + " (" + std::to_string(code) + ")";
}

Spooler& CurrentSpooler() {
  Spooler* test = g_testSpooler.load();
  return test ? *test : SystemSpooler();
}

void SetSpoolerForTesting(Spooler* spooler) { g_testSpooler.store(spooler); }

}  // namespace platform
