// The winspool-shaped calls against the in-memory spooler: buffer layout and
// size protocol, handles, device modes and error codes.
#include "platform/winspool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_spooler.h"

namespace {

using Bytes = std::vector<unsigned char>;
// An Enum or Get call with the buffer arguments left open.
using BufferCall = std::function<BOOL(unsigned char*, uint32_t, uint32_t*, uint32_t*)>;

bool Inside(const void* pointer, const Bytes& buffer) {
  auto* p = static_cast<const unsigned char*>(pointer);
  return p >= buffer.data() && p < buffer.data() + buffer.size();
}

// True when text is a terminated string that lies wholly inside buffer.
bool TextInside(const char* text, const Bytes& buffer) {
  return text && Inside(text, buffer) && Inside(text + std::strlen(text), buffer);
}

// The two-call protocol: asks for the size, then fills a buffer of it.
Bytes CallTwice(const BufferCall& call, uint32_t* returned) {
  uint32_t needed = 0;
  EXPECT_FALSE(call(nullptr, 0, &needed, returned));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  Bytes buffer(needed);
  EXPECT_TRUE(call(buffer.data(), needed, &needed, returned)) << GetLastError();
  EXPECT_EQ(buffer.size(), needed);
  return buffer;
}

BufferCall EnumPorts() {
  return [](unsigned char* b, uint32_t s, uint32_t* n, uint32_t* r) {
    return EnumPortsA(nullptr, 2, b, s, n, r);
  };
}
BufferCall EnumMonitors() {
  return [](unsigned char* b, uint32_t s, uint32_t* n, uint32_t* r) {
    return EnumMonitorsA(nullptr, 2, b, s, n, r);
  };
}
BufferCall EnumPrinters() {
  return [](unsigned char* b, uint32_t s, uint32_t* n, uint32_t* r) {
    return EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, b, s, n, r);
  };
}

class WinspoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    spooler_.monitors = {{"Multi File Port Monitor", "Linux x86_64", "mfilemon.dll"},
                         {"Quorvel", "Linux x86_64", "quorvelmon.dll"}};
    spooler_.ports = {{"QuorvelPort", "Multi File Port Monitor", "Local port"},
                      {"QuorvelUser", "Quorvel", "Local port"}};
    spooler_.printers = {FakeSpooler::MakePrinter("Quorvel PDF", "QuorvelPort", "Driver A"),
                         FakeSpooler::MakePrinter("Office", "QuorvelUser", "Driver B")};
    spooler_.printers[0].queue = "Quorvel_PDF";
    spooler_.drivers = {"Driver A"};
    SetLastError(0);
  }

  HANDLE Open(const char* name) {
    HANDLE handle = nullptr;
    EXPECT_TRUE(OpenPrinterA(name, &handle, nullptr)) << GetLastError();
    return handle;
  }

  // The device mode GetPrinterA reports for the handle's printer.
  DEVMODEA CurrentMode(HANDLE handle) {
    uint32_t unused = 0;
    Bytes buffer = CallTwice([&](unsigned char* b, uint32_t s, uint32_t* n,
                                 uint32_t*) { return GetPrinterA(handle, 2, b, s, n); },
                             &unused);
    DEVMODEA mode;
    std::memcpy(&mode, reinterpret_cast<PRINTER_INFO_2A*>(buffer.data())->pDevMode, sizeof(mode));
    return mode;
  }

  FakeSpooler spooler_;
};

