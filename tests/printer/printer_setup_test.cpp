// The printer-setup operations against the in-memory spooler: what they ask,
// what they change and what they log.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/command_options.h"
#include "platform/registry.h"
#include "printer/installation.h"
#include "printer/port_monitor.h"
#include "printer/printer_defaults.h"
#include "printer/spooler_queries.h"
#include "support/fake_spooler.h"
#include "support/program_folder.h"
#include "support/scoped_env.h"

namespace {

class PrinterSetupTest : public testing::Test {
 protected:
  void SetUp() override { program_.EnableLog(); }
  std::string Log() const { return ReadFileText(program_.Log()); }
  bool Logged(const std::string& line) const { return Log().find(line) != std::string::npos; }
  void AddPort(const std::string& name) { spooler_.ports.push_back({name, "Quorvel", "port"}); }
  void AddPrinter(const std::string& name, const std::string& port, const std::string& driver) {
    spooler_.printers.push_back(FakeSpooler::MakePrinter(name, port, driver));
  }
  // The registry value as text ("" when it is missing).
  static std::string RegistryText(const std::string& key, const char* name) {
    HKEY open = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &open) != 0) return "";
    char data[1024] = {};
    uint32_t size = sizeof(data), type = 0;
    long status =
        RegQueryValueExA(open, name, nullptr, &type, reinterpret_cast<unsigned char*>(data), &size);
    RegCloseKey(open);
    if (status != 0) return "";
    if (type == REG_DWORD) return std::to_string(*reinterpret_cast<uint32_t*>(data));
    return data;
  }

  ScopedProgramFolder program_;
  ScopedTempDir store_;
  ScopedEnv registry_{"TARVELIN_REGISTRY_DIR", store_.path().c_str()};
  FakeSpooler spooler_;
};

TEST_F(PrinterSetupTest, PortsAndDriverOfTheVirtualPrinter) {
  std::vector<std::string> ports{"kept"};
  EXPECT_EQ(1, GetAllPorts(ports));  // no ports: the list stays
  EXPECT_EQ(0, IsPrinterPortFound());
  AddPort("LPT1:");
  AddPort("quorvel1:");  // other letter case: not the maker's
  EXPECT_EQ(0, IsPrinterPortFound());
  AddPort("QuorvelPort");
  EXPECT_EQ(4, GetAllPorts(ports));
  EXPECT_EQ((std::vector<std::string>{"kept", "LPT1:", "quorvel1:", "QuorvelPort"}), ports);
  EXPECT_EQ(1, IsPrinterPortFound());
  EXPECT_TRUE(Logged("OK, found printer port.\n"));

  EXPECT_EQ(0, IsPrinterDriverFound());
  AddPrinter("Office", "LPT1:", "Office Driver");
  AddPrinter("Quorvel PDFPrinter", "QuorvelPort", std::string(250, 'D'));
  AddPrinter("Second", "Quorvel2:", "Other Driver");
  char driver[200] = {};
  GetPrinterDriver(driver);
  EXPECT_EQ(std::string(199, 'D'), driver);  // the first on a Quorvel port, cut
  EXPECT_EQ(1, IsPrinterDriverFound());

  spooler_.failures["Printers"] = ERROR_SPOOLER_ACCESS_DENIED;
  char untouched[200] = "as it was";
  EXPECT_STREQ("as it was", GetPrinterDriver(untouched));
}

TEST_F(PrinterSetupTest, MonitorsAreFoundInAnyLetterCase) {
  spooler_.monitors = {{"Local Port", "Linux x86_64", "localspl.dll"},
                       {"Multi File Port Monitor", "Linux x86_64", "mfilemon.dll"}};
  EXPECT_EQ(0, GetAllMonitors(""));
  EXPECT_EQ(1, GetAllMonitors("multi file port MONITOR"));
  EXPECT_EQ(1, InstallMonitor("Multi File Port Monitor"));
  EXPECT_EQ(0, GetAllMonitors("Quorvel"));
  std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("tarvelin:1070 -- GetAllMonitors()\n"));
  EXPECT_NE(std::string::npos, log.find("tarvelin:1077 -- GetAllMonitors() OK, returned = 2\n"));
  EXPECT_NE(std::string::npos, log.find("tarvelin:1080(mi[1].pName = Multi File Port Monitor)\n"));
  EXPECT_NE(std::string::npos, log.find("tarvelin:1082(mi[0].pDLLName = localspl.dll)\n"));
  EXPECT_NE(std::string::npos, log.find("Found monitor ('multi file port MONITOR') successful.\n"));
  EXPECT_NE(std::string::npos,
            log.find("Monitor ('Multi File Port Monitor') is already installed before.\n"));

  // Not there, and no installer beside the program.
  EXPECT_EQ(0, InstallMonitor("Quorvel"));
  EXPECT_TRUE(Logged("\"" + program_.Join("mfilemon-setup.exe") + "\" is not exist.\n"));
  spooler_.failures["Monitors"] = 1722;
  EXPECT_EQ(0, GetAllMonitors("Local Port"));
}

