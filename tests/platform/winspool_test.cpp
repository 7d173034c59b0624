// The winspool-shaped calls against the in-memory spooler: buffer layout and
// size protocol, handles, device modes and error codes.
#include "platform/winspool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
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

// The two-call protocol: asks for the size, is refused a buffer one byte
// short, then fills a buffer of it.
Bytes CallTwice(const BufferCall& call, uint32_t* returned) {
  uint32_t needed = 0, again = 0;
  EXPECT_FALSE(call(nullptr, 0, &needed, returned));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  Bytes buffer(needed);
  EXPECT_FALSE(call(buffer.data(), needed - 1, &again, returned));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  EXPECT_EQ(needed, again);
  EXPECT_TRUE(call(buffer.data(), needed, &needed, returned)) << GetLastError();
  EXPECT_EQ(buffer.size(), needed);
  return buffer;
}

const BufferCall kEnumPorts = [](unsigned char* b, uint32_t s, uint32_t* n, uint32_t* r) {
  return EnumPortsA(nullptr, 2, b, s, n, r);
};
const BufferCall kEnumMonitors = [](unsigned char* b, uint32_t s, uint32_t* n, uint32_t* r) {
  return EnumMonitorsA(nullptr, 2, b, s, n, r);
};
const BufferCall kEnumPrinters = [](unsigned char* b, uint32_t s, uint32_t* n, uint32_t* r) {
  return EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, b, s, n, r);
};

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

// Every record's texts lie inside the buffer behind the records, a printer's
// device mode too, 8-aligned.
TEST_F(WinspoolTest, RecordsPointAtTheirTextsAndDeviceModesInsideTheBuffer) {
  uint32_t n[3] = {};
  const Bytes ports = CallTwice(kEnumPorts, &n[0]), monitors = CallTwice(kEnumMonitors, &n[1]),
              printers = CallTwice(kEnumPrinters, &n[2]);
  std::string seen = std::to_string(n[0]) + std::to_string(n[1]) + std::to_string(n[2]) + "\n";
  auto add = [&seen](const Bytes& buffer, size_t records, std::vector<const char*> texts) {
    for (const char* t : texts) {  // "?" for a text outside its place
      const bool placed = t && Inside(t, buffer) && Inside(t + std::strlen(t), buffer) &&
                          t >= reinterpret_cast<const char*>(buffer.data()) + records;
      seen += (placed ? std::string(t) : "?") + "|";
    }
  };
  for (int i = 0; i < 2; ++i) {
    const auto& port = reinterpret_cast<const PORT_INFO_2A*>(ports.data())[i];
    const auto& monitor = reinterpret_cast<const MONITOR_INFO_2A*>(monitors.data())[i];
    const auto& printer = reinterpret_cast<const PRINTER_INFO_2A*>(printers.data())[i];
    add(ports, 2 * sizeof(port), {port.pPortName, port.pMonitorName, port.pDescription});
    add(monitors, 2 * sizeof(monitor), {monitor.pName, monitor.pEnvironment, monitor.pDLLName});
    add(printers, 2 * sizeof(printer),
        {printer.pPrinterName, printer.pPortName, printer.pDriverName, printer.pComment});
    seen += std::to_string(port.fPortType == PORT_TYPE_WRITE && !printer.pServerName &&
                           printer.Attributes == PRINTER_ATTRIBUTE_LOCAL) +
            "\n";
    const auto* mode = reinterpret_cast<const unsigned char*>(printer.pDevMode);
    ASSERT_TRUE(Inside(mode, printers) && Inside(mode + 155, printers));
    EXPECT_EQ(0u, (mode - printers.data()) % 8);
  }
  EXPECT_EQ(
      "222\nQuorvelPort|Multi File Port Monitor|Local port|Multi File Port Monitor|Linux x86_64|"
      "mfilemon.dll|Quorvel PDF|QuorvelPort|Driver A||1\nQuorvelUser|Quorvel|Local port|Quorvel|"
      "Linux x86_64|quorvelmon.dll|Office|QuorvelUser|Driver B||1\n",
      seen);
  const DEVMODEA& m = *reinterpret_cast<const PRINTER_INFO_2A*>(printers.data())[1].pDevMode;
  // Its fields, paper and orientation: DocumentPropertiesA's defaults, the same mode.
  EXPECT_EQ("Office 156 1025 0", std::string(m.dmDeviceName) + " " + std::to_string(m.dmSize) +
                                     " " + std::to_string(m.dmSpecVersion) + " " +
                                     std::to_string(m.dmDriverExtra));
}