TEST_F(WinspoolTest, EveryEnumCallAsksForTheSizeFirst) {
  const struct {
    const char* name;
    BufferCall call;
  } cases[] = {{"ports", EnumPorts()}, {"monitors", EnumMonitors()}, {"printers", EnumPrinters()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t needed = 0, returned = 7;
    EXPECT_FALSE(c.call(nullptr, 0, &needed, &returned));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(0u, returned);
    Bytes shortBuffer(needed - 1);
    uint32_t again = 0;
    EXPECT_FALSE(c.call(shortBuffer.data(), needed - 1, &again, &returned));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(needed, again);
    Bytes buffer(needed);
    EXPECT_TRUE(c.call(buffer.data(), needed, &again, &returned));
    EXPECT_EQ(2u, returned);
  }
}

TEST_F(WinspoolTest, PortRecordsPointAtTheirTextsInsideTheBuffer) {
  uint32_t returned = 0;
  Bytes buffer = CallTwice(EnumPorts(), &returned);
  ASSERT_EQ(2u, returned);
  auto* ports = reinterpret_cast<PORT_INFO_2A*>(buffer.data());
  EXPECT_STREQ("QuorvelPort", ports[0].pPortName);
  EXPECT_STREQ("Multi File Port Monitor", ports[0].pMonitorName);
  EXPECT_STREQ("Local port", ports[0].pDescription);
  EXPECT_EQ(PORT_TYPE_WRITE, ports[0].fPortType);
  EXPECT_STREQ("QuorvelUser", ports[1].pPortName);
  EXPECT_STREQ("Quorvel", ports[1].pMonitorName);
  for (const PORT_INFO_2A& port : {ports[0], ports[1]}) {
    EXPECT_TRUE(TextInside(port.pPortName, buffer));
    EXPECT_TRUE(TextInside(port.pMonitorName, buffer));
    EXPECT_TRUE(TextInside(port.pDescription, buffer));
    // The texts come after the records.
    EXPECT_GE(reinterpret_cast<unsigned char*>(port.pPortName), buffer.data() + 2 * sizeof(port));
  }
}

TEST_F(WinspoolTest, MonitorRecordsCarryNameEnvironmentAndModule) {
  uint32_t returned = 0;
  Bytes buffer = CallTwice(EnumMonitors(), &returned);
  ASSERT_EQ(2u, returned);
  auto* monitors = reinterpret_cast<MONITOR_INFO_2A*>(buffer.data());
  EXPECT_STREQ("Multi File Port Monitor", monitors[0].pName);
  EXPECT_STREQ("Linux x86_64", monitors[0].pEnvironment);
  EXPECT_STREQ("mfilemon.dll", monitors[0].pDLLName);
  EXPECT_STREQ("quorvelmon.dll", monitors[1].pDLLName);
  EXPECT_TRUE(TextInside(monitors[1].pDLLName, buffer));
}

TEST_F(WinspoolTest, PrinterRecordsCarryTheirDeviceModesInsideTheBufferAligned) {
  spooler_.printers[1].paperSize = DMPAPER_A4;
  spooler_.printers[1].orientation = DMORIENT_LANDSCAPE;
  uint32_t returned = 0;
  Bytes buffer = CallTwice(EnumPrinters(), &returned);
  ASSERT_EQ(2u, returned);
  auto* printers = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
  EXPECT_STREQ("Quorvel PDF", printers[0].pPrinterName);
  EXPECT_STREQ("QuorvelPort", printers[0].pPortName);
  EXPECT_STREQ("Driver A", printers[0].pDriverName);
  EXPECT_EQ(nullptr, printers[0].pServerName);
  EXPECT_EQ(PRINTER_ATTRIBUTE_LOCAL, printers[0].Attributes);
  for (const PRINTER_INFO_2A& printer : {printers[0], printers[1]}) {
    EXPECT_TRUE(TextInside(printer.pComment, buffer));
    ASSERT_TRUE(Inside(printer.pDevMode, buffer));
    EXPECT_TRUE(Inside(reinterpret_cast<unsigned char*>(printer.pDevMode) + 155, buffer));
    EXPECT_EQ(0u, (reinterpret_cast<unsigned char*>(printer.pDevMode) - buffer.data()) % 8);
  }
  const DEVMODEA& office = *printers[1].pDevMode;
  EXPECT_STREQ("Office", office.dmDeviceName);
  EXPECT_EQ(156, office.dmSize);
  EXPECT_EQ(0, office.dmDriverExtra);
  EXPECT_EQ(DM_PAPERSIZE | DM_ORIENTATION, office.dmFields);
  EXPECT_EQ(DMPAPER_A4, office.dmPaperSize);
  EXPECT_EQ(DMORIENT_LANDSCAPE, office.dmOrientation);
}

TEST_F(WinspoolTest, AnEmptyListNeedsNoBuffer) {
  spooler_.printers.clear();
  uint32_t needed = 5, returned = 5;
  EXPECT_TRUE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
  EXPECT_EQ(0u, needed);
  EXPECT_EQ(0u, returned);
}

TEST_F(WinspoolTest, EnumPrintersListsOnlyLocalPrinters) {
  uint32_t needed = 5, returned = 5;
  EXPECT_TRUE(EnumPrintersA(0x4 /* connections */, nullptr, 2, nullptr, 0, &needed, &returned));
  EXPECT_EQ(0u, returned);
  EXPECT_TRUE(spooler_.calls.empty());
}

TEST_F(WinspoolTest, EnumCallsRefuseBadArguments) {
  Bytes buffer(4096);
  uint32_t needed = 0, returned = 0;
  const struct {
    const char* what;
    std::function<BOOL()> call;
    uint32_t error;
  } cases[] = {
      {"level 1", [&] { return EnumPortsA(nullptr, 1, buffer.data(), 4096, &needed, &returned); },
       ERROR_SPOOLER_INVALID_LEVEL},
      {"remote server",
       [&] { return EnumMonitorsA("\\\\server", 2, buffer.data(), 4096, &needed, &returned); },
       ERROR_NOT_SUPPORTED},
      {"no needed",
       [&] {
         return EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), 4096, nullptr,
                              &returned);
       },
       ERROR_SPOOLER_INVALID_PARAMETER},
      {"misaligned",
       [&] { return EnumPortsA(nullptr, 2, buffer.data() + 1, 4000, &needed, &returned); },
       ERROR_SPOOLER_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(0);
    EXPECT_FALSE(c.call());
    EXPECT_EQ(c.error, GetLastError());
  }
}

