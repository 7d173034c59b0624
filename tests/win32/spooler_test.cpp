// The printer setup's spooler queries and port settings against Wine's own
// winspool and registry: the real calls, no spooler of the tests
// (what the setup asks and writes is the in-memory spooler tests' subject).
// Every port, printer, driver and key a test adds is removed again.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "config/maker.h"
#include "platform/registry.h"
#include "platform/winspool.h"
#include "printer/printer_creation.h"
#include "support/temp_dir.h"
#include "win32/native_calls.h"

namespace {

const char kPortsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

// Sets a text value (or deletes it: nullptr) of a key of HKEY_LOCAL_MACHINE,
// making the key; 0 or the error.
long SetMachineValue(const std::string& path, const char* name, const char* text) {
  HKEY key = nullptr;
  long rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = text ? RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const unsigned char*>(text),
                             static_cast<uint32_t>(std::strlen(text) + 1))
            : RegDeleteValueA(key, name);
  RegCloseKey(key);
  return rc;
}

std::string MachineText(const std::string& path, const char* name) {
  HKEY key = nullptr;
  char data[1024] = {};
  uint32_t size = sizeof(data) - 1;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return "";
  RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<unsigned char*>(data), &size);
  RegCloseKey(key);
  return data;
}

class Win32SpoolerTest : public testing::Test {
 protected:
  void SetUp() override { program_.EnableLog(); }
  void TearDown() override {
    for (const std::string& port : ports_) SetMachineValue(kPortsKey, port.c_str(), nullptr);
    for (const auto& [printer, driver] : printers_) {
      win32test::RemovePrinterAndDriver(printer, driver);
    }
    for (const std::string& key : keys_) win32test::DeleteMachineKey(key);
  }
  void AddPort(const std::string& name) {
    ASSERT_EQ(0, SetMachineValue(kPortsKey, name.c_str(), ""));
    ports_.push_back(name);
  }

  ScopedProgramFolder program_;
  std::vector<std::string> ports_;
  std::vector<std::pair<std::string, std::string>> printers_;
  std::vector<std::string> keys_;
};

// Wine's spooler, except that the maker's monitor, which Wine lacks, is
// stood in for by a local port of the next number.
class MakersMonitorStandIn : public platform::Spooler {
 public:
  explicit MakersMonitorStandIn(std::string nextPort) : next_(std::move(nextPort)) {
    platform::SetSpoolerForTesting(this);
  }
  ~MakersMonitorStandIn() override { platform::SetSpoolerForTesting(nullptr); }
  uint32_t Ports(std::vector<platform::SpoolerPort>* p) override { return system_.Ports(p); }
  uint32_t Monitors(std::vector<platform::SpoolerMonitor>* m) override {
    return system_.Monitors(m);
  }
  uint32_t Printers(std::vector<platform::SpoolerPrinter>* p) override {
    return system_.Printers(p);
  }
  uint32_t FindPrinter(const std::string& n, platform::SpoolerPrinter* p) override {
    return system_.FindPrinter(n, p);
  }
  uint32_t SetPrinterDefaults(const std::string& n, uint32_t f, int16_t s, int16_t o) override {
    return system_.SetPrinterDefaults(n, f, s, o);
  }
  uint32_t DefaultPrinter(std::string* n) override { return system_.DefaultPrinter(n); }
  uint32_t RestartService() override { return system_.RestartService(); }
  uint32_t DeletePrinter(const std::string& n) override { return system_.DeletePrinter(n); }
  uint32_t InstallPrinter(const std::string& n, const std::string& p,
                          const std::string& d) override {
    return system_.InstallPrinter(n, p, d);
  }
  uint32_t AddPrinter(const PRINTER_INFO_2A& record) override { return system_.AddPrinter(record); }
  std::string LastErrorText() override { return system_.LastErrorText(); }
  uint32_t AddPort(const std::string&, std::string* port) override {
    *port = next_;
    return static_cast<uint32_t>(SetMachineValue(kPortsKey, next_.c_str(), ""));
  }

 private:
  platform::Spooler& system_ = platform::SystemSpooler();
  std::string next_;
};

// AddNewPrinter copies the driver of the printer on a maker's port and hands
// the whole printer record to the spooler's AddPrinterA; the spooler's
// refusal is logged in its own words.
TEST_F(Win32SpoolerTest, AddNewPrinterAddsThePrinterRecordToTheSpooler) {
  AddPort("Quorvel900:");
  printers_.emplace_back("Tarvelin First", "Tarvelin PDF Driver");
  if (uint32_t rc =
          win32test::AddPrinterWithDriver("Tarvelin First", "Quorvel900:", "Tarvelin PDF Driver")) {
    GTEST_SKIP() << "Wine's spooler did not add a printer on its PostScript driver (error " << rc
                 << ")";
  }
  const std::string makers = "System\\CurrentControlSet\\control\\Print\\Monitors\\Quorvel";
  keys_.push_back(makers);
  ASSERT_EQ(0, SetMachineValue(makers + "\\Ports\\Quorvel901:", "Command", ""));
  MakersMonitorStandIn monitor("Quorvel901:");
  ports_.push_back("Quorvel901:");
  printers_.emplace_back("Tarvelin Added", "");
  char port[100] = {};
  ASSERT_EQ(1, AddNewPrinter("Tarvelin Added", port)) << ReadLogText(program_.Log());
  EXPECT_STREQ("Quorvel901:", port);
  EXPECT_EQ(
      std::string("Quorvel901:|Tarvelin PDF Driver|") + kMakerWebAddress + "|WinPrint|RAW|240",
      win32test::PrinterRecordText("Tarvelin Added"));
  EXPECT_EQ(program_.Join("pdfcp.exe"), MachineText(makers + "\\Ports\\Quorvel901:", "Command"));

  // The driver gone, the spooler refuses the next printer in its own words.
  win32test::RemovePrinterAndDriver("", "Tarvelin PDF Driver");
  printers_.emplace_back("Tarvelin Refused", "");
  EXPECT_EQ(0, AddNewPrinter("Tarvelin Refused", port));
  const std::string log = ReadLogText(program_.Log());
  const size_t at = log.find("[ERROR] The printer \"Tarvelin Refused\" could not be added: ");
  ASSERT_NE(std::string::npos, at) << log;
  const std::string line = log.substr(at, log.find('\n', at) - at);
  // The code in words, then the system's own text for it (FormatMessage).
  const size_t code = line.find("): ");
  ASSERT_NE(std::string::npos, code) << line;
  EXPECT_LT(code + 3, line.size()) << line;
}

}  // namespace
