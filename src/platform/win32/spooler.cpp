// The Windows print spooler behind the Spooler service: queries, defaults
// and added printers through winspool, the rest of the installation through
// the command interpreter with the program's own command lines. Every
// failure keeps the system's own words for LastErrorText.
#include "platform/spooler.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/native_spooler.h"
#include "platform/winspool.h"

namespace native = platform::win32::native_spooler;

namespace platform {

SpoolerLibraryNames SpoolerLibrary() {
  return SpoolerLibraryNames{"WINSPOOL.DRV", "SetDefaultPrinterA", "GetDefaultPrinterA",
                             "AddPrinterConnectionA"};
}

const char* DefaultPrinterDrivers() { return "HP Color LaserJet 2800 Series PS"; }

static_assert(sizeof(void*) != 8 || (sizeof(PORT_INFO_2A) == native::kPortRecordSize &&
                                     sizeof(MONITOR_INFO_2A) == native::kMonitorRecordSize &&
                                     sizeof(PRINTER_INFO_2A) == native::kPrinterRecordSize &&
                                     sizeof(DEVMODEA) == native::kDevModeSize),
              "the platform layer's records have the winspool records' sizes");

bool SystemSpoolerList(SpoolerList list, uint32_t flags, const char* name, uint32_t level,
                       unsigned char* buffer, uint32_t size, uint32_t* needed, uint32_t* returned,
                       uint32_t* code, std::string* words) {
  *code = native::ListInto(list, flags, name, level, buffer, size, needed, returned);
  *words = *code ? ErrorText(static_cast<int>(*code)) : std::string();
  return true;
}

namespace {

SpoolerPrinter RecordOf(const native::Printer& p) {
  SpoolerPrinter printer;
  printer.name = p.name;
  printer.queue = p.name;
  printer.port = p.port;
  printer.driver = p.driver;
  printer.comment = p.comment;
  printer.location = p.location;
  printer.paperSize = p.paperSize;
  printer.orientation = p.orientation;
  printer.fields = p.fields;
  printer.paperSizes = p.paperSizes;
  return printer;
}

std::string Text(const char* text) { return text ? text : ""; }

// The system's words for this thread's last failed call, for LastErrorText.
thread_local std::string t_lastWords;

// A call's result, remembering the system's words when it failed.
uint32_t Answer(uint32_t code) {
  t_lastWords = code ? ErrorText(static_cast<int>(code)) : std::string();
  return code;
}

// A name inside double quotes on a command-interpreter line: a quote would
// end the quoting and a percent sign start a variable.
bool FitsCommandLine(const std::string& text) {
  return text.find_first_of("\"%") == std::string::npos;
}

class WindowsSpooler : public Spooler {
 public:
  uint32_t Ports(std::vector<SpoolerPort>* ports) override {
    std::vector<native::Port> found;
    if (uint32_t rc = native::ListPorts(&found)) return Answer(rc);
    for (const auto& p : found) ports->push_back({p.name, p.monitor, p.description});
    return Answer(0);
  }

  uint32_t Monitors(std::vector<SpoolerMonitor>* monitors) override {
    std::vector<native::Monitor> found;
    if (uint32_t rc = native::ListMonitors(&found)) return Answer(rc);
    for (const auto& m : found) monitors->push_back({m.name, m.environment, m.dll});
    return Answer(0);
  }

  uint32_t Printers(std::vector<SpoolerPrinter>* printers) override {
    std::vector<native::Printer> found;
    if (uint32_t rc = native::ListPrinters(&found)) return Answer(rc);
    for (const auto& p : found) printers->push_back(RecordOf(p));
    return Answer(0);
  }

  uint32_t FindPrinter(const std::string& name, SpoolerPrinter* printer) override {
    native::Printer found;
    if (uint32_t rc = native::ReadPrinter(name, &found)) return Answer(rc);
    *printer = RecordOf(found);
    return Answer(0);
  }