TEST_F(WinspoolTest, TheSpoolersFailureIsTheCallsError) {
  spooler_.failures["Printers"] = RPC_S_SERVER_UNAVAILABLE;
  uint32_t needed = 0, returned = 0;
  EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
  EXPECT_EQ(RPC_S_SERVER_UNAVAILABLE, GetLastError());
}

TEST_F(WinspoolTest, OpenPrinterFindsByNameOrQueueAndRefusesOthers) {
  HANDLE byQueue = Open("quorvel_pdf");
  EXPECT_TRUE(ClosePrinter(byQueue));
  HANDLE handle = reinterpret_cast<HANDLE>(0x1234);
  EXPECT_FALSE(OpenPrinterA("Nobody", &handle, nullptr));
  EXPECT_EQ(ERROR_INVALID_PRINTER_NAME, GetLastError());
  EXPECT_EQ(nullptr, handle);
  EXPECT_FALSE(OpenPrinterA(nullptr, &handle, nullptr));
  EXPECT_EQ(ERROR_INVALID_PRINTER_NAME, GetLastError());
}

TEST_F(WinspoolTest, AClosedOrMadeUpHandleIsRefused) {
  HANDLE handle = Open("Office");
  EXPECT_TRUE(ClosePrinter(handle));
  uint32_t needed = 0;
  EXPECT_FALSE(GetPrinterA(handle, 2, nullptr, 0, &needed));
  EXPECT_EQ(ERROR_INVALID_HANDLE_VALUE, GetLastError());
  EXPECT_FALSE(ClosePrinter(handle));
  EXPECT_EQ(ERROR_INVALID_HANDLE_VALUE, GetLastError());
  int notAHandle = 0;
  EXPECT_FALSE(ClosePrinter(&notAHandle));
  EXPECT_EQ(ERROR_INVALID_HANDLE_VALUE, GetLastError());
}

