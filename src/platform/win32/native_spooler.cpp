// The Win32 spooler calls behind native_spooler.h. The winspool entry points
// are taken from WINSPOOL.DRV at run time, as the program loads its spooler
// library; the command interpreter is started hidden and waited for.
#include "platform/win32/native_spooler.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/win32/windows_api.h"
// after <windows.h>, whose types it uses
#include <winspool.h>

namespace platform {
namespace win32 {
namespace native_spooler {

namespace {

struct Winspool {
  decltype(&::EnumPortsA) enumPorts = nullptr;
  decltype(&::EnumMonitorsA) enumMonitors = nullptr;
  decltype(&::EnumPrintersA) enumPrinters = nullptr;
  decltype(&::OpenPrinterA) openPrinter = nullptr;
  decltype(&::ClosePrinter) closePrinter = nullptr;
  decltype(&::GetPrinterA) getPrinter = nullptr;
  decltype(&::SetPrinterA) setPrinter = nullptr;
  decltype(&::DocumentPropertiesA) documentProperties = nullptr;
  decltype(&::DeviceCapabilitiesA) deviceCapabilities = nullptr;
  decltype(&::GetDefaultPrinterA) getDefaultPrinter = nullptr;
  decltype(&::AddPortA) addPort = nullptr;
  decltype(&::AddPrinterA) addPrinter = nullptr;
  bool loaded = false;
};

template <typename T>
bool Load(HMODULE library, const char* name, T* entry) {
  *entry = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  return *entry != nullptr;
}

const Winspool& Calls() {
  static const Winspool calls = [] {
    Winspool w;
    HMODULE library = LoadLibraryA("WINSPOOL.DRV");
    w.loaded = library && Load(library, "EnumPortsA", &w.enumPorts) &&
               Load(library, "EnumMonitorsA", &w.enumMonitors) &&
               Load(library, "EnumPrintersA", &w.enumPrinters) &&
               Load(library, "OpenPrinterA", &w.openPrinter) &&
               Load(library, "ClosePrinter", &w.closePrinter) &&
               Load(library, "GetPrinterA", &w.getPrinter) &&
               Load(library, "SetPrinterA", &w.setPrinter) &&
               Load(library, "DocumentPropertiesA", &w.documentProperties) &&
               Load(library, "DeviceCapabilitiesA", &w.deviceCapabilities) &&
               Load(library, "GetDefaultPrinterA", &w.getDefaultPrinter) &&
               Load(library, "AddPortA", &w.addPort) && Load(library, "AddPrinterA", &w.addPrinter);
    return w;
  }();
  return calls;
}

std::string Text(const char* text) { return text ? text : ""; }

// The two-call size protocol of the Enum* and Get* calls: asks for the size,
// then fills a buffer of that size. fill(buffer, size, &needed) is the call.
template <typename Fill>
uint32_t Fetch(std::vector<unsigned char>* buffer, Fill fill) {
  DWORD needed = 0;
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (fill(buffer->empty() ? nullptr : buffer->data(), static_cast<DWORD>(buffer->size()),
             &needed)) {
      return 0;
    }
    DWORD code = GetLastError();
    if (code != ERROR_INSUFFICIENT_BUFFER) return code;
    buffer->assign(needed, 0);
  }
  return ERROR_INSUFFICIENT_BUFFER;
}

const uint32_t kFields = DM_PAPERSIZE | DM_ORIENTATION;

Printer RecordOf(const PRINTER_INFO_2A& info) {
  Printer p;
  p.name = Text(info.pPrinterName);
  p.port = Text(info.pPortName);
  p.driver = Text(info.pDriverName);
  p.comment = Text(info.pComment);
  p.location = Text(info.pLocation);
  if (info.pDevMode) {
    p.fields = info.pDevMode->dmFields & kFields;
    if (p.fields & DM_PAPERSIZE) p.paperSize = info.pDevMode->dmPaperSize;
    if (p.fields & DM_ORIENTATION) p.orientation = info.pDevMode->dmOrientation;
  }
  int count =
      Calls().deviceCapabilities(p.name.c_str(), p.port.c_str(), DC_PAPERS, nullptr, nullptr);
  if (count > 0) {
    std::vector<WORD> papers(static_cast<size_t>(count));
    Calls().deviceCapabilities(p.name.c_str(), p.port.c_str(), DC_PAPERS,
                               reinterpret_cast<char*>(papers.data()), nullptr);
    for (WORD paper : papers) p.paperSizes.push_back(static_cast<int16_t>(paper));
  }
  return p;
}

// An open printer handle, closed when it goes.
class OpenedPrinter {
 public:
  OpenedPrinter(const std::string& name, DWORD access) {
    PRINTER_DEFAULTSA defaults{nullptr, nullptr, access};
    std::vector<char> text(name.begin(), name.end());
    text.push_back('\0');
    if (!Calls().openPrinter(text.data(), &handle_, &defaults)) handle_ = nullptr;
  }
  ~OpenedPrinter() {
    if (handle_) Calls().closePrinter(handle_);
  }
  OpenedPrinter(const OpenedPrinter&) = delete;
  OpenedPrinter& operator=(const OpenedPrinter&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_ = nullptr;
};

uint32_t FetchPrinter(HANDLE handle, std::vector<unsigned char>* buffer) {
  return Fetch(buffer, [handle](unsigned char* data, DWORD size, DWORD* needed) {
    return Calls().getPrinter(handle, 2, data, size, needed);
  });
}

}  // namespace

bool Available() { return Calls().loaded; }

uint32_t ListPorts(std::vector<Port>* ports) {
  if (!Available()) return ERROR_MOD_NOT_FOUND;
  std::vector<unsigned char> buffer;
  DWORD count = 0;
  uint32_t rc = Fetch(&buffer, [&count](unsigned char* data, DWORD size, DWORD* needed) {
    return Calls().enumPorts(nullptr, 2, data, size, needed, &count);
  });
  if (rc) return rc;
  const auto* info = reinterpret_cast<const PORT_INFO_2A*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    ports->push_back(
        {Text(info[i].pPortName), Text(info[i].pMonitorName), Text(info[i].pDescription)});
  }
  return 0;
}

uint32_t ListMonitors(std::vector<Monitor>* monitors) {
  if (!Available()) return ERROR_MOD_NOT_FOUND;
  std::vector<unsigned char> buffer;
  DWORD count = 0;
  uint32_t rc = Fetch(&buffer, [&count](unsigned char* data, DWORD size, DWORD* needed) {
    return Calls().enumMonitors(nullptr, 2, data, size, needed, &count);
  });
  if (rc) return rc;
  const auto* info = reinterpret_cast<const MONITOR_INFO_2A*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    monitors->push_back({Text(info[i].pName), Text(info[i].pEnvironment), Text(info[i].pDLLName)});
  }
  return 0;
}

uint32_t ListPrinters(std::vector<Printer>* printers) {
  if (!Available()) return ERROR_MOD_NOT_FOUND;
  std::vector<unsigned char> buffer;
  DWORD count = 0;
  uint32_t rc = Fetch(&buffer, [&count](unsigned char* data, DWORD size, DWORD* needed) {
    return Calls().enumPrinters(PRINTER_ENUM_LOCAL, nullptr, 2, data, size, needed, &count);
  });
  if (rc) return rc;
  const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) printers->push_back(RecordOf(info[i]));
  return 0;
}

