// The program under Wine, end to end: a copy of the install folder, its
// settings and log, Ghostscript as gs\gswin32.exe, started as the port
// monitor starts it (CreateProcessA, hidden, output joined).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "pdf/pdf_file_info.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "process/process_runner.h"
#include "support/temp_dir.h"
#include "win32/native_calls.h"

namespace fs = std::filesystem;

namespace {

class Win32AppendTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::copy(TARVELIN_DIST_DIR, dir_.path(), fs::copy_options::recursive);
    fs::create_directories(dir_.Join("gs"));
    fs::copy_file(TARVELIN_GS_FORWARD, dir_.Join("gs\\gswin32.exe"));
  }
  void Configure(const std::string& options, const std::string& output = "%APPFOLDER%\\out.pdf") {
    WriteFileText(dir_.Join("config.ini"), "[debug]\r\noutlog=Yes\r\n[Options]\r\nOutputPDFFile=" +
                                               output + "\r\n" + options);
  }
  /// Runs the program with the arguments; *output receives what it wrote.
  int Run(const std::string& arguments, std::string* output) {
    int exitCode = -2000;
    std::string line = "\"" + dir_.Join("tarvelin.exe") + "\" " + arguments;
    return NTSystemCommand2(line.c_str(), *output, &exitCode) ? exitCode : -1000;
  }
  static std::string Sample(const char* sample) {
    return TARVELIN_TEST_DATA "\\..\\..\\samples\\" + std::string(sample);
  }
  int Pages(const std::string& pdf) {
    std::string error;
    return GetPDFFilePageCount(pdf.c_str(), &error);
  }
  bool Logged(const std::string& text) { return Has(ReadLogText(dir_.Join("tarvelin.log")), text); }
  std::string Job(const char* sample, const char* name) {
    std::string job = dir_.Join(name);
    fs::copy_file(Sample(sample), job);
    return job;
  }

  /// Runs "-appendfile" on the job; its exit code.
  int Append(const std::string& job) {
    std::string output;
    int exitCode = Run("-appendfile \"" + job + "\"", &output);
    EXPECT_EQ(0, exitCode) << output;
    return exitCode;
  }

  ScopedTempDir dir_;
};

TEST_F(Win32AppendTest, UsageGoesToStandardErrorWithExitCodeMinusOne) {
  std::string output;
  EXPECT_EQ(-1, Run("-h", &output));
  // Standard error is a text stream on Windows: every line ends in CR LF.
  std::string usage;
  for (char c : ReadFileText(TARVELIN_TEST_DATA "\\usage.txt"))
    usage += c == '\n' ? "\r\n" : std::string(1, c);
  EXPECT_EQ(usage, output);
}

// Two jobs (3 and 2 pages) by each method; the settings the program read
// are written back into config.ini; the log has Windows line ends.
TEST_F(Win32AppendTest, JobsAreAppendedByEachMethod) {
  for (int method : {1, 2, 3}) {
    SCOPED_TRACE("method " + std::to_string(method));
    for (const char* name : {"out.pdf", "QuorvelFile1.ps", "QuorvelFile2.ps"}) {
      fs::remove(dir_.Join(name));
    }
    Configure("AppendPDFMethod=" + std::to_string(method) + "\r\n");
    ASSERT_EQ(0, Append(Job("invoice.ps", "QuorvelFile1.ps")));
    ASSERT_EQ(0, Append(Job("letter.ps", "QuorvelFile2.ps")));
    EXPECT_EQ(5, Pages(dir_.Join("out.pdf"))) << ReadFileText(dir_.Join("tarvelin.log"));
    EXPECT_FALSE(fs::exists(dir_.Join("QuorvelFile2.ps")));
    EXPECT_TRUE(Has(ReadFileText(dir_.Join("config.ini")), "DeleteTempFiles="));
  }
  std::string log = ReadFileText(dir_.Join("tarvelin.log"));
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.find('\n') - 1, log.find("\r\n"));
}

// The program's own merger appends in place, behind the first output's
// bytes; an update cut short leaves the record of the old length beside the
// output: the next run cuts the output back to it (TruncateFile) before it
// appends its own job.
TEST_F(Win32AppendTest, AnInterruptedUpdateIsCutBackByTheNextRun) {
  Configure("AppendPDFMethod=1\r\n");
  ASSERT_EQ(0, Append(Job("invoice.ps", "QuorvelFile1.ps")));
  const std::string first = ReadFileText(dir_.Join("out.pdf"));
  WriteFileText(dir_.Join("out.pdf.appending"), std::to_string(first.size()) + "\n");
  WriteFileText(dir_.Join("out.pdf"), first + "1 0 obj\n<< /Cut sh");
  ASSERT_EQ(0, Append(Job("letter.ps", "QuorvelFile2.ps")));
  const std::string second = ReadFileText(dir_.Join("out.pdf"));
  EXPECT_EQ(first, second.substr(0, first.size()));
  EXPECT_EQ(std::string::npos, second.find("/Cut sh"));
  EXPECT_FALSE(fs::exists(dir_.Join("out.pdf.appending")));
  EXPECT_EQ(5, Pages(dir_.Join("out.pdf")));
  EXPECT_NE(std::string::npos, ReadFileText(dir_.Join("tarvelin.log")).find("was cut short"));
}