TEST_F(WinspoolTest, AHandleFindsItsPrinterAnewOnEachCall) {
  HANDLE handle = Open("Quorvel_PDF");
  spooler_.printers[0].paperSize = DMPAPER_A5;
  EXPECT_EQ(DMPAPER_A5, CurrentMode(handle).dmPaperSize);
  spooler_.printers.erase(spooler_.printers.begin());
  uint32_t needed = 0;
  EXPECT_FALSE(GetPrinterA(handle, 2, nullptr, 0, &needed));
  EXPECT_EQ(ERROR_INVALID_PRINTER_NAME, GetLastError());
  EXPECT_EQ("FindPrinter Quorvel PDF", spooler_.calls.back());
  EXPECT_TRUE(ClosePrinter(handle));
}

TEST_F(WinspoolTest, GetPrinterGivesOneRecordWithTheCurrentDefaults) {
  HANDLE handle = Open("Quorvel PDF");
  uint32_t unused = 0;
  Bytes buffer = CallTwice([&](unsigned char* b, uint32_t s, uint32_t* n,
                               uint32_t*) { return GetPrinterA(handle, 2, b, s, n); },
                           &unused);
  auto* info = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
  EXPECT_STREQ("Quorvel PDF", info->pPrinterName);
  EXPECT_TRUE(TextInside(info->pDriverName, buffer));
  ASSERT_TRUE(Inside(info->pDevMode, buffer));
  EXPECT_EQ(DMPAPER_LETTER, info->pDevMode->dmPaperSize);
  EXPECT_EQ(DMORIENT_PORTRAIT, info->pDevMode->dmOrientation);
  EXPECT_EQ(DM_SPECVERSION, info->pDevMode->dmSpecVersion);
  EXPECT_TRUE(ClosePrinter(handle));
}

TEST_F(WinspoolTest, TheDeviceNameIsCutTo31BytesBetweenCharacters) {
  // 30 ASCII bytes, then a two-byte character that would end at byte 32.
  const std::string name = std::string(30, 'P') + "\xC3\x9C" + "X";
  spooler_.printers.push_back(FakeSpooler::MakePrinter(name, "QuorvelPort", "Driver A"));
  HANDLE handle = Open(name.c_str());
  EXPECT_EQ(std::string(30, 'P'), CurrentMode(handle).dmDeviceName);
  EXPECT_TRUE(ClosePrinter(handle));
  spooler_.printers.back().name = std::string(40, 'Q');
  handle = Open(std::string(40, 'Q').c_str());
  EXPECT_EQ(std::string(31, 'Q'), CurrentMode(handle).dmDeviceName);
  EXPECT_TRUE(ClosePrinter(handle));
}

TEST_F(WinspoolTest, DocumentPropertiesModeZeroGivesTheSize) {
  HANDLE handle = Open("Office");
  EXPECT_EQ(156, DocumentPropertiesA(nullptr, handle, nullptr, nullptr, nullptr, 0));
  EXPECT_TRUE(ClosePrinter(handle));
}

TEST_F(WinspoolTest, DocumentPropertiesOutGivesTheDefaults) {
  spooler_.printers[1].paperSize = DMPAPER_LEGAL;
  HANDLE handle = Open("Office");
  DEVMODEA out;
  std::memset(&out, 0xAB, sizeof(out));
  EXPECT_EQ(1, DocumentPropertiesA(nullptr, handle, nullptr, &out, nullptr, DM_OUT_BUFFER));
  EXPECT_EQ(DMPAPER_LEGAL, out.dmPaperSize);
  EXPECT_EQ(DMORIENT_PORTRAIT, out.dmOrientation);
  EXPECT_STREQ("Office", out.dmDeviceName);
  EXPECT_EQ(0, out.dmCopies);
  EXPECT_TRUE(ClosePrinter(handle));
}

