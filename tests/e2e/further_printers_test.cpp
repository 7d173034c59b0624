// Personal printers on the maker's monitor, end to end: -install-nexo-printer
// against a private CUPS scheduler installs the first printer through
// setup.exe and adds further ones on new ports; jobs printed with lp by a
// local account land in that person's PDF, and their viewer is started.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/cups_scheduler.h"
#include "support/install_copy.h"
#include "support/make_pdf.h"
#include "support/scoped_account.h"
#include "support/scoped_env.h"

namespace fs = std::filesystem;

namespace {

class FurtherPrintersTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!CupsScheduler::Installed()) GTEST_SKIP() << "cupsd is not installed";
    if (geteuid() != 0) GTEST_SKIP() << "installing printers needs root";
    ASSERT_TRUE(account_.Ok());
    for (const std::string& folder : {work_.path(), install_.folder(), store_.path()}) {
      chmod(folder.c_str(), 0755);
    }
    for (const char* folder : {"home", "pdf", "tmp"}) fs::create_directories(work_.Join(folder));
    ASSERT_EQ(0, chown(work_.Join("home").c_str(), account_.uid(), account_.gid()));
    ASSERT_EQ(0, chown(work_.Join("pdf").c_str(), account_.uid(), account_.gid()));
    chmod(work_.Join("tmp").c_str(), 01777);
    // The viewer: records the words it was started with.
    WriteFileText(work_.Join("viewer"),
                  "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + work_.Join("pdf/viewer.txt") + "'\n");
    chmod(work_.Join("viewer").c_str(), 0755);
    install_.WriteConfig("[debug]\noutlog=Yes\n[Options]\nTempFolder=" + work_.Join("tmp") + "\n");
    std::string error;
    ASSERT_TRUE(scheduler_.Start(&error)) << error;
  }
  RunResult Nexo(const std::string& printer) const {
    return install_.Run({"-install-nexo-printer", "-addprinter", "-printer", printer, "-outfolder",
                         work_.Join("pdf"), "-runexe", work_.Join("viewer")});
  }
  bool Printed(const std::string& queue, const std::string& file) const {
    RunResult r = scheduler_.Tool("/usr/bin/lp", {"-U", account_.name(), "-d", queue, file});
    if (r.status != 0) return false;
    for (int i = 0; i < 240; ++i) {
      if (scheduler_.Tool("/usr/bin/lpstat", {"-o", queue}).stdoutText.empty()) return true;
      SleepMs(250);
    }
    return false;
  }
  std::string Hive() const { return ReadFileText(store_.Join("HKEY_CURRENT_USER.reg")); }

  ScopedTempDir work_;
  ScopedTempDir store_;
  InstallCopy install_;
  ScopedAccount account_{work_.Join("home")};
  ScopedEnv registry_{"TARVELIN_REGISTRY_DIR", store_.path().c_str()};
  CupsScheduler scheduler_{CupsSchedulerOptions{{{"TARVELIN_REGISTRY_DIR", store_.path()}}, false}};
};

TEST_F(FurtherPrintersTest, FirstPrinterThenFurtherOnesAndJobsLandInTheOwnersPdf) {
  // No maker's port yet: setup.exe makes the first printer, whatever the name.
  ASSERT_EQ(0, Nexo("Printer 2").status);
  std::string log = install_.LogText();
  ASSERT_NE(std::string::npos,
            log.find("This is the first printer, we will install the first printer.\n"))
      << log;
  ASSERT_NE(std::string::npos, log.find("on \"Quorvel1:\" Printer Port successful")) << log;
  EXPECT_NE(std::string::npos, log.find("Registry: \"Software\\quorvel\\lumaset\"\n"));

  // A further printer gets the next port and a settings key of its own.
  ASSERT_EQ(0, Nexo("Printer 3").status);
  log = install_.LogText();
  ASSERT_NE(std::string::npos,
            log.find("This is NOT the first printer, we will add 'Printer 3' printer.\n"))
      << log << scheduler_.ErrorLog();
  EXPECT_NE(std::string::npos, log.find("PortName='Quorvel2:'\n"));
  EXPECT_NE(std::string::npos, log.find("Registry: \"Software\\quorvel\\lumaset\\Quorvel2\"\n"));
  EXPECT_NE(std::string::npos,
            Hive().find("[HKEY_CURRENT_USER\\Software\\quorvel\\lumaset\\Quorvel2]"));
  std::string devices = scheduler_.Tool("/usr/bin/lpstat", {"-v"}).stdoutText;
  EXPECT_NE(std::string::npos, devices.find("Printer_3: quorvel:/Quorvel2%3A")) << devices;

  // The same name again stops before anything is written.
  const std::string hive = Hive();
  ASSERT_EQ(0, Nexo("Printer 3").status);
  EXPECT_NE(std::string::npos,
            install_.LogText().find("\"Printer 3\" printer is already installed, we will do "
                                    "nothing now.\n"));
  EXPECT_EQ(hive, Hive());

  // A name CUPS cannot take: refused with the spooler's code; the new port
  // stays, as the spooler leaves it.
  ASSERT_EQ(0, Nexo(std::string(200, 'N')).status);
  EXPECT_NE(std::string::npos, install_.LogText().find("AddPrinter failed, error code is 1801.\n"));
  EXPECT_NE(std::string::npos, install_.LogText().find("PortName='Quorvel3:'\n"));

  // Two jobs of the account, in order, into its PDF; the viewer is started
  // with that PDF each time.
  const std::string first = work_.Join("first.pdf"), second = work_.Join("second.pdf");
  MakeTextPdf(first, {"First job page one", "First job page two"});
  MakeTextPdf(second, {"Second job"});
  ASSERT_TRUE(Printed("Printer_3", first)) << scheduler_.ErrorLog();
  ASSERT_TRUE(Printed("Printer_3", second)) << scheduler_.ErrorLog();
  const std::string output = work_.Join("pdf/out.pdf");
  std::vector<std::string> pages = PdfPageTexts(output);
  ASSERT_EQ(3u, pages.size()) << install_.LogText() << scheduler_.ErrorLog();
  EXPECT_NE(std::string::npos, pages[0].find("First job page one"));
  EXPECT_NE(std::string::npos, pages[2].find("Second job"));
  struct stat st;
  ASSERT_EQ(0, stat(output.c_str(), &st));
  EXPECT_EQ(account_.uid(), st.st_uid);  // made as the owner, never as root
  for (int i = 0; i < 40 && ReadFileText(work_.Join("pdf/viewer.txt")).size() < 2 * output.size();
       ++i) {
    SleepMs(100);
  }
  EXPECT_EQ(output + "\n" + output + "\n", ReadFileText(work_.Join("pdf/viewer.txt")));

  // Without settings the job stays in the owner's spool folder, and the log
  // says where.
  fs::remove(store_.Join("HKEY_CURRENT_USER.reg"));
  ASSERT_TRUE(Printed("Printer_3", second)) << scheduler_.ErrorLog();
  EXPECT_EQ(3u, PdfPageTexts(output).size());
  const std::string spool = work_.Join("home/.cache/tarvelin/spool");
  ASSERT_TRUE(fs::is_directory(spool));
  EXPECT_FALSE(fs::is_empty(spool));
  // The owner may not write the program's log: its lines reach CUPS's log.
  std::string said = install_.LogText() + scheduler_.ErrorLog();
  size_t why = said.find("There are no per-user settings for the port");
  ASSERT_NE(std::string::npos, why) << said;
  EXPECT_NE(std::string::npos, said.find(spool + "/job", why)) << said;
}

}  // namespace
