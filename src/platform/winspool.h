// The print spooler calls the printer setup makes, with the names, records,
// argument order, buffer protocol and error codes of the Windows spooler
// (winspool), so that the code above is the same on every platform.
//
// On POSIX printers are CUPS queues (through libcups); monitors and ports are
// keys of the registry store: a monitor is a key under HKLM
// "SYSTEM\CurrentControlSet\Control\Print\Monitors" that carries a "Driver"
// value, its ports are the monitor key's subkeys. Every call goes through the
// Spooler service in force, which tests replace with an in-memory one; only
// on Windows, with no test service in force, the three Enum calls are the
// system's own, filling the caller's buffer directly.
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
/// ERROR_FILE_NOT_FOUND and ERROR_INVALID_LEVEL, named apart from the
/// registry's constants so both headers can be included together.
constexpr uint32_t ERROR_SPOOLER_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_SPOOLER_INVALID_LEVEL = 124;
constexpr uint32_t ERROR_UNKNOWN_PRINT_MONITOR = 3000;
/// The spooler cannot be reached (POSIX: the CUPS scheduler does not answer).
constexpr uint32_t RPC_S_SERVER_UNAVAILABLE = 1722;

/// EnumPrintersA flags.
constexpr uint32_t PRINTER_ENUM_LOCAL = 0x2;
/// OpenPrinterA access masks.
constexpr uint32_t PRINTER_ACCESS_USE = 0x8;
constexpr uint32_t PRINTER_ALL_ACCESS = 0x000F000C;
/// PRINTER_INFO_2A::Attributes of every printer here, and the type of every port.
constexpr uint32_t PRINTER_ATTRIBUTE_LOCAL = 0x40;
constexpr uint32_t PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST = 0x200;
constexpr uint32_t PORT_TYPE_WRITE = 0x1;

/// DocumentPropertiesA modes.
constexpr uint32_t DM_OUT_BUFFER = 2;
constexpr uint32_t DM_IN_BUFFER = 8;
/// The DEVMODEA version the calls fill in (dmSpecVersion).
constexpr uint16_t DM_SPECVERSION = 0x0401;
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

/// The calling thread's last error code, as the calls below leave it. A call
/// that succeeds leaves it alone, as on Windows.
uint32_t GetLastError();
void SetLastError(uint32_t error);

// The buffers of EnumPortsA, EnumMonitorsA, EnumPrintersA and GetPrinterA
// are laid out as on Windows: the records first, one after the other, then
// the texts they point to (each ending in a zero byte) and, for printers,
// their device modes, all inside the caller's buffer and each record and
// device mode at a multiple of 8 bytes from the buffer's start. The two-call
// size protocol: with no buffer, or one smaller than *needed, the call fails
// with ERROR_INSUFFICIENT_BUFFER, sets *needed to the size that fits and
// *returned to 0; the caller then calls again with a buffer of that size. A
// buffer must be aligned for a pointer (any buffer from new or malloc is);
// one that is not fails with ERROR_SPOOLER_INVALID_PARAMETER. Other failures:
// a level other than 2 fails with ERROR_SPOOLER_INVALID_LEVEL, a null needed
// or returned with ERROR_SPOOLER_INVALID_PARAMETER, a server name other than
// null or "" (the local machine) with ERROR_NOT_SUPPORTED, and whatever the
// spooler answers (RPC_S_SERVER_UNAVAILABLE, ERROR_SPOOLER_ACCESS_DENIED).

/// Level 2: every port of every monitor; fPortType is PORT_TYPE_WRITE.
BOOL EnumPortsA(const char* name, uint32_t level, unsigned char* buffer, uint32_t size,
                uint32_t* needed, uint32_t* returned);
/// Level 2: every port monitor.
BOOL EnumMonitorsA(const char* name, uint32_t level, unsigned char* buffer, uint32_t size,
                   uint32_t* needed, uint32_t* returned);
/// Level 2, in the order the spooler lists the printers, each record with its
/// device mode (the printer's current defaults, see GetPrinterA). Only the
/// PRINTER_ENUM_LOCAL bit of flags lists printers (every printer here is
/// local); without it the call succeeds with none.
BOOL EnumPrintersA(uint32_t flags, const char* name, uint32_t level, unsigned char* buffer,
                   uint32_t size, uint32_t* needed, uint32_t* returned);
