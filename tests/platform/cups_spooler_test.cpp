// The system's spooler on POSIX against a private CUPS scheduler, through
// the winspool-shaped calls: monitors and ports from the registry store,
// printers as CUPS queues.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/registry_store.h"
#include "platform/registry.h"
#include "platform/winspool.h"
#include "printer/printer_defaults.h"
#include "support/cups_scheduler.h"
#include "support/forked_child.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "tools/tool_run.h"

namespace {

const char kMonitors[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\";
const char kDriver[] = "Generic PostScript Printer";
const char kLpoptions[] = "/usr/bin/lpoptions";

// Two monitors with a port each, as the installation leaves them, a monitor
// without a backend here, and two keys that are no monitors (no Driver).
void WriteMonitors() {
  const std::pair<std::string, const char*> values[] = {
      {"Multi File Port Monitor|Driver", "mfilemon.dll"},
      {"Multi File Port Monitor\\QuorvelPort|OutputPath", "/tmp"},
      {"Quorvel|Driver", "quorvelmon.dll"},
      {"Quorvel\\Ports\\Quorvel1:|Command", "pdfcp.exe"},
      {"Other Monitor|Driver", "other.dll"},
      {"Other Monitor\\OtherPort|", ""},
      {"Leftover\\Port|", ""}};
  for (const auto& [where, value] : values) {
    const size_t bar = where.find('|');
    SetRegistryValue(HKEY_LOCAL_MACHINE, kMonitors + where.substr(0, bar), where.c_str() + bar + 1,
                     value);
  }
}

// Each record as text: a printer's name, "port|monitor|description",
// "monitor|library|environment".
std::string Text(const PRINTER_INFO_2A& p) { return p.pPrinterName; }
std::string Text(const PORT_INFO_2A& p) {
  return std::string(p.pPortName) + "|" + p.pMonitorName + "|" + p.pDescription;
}
std::string Text(const MONITOR_INFO_2A& m) {
  return std::string(m.pName) + "|" + m.pDLLName + "|" + m.pEnvironment;
}

// The records an Enum call (its buffer arguments left open) lists, as text.
template <typename Info, typename Call>
std::vector<std::string> Listed(Call call) {
  uint32_t needed = 0, returned = 0;
  call(nullptr, 0, &needed, &returned);
  std::vector<unsigned char> buffer(needed);
  EXPECT_TRUE(call(buffer.data(), needed, &needed, &returned)) << GetLastError();
  std::vector<std::string> lines;
  for (uint32_t i = 0; i < returned; ++i)
    lines.push_back(Text(reinterpret_cast<const Info*>(buffer.data())[i]));
  return lines;
}
std::vector<std::string> PrinterNames() {
  return Listed<PRINTER_INFO_2A>(
      [](auto... open) { return EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, open...); });
}
std::vector<std::string> Ports() {
  return Listed<PORT_INFO_2A>([](auto... open) { return EnumPortsA(nullptr, 2, open...); });
}

// The record of the printer opened by that name as "name|port|driver|comment".
std::string Record(const std::string& name) {
  HANDLE handle = nullptr;
  if (!OpenPrinterA(name.c_str(), &handle, nullptr))
    return "error " + std::to_string(GetLastError());
  uint32_t needed = 0;
  EXPECT_FALSE(GetPrinterA(handle, 2, nullptr, 0, &needed));
  std::vector<unsigned char> buffer(needed);
  EXPECT_TRUE(GetPrinterA(handle, 2, buffer.data(), needed, &needed)) << GetLastError();
  EXPECT_TRUE(ClosePrinter(handle));
  const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
  return std::string(info->pPrinterName) + "|" + info->pPortName + "|" + info->pDriverName + "|" +
         info->pComment;
}

class CupsRegistryTest : public ::testing::Test {
 protected:
  ScopedTempDir registry_;
  ScopedEnv registryDir_{"TARVELIN_REGISTRY_DIR", registry_.path().c_str()};
};

// Monitors are the keys with a Driver value, ports the sub keys of those;
// no scheduler is needed for them.
TEST_F(CupsRegistryTest, MonitorsAndTheirPortsComeFromTheRegistry) {
  auto monitors = [] {
    return Listed<MONITOR_INFO_2A>([](auto... open) { return EnumMonitorsA(nullptr, 2, open...); });
  };
  EXPECT_EQ(std::vector<std::string>{}, monitors());  // an empty store
  WriteMonitors();
  struct utsname names;
  ASSERT_EQ(0, uname(&names));
  const std::string environment = std::string("|") + names.sysname + " " + names.machine;
  EXPECT_EQ((std::vector<std::string>{"Multi File Port Monitor|mfilemon.dll" + environment,
                                      "Other Monitor|other.dll" + environment,
                                      "Quorvel|quorvelmon.dll" + environment}),
            monitors());
  EXPECT_EQ((std::vector<std::string>{"QuorvelPort|Multi File Port Monitor|Local port",
                                      "OtherPort|Other Monitor|Local port",
                                      "Quorvel1:|Quorvel|Local port"}),
            Ports());
  // Printers are the scheduler's: without one the spooler is unavailable.
  ScopedEnv server("CUPS_SERVER", registry_.Join("no-such.sock").c_str());
  uint32_t needed = 0, returned = 0;
  EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
  EXPECT_EQ(RPC_S_SERVER_UNAVAILABLE, GetLastError());
}

TEST_F(CupsRegistryTest, TheMakersMonitorAddsNumberedPortsWithoutAWindow) {
  EXPECT_FALSE(AddPortA(nullptr, 0, "Quorvel"));
  EXPECT_EQ(ERROR_UNKNOWN_PRINT_MONITOR, GetLastError());
  WriteMonitors();
  // A port of another monitor that looks like the maker's counts as well.
  SetRegistryValue(HKEY_LOCAL_MACHINE,
                   kMonitors + std::string("Multi File Port Monitor\\Quorvel7:"), "", "");
  EXPECT_FALSE(AddPortA(nullptr, 0, "Multi File Port Monitor"));  // it would ask for a name
  EXPECT_EQ(ERROR_NOT_SUPPORTED, GetLastError());
  EXPECT_FALSE(AddPortA(nullptr, 1, "Quorvel"));  // no dialog, ever
  EXPECT_EQ(ERROR_NOT_SUPPORTED, GetLastError());

  ASSERT_TRUE(AddPortA(nullptr, 0, "quorvel")) << GetLastError();
  EXPECT_EQ("Quorvel8:|Quorvel|Local port", Ports().back());

  // Two processes adding at once never get the same port.
  const int kEach = 24;
  pid_t children[2];
  for (pid_t& child : children) {
    child = StartChild([] {
      int added = 0;
      while (added < kEach && AddPortA(nullptr, 0, "Quorvel")) ++added;
      return added == kEach ? 0 : 1;
    });
  }
  // Whenever a child holds the store's lock, the lock is taken the moment
  // it lets go and held for longer than a child's wait: the other child may
  // then read the store before the first has written, so a number chosen
  // outside the lock would be chosen twice.
  std::string hive = platform::registry_store::HiveFile(platform::registry_store::kLocalMachine);
  int lock = open((hive + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  auto working = [&children] {
    return std::any_of(std::begin(children), std::end(children), [](pid_t pid) {
      siginfo_t info{};
      return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
             info.si_pid == 0;
    });
  };
  for (int round = 0; round < 100000 && working(); ++round) {
    if (flock(lock, LOCK_EX | LOCK_NB) == 0) {  // free: let go again at once
      flock(lock, LOCK_UN);
      usleep(200);
    } else if (flock(lock, LOCK_EX) == 0) {  // taken the moment the child lets go
      SleepMs(60);
      flock(lock, LOCK_UN);
    }
  }
  close(lock);
  for (pid_t pid : children) EXPECT_EQ(0, ChildExitCode(pid));
  std::set<std::string> expected{"Quorvel1:|Quorvel|Local port"};
  for (int n = 8; n <= 8 + 2 * kEach; ++n)
    expected.insert("Quorvel" + std::to_string(n) + ":|Quorvel|Local port");
  const std::vector<std::string> ports = Ports();  // the maker's after the others' three
  EXPECT_EQ(expected, std::set<std::string>(ports.begin() + 3, ports.end()));
  EXPECT_EQ(expected.size() + 3, ports.size());
}

class CupsSpoolerTest : public CupsRegistryTest {
 protected:
  void SetUp() override {
    if (!CupsScheduler::Installed()) {
      GTEST_SKIP() << "cupsd is not installed (scripts/setup installs the CUPS packages)";
    }
    WriteMonitors();
    std::string error;
    ASSERT_TRUE(scheduler_.Start(&error)) << error;
    // cupsd takes a device only when it has a backend for its scheme.
    ASSERT_TRUE(scheduler_.AddBackendScript("mfilemon", "#!/bin/sh\nexit 0\n", 0755));
  }

  // Installs on QuorvelPort with the generic PostScript driver.
  void Install(const std::string& name) {
    std::string error;
    ASSERT_TRUE(platform::InstallPrinterWithDriver(name, "QuorvelPort", kDriver, &error))
        << error << "\n"
        << scheduler_.ErrorLog();
  }

  std::string Devices() { return scheduler_.Tool("/usr/bin/lpstat", {"-v"}).stdoutText; }
  void Lpadmin(const std::vector<std::string>& words) {
    RunResult done = scheduler_.Tool("/usr/sbin/lpadmin", words);
    ASSERT_EQ(0, done.status) << done.stderrText;
  }

  // The user's own default printer and lpoptions stay out of the tests.
  ScopedEnv home_{"HOME", registry_.path().c_str()};
  ScopedEnv lpdest_{"LPDEST", nullptr};
  ScopedEnv printer_{"PRINTER", nullptr};
  CupsScheduler scheduler_{CupsScheduler::Options{{{"TARVELIN_REGISTRY_DIR", registry_.path()}}}};
};

// The queue is enabled, accepts jobs, uses the port's backend and is found by
// the printer's name or the queue's; a queue made elsewhere is named after
// itself and its description is the comment; the default printer is found
// once there is one.
TEST_F(CupsSpoolerTest, InstallMakesAnEnabledQueueFoundByEitherName) {
  const std::string name = "Quorvel PDF Drucker \xC3\x9C", queue = "Quorvel_PDF_Drucker_\xC3\x9C";
  Install(name);
  EXPECT_EQ("device for " + queue + ": mfilemon:/QuorvelPort\n", Devices());
  EXPECT_EQ(std::vector<std::string>{name}, PrinterNames());
  Lpadmin({"-p", "Lab", "-D", "Printer in the lab", "-v", "mfilemon:/QuorvelPort", "-m",
           "drv:///sample.drv/generic.ppd"});
  const std::string record = name + "|QuorvelPort|" + kDriver + "|";
  EXPECT_EQ((std::vector<std::string>{
                record, record, "Lab|QuorvelPort|" + std::string(kDriver) + "|Printer in the lab",
                "error " + std::to_string(ERROR_INVALID_PRINTER_NAME)}),
            (std::vector<std::string>{Record(name), Record(queue), Record("Lab"),
                                      Record("Quorvel PDF Drucker")}));

  char found[64];
  uint32_t size = sizeof(found);
  EXPECT_FALSE(GetDefaultPrinterA(found, &size));
  EXPECT_EQ(ERROR_SPOOLER_FILE_NOT_FOUND, GetLastError());
  Lpadmin({"-d", queue});
  size = sizeof(found);
  ASSERT_TRUE(GetDefaultPrinterA(found, &size)) << GetLastError();
  EXPECT_EQ(name, found);
}

// Each refusal carries its code and the reason in words; a delete removes
// the queue.
TEST_F(CupsSpoolerTest, InstallRefusesWhatCannotBecomeANewQueueAndDeleteRemovesIt) {
  Install("Quorvel PDF");
  const struct {
    std::string name;
    const char* port;
    const char* driver;
    const char* reason;
  } cases[] = {
      {"New", "QuorvelPort", "Generic PostScript", "(1797)"},
      {"New", "NoSuchPort", kDriver, "(1796): no port monitor has a port named \"NoSuchPort\""},
      {"New", "OtherPort", kDriver, "(1796): the port OtherPort's monitor \"Other Monitor\""},
      {"New", "Quorvel1:", kDriver, "(1796): CUPS refused the device quorvel:/Quorvel1%3A"},
      {"Quorvel PDF", "QuorvelPort", kDriver, "(1802)"},
      {"quorvel_pdf", "QuorvelPort", kDriver, "(1802)"},
      {"Quorvel/PDF", "QuorvelPort", kDriver, "(1802)"},
      {"", "QuorvelPort", kDriver, "(1801)"},
      {std::string(128, 'Q'), "QuorvelPort", kDriver, "(1801)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + " on " + c.port + " with " + c.driver);
    std::string error;
    EXPECT_FALSE(platform::InstallPrinterWithDriver(c.name, c.port, c.driver, &error));
    EXPECT_TRUE(Has(error, c.reason));
  }
  EXPECT_EQ(std::vector<std::string>{"Quorvel PDF"}, PrinterNames());

  std::string error;
  EXPECT_TRUE(platform::DeletePrinterByName("Quorvel PDF", &error)) << error;
  EXPECT_TRUE(PrinterNames().empty());
  EXPECT_EQ("", Devices());
  EXPECT_FALSE(platform::DeletePrinterByName("Quorvel PDF", &error));
  EXPECT_TRUE(Has(error, "(1801)"));
}

// -paper2 (the printer setup's SetDefaultPaperSize) against the scheduler: a
// queue takes a size its PPD offers (and its PPD's default follows); a size
// the queue lacks, a queue that offers no size of a known code and a code
// without a PWG name fail with one [ERROR] line that says why.
TEST_F(CupsSpoolerTest, APaperSizeIsSetOnlyWhereTheQueueOffersIt) {
  ScopedProgramFolder program;
  program.EnableLog();
  for (const char* queue : {"generic", "epson9", "dymo"}) {
    Lpadmin({"-p", queue, "-E", "-v", "mfilemon:/QuorvelPort", "-m",
             std::string("drv:///sample.drv/") + queue + ".ppd"});
  }
  const struct {
    const char* queue;
    int16_t code;
    const char* outcome;  // the media CUPS then uses, or the logged reason
  } cases[] = {
      {"generic", 3, "media=na_ledger_11x17in"},
      {"generic", 13, "media=jis_b5_182x257mm"},
      {"epson9", 3, "(87): the CUPS queue epson9 does not offer paper size 3 (na_ledger_11x17in)"},
      {"dymo", 9, "to 9: the CUPS queue dymo does not offer paper size 9 (iso_a4_210x297mm)"},
      {"generic", 77, "(87): paper size 77 has no PWG media name, so no CUPS queue can take it."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.queue) + " " + std::to_string(c.code));
    const bool set = std::string(c.outcome).rfind("media=", 0) == 0;
    EXPECT_EQ(set ? 1 : 0, SetDefaultPaperSize(c.queue, c.code));
    const std::string where =
        set ? scheduler_.Tool(kLpoptions, {"-p", c.queue}).stdoutText : ReadFileText(program.Log());
    EXPECT_TRUE(Has(where, c.outcome));
  }
  const std::string ppd = ReadFileText(scheduler_.Path("ppd/generic.ppd"));
  EXPECT_TRUE(Has(ppd, "*DefaultPageSize: B5"));
}

TEST_F(CupsRegistryTest, AnInstallTheSchedulerRefusesIsAccessDenied) {
  if (!CupsScheduler::Installed()) GTEST_SKIP() << "cupsd is not installed";
  WriteMonitors();
  CupsScheduler refusing{CupsScheduler::Options{{}, true}};
  std::string error;
  ASSERT_TRUE(refusing.Start(&error)) << error;
  ASSERT_TRUE(refusing.AddBackendScript("mfilemon", "#!/bin/sh\nexit 0\n", 0755));
  EXPECT_FALSE(platform::InstallPrinterWithDriver("Quorvel PDF", "QuorvelPort", kDriver, &error));
  EXPECT_TRUE(Has(error, "(5)"));
}

}  // namespace
