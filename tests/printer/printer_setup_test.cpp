// The printer-setup operations against the in-memory spooler: what they ask,
// what they change and what they log.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "config/command_options.h"
#include "config/registry.h"
#include "platform/registry.h"
#include "printer/installation.h"
#include "printer/port_monitor.h"
#include "printer/printer_creation.h"
#include "printer/printer_defaults.h"
#include "printer/spooler_queries.h"
#include "support/fake_spooler.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

class PrinterSetupTest : public testing::Test {
 protected:
  void SetUp() override { program_.EnableLog(); }
  std::string Log() const { return ReadFileText(program_.Log()); }
  bool Logged(const std::string& line) const { return Has(Log(), line); }
  void AddPort(const std::string& name) { spooler_.ports.push_back({name, "Quorvel", "port"}); }
  void AddPrinter(const std::string& name, const std::string& port, const std::string& driver) {
    spooler_.printers.push_back(FakeSpooler::MakePrinter(name, port, driver));
  }
  // The values of a registry key, each as text (a DWORD in decimal).
  using Values = std::map<std::string, std::string>;
  static Values KeyValues(const std::string& key, HKEY root = HKEY_LOCAL_MACHINE) {
    Values values;
    HKEY open = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &open) != 0) return values;
    char name[256], data[1024];
    uint32_t nameSize = sizeof(name), size = sizeof(data), type = 0;
    for (uint32_t i = 0; RegEnumValueA(open, i, name, &nameSize, nullptr, &type,
                                       reinterpret_cast<unsigned char*>(data), &size) == 0;
         ++i, nameSize = sizeof(name), size = sizeof(data)) {
      values[name] = type == REG_DWORD ? std::to_string(*reinterpret_cast<uint32_t*>(data))
                                       : std::string(data, size ? size - 1 : 0);
    }
    RegCloseKey(open);
    return values;
  }
  static void CreateKey(const std::string& key) {
    ASSERT_TRUE(
        CRegistry(CRegistry::kCreateKey).Open(key.c_str(), HKEY_LOCAL_MACHINE, KEY_ALL_ACCESS));
  }
  template <size_t N>
  static void SetText(char (&field)[N], const std::string& text) {
    std::snprintf(field, N, "%s", text.c_str());
  }
  // The maker's monitor's ports, in another letter case than the program's.
  const std::string makerPorts_ =
      "System\\CurrentControlSet\\control\\Print\\Monitors\\Quorvel\\Ports\\";

  ScopedProgramFolder program_;
  ScopedTempDir store_;
  ScopedEnv registry_{"TARVELIN_REGISTRY_DIR", store_.path().c_str()};
  FakeSpooler spooler_;
  CommandOptions options_{};
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

  EXPECT_EQ(0, IsPrinterDriverFound());
  AddPrinter("Office", "LPT1:", "Office Driver");
  AddPrinter("Quorvel PDFPrinter", "QuorvelPort", std::string(250, 'D'));
  AddPrinter("Second", "Quorvel2:", "Other Driver");
  char driver[200] = {};
  EXPECT_EQ(std::string(199, 'D'), GetPrinterDriver(driver));  // the first on a Quorvel port, cut
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
  const std::string monitor = std::string(kMonitorsKey) + "\\Multi File Port Monitor";
  EXPECT_EQ("mfilemon.dll", KeyValues(monitor)["Driver"]);
  Values port = KeyValues(monitor + "\\QuorvelPort");
  EXPECT_EQ(11u, port.size());
  EXPECT_EQ("QuorvelFile%i.prn|" + program_.Join("spool") + "|\"" + program_.Join("tarvelin") +
                "\" -appendfile \"%f\"|1|300",
            port["FilePattern"] + "|" + port["OutputPath"] + "|" + port["UserCommand"] + "|" +
                port["WaitTermination"] + "|" + port["WaitTimeout"]);

  // The maker's own monitor: only a port it created gets its command.
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, SetPortCommand("Quorvel3:"));
  const std::string makerPort = makerPorts_ + "Quorvel3:";
  CreateKey(makerPort);
  EXPECT_EQ(0, SetPortCommand("Quorvel3:"));
  EXPECT_EQ((Values{{"Arguments", "Quorvel3:"}, {"Command", program_.Join("pdfcp.exe")}}),
            KeyValues(makerPort));

  // A key that cannot be written asks for administrator rights.
  WriteFileText(store_.Join("blocker"), "");
  ScopedEnv unusable("TARVELIN_REGISTRY_DIR", store_.Join("blocker/sub").c_str());
  EXPECT_EQ(0, ConfigureMonitorPort("Multi File Port Monitor", "QuorvelPort"));
  EXPECT_TRUE(Logged("Failed to open '" + monitor +
                     "', please use administrator privilege to run this application again.\n"));
}

