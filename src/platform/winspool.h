// The print spooler calls the printer setup makes, with the names, records,
// argument order, buffer protocol and error codes of the Windows spooler
// (winspool), so that the code above is the same on every platform.
//
// On POSIX printers are CUPS queues (through libcups); monitors and ports are
// keys of the registry store: a monitor is a key under HKLM
// "SYSTEM\CurrentControlSet\Control\Print\Monitors" that carries a "Driver"
// value, its ports are the monitor key's subkeys. Every call goes through the
// Spooler service in force, which tests replace with an in-memory one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using BOOL = int;
using HANDLE = void*;

/// Error codes the calls leave for GetLastError.
constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr uint32_t ERROR_INVALID_PRINTER_NAME = 1801;
constexpr uint32_t ERROR_UNKNOWN_PORT = 1796;
constexpr uint32_t ERROR_UNKNOWN_PRINTER_DRIVER = 1797;
constexpr uint32_t ERROR_PRINTER_ALREADY_EXISTS = 1802;
constexpr uint32_t ERROR_SPOOLER_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_SPOOLER_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_INVALID_HANDLE_VALUE = 6;
constexpr uint32_t ERROR_NOT_SUPPORTED = 50;

/// EnumPrintersA flags.
constexpr uint32_t PRINTER_ENUM_LOCAL = 0x2;
/// OpenPrinterA access masks.
constexpr uint32_t PRINTER_ACCESS_USE = 0x8;
constexpr uint32_t PRINTER_ALL_ACCESS = 0x000F000C;

/// DocumentPropertiesA modes.
constexpr uint32_t DM_OUT_BUFFER = 2;
constexpr uint32_t DM_IN_BUFFER = 8;
/// DEVMODEA field bits.
constexpr uint32_t DM_ORIENTATION = 0x1;
constexpr uint32_t DM_PAPERSIZE = 0x2;
/// Paper sizes (DMPAPER_*) and orientations (DMORIENT_*).
constexpr int16_t DMPAPER_LETTER = 1;
constexpr int16_t DMPAPER_LEGAL = 5;
constexpr int16_t DMPAPER_EXECUTIVE = 7;
constexpr int16_t DMPAPER_A3 = 8;
constexpr int16_t DMPAPER_A4 = 9;
constexpr int16_t DMPAPER_A5 = 11;
constexpr int16_t DMORIENT_PORTRAIT = 1;
constexpr int16_t DMORIENT_LANDSCAPE = 2;

/// Broadcast messages of SendMessageTimeoutA.
constexpr uint32_t WM_SETTINGCHANGE = 0x001A;
constexpr uint32_t WM_DEVMODECHANGE = 0x001B;
constexpr uintptr_t HWND_BROADCAST = 0xFFFF;

#pragma pack(push, 1)
/// The public part of a device mode: 156 bytes, as on Windows. The driver's
/// private data (dmDriverExtra bytes) follows it.
struct DEVMODEA {
  char dmDeviceName[32];
  uint16_t dmSpecVersion;
  uint16_t dmDriverVersion;
  uint16_t dmSize;
  uint16_t dmDriverExtra;
  uint32_t dmFields;
  int16_t dmOrientation;
  int16_t dmPaperSize;
  int16_t dmPaperLength;
  int16_t dmPaperWidth;
  int16_t dmScale;
  int16_t dmCopies;
  int16_t dmDefaultSource;
  int16_t dmPrintQuality;
  int16_t dmColor;
  int16_t dmDuplex;
  int16_t dmYResolution;
  int16_t dmTTOption;
  int16_t dmCollate;
  char dmFormName[32];
  uint16_t dmLogPixels;
  uint32_t dmBitsPerPel;
  uint32_t dmPelsWidth;
  uint32_t dmPelsHeight;
  uint32_t dmDisplayFlags;
  uint32_t dmDisplayFrequency;
  uint32_t dmICMMethod;
  uint32_t dmICMIntent;
  uint32_t dmMediaType;
  uint32_t dmDitherType;
  uint32_t dmReserved1;
  uint32_t dmReserved2;
  uint32_t dmPanningWidth;
  uint32_t dmPanningHeight;
};
#pragma pack(pop)
static_assert(sizeof(DEVMODEA) == 156, "DEVMODEA's public part is 156 bytes");

struct PORT_INFO_2A {
  char* pPortName;
  char* pMonitorName;
  char* pDescription;
  uint32_t fPortType;
  uint32_t Reserved;
};

struct MONITOR_INFO_2A {
  char* pName;
  char* pEnvironment;
  char* pDLLName;
};

struct PRINTER_INFO_2A {
  char* pServerName;
  char* pPrinterName;
  char* pShareName;
  char* pPortName;
  char* pDriverName;
  char* pComment;
  char* pLocation;
  DEVMODEA* pDevMode;
  char* pSepFile;
  char* pPrintProcessor;
  char* pDatatype;
  char* pParameters;
  void* pSecurityDescriptor;
  uint32_t Attributes;
  uint32_t Priority;
  uint32_t DefaultPriority;
  uint32_t StartTime;
  uint32_t UntilTime;
  uint32_t Status;
  uint32_t cJobs;
  uint32_t AveragePPM;
};

struct PRINTER_DEFAULTSA {
  char* pDatatype;
  DEVMODEA* pDevMode;
  uint32_t DesiredAccess;
};

/// The calling thread's last error code, as the calls below leave it.
uint32_t GetLastError();
void SetLastError(uint32_t error);

