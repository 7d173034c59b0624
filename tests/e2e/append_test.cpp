// The printing road end to end: the built program, real Ghostscript, real PDFs.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <string>
#include <vector>

#include "pdf/pdf_file_info.h"
#include "support/install_copy.h"

namespace fs = std::filesystem;

namespace {

const std::string kSamples = TARVELIN_TEST_DATA "/../../samples/";

class AppendTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(work_.Join("spool"));
    fs::create_directories(work_.Join("out"));
    Configure("");
  }
  // Writes config.ini with the output and temp folder of this test and extra lines.
  // The counter of temporary names is kept, as a user editing the file would.
  void Configure(const std::string& extra) {
    std::string old = ReadFileText(install_.ConfigPath());
    size_t pos = old.find("LastFileIndex=");
    std::string counter =
        pos == std::string::npos ? "" : old.substr(pos, old.find('\n', pos) - pos + 1);
    install_.WriteConfig("[debug]\noutlog=Yes\n[Options]\nOutputPDFFile=" + Output() +
                         "\nTempFolder=" + work_.Join("tmp") + "\n" + counter + extra);
  }
  std::string Output() const { return work_.Join("out/all.pdf"); }
  std::string Converted(int n) const {
    char name[32];
    snprintf(name, sizeof(name), "tmp/file%06d.pdf", n);
    return work_.Join(name);
  }
  // Copies a sample job into the spool folder, as the port monitor would.
  std::string Spool(const std::string& sample, const std::string& as) const {
    std::string job = work_.Join("spool/" + as);
    fs::copy_file(kSamples + sample, job, fs::copy_options::overwrite_existing);
    return job;
  }
  int Append(const std::string& job) const { return install_.Run({"-appendfile", job}).status; }

  ScopedTempDir work_;
  InstallCopy install_;
};

const std::vector<std::string> kFivePages = {"Invoice page 1 of 3", "Invoice page 2 of 3",
                                             "Invoice page 3 of 3", "Letter page 1 of 2",
                                             "Letter page 2 of 2"};

void ExpectPages(const std::string& pdf, const std::vector<std::string>& expected) {
  std::vector<std::string> pages = PdfPageTexts(pdf);
  ASSERT_EQ(expected.size(), pages.size()) << pdf;
  for (size_t i = 0; i < pages.size(); ++i) {
    EXPECT_NE(std::string::npos, pages[i].find(expected[i])) << "page " << i + 1;
  }
}

TEST_F(AppendTest, FirstJobBecomesTheOutputByCopy) {
  Configure("DeleteTempFiles=0\n");
  std::string job = Spool("invoice.ps", "QuorvelFile1.ps");
  EXPECT_EQ(0, Append(job));
  EXPECT_EQ(ReadFileText(Converted(1)), ReadFileText(Output()));
  ExpectPages(Output(), {kFivePages[0], kFivePages[1], kFivePages[2]});
  EXPECT_TRUE(fs::exists(job));
  std::string log = install_.LogText();
  EXPECT_NE(std::string::npos, log.find("Copy from \"" + Converted(1) + "\" to \"" + Output()));
  EXPECT_EQ(std::string::npos, log.find("Exit AppendFileToPDFFile"));
  EXPECT_NE(std::string::npos, log.find("-sDEVICE=pdfwrite -dAutoRotatePages=/PageByPage "
                                        "-sOutputFile=\"" +
                                        Converted(1) + "\" -f \"" + job + "\" -c quit\n"));
}

TEST_F(AppendTest, SecondJobIsAppendedByEveryMethod) {
  for (int method : {1, 2, 3}) {
    SCOPED_TRACE("method " + std::to_string(method));
    fs::remove(Output());
    Configure("AppendPDFMethod=" + std::to_string(method) + "\nTitle=Jobs\n");
    std::string first = Spool("invoice.ps", "QuorvelFile1.ps");
    std::string second = Spool("letter.ps", "QuorvelFile2.ps");
    EXPECT_EQ(0, Append(first));
    EXPECT_EQ(0, Append(second));
    ExpectPages(Output(), kFivePages);
    EXPECT_FALSE(fs::exists(first));
    EXPECT_FALSE(fs::exists(second));
    EXPECT_TRUE(fs::is_empty(work_.Join("tmp")));
    EXPECT_NE(std::string::npos, install_.LogText().find("Exit AppendFileToPDFFile"));
  }
}