TEST_F(WinspoolTest, DocumentPropertiesMergesOnlyTheNamedFields) {
  HANDLE handle = Open("Office");
  DEVMODEA mode;
  ASSERT_EQ(1, DocumentPropertiesA(nullptr, handle, nullptr, &mode, nullptr, DM_OUT_BUFFER));
  mode.dmFields = DM_PAPERSIZE;
  mode.dmPaperSize = DMPAPER_A4;
  mode.dmOrientation = DMORIENT_LANDSCAPE;  // not named: stays as it is
  EXPECT_EQ(
      1, DocumentPropertiesA(nullptr, handle, nullptr, &mode, &mode, DM_IN_BUFFER | DM_OUT_BUFFER));
  EXPECT_EQ(DMPAPER_A4, mode.dmPaperSize);
  EXPECT_EQ(DMORIENT_PORTRAIT, mode.dmOrientation);
  EXPECT_EQ(DM_PAPERSIZE | DM_ORIENTATION, mode.dmFields);
  // The printer's defaults are not changed by it.
  EXPECT_EQ(DMPAPER_LETTER, spooler_.printers[1].paperSize);
  for (const std::string& call : spooler_.calls) EXPECT_EQ(std::string::npos, call.find("Set"));
  EXPECT_TRUE(ClosePrinter(handle));
}

TEST_F(WinspoolTest, DocumentPropertiesRefusesValuesThePrinterCannotTake) {
  spooler_.printers[1].paperSizes = {DMPAPER_LETTER, DMPAPER_A4};
  HANDLE handle = Open("Office");
  const struct {
    uint32_t fields;
    int16_t paper, orientation;
  } cases[] = {{DM_PAPERSIZE, DMPAPER_A3, 0}, {DM_PAPERSIZE, 256, 0}, {DM_ORIENTATION, 0, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.paper) + "/" + std::to_string(c.orientation));
    DEVMODEA in{}, out{};
    in.dmSize = sizeof(in);
    in.dmFields = c.fields;
    in.dmPaperSize = c.paper;
    in.dmOrientation = c.orientation;
    SetLastError(0);
    EXPECT_EQ(
        -1, DocumentPropertiesA(nullptr, handle, nullptr, &out, &in, DM_IN_BUFFER | DM_OUT_BUFFER));
    EXPECT_EQ(ERROR_SPOOLER_INVALID_PARAMETER, GetLastError());
  }
  EXPECT_TRUE(ClosePrinter(handle));
}

TEST_F(WinspoolTest, DocumentPropertiesIgnoresFieldsThePrinterDoesNotOffer) {
  spooler_.printers[1].fields = DM_PAPERSIZE;
  HANDLE handle = Open("Office");
  DEVMODEA in{}, out{};
  in.dmSize = sizeof(in);
  in.dmFields = DM_ORIENTATION;
  in.dmOrientation = 99;
  EXPECT_EQ(1,
            DocumentPropertiesA(nullptr, handle, nullptr, &out, &in, DM_IN_BUFFER | DM_OUT_BUFFER));
  EXPECT_EQ(DM_PAPERSIZE, out.dmFields);
  EXPECT_EQ(0, out.dmOrientation);
  EXPECT_TRUE(ClosePrinter(handle));
}

TEST_F(WinspoolTest, DocumentPropertiesFindsThePrinterByDeviceNameWithoutAHandle) {
  DEVMODEA out{};
  EXPECT_EQ(1, DocumentPropertiesA(nullptr, nullptr, "Office", &out, nullptr, DM_OUT_BUFFER));
  EXPECT_STREQ("Office", out.dmDeviceName);
  EXPECT_EQ(-1, DocumentPropertiesA(nullptr, nullptr, "Nobody", &out, nullptr, DM_OUT_BUFFER));
  EXPECT_EQ(ERROR_INVALID_PRINTER_NAME, GetLastError());
  EXPECT_EQ(-1, DocumentPropertiesA(nullptr, nullptr, "Office", nullptr, nullptr, DM_OUT_BUFFER));
  EXPECT_EQ(ERROR_SPOOLER_INVALID_PARAMETER, GetLastError());
}

