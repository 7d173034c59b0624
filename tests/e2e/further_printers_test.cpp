// Personal printers on the maker's monitor, end to end: -install-nexo-printer
// against a private CUPS scheduler installs the first printer through
// setup.exe and adds further ones on new ports, each its installer's own
// under CUPS's stock policy; jobs printed with lp by that local account land
// in that person's PDF, and their viewer is started; nobody else's do.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/cups_scheduler.h"
#include "support/install_copy.h"
#include "support/links.h"
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
    for (const std::string& folder : {work_.path(), install_.folder(), store_.path()})
      chmod(folder.c_str(), 0755);
    for (const char* folder : {"home", "pdf", "tmp"}) fs::create_directories(work_.Join(folder));
    for (const char* folder : {"home", "pdf"})
      ASSERT_EQ(0, chown(work_.Join(folder).c_str(), account_.uid(), account_.gid()));
    chmod(work_.Join("tmp").c_str(), 01777);
    // The viewer: records the words it was started with.
    WriteFileText(work_.Join("viewer"),
                  "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + work_.Join("pdf/viewer.txt") + "'\n");
    chmod(work_.Join("viewer").c_str(), 0755);
    install_.WriteConfig("[debug]\noutlog=Yes\n[Options]\nTempFolder=" + work_.Join("tmp") + "\n");
    std::string error;
    ASSERT_TRUE(scheduler_.Start(&error)) << error;
  }
  // Installed through sudo from the account's session, as a person does.
  RunResult Nexo(const std::string& printer, bool sudo = true) const {
    return install_.Run({"-install-nexo-printer", "-addprinter", "-printer", printer, "-outfolder",
                         work_.Join("pdf"), "-runexe", work_.Join("viewer")},
                        {sudo ? "SUDO_USER=" + account_.name() : "SUDO_USER="});
  }
  // lp run as that account, in a session without a terminal to ask on.
  RunResult Lp(const std::string& as, const std::vector<std::string>& args) const {
    std::vector<std::string> words{"-u", as, "--", "/usr/bin/setsid", "-w", "/usr/bin/lp"};
    words.insert(words.end(), args.begin(), args.end());
    return RunProgram("/usr/sbin/runuser", words);
  }
  bool Printed(const std::string& queue, const std::string& file) const {
    return Lp(account_.name(), {"-d", queue, file}).status == 0 && scheduler_.WaitForNoJobs(queue);
  }
  std::string Hive() const { return ReadFileText(store_.Join("HKEY_CURRENT_USER.reg")); }

  ScopedTempDir work_;
  ScopedTempDir store_;
  InstallCopy install_;
  ScopedAccount account_{work_.Join("home")};
  ScopedEnv registry_{"TARVELIN_REGISTRY_DIR", store_.path().c_str()};
  CupsScheduler scheduler_{
      CupsSchedulerOptions{{{"TARVELIN_REGISTRY_DIR", store_.path()}}, false, true}};
};

