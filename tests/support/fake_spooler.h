// An in-memory print spooler for unit tests of the code that calls the
// winspool-shaped functions. It is the service in force while it lives and
// records every call it answers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/names.h"
#include "platform/winspool.h"

class FakeSpooler : public platform::Spooler {
 public:
  FakeSpooler() { platform::SetSpoolerForTesting(this); }
  ~FakeSpooler() override { platform::SetSpoolerForTesting(nullptr); }
  FakeSpooler(const FakeSpooler&) = delete;
  FakeSpooler& operator=(const FakeSpooler&) = delete;

  std::vector<platform::SpoolerPort> ports;
  std::vector<platform::SpoolerMonitor> monitors;
  std::vector<platform::SpoolerPrinter> printers;
  std::string defaultPrinter;  ///< "" for none
  /// The driver names InstallPrinter takes; any other gives
  /// ERROR_UNKNOWN_PRINTER_DRIVER and no printer.
  std::set<std::string> drivers;
  /// Calls that fail: call name ("Ports", "InstallPrinter", ...) -> code.
  std::map<std::string, uint32_t> failures;
  /// The names the monitors give the ports AddPort makes, in turn; when
  /// none is left AddPort succeeds without making one.
  std::vector<std::string> newPorts;
  /// Every call, e.g. "InstallPrinter Quorvel PDFPrinter|QuorvelPort|Driver A".
  std::vector<std::string> calls;

  /// A printer as InstallPrinter makes one: Letter, portrait, offering the
  /// six paper sizes of the table in winspool.h and both orientations.
  static platform::SpoolerPrinter MakePrinter(const std::string& name, const std::string& port,
                                              const std::string& driver) {
    platform::SpoolerPrinter printer;
    printer.name = name;
    printer.queue = name;
    printer.port = port;
    printer.driver = driver;
    printer.paperSize = DMPAPER_LETTER;
    printer.orientation = DMORIENT_PORTRAIT;
    printer.paperSizes = {DMPAPER_LETTER, DMPAPER_LEGAL, DMPAPER_EXECUTIVE,
                          DMPAPER_A3,     DMPAPER_A4,    DMPAPER_A5};
    return printer;
  }

  /// The printer of that name, or nullptr.
  platform::SpoolerPrinter* Printer(const std::string& name) {
    for (auto& printer : printers) {
      if (platform::SameNameIgnoringCase(printer.name, name) ||
          platform::SameNameIgnoringCase(printer.queue, name)) {
        return &printer;
      }
    }
    return nullptr;
  }

  uint32_t Ports(std::vector<platform::SpoolerPort>* out) override {
    return List("Ports", ports, out);
  }
  uint32_t Monitors(std::vector<platform::SpoolerMonitor>* out) override {
    return List("Monitors", monitors, out);
  }
  uint32_t Printers(std::vector<platform::SpoolerPrinter>* out) override {
    return List("Printers", printers, out);
  }

  uint32_t FindPrinter(const std::string& name, platform::SpoolerPrinter* out) override {
    if (uint32_t code = Record("FindPrinter", name)) return code;
    const platform::SpoolerPrinter* printer = Printer(name);
    if (!printer) return Refuse(ERROR_INVALID_PRINTER_NAME, "no printer " + name);
    *out = *printer;
    return 0;
  }

  uint32_t SetPrinterDefaults(const std::string& name, uint32_t fields, int16_t paperSize,
                              int16_t orientation) override {
    if (uint32_t code = Record("SetPrinterDefaults", name + "|" + std::to_string(fields) + "|" +
                                                         std::to_string(paperSize) + "|" +
                                                         std::to_string(orientation))) {
      return code;
    }
    platform::SpoolerPrinter* printer = Printer(name);
    if (!printer) return Refuse(ERROR_INVALID_PRINTER_NAME, "no printer " + name);
    if (fields & DM_PAPERSIZE) printer->paperSize = paperSize;
    if (fields & DM_ORIENTATION) printer->orientation = orientation;
    return 0;
  }

  uint32_t DefaultPrinter(std::string* name) override {
    if (uint32_t code = Record("DefaultPrinter", "")) return code;
    if (defaultPrinter.empty()) return Refuse(ERROR_SPOOLER_FILE_NOT_FOUND, "no default");
    *name = defaultPrinter;
    return 0;
  }

  uint32_t RestartService() override { return Record("RestartService", ""); }

  uint32_t DeletePrinter(const std::string& name) override {
    if (uint32_t code = Record("DeletePrinter", name)) return code;
    platform::SpoolerPrinter* printer = Printer(name);
    if (!printer) return Refuse(ERROR_INVALID_PRINTER_NAME, "no printer " + name);
    printers.erase(printers.begin() + (printer - printers.data()));
    return 0;
  }

  uint32_t InstallPrinter(const std::string& name, const std::string& port,
                          const std::string& driver) override {
    if (uint32_t code = Record("InstallPrinter", name + "|" + port + "|" + driver)) return code;
    if (name.empty()) return Refuse(ERROR_INVALID_PRINTER_NAME, "empty name");
    bool portKnown = std::any_of(ports.begin(), ports.end(), [&](const platform::SpoolerPort& p) {
      return platform::SameNameIgnoringCase(p.name, port);
    });
    if (!portKnown) return Refuse(ERROR_UNKNOWN_PORT, "no port " + port);
    if (!drivers.count(driver)) return Refuse(ERROR_UNKNOWN_PRINTER_DRIVER, "no driver " + driver);
    if (Printer(name)) return Refuse(ERROR_PRINTER_ALREADY_EXISTS, name + " exists");
    printers.push_back(MakePrinter(name, port, driver));
    return 0;
  }

  uint32_t AddPort(const std::string& monitor, std::string* port) override {
    if (uint32_t code = Record("AddPort", monitor)) return code;
    bool known =
        std::any_of(monitors.begin(), monitors.end(), [&](const platform::SpoolerMonitor& m) {
          return platform::SameNameIgnoringCase(m.name, monitor);
        });
    if (!known) return Refuse(ERROR_UNKNOWN_PRINT_MONITOR, "no monitor " + monitor);
    if (newPorts.empty()) return 0;
    *port = newPorts.front();
    newPorts.erase(newPorts.begin());
    ports.push_back(platform::SpoolerPort{*port, monitor, "Local port"});
    return 0;
  }

  std::string LastErrorText() override { return lastWords_; }

 private:
  template <typename Item>
  uint32_t List(const char* call, const std::vector<Item>& items, std::vector<Item>* out) {
    if (uint32_t code = Record(call, "")) return code;
    *out = items;
    return 0;
  }
  uint32_t Record(const std::string& call, const std::string& arguments) {
    calls.push_back(arguments.empty() ? call : call + " " + arguments);
    auto failure = failures.find(call);
    if (failure == failures.end()) return 0;
    return Refuse(failure->second, "the fake fails " + call);
  }

  uint32_t Refuse(uint32_t code, const std::string& words) {
    lastWords_ = words;
    return code;
  }

  std::string lastWords_;
};