TEST_F(WinspoolTest, SetPrinterWritesOnlyTheNamedFields) {
  spooler_.printers[1].orientation = DMORIENT_LANDSCAPE;
  HANDLE handle = Open("Office");
  DEVMODEA mode{};
  mode.dmSize = sizeof(mode);
  mode.dmFields = DM_PAPERSIZE;
  mode.dmPaperSize = DMPAPER_A4;
  mode.dmOrientation = DMORIENT_PORTRAIT;
  PRINTER_INFO_2A info{};
  info.pDevMode = &mode;
  EXPECT_TRUE(SetPrinterA(handle, 2, reinterpret_cast<unsigned char*>(&info), 0));
  EXPECT_EQ("SetPrinterDefaults Office|2|9|2", spooler_.calls.back());
  EXPECT_EQ(DMPAPER_A4, spooler_.printers[1].paperSize);
  EXPECT_EQ(DMORIENT_LANDSCAPE, spooler_.printers[1].orientation);
  EXPECT_EQ(DMPAPER_A4, CurrentMode(handle).dmPaperSize);
  EXPECT_TRUE(ClosePrinter(handle));
}

TEST_F(WinspoolTest, SetPrinterWithoutADeviceModeChangesNothing) {
  HANDLE handle = Open("Office");
  PRINTER_INFO_2A info{};
  EXPECT_TRUE(SetPrinterA(handle, 2, reinterpret_cast<unsigned char*>(&info), 0));
  for (const std::string& call : spooler_.calls) EXPECT_EQ(std::string::npos, call.find("Set"));
  EXPECT_TRUE(ClosePrinter(handle));
}

TEST_F(WinspoolTest, SetPrinterRefusesWhatItCannotWrite) {
  HANDLE handle = Open("Office");
  DEVMODEA mode{};
  mode.dmSize = sizeof(mode);
  mode.dmFields = DM_ORIENTATION;
  mode.dmOrientation = DMORIENT_LANDSCAPE;
  PRINTER_INFO_2A info{};
  info.pDevMode = &mode;
  auto* bytes = reinterpret_cast<unsigned char*>(&info);
  const struct {
    const char* what;
    HANDLE handle;
    uint32_t level, command;
    uint32_t error;
  } cases[] = {{"level 1", handle, 1, 0, ERROR_SPOOLER_INVALID_LEVEL},
               {"pause", handle, 2, 1, ERROR_NOT_SUPPORTED},
               {"made-up handle", &mode, 2, 0, ERROR_INVALID_HANDLE_VALUE}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(SetPrinterA(c.handle, c.level, bytes, c.command));
    EXPECT_EQ(c.error, GetLastError());
  }
  mode.dmSize = 40;  // too small to hold the fields
  EXPECT_FALSE(SetPrinterA(handle, 2, bytes, 0));
  EXPECT_EQ(ERROR_SPOOLER_INVALID_PARAMETER, GetLastError());
  for (const std::string& call : spooler_.calls) EXPECT_EQ(std::string::npos, call.find("Set"));
  EXPECT_TRUE(ClosePrinter(handle));
}

TEST_F(WinspoolTest, SetPrinterPassesOnTheSpoolersRefusal) {
  spooler_.failures["SetPrinterDefaults"] = ERROR_SPOOLER_ACCESS_DENIED;
  HANDLE handle = Open("Office");
  DEVMODEA mode{};
  mode.dmSize = sizeof(mode);
  mode.dmFields = DM_PAPERSIZE;
  mode.dmPaperSize = DMPAPER_A5;
  PRINTER_INFO_2A info{};
  info.pDevMode = &mode;
  EXPECT_FALSE(SetPrinterA(handle, 2, reinterpret_cast<unsigned char*>(&info), 0));
  EXPECT_EQ(ERROR_SPOOLER_ACCESS_DENIED, GetLastError());
  EXPECT_TRUE(ClosePrinter(handle));
}

TEST_F(WinspoolTest, GetDefaultPrinterFailsWithFileNotFoundWhenThereIsNone) {
  char name[64];
  uint32_t size = sizeof(name);
  EXPECT_FALSE(GetDefaultPrinterA(name, &size));
  EXPECT_EQ(ERROR_SPOOLER_FILE_NOT_FOUND, GetLastError());
}