// Calls that succeed with nothing listed (error 0) or fail with an error;
// a failed OpenPrinterA leaves no handle behind.
TEST_F(WinspoolTest, CallsAnswerEmptyListsAndRefuseBadArgumentsAndHandles) {
  uint32_t needed = 0, returned = 0;
  char name[64];
  HANDLE handle = Open("Office"), closed = handle;
  EXPECT_TRUE(ClosePrinter(closed));
  int notAHandle = 0;
  const uint32_t bad = ERROR_SPOOLER_INVALID_PARAMETER, badName = ERROR_INVALID_PRINTER_NAME;
  const uint32_t badHandle = ERROR_INVALID_HANDLE_VALUE;
  const struct {
    const char* what;
    std::function<BOOL()> call;
    uint32_t error;
  } cases[] = {
      {"open unknown",
       [&] {
         handle = &notAHandle;
         return OpenPrinterA("Nobody", &handle, nullptr) || handle;
       },
       badName},
      {"open no name", [&] { return OpenPrinterA(nullptr, &handle, nullptr); }, badName},
      {"get on closed handle", [&] { return GetPrinterA(closed, 2, nullptr, 0, &needed); },
       badHandle},
      {"close twice", [&] { return ClosePrinter(closed); }, badHandle},
      {"no output mode",
       [&] { return DocumentPropertiesA(nullptr, nullptr, "Office", nullptr, nullptr, 2) == 1; },
       bad},
      {"no default printer",
       [&] {
         uint32_t size = sizeof(name);
         return GetDefaultPrinterA(name, &size);
       },
       ERROR_SPOOLER_FILE_NOT_FOUND},
      {"no printers",
       [&] {
         spooler_.printers.clear();
         return EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned);
       },
       0},
      {"spooler down",
       [&] {
         spooler_.failures["Ports"] = RPC_S_SERVER_UNAVAILABLE;
         return EnumPortsA(nullptr, 2, nullptr, 0, &needed, &returned);
       },
       RPC_S_SERVER_UNAVAILABLE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(0);
    needed = returned = 5;
    EXPECT_EQ(c.error == 0, c.call() != 0);
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_TRUE(c.error || needed + returned == 0) << needed << " " << returned;
  }
}

// A handle finds its printer anew on each call. The device name is cut to 31
// bytes, never inside a character.
TEST_F(WinspoolTest, AHandleFindsItsPrinterAnewAndCutsItsDeviceName) {
  for (const auto& [name, cut] :
       {std::make_pair(std::string(30, 'P') + "\xC3\x9C" + "X", std::string(30, 'P')),
        std::make_pair(std::string(40, 'Q'), std::string(31, 'Q'))}) {
    SCOPED_TRACE(cut);
    spooler_.printers.push_back(FakeSpooler::MakePrinter(name, "QuorvelPort", "Driver A"));
    HANDLE handle = Open(name.c_str());
    EXPECT_EQ(cut, CurrentMode(handle).dmDeviceName);
    EXPECT_TRUE(ClosePrinter(handle));
  }
  HANDLE handle = Open("quorvel_pdf");  // the queue's name, any letter case
  EXPECT_EQ(DMPAPER_LETTER, CurrentMode(handle).dmPaperSize);
  spooler_.printers[0].paperSize = DMPAPER_A5;
  EXPECT_EQ(DMPAPER_A5, CurrentMode(handle).dmPaperSize);
  spooler_.printers.erase(spooler_.printers.begin());
  uint32_t needed = 0;
  EXPECT_FALSE(GetPrinterA(handle, 2, nullptr, 0, &needed));
  EXPECT_EQ(ERROR_INVALID_PRINTER_NAME, GetLastError());
  EXPECT_EQ("FindPrinter Quorvel PDF", spooler_.calls.back());
  EXPECT_TRUE(ClosePrinter(handle));
}

// Office offers Letter, Legal and A4 and has Legal; Narrow offers no
// orientation. A mode of 0 asks for the size; an input names its fields.
TEST_F(WinspoolTest, DocumentPropertiesMergesWhatThePrinterTakes) {
  const uint32_t paper = DM_PAPERSIZE, both = DM_PAPERSIZE | DM_ORIENTATION;
  const uint32_t out = DM_OUT_BUFFER, inOut = DM_IN_BUFFER | DM_OUT_BUFFER;
  const uint32_t bad = ERROR_SPOOLER_INVALID_PARAMETER;
  const int16_t legal = DMPAPER_LEGAL, portrait = DMORIENT_PORTRAIT;
  spooler_.printers[1].paperSize = DMPAPER_LEGAL;
  spooler_.printers[1].paperSizes = {DMPAPER_LETTER, DMPAPER_LEGAL, DMPAPER_A4};
  spooler_.printers.push_back(FakeSpooler::MakePrinter("Narrow", "QuorvelPort", "Driver A"));
  spooler_.printers.back().fields = DM_PAPERSIZE;
  const struct {
    const char* what;
    const char* printer;
    bool byName;  // the device name instead of a handle
    uint32_t inFields;
    int16_t inPaper, inOrientation;
    uint32_t mode;
    int result;
    uint32_t error;
    int16_t paper = 0, orientation = 0;  // of the output, when result is 1
    uint32_t fields = 0;
  } cases[] = {
      {"size", "Office", false, 0, 0, 0, 0, 156, 0},
      {"defaults", "Office", false, 0, 0, 0, out, 1, 0, legal, portrait, both},
      {"named only", "Office", false, paper, DMPAPER_A4, 2, inOut, 1, 0, DMPAPER_A4, 1, both},
      {"paper not offered", "Office", false, paper, DMPAPER_A3, 0, inOut, -1, bad},
      {"paper out of range", "Office", false, paper, 256, 0, inOut, -1, bad},
      {"bad orientation", "Office", false, DM_ORIENTATION, 0, 3, inOut, -1, bad},
      {"field not offered", "Narrow", false, DM_ORIENTATION, 0, 99, inOut, 1, 0, 1, 0, paper},
      {"by device name", "Office", true, 0, 0, 0, out, 1, 0, legal, portrait, both},
      {"unknown device", "Nobody", true, 0, 0, 0, out, -1, ERROR_INVALID_PRINTER_NAME},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HANDLE handle = c.byName ? nullptr : Open(c.printer);
    DEVMODEA in{}, result;
    std::memset(&result, 0xAB, sizeof(result));
    in.dmSize = sizeof(in);
    in.dmFields = c.inFields;
    in.dmPaperSize = c.inPaper;
    in.dmOrientation = c.inOrientation;
    SetLastError(0);
    EXPECT_EQ(c.result, DocumentPropertiesA(nullptr, handle, c.byName ? c.printer : nullptr,
                                            &result, c.inFields ? &in : nullptr, c.mode));
    EXPECT_EQ(c.error, GetLastError());
    if (c.result == 1) {
      EXPECT_STREQ(c.printer, result.dmDeviceName);
      EXPECT_EQ(c.fields, result.dmFields);
      EXPECT_EQ(c.paper, result.dmPaperSize);
      EXPECT_EQ(c.orientation, result.dmOrientation);
      EXPECT_EQ(0, result.dmCopies);
    }
    EXPECT_TRUE(!handle || ClosePrinter(handle));
  }
  // The printer's defaults are not changed by it.
  EXPECT_EQ(DMPAPER_LEGAL, spooler_.printers[1].paperSize);
  for (const std::string& call : spooler_.calls) EXPECT_EQ(std::string::npos, call.find("Set"));
}