/// Opens a printer by its name (or, on POSIX, its queue name), letter case
/// ignored for ASCII letters. The handle holds its own copy of the printer's
/// name and finds the printer anew by it on each call, so it sees changes
/// made meanwhile. ERROR_INVALID_PRINTER_NAME when there is no such printer
/// (or printerName is null), ERROR_SPOOLER_INVALID_PARAMETER when printer is
/// null. defaults is not needed and may be null.
BOOL OpenPrinterA(const char* printerName, HANDLE* printer, PRINTER_DEFAULTSA* defaults);
/// Frees a handle of OpenPrinterA; ERROR_INVALID_HANDLE_VALUE for anything
/// else (a handle closed before included).
BOOL ClosePrinter(HANDLE printer);
/// Level 2, with the size protocol above (no *returned). pServerName and
/// pSecurityDescriptor are null, texts the spooler does not keep are "",
/// Attributes is PRINTER_ATTRIBUTE_LOCAL, Priority and DefaultPriority 1.
/// pDevMode points into the buffer at the printer's current defaults: dmSize
/// 156, dmDriverExtra 0, dmSpecVersion DM_SPECVERSION, dmDeviceName the
/// printer's name cut to 31 bytes (never inside a UTF-8 character), dmFields
/// what the printer offers (DM_PAPERSIZE, DM_ORIENTATION) and those fields
/// set; every other field is 0. ERROR_INVALID_HANDLE_VALUE for a handle
/// OpenPrinterA did not give, ERROR_INVALID_PRINTER_NAME when the printer is
/// gone.
BOOL GetPrinterA(HANDLE printer, uint32_t level, unsigned char* buffer, uint32_t size,
                 uint32_t* needed);
/// Level 2, command 0: writes the fields of pDevMode that its dmFields names
/// and the printer offers (paper size, orientation) as the printer's
/// defaults; nothing else of the record is written. A null pDevMode, or one
/// that names none of them, changes nothing and succeeds. A paper size the
/// printer does not offer (see SpoolerPrinter::paperSizes), an orientation
/// other than DMORIENT_PORTRAIT or DMORIENT_LANDSCAPE, a dmSize too small to
/// hold those fields or a null info fail with ERROR_SPOOLER_INVALID_PARAMETER
/// and change nothing. Another level: ERROR_SPOOLER_INVALID_LEVEL; another
/// command (pause, resume, purge): ERROR_NOT_SUPPORTED.
BOOL SetPrinterA(HANDLE printer, uint32_t level, unsigned char* info, uint32_t command);
/// The printer is the handle's, or, when printer is null, the one named
/// deviceName. Mode 0: the size of the full device mode (public part + driver
/// extra, 156 here). DM_OUT_BUFFER: the printer's current defaults into
/// output (as GetPrinterA gives them). DM_IN_BUFFER too: the fields
/// input->dmFields names and the printer offers, merged over them and
/// validated as by SetPrinterA (input and output may be the same buffer).
/// DM_IN_BUFFER alone only validates input. The printer's defaults are never
/// changed here; other mode bits (prompts) are ignored, as no dialog is
/// shown. Returns 1 (IDOK), or the size for mode 0, on success; -1 on
/// failure, with GetLastError: ERROR_INVALID_HANDLE_VALUE,
/// ERROR_INVALID_PRINTER_NAME, or ERROR_SPOOLER_INVALID_PARAMETER (no output
/// for DM_OUT_BUFFER, no input for DM_IN_BUFFER, a field value refused).
long DocumentPropertiesA(HANDLE window, HANDLE printer, const char* deviceName, DEVMODEA* output,
                         const DEVMODEA* input, uint32_t mode);
/// The default printer's name; *size in characters (terminator included).
/// FALSE with ERROR_INSUFFICIENT_BUFFER and *size set when it does not fit
/// (or buffer is null); FALSE with ERROR_SPOOLER_FILE_NOT_FOUND when there
/// is no default printer; ERROR_SPOOLER_INVALID_PARAMETER when size is null.
/// On success *size is the name's length plus one.
BOOL GetDefaultPrinterA(char* buffer, uint32_t* size);
/// Asks the port monitor for a new port. With no window the monitor must
/// make the port without asking anyone; only the maker's monitor "Quorvel"
/// can (see Spooler::AddPort). ERROR_UNKNOWN_PRINT_MONITOR when the monitor
/// is not installed (or monitorName is null), ERROR_NOT_SUPPORTED for a
/// remote server, a window (no dialog is ever shown) or a monitor that
/// cannot make a port by itself.
BOOL AddPortA(const char* serverName, uintptr_t window, const char* monitorName);
/// Level 2: adds a local printer named pPrinterName on pPortName with the
/// driver pDriverName through Spooler::AddPrinter: on POSIX the paper size
/// and orientation of pDevMode (when it names them and the printer offers
/// them) become its defaults and the other fields are the spooler's to
/// choose; on Windows the system's spooler takes the whole record.
/// Returns an open handle (free it with ClosePrinter), or nullptr with
/// GetLastError: ERROR_SPOOLER_INVALID_LEVEL, ERROR_SPOOLER_INVALID_PARAMETER
/// (no record), ERROR_NOT_SUPPORTED (a remote server), or what
/// Spooler::AddPrinter answers. Defaults the printer refuses leave it with
/// its own; the printer is added all the same.
HANDLE AddPrinterA(const char* serverName, uint32_t level, unsigned char* printer);
/// Broadcasts to every top-level window; nothing to do on POSIX (returns 1,
/// *result 0).
uintptr_t SendMessageTimeoutA(uintptr_t window, uint32_t message, uintptr_t wParam, intptr_t lParam,
                              uint32_t flags, uint32_t timeoutMs, uintptr_t* result);