TEST_F(AppendTest, SettingsThatStopShortKeepEverything) {
  std::string first = Spool("invoice.ps", "first.ps");
  ASSERT_EQ(0, Append(first));
  std::string before = ReadFileText(Output());
  int n = 2;
  for (const char* extra : {"AppendPDFMethod=0\n", "AppendPDFMethod=4\n", "DeleteTempFiles=0\n",
                            "AppendPDFDuringPrinting=0\n"}) {
    SCOPED_TRACE(extra);
    Configure(extra);
    std::string job = Spool("letter.ps", "job" + std::to_string(n) + ".ps");
    EXPECT_EQ(0, Append(job));
    EXPECT_TRUE(fs::exists(job));
    EXPECT_TRUE(fs::exists(Converted(n)));
    if (std::string(extra) == "DeleteTempFiles=0\n") {
      ExpectPages(Output(), kFivePages);
      before = ReadFileText(Output());
    } else {
      EXPECT_EQ(before, ReadFileText(Output()));
    }
    ++n;
  }
}

TEST_F(AppendTest, EveryJobGoesThroughGhostscript) {
  Configure("PDFPaperSize=a4 -dNOSAFER\n");
  std::string first = Spool("invoice.ps", "first.ps");
  ASSERT_EQ(0, Append(first));
  // A PDF given as the job is converted too, and a paper size that is not one
  // word never reaches the command line.
  std::string pdfJob = work_.Join("spool/given.pdf");
  fs::copy_file(Output(), pdfJob);
  EXPECT_EQ(0, Append(pdfJob));
  EXPECT_EQ(6, GetPDFFilePageCount(Output().c_str()));
  std::string log = install_.LogText();
  EXPECT_NE(std::string::npos, log.find("-f \"" + pdfJob + "\" -c quit"));
  EXPECT_EQ(std::string::npos, log.find("-sPAPERSIZE="));
  EXPECT_NE(std::string::npos, log.find("[ERROR] PDFPaperSize"));

  Configure("PDFPaperSize=a5\n");
  EXPECT_EQ(0, Append(Spool("letter.ps", "a5.ps")));
  EXPECT_NE(std::string::npos,
            install_.LogText().find(" -dNOPAUSE -sPAPERSIZE=a5 -dFIXEDMEDIA -dPDFFitPage "
                                    "-sDEVICE=pdfwrite"));
  EXPECT_EQ(8, GetPDFFilePageCount(Output().c_str()));

  // A path with a double quote cannot be quoted on the command line.
  std::string quoted = Spool("letter.ps", "bad\"name.ps");
  EXPECT_EQ(0, Append(quoted));
  EXPECT_TRUE(fs::exists(quoted));
  EXPECT_NE(std::string::npos, install_.LogText().find("holds a double quote"));
}

TEST_F(AppendTest, DamagedJobsLeaveTheOutputAlone) {
  ASSERT_EQ(0, Append(Spool("invoice.ps", "first.ps")));
  std::string before = ReadFileText(Output());
  std::string truncated = work_.Join("spool/truncated.ps");
  std::string full = ReadFileText(kSamples + "letter.ps");
  WriteFileText(truncated, full.substr(0, full.size() * 2 / 3));
  std::string notPs = work_.Join("spool/notes.txt");
  WriteFileText(notPs, "just some words, no PostScript at all\n");
  for (const std::string& job : {truncated, notPs}) {
    EXPECT_EQ(0, Append(job));
    EXPECT_TRUE(fs::exists(job)) << job;
    EXPECT_EQ(before, ReadFileText(Output())) << job;
  }
  EXPECT_NE(std::string::npos, install_.LogText().find("Failed to convert from \"" + notPs));
}

TEST_F(AppendTest, DamagedOrEncryptedOutput) {
  // Damaged: the merge fails, the output stays as it was and the job is kept.
  WriteFileText(Output(), "%PDF-1.4\nthis is not really a PDF\n");
  for (int method : {1, 2, 3}) {
    Configure("AppendPDFMethod=" + std::to_string(method) + "\n");
    std::string job = Spool("letter.ps", "job" + std::to_string(method) + ".ps");
    EXPECT_EQ(0, Append(job));
    EXPECT_EQ("%PDF-1.4\nthis is not really a PDF\n", ReadFileText(Output()));
    EXPECT_TRUE(fs::exists(job));
    EXPECT_NE(std::string::npos, install_.LogText().find("[ERROR] The pages of \"" + job));
  }
  // Encrypted with an empty user password: opens, and the result is not encrypted.
  Configure("");
  fs::remove(Output());
  ASSERT_EQ(0, Append(Spool("invoice.ps", "first.ps")));
  std::string plain = work_.Join("plain.pdf");
  fs::rename(Output(), plain);
  ASSERT_EQ(
      0,
      RunProgram("/usr/bin/qpdf", {"--encrypt", "", "owner", "256", "--", plain, Output()}).status);
  EXPECT_EQ(0, Append(Spool("letter.ps", "second.ps")));
  ExpectPages(Output(), kFivePages);
  RunResult check = RunProgram("/usr/bin/qpdf", {"--is-encrypted", Output()});
  EXPECT_NE(0, check.status);
}

}  // namespace