// SetPrinterA writes the fields the mode names (here the paper, A4) and
// nothing else, or fails without asking the spooler to write.
TEST_F(WinspoolTest, SetPrinterWritesOnlyTheNamedFieldsOrRefuses) {
  spooler_.printers[1].orientation = DMORIENT_LANDSCAPE;
  HANDLE office = Open("Office");
  const uint32_t denied = ERROR_SPOOLER_ACCESS_DENIED;
  const struct {
    const char* what;
    uint32_t error;
    uint32_t level = 2, command = 0;
    uint16_t size = sizeof(DEVMODEA);
    bool withMode = true, madeUpHandle = false;
    uint32_t failure = 0;
  } cases[] = {
      {"named fields", 0},
      {"level 1", ERROR_SPOOLER_INVALID_LEVEL, 1},
      {"pause", ERROR_NOT_SUPPORTED, 2, 1},
      {"mode too small", ERROR_SPOOLER_INVALID_PARAMETER, 2, 0, 40},
      {"no device mode", 0, 2, 0, 156, false},
      {"made-up handle", ERROR_INVALID_HANDLE_VALUE, 2, 0, 156, true, true},
      {"spooler refuses", denied, 2, 0, 156, true, false, denied},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DEVMODEA mode{};
    mode.dmSize = c.size;
    mode.dmFields = DM_PAPERSIZE;
    mode.dmPaperSize = DMPAPER_A4;
    mode.dmOrientation = DMORIENT_PORTRAIT;  // not named: stays as it is
    PRINTER_INFO_2A info{};
    info.pDevMode = c.withMode ? &mode : nullptr;
    if (c.failure) spooler_.failures["SetPrinterDefaults"] = c.failure;
    SetLastError(0);
    EXPECT_EQ(c.error == 0, SetPrinterA(c.madeUpHandle ? &mode : office, c.level,
                                        reinterpret_cast<unsigned char*>(&info), c.command) != 0);
    EXPECT_EQ(c.error, GetLastError());
  }
  // Only the first row and the refused last one reached the spooler.
  std::vector<std::string> writes;
  for (const std::string& call : spooler_.calls) {
    if (call.find("Set") != std::string::npos) writes.push_back(call);
  }
  EXPECT_EQ(std::vector<std::string>(2, "SetPrinterDefaults Office|2|9|2"), writes);
  EXPECT_EQ(DMPAPER_A4, CurrentMode(office).dmPaperSize);
  EXPECT_EQ(DMORIENT_LANDSCAPE, spooler_.printers[1].orientation);
  EXPECT_TRUE(ClosePrinter(office));
}

// Room for the name and its NUL, or the size it needs.
TEST_F(WinspoolTest, GetDefaultPrinterAsksForRoomFirst) {
  spooler_.defaultPrinter = "Quorvel PDF";
  std::vector<char> name(12);
  for (uint32_t given : {0u, 11u, 12u}) {
    SCOPED_TRACE(given);
    SetLastError(0);
    uint32_t size = given;
    EXPECT_EQ(given == 12, GetDefaultPrinterA(given ? name.data() : nullptr, &size) != 0);
    EXPECT_EQ(given == 12 ? 0u : ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(12u, size);
  }
  EXPECT_STREQ("Quorvel PDF", name.data());
}

}  // namespace