  uint32_t SetPrinterDefaults(const std::string& name, uint32_t fields, int16_t paperSize,
                              int16_t orientation) override {
    return Answer(native::SetPrinterDefaults(name, fields, paperSize, orientation));
  }

  uint32_t DefaultPrinter(std::string* name) override {
    return Answer(native::DefaultPrinter(name));
  }

  uint32_t RestartService() override {
    if (uint32_t rc = native::RunCommandInterpreter("net stop spooler")) return Answer(rc);
    return Answer(native::RunCommandInterpreter("net start spooler"));
  }

  uint32_t DeletePrinter(const std::string& name) override {
    if (!FitsCommandLine(name)) return Answer(ERROR_INVALID_PRINTER_NAME);
    return Answer(
        native::RunCommandInterpreter("rundll32 printui.dll PrintUIEntry /dl /n \"" + name + "\""));
  }

  uint32_t AddPrinter(const PRINTER_INFO_2A& record) override {
    native::NewPrinter printer;
    printer.name = Text(record.pPrinterName);
    printer.share = Text(record.pShareName);
    printer.port = Text(record.pPortName);
    printer.driver = Text(record.pDriverName);
    printer.comment = Text(record.pComment);
    printer.location = Text(record.pLocation);
    printer.separatorFile = Text(record.pSepFile);
    printer.printProcessor = Text(record.pPrintProcessor);
    printer.dataType = Text(record.pDatatype);
    printer.parameters = Text(record.pParameters);
    printer.attributes = record.Attributes;
    printer.priority = record.Priority;
    printer.defaultPriority = record.DefaultPriority;
    printer.startTime = record.StartTime;
    printer.untilTime = record.UntilTime;
    if (const DEVMODEA* mode = record.pDevMode) {
      const auto* bytes = reinterpret_cast<const unsigned char*>(mode);
      printer.devMode.assign(bytes, bytes + mode->dmSize + mode->dmDriverExtra);
    }
    return Answer(native::AddPrinterRecord(printer));
  }

  uint32_t InstallPrinter(const std::string& name, const std::string& port,
                          const std::string& driver) override {
    if (!FitsCommandLine(name)) return Answer(ERROR_INVALID_PRINTER_NAME);
    if (!FitsCommandLine(port)) return Answer(ERROR_UNKNOWN_PORT);
    if (!FitsCommandLine(driver)) return Answer(ERROR_UNKNOWN_PRINTER_DRIVER);
    return Answer(native::RunCommandInterpreter("rundll32 printui.dll,PrintUIEntry /q /if /b \"" +
                                                name + "\" /f %windir%\\inf\\ntprint.inf /r \"" +
                                                port + "\" /m \"" + driver + "\""));
  }

  std::string LastErrorText() override { return t_lastWords; }

  // AddPortA does not say which port it made: it is the one that is new.
  uint32_t AddPort(const std::string& monitor, std::string* port) override {
    std::vector<native::Port> before, after;
    if (uint32_t rc = native::ListPorts(&before)) return Answer(rc);
    if (uint32_t rc = native::NewPort(monitor)) return Answer(rc);
    if (uint32_t rc = native::ListPorts(&after)) return Answer(rc);
    for (const auto& candidate : after) {
      bool known = false;
      for (const auto& old : before) known = known || old.name == candidate.name;
      if (!known && candidate.monitor == monitor) {
        *port = candidate.name;
        return Answer(0);
      }
    }
    return Answer(ERROR_NOT_SUPPORTED);
  }
};

}  // namespace

Spooler& SystemSpooler() {
  static WindowsSpooler spooler;
  return spooler;
}

}  // namespace platform

uintptr_t SendMessageTimeoutA(uintptr_t window, uint32_t message, uintptr_t wParam, intptr_t lParam,
                              uint32_t flags, uint32_t timeoutMs, uintptr_t* result) {
  return native::SendMessageWithTimeout(window, message, wParam, lParam, flags, timeoutMs, result);
}
