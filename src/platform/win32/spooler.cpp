// The Windows print spooler behind the Spooler service: queries and defaults
// through winspool, installation through the command interpreter with the
// program's own command lines.
#include "platform/spooler.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32/native_spooler.h"
#include "platform/winspool.h"

namespace native = platform::win32::native_spooler;

namespace platform {

SpoolerLibraryNames SpoolerLibrary() {
  return SpoolerLibraryNames{"WINSPOOL.DRV", "SetDefaultPrinterA", "GetDefaultPrinterA",
                             "AddPrinterConnectionA"};
}

const char* DefaultPrinterDrivers() { return "HP Color LaserJet 2800 Series PS"; }

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

// A name inside double quotes on a command-interpreter line: a quote would
// end the quoting and a percent sign start a variable.
bool FitsCommandLine(const std::string& text) {
  return text.find_first_of("\"%") == std::string::npos;
}

class WindowsSpooler : public Spooler {
 public:
  uint32_t Ports(std::vector<SpoolerPort>* ports) override {
    std::vector<native::Port> found;
    if (uint32_t rc = native::ListPorts(&found)) return rc;
    for (const auto& p : found) ports->push_back({p.name, p.monitor, p.description});
    return 0;
  }

  uint32_t Monitors(std::vector<SpoolerMonitor>* monitors) override {
    std::vector<native::Monitor> found;
    if (uint32_t rc = native::ListMonitors(&found)) return rc;
    for (const auto& m : found) monitors->push_back({m.name, m.environment, m.dll});
    return 0;
  }

  uint32_t Printers(std::vector<SpoolerPrinter>* printers) override {
    std::vector<native::Printer> found;
    if (uint32_t rc = native::ListPrinters(&found)) return rc;
    for (const auto& p : found) printers->push_back(RecordOf(p));
    return 0;
  }

  uint32_t FindPrinter(const std::string& name, SpoolerPrinter* printer) override {
    native::Printer found;
    if (uint32_t rc = native::ReadPrinter(name, &found)) return rc;
    *printer = RecordOf(found);
    return 0;
  }

  uint32_t SetPrinterDefaults(const std::string& name, uint32_t fields, int16_t paperSize,
                              int16_t orientation) override {
    return native::SetPrinterDefaults(name, fields, paperSize, orientation);
  }

  uint32_t DefaultPrinter(std::string* name) override { return native::DefaultPrinter(name); }

  uint32_t RestartService() override {
    if (uint32_t rc = native::RunCommandInterpreter("net stop spooler")) return rc;
    return native::RunCommandInterpreter("net start spooler");
  }

  uint32_t DeletePrinter(const std::string& name) override {
    if (!FitsCommandLine(name)) return ERROR_INVALID_PRINTER_NAME;
    return native::RunCommandInterpreter("rundll32 printui.dll PrintUIEntry /dl /n \"" + name +
                                         "\"");
  }

  uint32_t InstallPrinter(const std::string& name, const std::string& port,
                          const std::string& driver) override {
    if (!FitsCommandLine(name)) return ERROR_INVALID_PRINTER_NAME;
    if (!FitsCommandLine(port)) return ERROR_UNKNOWN_PORT;
    if (!FitsCommandLine(driver)) return ERROR_UNKNOWN_PRINTER_DRIVER;
    return native::RunCommandInterpreter("rundll32 printui.dll,PrintUIEntry /q /if /b \"" + name +
                                         "\" /f %windir%\\inf\\ntprint.inf /r \"" + port +
                                         "\" /m \"" + driver + "\"");
  }

  // AddPortA does not say which port it made: it is the one that is new.
  uint32_t AddPort(const std::string& monitor, std::string* port) override {
    std::vector<native::Port> before, after;
    if (uint32_t rc = native::ListPorts(&before)) return rc;
    if (uint32_t rc = native::NewPort(monitor)) return rc;
    if (uint32_t rc = native::ListPorts(&after)) return rc;
    for (const auto& candidate : after) {
      bool known = false;
      for (const auto& old : before) known = known || old.name == candidate.name;
      if (!known && candidate.monitor == monitor) {
        *port = candidate.name;
        return 0;
      }
    }
    return ERROR_NOT_SUPPORTED;
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
