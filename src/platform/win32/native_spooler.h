// The Win32 spooler calls with plain records, for spooler.cpp: the platform
// layer's spooler header and <windows.h> name the same things and cannot
// meet in one file. Results are 0 or the Windows error code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/spooler.h"

namespace platform {
namespace win32 {
namespace native_spooler {

struct Port {
  std::string name, monitor, description;
};
struct Monitor {
  std::string name, environment, dll;
};
struct Printer {
  std::string name, port, driver, comment, location;
  int16_t paperSize = 0;
  int16_t orientation = 0;
  uint32_t fields = 0;              ///< DM_PAPERSIZE, DM_ORIENTATION of the device mode
  std::vector<int16_t> paperSizes;  ///< DeviceCapabilitiesA(DC_PAPERS)
};

/// A level-2 printer record for AddPrinterA, in plain values. devMode holds
/// the whole device mode (public part and the driver's part), or nothing.
struct NewPrinter {
  std::string name, share, port, driver, comment, location, separatorFile, printProcessor, dataType,
      parameters;
  uint32_t attributes = 0, priority = 0, defaultPriority = 0, startTime = 0, untilTime = 0;
  std::vector<unsigned char> devMode;
};

/// False when WINSPOOL.DRV or one of its entry points cannot be loaded.
bool Available();
uint32_t ListPorts(std::vector<Port>* ports);
uint32_t ListMonitors(std::vector<Monitor>* monitors);
uint32_t ListPrinters(std::vector<Printer>* printers);
/// The printer of that name with its current defaults.
uint32_t ReadPrinter(const std::string& name, Printer* printer);
/// Writes the paper size and orientation that fields names as the printer's
/// defaults (OpenPrinterA, GetPrinterA, DocumentPropertiesA, SetPrinterA).
uint32_t SetPrinterDefaults(const std::string& name, uint32_t fields, int16_t paperSize,
                            int16_t orientation);
uint32_t DefaultPrinter(std::string* name);
/// EnumPortsA, EnumMonitorsA or EnumPrintersA into the caller's buffer;
/// 0 or the system's error code. The records' layout is fixed by the sizes
/// both sides assert (x86_64).
uint32_t ListInto(SpoolerList list, uint32_t flags, const char* name, uint32_t level,
                  unsigned char* buffer, uint32_t size, uint32_t* needed, uint32_t* returned);
/// The records' sizes on x86_64, which the platform layer's own records
/// share.
constexpr size_t kPortRecordSize = 32, kMonitorRecordSize = 24, kPrinterRecordSize = 136,
                 kDevModeSize = 156;
/// AddPrinterA on the local machine with the record (not named AddPrinter,
/// which <winspool.h> defines as a macro); the handle it gives is
/// closed again.
uint32_t AddPrinterRecord(const NewPrinter& printer);
/// AddPortA on the local machine without a window.
uint32_t NewPort(const std::string& monitor);
/// Hands command to the command interpreter (COMSPEC, else cmd.exe) with /c
/// and waits until it ends; its exit status is not examined. 0 when it ran.
uint32_t RunCommandInterpreter(const std::string& command);
/// SendMessageTimeoutA of user32.
uintptr_t SendMessageWithTimeout(uintptr_t window, uint32_t message, uintptr_t wParam,
                                 intptr_t lParam, uint32_t flags, uint32_t timeoutMs,
                                 uintptr_t* result);

}  // namespace native_spooler
}  // namespace win32
}  // namespace platform