uint32_t ReadPrinter(const std::string& name, Printer* printer) {
  if (!Available()) return ERROR_MOD_NOT_FOUND;
  OpenedPrinter opened(name, PRINTER_ACCESS_USE);
  if (!opened.get()) return GetLastError();
  std::vector<unsigned char> buffer;
  if (uint32_t rc = FetchPrinter(opened.get(), &buffer)) return rc;
  *printer = RecordOf(*reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data()));
  return 0;
}

uint32_t SetPrinterDefaults(const std::string& name, uint32_t fields, int16_t paperSize,
                            int16_t orientation) {
  if (!Available()) return ERROR_MOD_NOT_FOUND;
  OpenedPrinter opened(name, PRINTER_ALL_ACCESS);
  if (!opened.get()) return GetLastError();
  std::vector<unsigned char> buffer;
  if (uint32_t rc = FetchPrinter(opened.get(), &buffer)) return rc;
  auto* info = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
  if (!info->pDevMode) return ERROR_NOT_SUPPORTED;
  DEVMODEA* mode = info->pDevMode;
  mode->dmFields = fields & kFields;
  if (fields & DM_PAPERSIZE) mode->dmPaperSize = paperSize;
  if (fields & DM_ORIENTATION) mode->dmOrientation = orientation;
  std::vector<char> device(name.begin(), name.end());
  device.push_back('\0');
  // The driver merges the fields into its full device mode and checks them.
  if (Calls().documentProperties(nullptr, opened.get(), device.data(), mode, mode,
                                 DM_IN_BUFFER | DM_OUT_BUFFER) < 0) {
    return ERROR_INVALID_PARAMETER;
  }
  info->pSecurityDescriptor = nullptr;
  if (!Calls().setPrinter(opened.get(), 2, buffer.data(), 0)) return GetLastError();
  return 0;
}

uint32_t DefaultPrinter(std::string* name) {
  if (!Available()) return ERROR_MOD_NOT_FOUND;
  DWORD size = 0;
  Calls().getDefaultPrinter(nullptr, &size);
  DWORD code = GetLastError();
  if (size == 0) return code == ERROR_INSUFFICIENT_BUFFER ? ERROR_FILE_NOT_FOUND : code;
  std::vector<char> buffer(size);
  if (!Calls().getDefaultPrinter(buffer.data(), &size)) return GetLastError();
  *name = buffer.data();
  return 0;
}