TEST_F(PrinterSetupTest, MonitorAndPortSettingsAreWritten) {
  WriteFileText(program_.Config(), "[debug]\noutlog=Yes\n[Options]\nTempFileExt=.prn\nTempFolder=" +
                                       program_.Join("spool") + "\n");
  ASSERT_EQ(1, ConfigureMonitorPort("Multi File Port Monitor", "QuorvelPort"));
  ASSERT_EQ(1, ConfigureMonitorPort("Multi File Port Monitor", "QuorvelPort"));  // again: same
  std::string monitor = std::string(kMonitorsKey) + "\\Multi File Port Monitor";
  std::string port = monitor + "\\QuorvelPort";
  EXPECT_EQ("mfilemon.dll", RegistryText(monitor, "Driver"));
  EXPECT_EQ("3", RegistryText(monitor, "LogLevel"));
  EXPECT_EQ("QuorvelFile%i.prn", RegistryText(port, "FilePattern"));
  EXPECT_EQ(program_.Join("spool"), RegistryText(port, "OutputPath"));
  EXPECT_EQ("\"" + program_.Join("tarvelin") + "\" -appendfile \"%f\"",
            RegistryText(port, "UserCommand"));
  EXPECT_EQ("1", RegistryText(port, "WaitTermination"));
  EXPECT_EQ("300", RegistryText(port, "WaitTimeout"));
  EXPECT_EQ("", RegistryText(port, "User"));

  // The maker's own monitor: only a port it created gets its command.
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, SetPortCommand("Quorvel3:"));
  std::string makerPort =
      "System\\CurrentControlSet\\control\\Print\\Monitors\\Quorvel\\Ports\\Quorvel3:";
  HKEY key = nullptr;
  ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, makerPort.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                               nullptr, &key, nullptr));
  RegCloseKey(key);
  EXPECT_EQ(0, SetPortCommand("Quorvel3:"));
  EXPECT_EQ(program_.Join("pdfcp.exe"), RegistryText(makerPort, "Command"));
  EXPECT_EQ("Quorvel3:", RegistryText(makerPort, "Arguments"));
}

TEST_F(PrinterSetupTest, KeysThatCannotBeWrittenAskForAdministratorRights) {
  WriteFileText(store_.Join("blocker"), "");
  ScopedEnv unusable("TARVELIN_REGISTRY_DIR", store_.Join("blocker/sub").c_str());
  EXPECT_EQ(0, ConfigureMonitorPort("Multi File Port Monitor", "QuorvelPort"));
  EXPECT_TRUE(Logged("Failed to open '" + std::string(kMonitorsKey) +
                     "\\Multi File Port Monitor', please use administrator privilege to run this "
                     "application again.\n"));
}

// Without a default printer, a setter with a printer name still works; only
// a missing printer or an orientation the driver does not offer fail, with
// the reason in the log.
TEST_F(PrinterSetupTest, DefaultsChangeOnlyTheNamedField) {
  AddPrinter("Quorvel PDFPrinter", "QuorvelPort", "Generic PostScript Printer");
  EXPECT_EQ(1, SetDefaultPaperSize("Quorvel PDFPrinter", DMPAPER_A4));
  EXPECT_EQ(DMORIENT_PORTRAIT, SetDefaultOrientation("Quorvel PDFPrinter", DMORIENT_LANDSCAPE));
  EXPECT_EQ(DMPAPER_A4, spooler_.Printer("Quorvel PDFPrinter")->paperSize);
  EXPECT_EQ(DMORIENT_LANDSCAPE, spooler_.Printer("Quorvel PDFPrinter")->orientation);
  // Setting one leaves the other as it was.
  EXPECT_EQ(1, SetDefaultPaperSize("Quorvel PDFPrinter", DMPAPER_A5));
  EXPECT_EQ(DMORIENT_LANDSCAPE, spooler_.Printer("Quorvel PDFPrinter")->orientation);

  EXPECT_EQ(0, SetDefaultPaperSize("No Such Printer", DMPAPER_A4));
  EXPECT_TRUE(Logged("[ERROR] Could not set the default paper size of \"No Such Printer\""));
  EXPECT_EQ(0, SetDefaultOrientation("", DMORIENT_LANDSCAPE));  // no default printer
  EXPECT_TRUE(Logged("no default printer"));

  spooler_.Printer("Quorvel PDFPrinter")->fields = DM_PAPERSIZE;
  spooler_.defaultPrinter = "Quorvel PDFPrinter";
  EXPECT_EQ(0, SetDefaultOrientation("", DMORIENT_PORTRAIT));
  EXPECT_EQ(DMORIENT_LANDSCAPE, spooler_.Printer("Quorvel PDFPrinter")->orientation);
  EXPECT_EQ(1, SetDefaultPaperSize("", DMPAPER_LETTER));
  EXPECT_EQ(DMPAPER_LETTER, spooler_.Printer("Quorvel PDFPrinter")->paperSize);
  EXPECT_EQ(1, PrinterExists("Quorvel PDFPrinter"));
  EXPECT_EQ(0, PrinterExists("No Such Printer"));
}

