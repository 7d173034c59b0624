// The sync instance in the background while print jobs keep arriving.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/install_copy.h"

namespace fs = std::filesystem;

namespace {

// The background "-syncpdf" instance, stopped by its own process id.
class SyncInstance {
 public:
  explicit SyncInstance(const InstallCopy& install) { pid_ = install.Start({"-syncpdf"}); }
  ~SyncInstance() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool Running() const { return waitpid(pid_, nullptr, WNOHANG) == 0; }

 private:
  pid_t pid_ = -1;
};

class SyncTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(work_.Join("spool"));
    install_.WriteConfig("[debug]\noutlog=Yes\n[Options]\nOutputPDFFile=" + Source() +
                         "\nSyncPDFFileToFlashDrive=" + Target() +
                         "\nTempFolder=" + work_.Join("tmp") + "\n");
  }
  std::string Source() const { return work_.Join("local.pdf"); }
  std::string Target() const { return work_.Join("usb/all.pdf"); }
  // Prints job n (one page reading "Job n") as the port monitor would.
  void Print(int n) {
    std::string job = work_.Join("spool/job" + std::to_string(n) + ".ps");
    WriteFileText(job,
                  "%!PS-Adobe-3.0\n%%Pages: 1\n%%EndComments\n/Helvetica findfont 20 "
                  "scalefont setfont 72 720 moveto (Job " +
                      std::to_string(n) + " end) show showpage\n%%EOF\n");
    ASSERT_EQ(0, install_.Run({"-appendfile", job}).status);
  }
  // Waits until the local output has been moved away and the target is settled.
  void WaitForSync(int seconds) {
    for (int i = 0; i < seconds * 4 && fs::exists(Source()); ++i) SleepMs(250);
    EXPECT_FALSE(fs::exists(Source())) << "the output was not synchronised";
  }
  void ExpectJobsInOrder(int count) {
    std::vector<std::string> pages = PdfPageTexts(Target());
    ASSERT_EQ(static_cast<size_t>(count), pages.size());
    for (int i = 0; i < count; ++i) {
      EXPECT_NE(std::string::npos, pages[i].find("Job " + std::to_string(i + 1) + " end"))
          << "page " << i + 1 << ": " << pages[i];
    }
  }

  ScopedTempDir work_;
  InstallCopy install_;
};

// The real instance in the background; the watcher's timing and its
// failure cases are tested on a fake clock beside the sync itself.
TEST_F(SyncTest, PrintedJobsReachTheDrive) {
  fs::create_directories(work_.Join("usb"));
  SyncInstance sync(install_);
  Print(1);
  Print(2);
  WaitForSync(30);
  EXPECT_TRUE(sync.Running());
  ExpectJobsInOrder(2);
  EXPECT_TRUE(fs::is_empty(work_.Join("spool")));
}

}  // namespace