/// Level 2 only. With a buffer too small (or none), FALSE, *needed set and
/// ERROR_INSUFFICIENT_BUFFER; with room, the records followed by their texts,
/// *returned the count. name must be null (the local machine).
BOOL EnumPortsA(const char* name, uint32_t level, unsigned char* buffer, uint32_t size,
                uint32_t* needed, uint32_t* returned);
BOOL EnumMonitorsA(const char* name, uint32_t level, unsigned char* buffer, uint32_t size,
                   uint32_t* needed, uint32_t* returned);
/// PRINTER_ENUM_LOCAL, level 2, in the order the spooler lists the printers.
BOOL EnumPrintersA(uint32_t flags, const char* name, uint32_t level, unsigned char* buffer,
                   uint32_t size, uint32_t* needed, uint32_t* returned);
/// Opens a printer by its name (or, on POSIX, its queue name).
/// ERROR_INVALID_PRINTER_NAME when there is none.
BOOL OpenPrinterA(const char* printerName, HANDLE* printer, PRINTER_DEFAULTSA* defaults);
BOOL ClosePrinter(HANDLE printer);
/// Level 2, with the size protocol of EnumPortsA; pDevMode points into the
/// buffer at the printer's current defaults.
BOOL GetPrinterA(HANDLE printer, uint32_t level, unsigned char* buffer, uint32_t size,
                 uint32_t* needed);
/// Level 2, command 0: writes the fields of pDevMode that its dmFields names
/// as the printer's defaults (paper size, orientation).
BOOL SetPrinterA(HANDLE printer, uint32_t level, unsigned char* info, uint32_t command);
/// Mode 0: the size of the full device mode (public part + driver extra).
/// DM_OUT_BUFFER: the printer's current defaults into output; with
/// DM_IN_BUFFER too: input merged over them (the fields input->dmFields
/// names), validated, into output. Returns 1 (IDOK) on success, a negative
/// value on failure.
long DocumentPropertiesA(HANDLE window, HANDLE printer, const char* deviceName, DEVMODEA* output,
                         const DEVMODEA* input, uint32_t mode);
/// The default printer's name; *size in characters (terminator included).
/// FALSE with ERROR_INSUFFICIENT_BUFFER and *size set when it does not fit;
/// FALSE with ERROR_FILE_NOT_FOUND (2) when there is no default printer.
BOOL GetDefaultPrinterA(char* buffer, uint32_t* size);
/// Broadcasts to every top-level window; nothing to do on POSIX (returns 1).
uintptr_t SendMessageTimeoutA(uintptr_t window, uint32_t message, uintptr_t wParam, intptr_t lParam,
                              uint32_t flags, uint32_t timeoutMs, uintptr_t* result);

namespace platform {

/// The commands the installation runs through the command interpreter on
/// Windows ("net stop/start spooler", "rundll32 printui.dll ..."), as
/// operations. Windows runs exactly those command lines; POSIX does the CUPS
/// equivalent without a shell. Their outcome is judged by the caller through
/// OpenPrinterA afterwards; the results only carry the reason for the log.

/// Restarts the print spooler (POSIX: nothing to do).
bool RestartSpoolerService(std::string* error);
/// Deletes the printer (POSIX: removes its queue).
bool DeletePrinterByName(const std::string& printerName, std::string* error);
/// Installs the printer on the port with the driver of that name (POSIX: a
/// queue whose device is the port's monitor URI and whose PPD has that
/// make-and-model, enabled and accepting jobs).
bool InstallPrinterWithDriver(const std::string& printerName, const std::string& portName,
                              const std::string& driverName, std::string* error);

/// What the spooler knows, in plain records: the service behind the calls
/// above. Each call returns 0 or a Windows error code.
struct SpoolerPort {
  std::string name, monitor, description;
};
struct SpoolerMonitor {
  std::string name, environment, dll;
};
struct SpoolerPrinter {
  std::string name;   ///< as given when installed (POSIX: the queue's description)
  std::string queue;  ///< POSIX: the CUPS queue name; Windows: the name
  std::string port, driver, comment, location;
  int16_t paperSize = 0;                            ///< DMPAPER_* default
  int16_t orientation = 0;                          ///< DMORIENT_* default
  uint32_t fields = DM_PAPERSIZE | DM_ORIENTATION;  ///< what the driver offers
};

class Spooler {
 public:
  virtual ~Spooler() = default;
  virtual uint32_t Ports(std::vector<SpoolerPort>* ports) = 0;
  virtual uint32_t Monitors(std::vector<SpoolerMonitor>* monitors) = 0;
  virtual uint32_t Printers(std::vector<SpoolerPrinter>* printers) = 0;
  /// By name or queue name; ERROR_INVALID_PRINTER_NAME when there is none.
  virtual uint32_t FindPrinter(const std::string& name, SpoolerPrinter* printer) = 0;
  /// Writes the defaults that `fields` names (DM_PAPERSIZE, DM_ORIENTATION).
  virtual uint32_t SetPrinterDefaults(const std::string& name, uint32_t fields, int16_t paperSize,
                                      int16_t orientation) = 0;
  /// ERROR_FILE_NOT_FOUND when there is no default printer.
  virtual uint32_t DefaultPrinter(std::string* name) = 0;
  virtual uint32_t RestartService() = 0;
  virtual uint32_t DeletePrinter(const std::string& name) = 0;
  virtual uint32_t InstallPrinter(const std::string& name, const std::string& port,
                                  const std::string& driver) = 0;
};

/// The service in force: the system's, unless a test installed another.
Spooler& CurrentSpooler();
/// Installs a service for tests; nullptr restores the system's.
void SetSpoolerForTesting(Spooler* spooler);

}  // namespace platform
