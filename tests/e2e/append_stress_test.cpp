// Append runs that overlap or die: no job may be lost and the output PDF may
// never be left broken.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "pdf/pdf_file_info.h"
#include "support/install_copy.h"
#include "support/make_pdf.h"

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
    install_.WriteConfig("[debug]\noutlog=Yes\n[Options]\nOutputPDFFile=" + output_ +
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

// Each run is killed while it appends its update to the output (the record
// of the output's old length exists): the next run cuts the output back and
// delivers every killed job exactly once, in order.
TEST_F(AppendStressTest, KillingARunMidAppendLosesNoJob) {
  ASSERT_EQ(0, install_.Run({"-appendfile", MakeJob(work_.Join("big.ps"), 1500, "Big")}).status);
  const int pages = GetPDFFilePageCount(output_.c_str());
  ASSERT_EQ(1500, pages);

  int killedMidWrite = 0;
  const int kTrials = 4;
  for (int trial = 0; trial < kTrials; ++trial) {
    pid_t pid = Start(MakeJob(work_.Join("job" + std::to_string(trial) + ".ps"), 1,
                              "Small" + std::to_string(trial)));
    // A record left by the run killed before is removed by this run before
    // it starts its own append.
    const std::string record = output_ + ".appending";
    bool leftoverGone = !fs::exists(record);
    bool writing = false;
    bool ended = false;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         !writing && !ended && std::chrono::steady_clock::now() < end;) {
      bool exists = fs::exists(record);
      leftoverGone = leftoverGone || !exists;
      writing = leftoverGone && exists;
      ended = !writing && waitpid(pid, nullptr, WNOHANG) == pid;  // done before a kill landed
    }
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (writing) ++killedMidWrite;
    // A run delivers the jobs kept by the runs killed before its own, so
    // several may have landed; never more than were printed.
    int now = GetPDFFilePageCount(output_.c_str());
    ASSERT_TRUE(now >= pages && now <= pages + trial + 1) << "trial " << trial << ": " << now;
  }
  EXPECT_GT(killedMidWrite, 0) << "no kill landed while the output was written";

  ASSERT_EQ(0, install_.Run({"-appendfile", MakeJob(work_.Join("last.ps"), 1, "Last")}).status);
  EXPECT_EQ(pages + kTrials + 1, GetPDFFilePageCount(output_.c_str())) << install_.LogText();
  EXPECT_FALSE(fs::exists(output_ + ".appending"));
  EXPECT_EQ("", RunProgram("/usr/bin/qpdf", {"--check", output_}).stderrText);
  std::vector<std::string> texts = PdfPageTexts(output_);
  ASSERT_EQ(static_cast<size_t>(pages + kTrials + 1), texts.size());
  for (int trial = 0; trial < kTrials; ++trial) {
    EXPECT_NE(std::string::npos, texts[pages + trial].find("Small" + std::to_string(trial)))
        << trial;
  }
  EXPECT_NE(std::string::npos, texts.back().find("Last"));
  for (const auto& entry : fs::directory_iterator(work_.path())) {
    EXPECT_NE(".ps", entry.path().extension()) << entry.path();
    EXPECT_NE(".tmp", entry.path().extension()) << entry.path();
  }
}

}  // namespace