// A name in the ANSI code page reaches the program whole; one with a
// character outside it arrives with '?' in its place, names no file, and is
// refused without touching a file of a similar name.
TEST_F(Win32AppendTest, JobNamesInsideAndOutsideTheCodePage) {
  Configure("");
  const std::string accented = dir_.Join("Brief-\xc3\xa9t\xc3\xa9.ps");  // é, UTF-8
  const std::string foreign = dir_.Join("Job-\xe3\x82\xb8.ps");          // U+30B8
  bool inCodePage = false, foreignInCodePage = true;
  const std::string accentedAnsi = win32test::AnsiText(accented, &inCodePage);
  const std::string foreignAnsi = win32test::AnsiText(foreign, &foreignInCodePage);
  if (!inCodePage || foreignInCodePage) {
    GTEST_SKIP() << "the ANSI code page is not one of Western Europe's";
  }
  ASSERT_TRUE(win32test::CopyToWideName(Sample("letter.ps"), accented));
  ASSERT_TRUE(win32test::CopyToWideName(Sample("letter.ps"), foreign));
  const std::string similar = Job("invoice.ps", "Job-X.ps");
  Append(accentedAnsi);
  EXPECT_EQ(2, Pages(dir_.Join("out.pdf")));
  EXPECT_FALSE(win32test::WideNameExists(accented));
  Append(foreignAnsi);
  EXPECT_TRUE(Logged("[ERROR] The job \"" + foreignAnsi + "\" does not exist.\n"));
  EXPECT_TRUE(win32test::WideNameExists(foreign));
  EXPECT_TRUE(fs::exists(similar));
  EXPECT_EQ(2, Pages(dir_.Join("out.pdf")));
}

// Paths past MAX_PATH, which the "A" calls do not open: the job stays and
// the log says why.
TEST_F(Win32AppendTest, PathsPastTheLimitAreRefusedWithTheReason) {
  Configure("");
  const std::string deep = dir_.Join(std::string(120, 'd') + "\\" + std::string(120, 'e'));
  const std::string job = deep + "\\job.ps";
  ASSERT_GT(job.size(), 259u);
  ASSERT_TRUE(win32test::CopyToWideName(Sample("letter.ps"), job));
  Append(job);
  EXPECT_TRUE(win32test::WideNameExists(job));
  EXPECT_FALSE(fs::exists(dir_.Join("out.pdf")));
  EXPECT_TRUE(Logged("[ERROR] The job \"" + job + "\" has a path of " + std::to_string(job.size()) +
                     " bytes, longer than the 259 this system opens; it is not appended.\n"));

  Configure("", deep + "\\out.pdf");
  const std::string near = Job("letter.ps", "near.ps");
  Append(near);
  EXPECT_TRUE(fs::exists(near));
  EXPECT_TRUE(Logged("[ERROR] Could not lock \"" + deep + "\\out.pdf.lock\": "));
}

// config.ini locked by another program: the run does its job with the
// settings as read and says once that it could not write them back.
TEST_F(Win32AppendTest, ALockedConfigIsUsedAsReadAndSaidSo) {
  Configure("AppendPDFMethod=1\r\n");
  const std::string config = dir_.Join("config.ini");
  platform::ChildProcess holder;
  int error = 0;
  ASSERT_TRUE(platform::StartChildProcess(
      win32test::HelperCommand({"lock-file", config, dir_.Join("locked")}), false, &holder, &error))
      << error;
  std::string ready;
  ASSERT_TRUE(win32test::WaitForFile(dir_.Join("locked"), 20000, &ready));
  Append(Job("letter.ps", "QuorvelFile1.ps"));
  platform::KillChildProcess(holder);
  int exitCode = 0;
  platform::WaitChildProcess(&holder, -1, &exitCode);
  EXPECT_EQ(2, Pages(dir_.Join("out.pdf")));
  std::string log = ReadLogText(dir_.Join("tarvelin.log"));
  size_t first = log.find("[ERROR] Could not write \"" + config + "\": ");
  EXPECT_NE(std::string::npos, first) << log;
  EXPECT_NE(std::string::npos, log.find("; the settings are used as they were read.\n", first));
  EXPECT_EQ(std::string::npos, log.find("[ERROR] Could not write ", first + 1));
}

}  // namespace
