// Append runs that overlap or die: no job may be lost and the output PDF may
// never be left broken.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "pdf/pdf_file_info.h"
#include "support/install_copy.h"

namespace fs = std::filesystem;

namespace {

// A PostScript job of `pages` pages, each naming its page.
std::string MakeJob(const std::string& path, int pages, const std::string& title) {
  WriteFileText(path, "%!PS-Adobe-3.0\n%%Pages: " + std::to_string(pages) +
                          "\n%%EndComments\n/Helvetica findfont 20 scalefont setfont\n1 1 " +
                          std::to_string(pages) + " { 72 720 moveto (" + title +
                          ") show 20 string cvs show showpage } for\n%%EOF\n");
  return path;
}

class AppendStressTest : public testing::Test {
 protected:
  void SetUp() override {
    install_.WriteConfig("[Options]\nOutputPDFFile=" + output_ +
                         "\nTempFolder=" + work_.Join("tmp") + "\n");
  }
  pid_t Start(const std::string& job) { return install_.Start({"-appendfile", job}); }

  ScopedTempDir work_;
  InstallCopy install_;
  std::string output_ = work_.Join("all.pdf");
};

TEST_F(AppendStressTest, ConcurrentRunsNeverLoseAJob) {
  const int kRounds = 4;
  for (int round = 0; round < kRounds; ++round) {
    pid_t a = Start(MakeJob(work_.Join("a" + std::to_string(round) + ".ps"), 2, "A"));
    pid_t b = Start(MakeJob(work_.Join("b" + std::to_string(round) + ".ps"), 1, "B"));
    for (pid_t pid : {a, b}) {
      int status = -1;
      waitpid(pid, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
  }
  EXPECT_EQ(kRounds * 3, GetPDFFilePageCount(output_.c_str()));
  for (const auto& entry : fs::directory_iterator(work_.path())) {
    EXPECT_NE(".ps", entry.path().extension()) << entry.path();
  }
}

TEST_F(AppendStressTest, KillingARunMidMergeLeavesTheOutputWhole) {
  ASSERT_EQ(0, install_.Run({"-appendfile", MakeJob(work_.Join("big.ps"), 1500, "Big")}).status);
  int pages = GetPDFFilePageCount(output_.c_str());
  ASSERT_EQ(1500, pages);

  int delivered = 0;
  for (int delay = 150; delay <= 1350; delay += 150) {
    std::string job = MakeJob(work_.Join("job" + std::to_string(delay) + ".ps"), 1, "Small");
    pid_t pid = Start(job);
    SleepMs(delay);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    int now = GetPDFFilePageCount(output_.c_str());
    ASSERT_TRUE(now == pages || now == pages + 1) << "delay " << delay << ": " << now;
    // A job is gone only when its page is in the output.
    if (now == pages) {
      EXPECT_TRUE(fs::exists(job)) << delay;
    }
    delivered += now - pages;
    pages = now;
  }
  RecordProperty("delivered", delivered);
}

}  // namespace
