// The real print path: a private CUPS scheduler, the printer installed with
// -install-quorvel-printer from a copy of the install folder, jobs printed
// with lp, and the output PDF checked by its pages.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/cups_scheduler.h"
#include "support/forked_child.h"
#include "support/install_copy.h"
#include "support/links.h"
#include "support/make_pdf.h"
#include "support/scoped_env.h"

namespace fs = std::filesystem;

namespace {

const char kQueue[] = "Quorvel_PDFPrinter";

class PrintQueueTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!CupsScheduler::Installed()) GTEST_SKIP() << "cupsd is not installed";
    // The port's account must reach the install folder and the output.
    for (const std::string& folder : {work_.path(), install_.folder()}) chmod(folder.c_str(), 0755);
    fs::create_directories(work_.Join("out"));
    fs::create_directories(work_.Join("spool"));
    chmod(work_.Join("out").c_str(), 0777);
    install_.WriteConfig("[debug]\noutlog=Yes\n[Options]\nOutputPDFFile=" + Output() +
                         "\nTempFolder=" + work_.Join("spool") + "\n");
    std::string error;
    ASSERT_TRUE(scheduler_.Start(&error)) << error;
  }
  std::string Output() const { return work_.Join("out/all.pdf"); }
  RunResult Install() const { return install_.Run({"-install-quorvel-printer"}); }
  void Print(const std::string& file) const {
    RunResult r = scheduler_.Tool("/usr/bin/lp", {"-d", kQueue, file});
    ASSERT_EQ(0, r.status) << r.stderrText;
  }

  ScopedTempDir work_;
  ScopedTempDir store_;
  InstallCopy install_;
  ScopedEnv registry_{"TARVELIN_REGISTRY_DIR", store_.path().c_str()};
  CupsScheduler scheduler_{CupsSchedulerOptions{{{"TARVELIN_REGISTRY_DIR", store_.path()}}, false}};
};

TEST_F(PrintQueueTest, JobsPrintedWithLpArriveInOrder) {
  RunResult installed = Install();
  ASSERT_EQ(0, installed.status) << installed.stderrText << install_.LogText();

  // A second installation replaces the queue without duplicating anything.
  ASSERT_EQ(0, Install().status);
  RunResult queues = scheduler_.Tool("/usr/bin/lpstat", {"-v"});
  size_t first = queues.stdoutText.find(kQueue);
  ASSERT_NE(std::string::npos, first) << queues.stdoutText;
  EXPECT_EQ(std::string::npos, queues.stdoutText.find(kQueue, first + 1)) << queues.stdoutText;

  Print(kSamples + "invoice.ps");  // the second is queued behind it
  std::string pdf = work_.Join("letter.pdf");
  MakeTextPdf(pdf, {"Filler page", "Filler page"});
  Print(pdf);
  ASSERT_TRUE(scheduler_.WaitForNoJobs(kQueue)) << scheduler_.ErrorLog();

  ExpectJobs(Output(), "IFF");
  EXPECT_TRUE(fs::is_empty(work_.Join("spool")));
  // The job ran as the spooler's unprivileged account, never as root.
  const passwd* lp = getpwnam("lp");
  ASSERT_NE(nullptr, lp);
  EXPECT_EQ(lp->pw_uid, LinkStat(Output()).st_uid);
}

// The port's folder is gone: CUPS keeps the job (and stops the queue, so no
// later job overtakes it); once the folder is back and the queue enabled,
// the job arrives.
TEST_F(PrintQueueTest, JobWaitsInTheQueueWhileThePortFolderIsMissing) {
  ASSERT_EQ(0, Install().status);
  fs::remove_all(work_.Join("spool"));
  Print(kSamples + "letter.ps");
  auto stopped = [this] {
    return Has(scheduler_.Tool("/usr/bin/lpstat", {"-p", kQueue}).stdoutText, "disabled");
  };
  for (int i = 0; i < 120 && !stopped(); ++i) SleepMs(250);
  ASSERT_TRUE(stopped()) << scheduler_.ErrorLog();
  EXPECT_FALSE(scheduler_.Tool("/usr/bin/lpstat", {"-o", kQueue}).stdoutText.empty());
  EXPECT_FALSE(fs::exists(Output()));

  fs::create_directories(work_.Join("spool"));
  chmod(work_.Join("spool").c_str(), 01777);
  ASSERT_EQ(0, scheduler_.Tool("/usr/sbin/cupsenable", {kQueue}).status);
  ASSERT_TRUE(scheduler_.WaitForNoJobs(kQueue)) << scheduler_.ErrorLog();
  ExpectJobs(Output(), "L");
}

// -paper2 and -orient2 change what the queue prints with; a printer that
// does not exist changes nothing and says so.
TEST_F(PrintQueueTest, DefaultsOfTheQueueAreSetByName) {
  ASSERT_EQ(0, Install().status);
  ASSERT_EQ(0, install_.Run({"-printer", "Quorvel PDFPrinter", "-paper2", "1"}).status);
  std::string before = scheduler_.Tool("/usr/bin/lpoptions", {"-p", kQueue}).stdoutText;
  ASSERT_EQ(0, install_.Run({"-printer", "Quorvel PDFPrinter", "-paper2", "9"}).status);
  ASSERT_EQ(0, install_.Run({"-printer", "Quorvel_PDFPrinter", "-orient2", "2"}).status);
  std::string after = scheduler_.Tool("/usr/bin/lpoptions", {"-p", kQueue}).stdoutText;
  EXPECT_FALSE(Has(before, "media=iso_a4"));
  EXPECT_TRUE(Has(after, "media=iso_a4"));
  EXPECT_TRUE(Has(after, "orientation-requested=4"));

  ASSERT_EQ(0, install_.Run({"-printer", "No Such Printer", "-paper2", "1"}).status);
  EXPECT_EQ(after, scheduler_.Tool("/usr/bin/lpoptions", {"-p", kQueue}).stdoutText);
  EXPECT_TRUE(Has(install_.LogText(), "no CUPS queue is named \"No Such Printer\""));
}

// Without root rights nothing is half-installed on the spooler's side.
TEST_F(PrintQueueTest, WithoutRightsNothingIsInstalled) {
  EXPECT_EQ(0, InChild([this] { return install_.Run({"-install-quorvel-printer"}).status; }, true));
  EXPECT_FALSE(Has(scheduler_.Tool("/usr/bin/lpstat", {"-v"}).stdoutText, kQueue));
}

}  // namespace