TEST_F(WinspoolTest, GetDefaultPrinterAsksForRoomFirst) {
  spooler_.defaultPrinter = "Quorvel PDF";
  uint32_t size = 0;
  EXPECT_FALSE(GetDefaultPrinterA(nullptr, &size));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_EQ(12u, size);
  std::vector<char> name(size - 1);
  uint32_t tooSmall = size - 1;
  EXPECT_FALSE(GetDefaultPrinterA(name.data(), &tooSmall));
  EXPECT_EQ(12u, tooSmall);
  name.resize(size);
  EXPECT_TRUE(GetDefaultPrinterA(name.data(), &size));
  EXPECT_STREQ("Quorvel PDF", name.data());
  EXPECT_EQ(12u, size);
  EXPECT_FALSE(GetDefaultPrinterA(name.data(), nullptr));
  EXPECT_EQ(ERROR_SPOOLER_INVALID_PARAMETER, GetLastError());
}

TEST_F(WinspoolTest, TheLastErrorBelongsToItsThread) {
  SetLastError(7);
  std::thread other([] {
    char name[8];
    uint32_t size = sizeof(name);
    GetDefaultPrinterA(name, &size);
    EXPECT_EQ(ERROR_SPOOLER_FILE_NOT_FOUND, GetLastError());
  });
  other.join();
  EXPECT_EQ(7u, GetLastError());
}

TEST_F(WinspoolTest, ASucceedingCallLeavesTheLastErrorAlone) {
  SetLastError(ERROR_UNKNOWN_PORT);
  HANDLE handle = Open("Office");
  EXPECT_TRUE(ClosePrinter(handle));
  EXPECT_EQ(ERROR_UNKNOWN_PORT, GetLastError());
}

TEST_F(WinspoolTest, InstallPrinterWithDriverAsksTheSpoolerOnce) {
  std::string error = "untouched";
  EXPECT_TRUE(
      platform::InstallPrinterWithDriver("Quorvel PDFPrinter", "QuorvelPort", "Driver A", &error));
  EXPECT_EQ(std::vector<std::string>{"InstallPrinter Quorvel PDFPrinter|QuorvelPort|Driver A"},
            spooler_.calls);
  EXPECT_NE(nullptr, spooler_.Printer("Quorvel PDFPrinter"));
  EXPECT_EQ("untouched", error);
}

TEST_F(WinspoolTest, InstallPrinterWithAnUnknownDriverGivesTheReason) {
  std::string error;
  EXPECT_FALSE(platform::InstallPrinterWithDriver("New", "QuorvelPort", "Driver Z", &error));
  EXPECT_EQ("the printer driver is unknown (1797): no driver Driver Z", error);
  EXPECT_EQ(nullptr, spooler_.Printer("New"));
}

TEST_F(WinspoolTest, DeleteAndRestartReportTheSpoolersAnswer) {
  std::string error;
  EXPECT_TRUE(platform::RestartSpoolerService(&error));
  EXPECT_TRUE(platform::DeletePrinterByName("Office", &error));
  EXPECT_EQ(nullptr, spooler_.Printer("Office"));
  EXPECT_FALSE(platform::DeletePrinterByName("Office", &error));
  EXPECT_EQ("the printer name is invalid (1801): no printer Office", error);
  EXPECT_EQ(
      (std::vector<std::string>{"RestartService", "DeletePrinter Office", "DeletePrinter Office"}),
      spooler_.calls);
}

TEST_F(WinspoolTest, BroadcastsDoNothing) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows broadcasts to its windows for real";
#endif
  uintptr_t result = 5;
  EXPECT_EQ(1u, SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, 0, 0, 5000, &result));
  EXPECT_EQ(0u, result);
}

TEST(WinspoolServiceTest, TheFakeIsInForceOnlyWhileItLives) {
  platform::Spooler* system = &platform::CurrentSpooler();
  {
    FakeSpooler fake;
    EXPECT_EQ(&fake, &platform::CurrentSpooler());
  }
  EXPECT_EQ(system, &platform::CurrentSpooler());
  EXPECT_EQ(&platform::SystemSpooler(), &platform::CurrentSpooler());
}

}  // namespace
