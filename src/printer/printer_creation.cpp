#include "printer/printer_creation.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/log.h"
#include "config/maker.h"
#include "platform/names.h"
#include "platform/winspool.h"
#include "printer/port_monitor.h"
#include "printer/spooler_queries.h"

namespace {

const int kPortNameSize = 100;
const int kDriverNameSize = 200;
// The size of the driver's private part the device mode announces.
const uint16_t kDriverExtra = 708;

// A4 portrait at 600 dpi, colour, simplex, one copy: what every added
// printer starts with, whatever the existing printer is set to.
void FillDevMode(const char* printerName, DEVMODEA* mode) {
  std::snprintf(mode->dmDeviceName, sizeof(mode->dmDeviceName), "%s", printerName);
  mode->dmSpecVersion = DM_SPECVERSION;
  mode->dmDriverVersion = 0x0502;
  mode->dmSize = sizeof(DEVMODEA);
  mode->dmDriverExtra = kDriverExtra;
  mode->dmFields = 0x0201FF53;
  mode->dmOrientation = DMORIENT_PORTRAIT;
  mode->dmPaperSize = DMPAPER_A4;
  mode->dmPaperLength = 2970;
  mode->dmPaperWidth = 2100;
  mode->dmScale = 100;
  mode->dmCopies = 1;
  mode->dmDefaultSource = 15;  // DMBIN_FORMSOURCE
  mode->dmPrintQuality = 600;  // dpi
  mode->dmColor = 2;           // DMCOLOR_COLOR
  mode->dmDuplex = 1;          // DMDUP_SIMPLEX
  mode->dmYResolution = 600;   // dpi
  mode->dmTTOption = 3;        // DMTT_DOWNLOAD_OUTLINE
  mode->dmCollate = 1;         // DMCOLLATE_TRUE
  std::snprintf(mode->dmFormName, sizeof(mode->dmFormName), "%s", "A4");
  mode->dmICMMethod = 1;     // DMICMMETHOD_NONE
  mode->dmICMIntent = 2;     // DMICM_CONTRAST
  mode->dmMediaType = 256;   // DMMEDIA_USER
  mode->dmDisplayFlags = 1;  // dmNup shares its place: DMNUP_SYSTEM
}

}  // namespace

char* GetNewPortName(char* buffer) {
  std::vector<std::string> ports;
  GetAllPorts(ports);
  const size_t wordLength = std::strlen(platform::kMakerPortWord);
  int highest = 0;
  for (const std::string& port : ports) {
    if (!IsQuorvelName(port.c_str())) continue;
    highest = std::max(highest, platform::NumberAfterWord(port, wordLength));
  }
  std::snprintf(buffer, kPortNameSize, "%s%d:", platform::kMakerPortWord, highest);
  return buffer;
}

int AddNewPrinter(const char* printerName, char* portName) {
  if (!printerName || !*printerName) {
    OutLog("Please input new printer name.\n");
    return 0;
  }
  PRINTER_INFO_2A info;
  std::memset(&info, 0, sizeof(info));
  // The public part of the device mode, then room for the driver's part.
  std::vector<unsigned char> modeBuffer(sizeof(DEVMODEA) + kDriverExtra, 0);
  auto* mode = reinterpret_cast<DEVMODEA*>(modeBuffer.data());

  if (!AddPortA(nullptr, 0, platform::kMakerPortWord)) {
    OutLog("AddPort failed, error code is %d.\n", static_cast<int>(GetLastError()));
    OutLog("[ERROR] The monitor \"%s\" gave no new port: %s\n", platform::kMakerPortWord,
           platform::LastSpoolerErrorText().c_str());
    return 0;
  }
  GetNewPortName(portName);
  OutLog("PortName='%s'\n", portName);

  char driver[kDriverNameSize] = {};
  GetPrinterDriver(driver);
  if (!driver[0]) {
    OutLog("Can't get printer driver, please install PDF Printer Driver first.\n");
    OutLog("You can also run setup.exe to install a fresh copy of PDF Printer first.\n");
    return 0;
  }
  OutLog("DriverName='%s'\n", driver);

  FillDevMode(printerName, mode);
  std::string name = printerName;
  std::string empty;
  std::string comment = kMakerWebAddress;
  std::string processor = "WinPrint";
  std::string dataType = "RAW";
  info.pPrinterName = &name[0];
  info.pShareName = &empty[0];
  info.pPortName = portName;
  info.pDriverName = driver;
  info.pComment = &comment[0];
  info.pLocation = &empty[0];
  info.pDevMode = mode;
  info.pSepFile = &empty[0];
  info.pPrintProcessor = &processor[0];
  info.pDatatype = &dataType[0];
  info.pParameters = &empty[0];
  info.Attributes = PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST;
  info.Priority = 1;

  HANDLE printer = AddPrinterA(nullptr, 2, reinterpret_cast<unsigned char*>(&info));
  if (!printer) {
    OutLog("AddPrinter failed, error code is %d.\n", static_cast<int>(GetLastError()));
    OutLog("[ERROR] The printer \"%s\" could not be added: %s\n", printerName,
           platform::LastSpoolerErrorText().c_str());
    return 0;
  }
  ClosePrinter(printer);
  OutLog("PortName='%s'\n", portName);
  // The printer is there; a port without its command is logged (with the
  // registry's reason) by SetPortCommand and named here.
  if (SetPortCommand(portName) != 0) {
    OutLog("[ERROR] The printer \"%s\" was added, but its port %s has no command to run.\n",
           printerName, portName);
  }
  return 1;
}
