// The printer setup's spooler queries and monitor/port settings against
// Wine's own winspool and registry: the real calls, no spooler of the tests.
// Every port, printer, driver and key a test adds is removed again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "printer/port_monitor.h"
#include "printer/spooler_queries.h"
#include "support/program_folder.h"
#include "win32/native_calls.h"

namespace {

class Win32SpoolerTest : public testing::Test {
 protected:
  void SetUp() override { program_.EnableLog(); }
  void TearDown() override {
    for (const std::string& port : ports_) win32test::RemoveLocalPort(port);
    for (const auto& [printer, driver] : printers_) {
      win32test::RemovePrinterAndDriver(printer, driver);
    }
    for (const std::string& key : keys_) {
      win32test::RestoreMachineKeyRights(key);
      win32test::DeleteMachineKey(key);
    }
  }
  bool Logged(const std::string& text) const {
    return ReadLogText(program_.Log()).find(text) != std::string::npos;
  }
  void AddPort(const std::string& name) {
    ASSERT_EQ(0, win32test::AddLocalPort(name));
    ports_.push_back(name);
  }

  ScopedProgramFolder program_;
  std::vector<std::string> ports_;
  std::vector<std::pair<std::string, std::string>> printers_;
  std::vector<std::string> keys_;
};

TEST_F(Win32SpoolerTest, PortsArePassedOnInTheSpoolersOrder) {
  std::vector<std::string> expected = {"kept"};
  for (const std::string& name : win32test::SpoolerPortNames()) expected.push_back(name);
  ASSERT_GT(expected.size(), 1u) << "Wine's local monitor lists no port";
  std::vector<std::string> ports{"kept"};
  EXPECT_EQ(static_cast<int>(expected.size()), GetAllPorts(ports));
  EXPECT_EQ(expected, ports);
  EXPECT_EQ(0, IsPrinterPortFound());

  AddPort("quorvelTest1:");  // another letter case: not the maker's
  EXPECT_EQ(0, IsPrinterPortFound());
  AddPort("QuorvelTest2:");
  ports.clear();
  GetAllPorts(ports);
  EXPECT_EQ(win32test::SpoolerPortNames(), ports);
  EXPECT_EQ(1, IsPrinterPortFound());
  EXPECT_TRUE(Logged("OK, found printer port.\n"));
}

TEST_F(Win32SpoolerTest, TheDriverIsThatOfThePrinterOnTheMakersPort) {
  char untouched[200] = "as it was";
  EXPECT_STREQ("as it was", GetPrinterDriver(untouched));
  EXPECT_EQ(0, IsPrinterDriverFound());
  AddPort("LPT7:");
  AddPort("QuorvelTest3:");
  const struct {
    const char *printer, *port, *driver;
  } printers[] = {{"Tarvelin Other", "LPT7:", "Tarvelin Other Driver"},
                  {"Tarvelin PDF", "QuorvelTest3:", "Tarvelin PDF Driver"}};
  for (const auto& p : printers) {
    uint32_t rc = win32test::AddPrinterWithDriver(p.printer, p.port, p.driver);
    printers_.emplace_back(p.printer, p.driver);
    if (rc != 0) {
      GTEST_SKIP() << "Wine's spooler did not add a printer on its PostScript driver (error " << rc
                   << ")";
    }
  }
  char driver[200] = {};
  EXPECT_STREQ("Tarvelin PDF Driver", GetPrinterDriver(driver));
  EXPECT_EQ(1, IsPrinterDriverFound());
  EXPECT_TRUE(Logged("OK, found Printer Driver 'Tarvelin PDF Driver'.\n"));
}

TEST_F(Win32SpoolerTest, MonitorsAreFoundInAnyLetterCase) {
  EXPECT_EQ(1, GetAllMonitors("local PORT"));
  EXPECT_EQ(0, GetAllMonitors("Multi File Port Monitor"));
  EXPECT_EQ(0, GetAllMonitors(""));
  EXPECT_TRUE(Logged("tarvelin:1080(mi[0].pName = Local Port)\n"));
  EXPECT_TRUE(Logged("Found monitor ('local PORT') successful.\n"));
}

TEST_F(Win32SpoolerTest, MonitorAndPortSettingsAreWrittenIntoTheRegistry) {
  WriteFileText(program_.Config(),
                "[debug]\r\noutlog=Yes\r\n[Options]\r\nTempFileExt=.prn\r\n"
                "TempFolder=" +
                    program_.Join("spool") + "\r\n");
  const std::string monitor = std::string(kMonitorsKey) + "\\Tarvelin Test Monitor";
  keys_.push_back(monitor);
  ASSERT_EQ(1, ConfigureMonitorPort("Tarvelin Test Monitor", "QuorvelPort"));
  ASSERT_EQ(1, ConfigureMonitorPort("Tarvelin Test Monitor", "QuorvelPort"));  // again: same
  const std::string port = monitor + "\\QuorvelPort";
  EXPECT_EQ("mfilemon.dll", win32test::MachineRegistryText(monitor, "Driver"));
  EXPECT_EQ("3", win32test::MachineRegistryText(monitor, "LogLevel"));
  EXPECT_EQ("QuorvelFile%i.prn", win32test::MachineRegistryText(port, "FilePattern"));
  EXPECT_EQ(program_.Join("spool"), win32test::MachineRegistryText(port, "OutputPath"));
  EXPECT_EQ("\"" + program_.Join("tarvelin") + "\" -appendfile \"%f\"",
            win32test::MachineRegistryText(port, "UserCommand"));
  EXPECT_EQ("300", win32test::MachineRegistryText(port, "WaitTimeout"));

  // The maker's own monitor: only a port it created gets its command.
  const std::string makers = "System\\CurrentControlSet\\control\\Print\\Monitors\\Quorvel";
  keys_.push_back(makers);
  EXPECT_EQ(2, SetPortCommand("QuorvelTest4:"));  // ERROR_FILE_NOT_FOUND
  ASSERT_EQ(0, win32test::CreateMachineKey(makers + "\\Ports\\QuorvelTest4:"));
  EXPECT_EQ(0, SetPortCommand("QuorvelTest4:"));
  EXPECT_EQ(program_.Join("pdfcp.exe"),
            win32test::MachineRegistryText(makers + "\\Ports\\QuorvelTest4:", "Command"));
  EXPECT_EQ("QuorvelTest4:",
            win32test::MachineRegistryText(makers + "\\Ports\\QuorvelTest4:", "Arguments"));
}

TEST_F(Win32SpoolerTest, KeysWithoutRightsAskForAdministratorRights) {
  const std::string monitor = std::string(kMonitorsKey) + "\\Tarvelin Locked Monitor";
  keys_.push_back(monitor);
  if (!win32test::MachineKeyWithoutRights(monitor)) {
    GTEST_SKIP() << "Wine's registry grants writes to a key whose access list grants nothing";
  }
  EXPECT_EQ(0, ConfigureMonitorPort("Tarvelin Locked Monitor", "QuorvelPort"));
  EXPECT_TRUE(Logged("Failed to open '" + monitor +
                     "', please use administrator privilege to run this application again.\n"));
  const std::string makers = "System\\CurrentControlSet\\control\\Print\\Monitors\\Quorvel";
  keys_.push_back(makers);
  ASSERT_TRUE(win32test::MachineKeyWithoutRights(makers + "\\Ports\\QuorvelTest5:"));
  EXPECT_EQ(5, SetPortCommand("QuorvelTest5:"));  // ERROR_ACCESS_DENIED
}

}  // namespace