namespace platform {

/// The commands the installation runs through the command interpreter on
/// Windows ("net stop/start spooler", "rundll32 printui.dll ..."), as
/// operations. Windows runs exactly those command lines; POSIX does the CUPS
/// equivalent without a shell. Their outcome is judged by the caller through
/// OpenPrinterA afterwards; the results only carry the reason for the log:
/// on false, *error (if given) holds SpoolerErrorText of the code and the
/// spooler's own words.

/// Restarts the print spooler (POSIX: nothing to do).
bool RestartSpoolerService(std::string* error);
/// Deletes the printer (POSIX: removes its queue).
bool DeletePrinterByName(const std::string& printerName, std::string* error);
/// Installs the printer on the port with the driver of that name (POSIX: a
/// queue whose device is the port's monitor URI and whose PPD has that
/// make-and-model, enabled and accepting jobs).
bool InstallPrinterWithDriver(const std::string& printerName, const std::string& portName,
                              const std::string& driverName, std::string* error);

/// A Windows error code as a short text for the log, the code included,
/// e.g. "the printer driver is unknown (1797)".
std::string SpoolerErrorText(uint32_t code);
/// The calling thread's last failure of the calls above for the log:
/// SpoolerErrorText of GetLastError, then the reason in words where the
/// spooler or the call gave one ("...: the CUPS queue Lab does not offer ...").
std::string LastSpoolerErrorText();
/// Why the printer does not take that paper size (Spooler::PaperSizeRefusal).
std::string PaperSizeRefusal(const std::string& printerName, int16_t paperSize);

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
  int16_t paperSize = 0;                            ///< DMPAPER_* default, 0 when it has no code
  int16_t orientation = 0;                          ///< DMORIENT_* default
  uint32_t fields = DM_PAPERSIZE | DM_ORIENTATION;  ///< what the driver offers
  std::vector<int16_t> paperSizes;                  ///< the DMPAPER_* sizes it offers
};

class Spooler {
 public:
  virtual ~Spooler() = default;
  virtual uint32_t Ports(std::vector<SpoolerPort>* ports) = 0;
  virtual uint32_t Monitors(std::vector<SpoolerMonitor>* monitors) = 0;
  virtual uint32_t Printers(std::vector<SpoolerPrinter>* printers) = 0;
  /// By name or queue name; ERROR_INVALID_PRINTER_NAME when there is none.
  virtual uint32_t FindPrinter(const std::string& name, SpoolerPrinter* printer) = 0;
  /// Writes the defaults that `fields` names (DM_PAPERSIZE, DM_ORIENTATION);
  /// ERROR_SPOOLER_INVALID_PARAMETER for a value the printer does not take.
  virtual uint32_t SetPrinterDefaults(const std::string& name, uint32_t fields, int16_t paperSize,
                                      int16_t orientation) = 0;
  /// ERROR_SPOOLER_FILE_NOT_FOUND when there is no default printer.
  virtual uint32_t DefaultPrinter(std::string* name) = 0;
  virtual uint32_t RestartService() = 0;
  /// ERROR_INVALID_PRINTER_NAME when there is no such printer.
  virtual uint32_t DeletePrinter(const std::string& name) = 0;
  /// ERROR_INVALID_PRINTER_NAME for a name the spooler cannot take,
  /// ERROR_UNKNOWN_PORT, ERROR_UNKNOWN_PRINTER_DRIVER,
  /// ERROR_PRINTER_ALREADY_EXISTS (nothing is changed then).
  virtual uint32_t InstallPrinter(const std::string& name, const std::string& port,
                                  const std::string& driver) = 0;
  /// Adds a local printer from a level-2 record (AddPrinterA). By default:
  /// InstallPrinter with its name, port and driver, then the paper size and
  /// orientation of its device mode, where the printer offers them, as its
  /// defaults (refused defaults leave the printer with its own). Windows
  /// hands the whole record to the system's spooler.
  virtual uint32_t AddPrinter(const PRINTER_INFO_2A& record);
  /// Makes a new port of the monitor without a window and names it in
  /// *port; see AddPortA for the errors.
  virtual uint32_t AddPort(const std::string& monitor, std::string* port) = 0;
  /// The spooler's own words about this thread's last failed call, for the
  /// log ("" when it said nothing).
  virtual std::string LastErrorText() { return std::string(); }
  /// Why the printer does not take that paper size (DMPAPER_*), in words
  /// that name the printer, the code and the reason.
  virtual std::string PaperSizeRefusal(const SpoolerPrinter& printer, int16_t paperSize) {
    return "the printer \"" + printer.name + "\" does not offer paper size " +
           std::to_string(paperSize);
  }
};

/// The service in force: the system's, unless a test installed another.
Spooler& CurrentSpooler();
/// Installs a service for tests; nullptr restores the system's.
void SetSpoolerForTesting(Spooler* spooler);
/// The system's service (POSIX: CUPS, in platform/posix/cups_spooler.cpp).
Spooler& SystemSpooler();

}  // namespace platform