// Without a default printer, a setter with a printer name still works; only
// a missing printer or an orientation the driver does not offer fail, with
// the reason in the log.
TEST_F(PrinterSetupTest, DefaultsChangeOnlyTheNamedField) {
  AddPrinter("Quorvel PDFPrinter", "QuorvelPort", "Generic PostScript Printer");
  EXPECT_EQ(1, SetDefaultPaperSize("Quorvel PDFPrinter", DMPAPER_A4));
  EXPECT_EQ(DMORIENT_PORTRAIT, SetDefaultOrientation("Quorvel PDFPrinter", DMORIENT_LANDSCAPE));
  // Setting one leaves the other as it was.
  EXPECT_EQ(1, SetDefaultPaperSize("Quorvel PDFPrinter", DMPAPER_A5));
  EXPECT_EQ(DMORIENT_LANDSCAPE, spooler_.Printer("Quorvel PDFPrinter")->orientation);
  EXPECT_EQ(DMPAPER_A5, spooler_.Printer("Quorvel PDFPrinter")->paperSize);

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

// Then the sync instance is started and entered for auto-run, when the
// settings ask for it.
TEST_F(PrinterSetupTest, DriversAreTriedInOrderUntilThePrinterExists) {
  spooler_.monitors = {{"Multi File Port Monitor", "Linux x86_64", "mfilemon.dll"}};
  AddPort("QuorvelPort");
  WriteFileText(program_.Config(),
                "[debug]\noutlog=Yes\n[Options]\nIsRunSyncMonitorApp=1\n"
                "PrinterDrivers=Driver A||Driver B||Driver C\n");
  spooler_.drivers = {"Driver B", "Driver C"};
  AddPrinter("Quorvel PDFPrinter", "QuorvelPort", "Old Driver");
  EXPECT_EQ(1, InstallVirtualPrinter(&options_));
  std::string changes;
  for (const std::string& call : spooler_.calls)
    for (const char* change : {"Restart", "Delete", "Install"})
      if (call.rfind(change, 0) == 0) changes += call + "\n";
  EXPECT_EQ(
      "RestartService\nDeletePrinter Quorvel PDFPrinter\nInstallPrinter Quorvel "
      "PDFPrinter|QuorvelPort|Driver A\nInstallPrinter Quorvel PDFPrinter|QuorvelPort|Driver B\n",
      changes);
  EXPECT_EQ("Driver B", spooler_.Printer("Quorvel PDFPrinter")->driver);
  EXPECT_EQ(
      "\"" + program_.Join("tarvelin") + "\" -syncpdf",
      KeyValues("Software\\Microsoft\\Windows\\CurrentVersion\\Run")["QuorvelPrinterAutoSyncFile"]);
}

TEST_F(PrinterSetupTest, MissingMonitorStopsBeforeAnythingChanges) {
  AddPort("QuorvelPort");
  SetText(options_.monitorName, "Other Monitor");
  EXPECT_EQ(0, InstallVirtualPrinter(&options_));
  EXPECT_TRUE(Logged("[ERROR] Failed to install MonitorName: \"Other Monitor\"\n"));
  EXPECT_EQ(Values{}, KeyValues(std::string(kMonitorsKey) + "\\Other Monitor"));
  for (const std::string& call : spooler_.calls) EXPECT_NE(0u, call.rfind("Restart", 0)) << call;
}

// Further printers: a machine with the first printer on "Quorvel1:".
class FurtherPrinterTest : public PrinterSetupTest {
 protected:
  void SetUp() override {
    PrinterSetupTest::SetUp();
    spooler_.monitors = {{"Quorvel", "Linux x86_64", "quorvel.dll"}};
    spooler_.drivers = {"Maker Driver"};
    AddPort("Quorvel1:");
    AddPrinter("Quorvel PDFPrinter", "Quorvel1:", "Maker Driver");
    SetText(options_.printerName, "Printer2");
    options_.addPrinter = 1;
  }
};

// The highest number after the maker's word, as atoi reads it (blanks
// skipped, held to the largest int); the letter case must match.
TEST_F(FurtherPrinterTest, NewPortNameIsTheHighestNumberOfTheMakersPorts) {
  const struct {
    std::vector<std::string> ports;
    const char* name;
  } cases[] = {
      {{"Quorvel1:"}, "Quorvel1:"},
      {{}, "Quorvel0:"},  // a monitor that made none
      {{"Quorvel1:", "Quorvel3:", "QuorvelPort", "quorvel9:", "Quorvel-4:"}, "Quorvel3:"},
      {{"Quorvel3:", "Quorvel 12x"}, "Quorvel12:"},
      {{"Quorvel1:", "Quorvel99999999999:"}, "Quorvel2147483647:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    spooler_.ports.clear();
    for (const std::string& port : c.ports) AddPort(port);
    char name[100];
    EXPECT_STREQ(c.name, GetNewPortName(name));
  }
}

TEST_F(FurtherPrinterTest, AddNewPrinterPutsAnA4PrinterOnTheNewPort) {
  CreateKey(makerPorts_ + "Quorvel2:");
  spooler_.newPorts = {"Quorvel2:"};
  const std::string name(40, 'N');
  char port[100] = {};
  ASSERT_EQ(1, AddNewPrinter(name.c_str(), port));
  EXPECT_STREQ("Quorvel2:", port);
  const platform::SpoolerPrinter* added = spooler_.Printer(name);
  ASSERT_NE(nullptr, added);  // the whole name, not the device mode's 31 bytes
  EXPECT_EQ("Quorvel2:|Maker Driver", added->port + "|" + added->driver);
  EXPECT_EQ(DMPAPER_A4, added->paperSize);  // whatever the first printer has
  EXPECT_EQ(DMORIENT_PORTRAIT, added->orientation);
  EXPECT_EQ(DMPAPER_LETTER, spooler_.Printer("Quorvel PDFPrinter")->paperSize);
  EXPECT_EQ((Values{{"Arguments", "Quorvel2:"}, {"Command", program_.Join("pdfcp.exe")}}),
            KeyValues(makerPorts_ + "Quorvel2:"));

  // Each refusal says why; a printer the spooler refuses leaves its new port.
  const struct {
    const char* name;
    const char* newPort;  // the port AddPort makes, and the one named back
    const char* logged;
    std::function<void()> before;
  } refusals[] = {
      {"", "", "Please input new printer name.\n", [] {}},
      {"Printer3", "Quorvel3:", "AddPrinter failed, error code is 1802.\n",
       [&] { spooler_.failures["InstallPrinter"] = ERROR_PRINTER_ALREADY_EXISTS; }},
      {"Printer4",
       "Quorvel4:", "Can't get printer driver, please install PDF Printer Driver first.\n",
       [&] { spooler_.printers.clear(); }},  // no printer on a maker's port: no driver
      {"Printer5", "", "AddPort failed, error code is 3000.\n", [&] { spooler_.monitors.clear(); }},
  };
  for (const auto& c : refusals) {
    SCOPED_TRACE(c.logged);
    c.before();
    spooler_.newPorts = {c.newPort};
    std::memset(port, 0, sizeof(port));
    EXPECT_EQ(0, AddNewPrinter(c.name, port));
    EXPECT_TRUE(Logged(c.logged));
    EXPECT_STREQ(c.newPort, port);
  }
}

// Only the low 16 bits of the paper count; a folder whose last part has a
// dot is taken as the file, one that would not fit with "/out.pdf" is not
// written.
TEST_F(FurtherPrinterTest, AddedPrinterGetsItsOwnUserSettings) {
  spooler_.newPorts = {"Quorvel2:"};
  SetText(options_.outFolder, "/home/ann.lee/pdf/");  // a dot, but not in the last part
  SetText(options_.runExe, "/usr/bin/viewer");
  options_.paper = 0x10000 | DMPAPER_A5;
  ASSERT_EQ(1, InstallOrAddPrinter(&options_));
  const std::string key = "Software\\quorvel\\lumaset\\Quorvel2";
  EXPECT_EQ((Values{{"AutoExec", "1"},
                    {"AutoExecProgram", "/usr/bin/viewer"},
                    {"AutomaticDirectory", "/home/ann.lee/pdf/out.pdf"},
                    {"AutomaticOutput", "1"},
                    {"AutomaticValue", "5"}}),
            KeyValues(key, HKEY_CURRENT_USER));
  EXPECT_EQ(DMPAPER_A5, spooler_.Printer("Printer2")->paperSize);
  EXPECT_TRUE(Has(ReadFileText(program_.Config()), "[installation]\nPrinterName=Printer2\n"));

  options_ = CommandOptions{};  // no printer changes, only the settings
  const std::string tooLong = "/" + std::string(1019, 'f');
  for (const auto& [folder, stored] : {std::make_pair("/srv/out.dir", "/srv/out.dir"),
                                       std::make_pair("/srv/test", "/srv/test/out.pdf"),
                                       std::make_pair(tooLong.c_str(), "/srv/test/out.pdf")}) {
    SCOPED_TRACE(std::string(folder).substr(0, 16));
    SetText(options_.outFolder, folder);
    ASSERT_EQ(1, InstallOrAddPrinter(&options_));
    EXPECT_EQ(stored,
              KeyValues("Software\\quorvel\\lumaset", HKEY_CURRENT_USER)["AutomaticDirectory"]);
  }
  EXPECT_TRUE(Logged("[ERROR] The output folder \"" + tooLong + "\" is too long"));
}

}  // namespace