TEST_F(FurtherPrintersTest, FirstPrinterThenFurtherOnesAndJobsLandInTheOwnersPdf) {
  // No maker's port yet: setup.exe makes the first printer, whatever the name.
  ASSERT_EQ(0, Nexo("Printer 2").status);
  ASSERT_TRUE(Has(install_.LogText(), "on \"Quorvel1:\" Printer Port successful"));

  // A further printer gets the next port and a settings key of its own.
  ASSERT_EQ(0, Nexo("Printer 3").status);
  EXPECT_TRUE(Has(Hive(), "[HKEY_CURRENT_USER\\Software\\quorvel\\lumaset\\Quorvel2]"))
      << install_.LogText() << scheduler_.ErrorLog();
  std::string devices = scheduler_.Tool("/usr/bin/lpstat", {"-v"}).stdoutText;
  EXPECT_TRUE(Has(devices, "Printer_3: quorvel:/Quorvel2%3A"));

  // The same name again stops before anything is written.
  const std::string hive = Hive();
  ASSERT_EQ(0, Nexo("Printer 3").status);
  EXPECT_TRUE(Has(install_.LogText(), "\"Printer 3\" printer is already installed"));
  EXPECT_EQ(hive, Hive());

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
  EXPECT_TRUE(Has(pages[0], "First job page one"));
  EXPECT_TRUE(Has(pages[2], "Second job"));
  EXPECT_EQ(account_.uid(), LinkStat(output).st_uid);  // made as the owner, never as root
  const std::string viewed = output + "\n" + output + "\n", viewer = work_.Join("pdf/viewer.txt");
  for (int i = 0; i < 40 && ReadFileText(viewer).size() < viewed.size(); ++i) SleepMs(100);
  EXPECT_EQ(viewed, ReadFileText(viewer));

  // Without settings the job stays in the owner's spool folder, and the log
  // says where.
  fs::remove(store_.Join("HKEY_CURRENT_USER.reg"));
  ASSERT_TRUE(Printed("Printer_3", second)) << scheduler_.ErrorLog();
  EXPECT_EQ(3u, PdfPageTexts(output).size());
  const std::string spool = work_.Join("home/.cache/tarvelin/spool");
  EXPECT_FALSE(fs::is_empty(spool));  // throws, failing the test, when it is missing
  // The owner may not write the program's log: its lines reach CUPS's log.
  std::string said = install_.LogText() + scheduler_.ErrorLog();
  size_t why = said.find("There are no per-user settings for the port");
  ASSERT_NE(std::string::npos, why) << said;
  EXPECT_NE(std::string::npos, said.find(spool + "/job", why)) << said;
}

TEST_F(FurtherPrintersTest, OnlyTheOwnerPrintsToAPersonalPrinter) {
  ScopedAccount other(work_.Join("other"));
  ASSERT_TRUE(other.Ok());
  // Root's own printer would print for nobody: none is made.
  ASSERT_EQ(0, Nexo("Mine", false).status);
  EXPECT_TRUE(Has(install_.LogText(), "needs an owner other than root"));
  EXPECT_EQ("", scheduler_.Tool("/usr/bin/lpstat", {"-v"}).stdoutText);
  ASSERT_EQ(0, Nexo("Mine").status);
  // The stock configuration lacks the policy: it is added, once.
  const std::string conf = ReadFileText(scheduler_.Path("cupsd.conf"));
  EXPECT_EQ(conf.find("<Policy authenticated>"), conf.rfind("<Policy authenticated>")) << conf;
  EXPECT_TRUE(Has(conf, "<Policy authenticated>")) << install_.LogText();
  const std::string job = work_.Join("job.pdf"), output = work_.Join("pdf/out.pdf");
  MakeTextPdf(job, {"Owner page"});
  // Claimed names are refused: another account's, root's, a made-up one.
  const std::pair<std::string, std::string> claims[] = {
      {other.name(), account_.name()}, {"root", account_.name()}, {account_.name(), "nosuchuser"}};
  for (const auto& [as, user] : claims) {
    SCOPED_TRACE(as + " as " + user);
    EXPECT_NE(0, Lp(as, {"-U", user, "-d", "Mine", job}).status);
  }
  // Without the policy CUPS takes the claim, and the backend cancels the job.
  auto policy = [this](const std::string& name) {
    return scheduler_.Tool("/usr/sbin/lpadmin", {"-p", "Mine", "-o", "printer-op-policy=" + name});
  };
  ASSERT_EQ(0, policy("default").status);
  ASSERT_EQ(0, Lp(other.name(), {"-U", account_.name(), "-d", "Mine", job}).status);
  ASSERT_TRUE(scheduler_.WaitForNoJobs("Mine"));
  EXPECT_FALSE(fs::exists(output));
  EXPECT_TRUE(Has(scheduler_.ErrorLog(), "CUPS did not authenticate the sender"));
  // The queue runs on, and the owner's job lands.
  const std::string state = scheduler_.Tool("/usr/bin/lpstat", {"-p", "Mine"}).stdoutText;
  EXPECT_TRUE(Has(state, "enabled"));
  ASSERT_EQ(0, policy("authenticated").status);
  ASSERT_TRUE(Printed("Mine", job)) << scheduler_.ErrorLog();
  std::vector<std::string> pages = PdfPageTexts(output);
  ASSERT_EQ(1u, pages.size()) << scheduler_.ErrorLog();
  EXPECT_TRUE(Has(pages[0], "Owner page"));
}

}  // namespace