TEST(SplitStringTest, PiecesBetweenDelimiters) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"A||B", {"A", "B"}},       {"A||", {"A"}}, {"||B", {"", "B"}},
      {"A||||B", {"A", "", "B"}}, {"", {""}},     {"A", {"A"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    std::vector<std::string> list{"before"};
    SplitString(c.first, "||", list);
    list.erase(list.begin());
    EXPECT_EQ(c.second, list);
  }
}

class InstallationTest : public PrinterSetupTest {
 protected:
  void SetUp() override {
    PrinterSetupTest::SetUp();
    spooler_.monitors = {{"Multi File Port Monitor", "Linux x86_64", "mfilemon.dll"}};
    AddPort("QuorvelPort");
  }
  CommandOptions options_{};
};

TEST_F(InstallationTest, DriversAreTriedInOrderUntilThePrinterExists) {
  WriteFileText(program_.Config(),
                "[debug]\noutlog=Yes\n[Options]\nPrinterDrivers=Driver A||Driver B||Driver C\n");
  spooler_.drivers = {"Driver B", "Driver C"};
  AddPrinter("Quorvel PDFPrinter", "QuorvelPort", "Old Driver");
  EXPECT_EQ(1, InstallVirtualPrinter(&options_));
  std::vector<std::string> expected = {
      "RestartService",
      "DeletePrinter Quorvel PDFPrinter",
      "InstallPrinter Quorvel PDFPrinter|QuorvelPort|Driver A",
      "InstallPrinter Quorvel PDFPrinter|QuorvelPort|Driver B",
  };
  std::vector<std::string> changes;
  for (const std::string& call : spooler_.calls) {
    if (call.rfind("Restart", 0) == 0 || call.rfind("Delete", 0) == 0 ||
        call.rfind("Install", 0) == 0) {
      changes.push_back(call);
    }
  }
  EXPECT_EQ(expected, changes);
  EXPECT_EQ("Driver B", spooler_.Printer("Quorvel PDFPrinter")->driver);
  std::string log = Log();
  for (const char* line :
       {"MonitorName: \"Multi File Port Monitor\"\n", "PortName: \"QuorvelPort\"\n",
        "We will restart spooler.\n", "Deleting the old printer of \"Quorvel PDFPrinter\"\n",
        "Printer Driver[1]: \"Driver A\"\n", "Printer Driver[3]: \"Driver C\"\n",
        "Install the printer \"Quorvel PDFPrinter\" with printer driver \"Driver B\" on "
        "\"QuorvelPort\" Printer Port successful.\n",
        "We will execute RunSyncMonitorApp\n"}) {
    EXPECT_NE(std::string::npos, log.find(line)) << line;
  }
  // The defaults it used are stored in the settings.
  std::string config = ReadFileText(program_.Config());
  EXPECT_NE(std::string::npos, config.find("PrinterName=Quorvel PDFPrinter\n"));
  EXPECT_NE(std::string::npos, config.find("MonitorName=Multi File Port Monitor\n"));
  EXPECT_NE(std::string::npos, config.find("IsRunSyncMonitorApp=0\n"));
}

TEST_F(InstallationTest, NoWorkingDriverSaysSoAndInstallsNothing) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, InstallVirtualPrinter(&options_));
  std::string shown = testing::internal::GetCapturedStderr();
  const std::string text =
      "Failed to install the Virtual Printer Driver, please contact to Quorvel to get more "
      "support information.";
  EXPECT_NE(std::string::npos, shown.find(text));
  EXPECT_TRUE(Logged(text + "\n"));
  EXPECT_TRUE(spooler_.printers.empty());
  // The platform's own default list, the generic driver second.
  EXPECT_TRUE(Logged("Printer Driver[2]: \"Generic PostScript Printer\"\n"));
}

TEST_F(InstallationTest, MissingMonitorStopsBeforeAnythingChanges) {
  spooler_.monitors.clear();
  std::string given = "Other Monitor";
  given.copy(options_.monitorName, given.size());
  EXPECT_EQ(0, InstallVirtualPrinter(&options_));
  EXPECT_TRUE(Logged("[ERROR] Failed to install MonitorName: \"Other Monitor\"\n"));
  EXPECT_EQ("", RegistryText(std::string(kMonitorsKey) + "\\Other Monitor", "Driver"));
  for (const std::string& call : spooler_.calls) EXPECT_NE(0u, call.rfind("Restart", 0)) << call;
}

}  // namespace