static_assert(sizeof(void*) != 8 || (sizeof(PORT_INFO_2A) == kPortRecordSize &&
                                     sizeof(MONITOR_INFO_2A) == kMonitorRecordSize &&
                                     sizeof(PRINTER_INFO_2A) == kPrinterRecordSize &&
                                     sizeof(DEVMODEA) == kDevModeSize),
              "the winspool records have the sizes the platform layer's records share");

uint32_t ListInto(SpoolerList list, uint32_t flags, const char* name, uint32_t level,
                  unsigned char* buffer, uint32_t size, uint32_t* needed, uint32_t* returned) {
  if (!Available()) return ERROR_MOD_NOT_FOUND;
  std::vector<char> server;
  if (name) server.assign(name, name + strlen(name) + 1);
  char* serverName = name ? server.data() : nullptr;
  DWORD neededSize = 0, count = 0;
  BOOL done = FALSE;
  switch (list) {
    case SpoolerList::kPorts:
      done = Calls().enumPorts(serverName, level, buffer, size, &neededSize, &count);
      break;
    case SpoolerList::kMonitors:
      done = Calls().enumMonitors(serverName, level, buffer, size, &neededSize, &count);
      break;
    case SpoolerList::kPrinters:
      done = Calls().enumPrinters(flags, serverName, level, buffer, size, &neededSize, &count);
      break;
  }
  const DWORD code = done ? 0 : GetLastError();
  if (needed) *needed = neededSize;
  if (returned) *returned = count;
  return code;
}

uint32_t AddPrinterRecord(const NewPrinter& printer) {
  if (!Available()) return ERROR_MOD_NOT_FOUND;
  if (!printer.devMode.empty() && printer.devMode.size() < sizeof(DEVMODEA)) {
    return ERROR_INVALID_PARAMETER;
  }
  // The record points into these copies, which AddPrinterA may not change
  // but whose type asks for writable texts.
  const std::string* const texts[] = {
      &printer.name,     &printer.share,     &printer.port,          &printer.driver,
      &printer.comment,  &printer.location,  &printer.separatorFile, &printer.printProcessor,
      &printer.dataType, &printer.parameters};
  std::vector<std::vector<char>> copies;
  for (const std::string* text : texts) {
    copies.emplace_back(text->begin(), text->end());
    copies.back().push_back('\0');
  }
  std::vector<unsigned char> devMode = printer.devMode;
  PRINTER_INFO_2A record{};
  record.pPrinterName = copies[0].data();
  record.pShareName = copies[1].data();
  record.pPortName = copies[2].data();
  record.pDriverName = copies[3].data();
  record.pComment = copies[4].data();
  record.pLocation = copies[5].data();
  record.pSepFile = copies[6].data();
  record.pPrintProcessor = copies[7].data();
  record.pDatatype = copies[8].data();
  record.pParameters = copies[9].data();
  record.pDevMode = devMode.empty() ? nullptr : reinterpret_cast<DEVMODEA*>(devMode.data());
  record.Attributes = printer.attributes;
  record.Priority = printer.priority;
  record.DefaultPriority = printer.defaultPriority;
  record.StartTime = printer.startTime;
  record.UntilTime = printer.untilTime;
  HANDLE added = Calls().addPrinter(nullptr, 2, reinterpret_cast<BYTE*>(&record));
  if (!added) return GetLastError();
  Calls().closePrinter(added);
  return 0;
}

uint32_t NewPort(const std::string& monitor) {
  if (!Available()) return ERROR_MOD_NOT_FOUND;
  std::vector<char> text(monitor.begin(), monitor.end());
  text.push_back('\0');
  return Calls().addPort(nullptr, nullptr, text.data()) ? 0 : GetLastError();
}

uint32_t RunCommandInterpreter(const std::string& command) {
  const char* comspec = getenv("COMSPEC");
  std::string line = std::string(comspec && *comspec ? comspec : "cmd.exe") + " /c " + command;
  std::vector<char> text(line.begin(), line.end());
  text.push_back('\0');
  STARTUPINFOA info{};
  info.cb = sizeof(info);
  info.dwFlags = STARTF_USESHOWWINDOW;
  info.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(nullptr, text.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &info, &started)) {
    return GetLastError();
  }
  WaitForSingleObject(started.hProcess, INFINITE);
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return 0;
}

uintptr_t SendMessageWithTimeout(uintptr_t window, uint32_t message, uintptr_t wParam,
                                 intptr_t lParam, uint32_t flags, uint32_t timeoutMs,
                                 uintptr_t* result) {
  DWORD_PTR answer = 0;
  LRESULT rc = SendMessageTimeoutA(reinterpret_cast<HWND>(window), message, wParam, lParam, flags,
                                   timeoutMs, &answer);
  if (result) *result = answer;
  return static_cast<uintptr_t>(rc);
}

}  // namespace native_spooler
}  // namespace win32
}  // namespace platform
