// The two PDF tools of the install folder, run as the program runs them.
#include <gtest/gtest.h>

#include "support/install_copy.h"
#include "support/make_image.h"
#include "support/make_metafile.h"
#include "support/make_pdf.h"
#include "support/temp_dir.h"

namespace {

const std::string kPdfsdk = std::string(TARVELIN_DIST_DIR) + "/pdfsdk.dll";
const std::string kPdfutil = std::string(TARVELIN_DIST_DIR) + "/pdfutil.dll";

class PdfToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeTextPdf(a_, {"A1", "A2", "A3"});
    MakeTextPdf(b_, {"B1", "B2"});
  }
  ScopedTempDir dir_;
  std::string a_ = dir_.Join("a.pdf");
  std::string b_ = dir_.Join("b pages.pdf");
};

TEST_F(PdfToolsTest, PdfsdkWritesFirstThenSecond) {
  std::string out = dir_.Join("out.pdf");
  RunResult r = RunProgram(kPdfsdk, {a_, b_, "cat", "output", out, "dont_ask"});
  EXPECT_EQ(0, r.status) << r.stderrText;
  EXPECT_EQ((std::vector<std::string>{"A1", "A2", "A3", "B1", "B2"}), PageTexts(out));
}

TEST_F(PdfToolsTest, PdfutilAppendsAfterTheLastPageInPlace) {
  RunResult r = RunProgram(kPdfutil, {"-i", a_, "-*", b_});
  EXPECT_EQ(0, r.status) << r.stderrText;
  EXPECT_EQ((std::vector<std::string>{"A1", "A2", "A3", "B1", "B2"}), PageTexts(a_));
}

TEST_F(PdfToolsTest, BadArgumentsPrintUsageAndTouchNothing) {
  std::string before = ReadFileText(a_);
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"-i", a_, "-x", b_}, {"-i", a_, "-*"}, {}}) {
    RunResult r = RunProgram(kPdfutil, args);
    EXPECT_NE(0, r.status);
    EXPECT_NE(std::string::npos, r.stderrText.find("usage:"));
  }
  RunResult r = RunProgram(kPdfsdk, {b_, b_, "cat", "into", a_, "dont_ask"});
  EXPECT_NE(0, r.status);
  EXPECT_NE(std::string::npos, r.stderrText.find("usage:"));
  EXPECT_EQ(before, ReadFileText(a_));
}

TEST_F(PdfToolsTest, UnreadableInputFailsAndLeavesTheOutput) {
  std::string before = ReadFileText(a_);
  WriteFileText(dir_.Join("bad.pdf"), "%PDF-1.4\nnothing here\n");
  RunResult r = RunProgram(kPdfutil, {"-i", a_, "-*", dir_.Join("bad.pdf")});
  EXPECT_NE(0, r.status);
  EXPECT_NE(std::string::npos, r.stderrText.find("bad.pdf"));
  r = RunProgram(kPdfsdk, {b_, dir_.Join("missing.pdf"), "cat", "output", a_, "dont_ask"});
  EXPECT_NE(0, r.status);
  EXPECT_NE(std::string::npos, r.stderrText.find("missing.pdf"));
  EXPECT_EQ(before, ReadFileText(a_));
}

// The merger that makes picture pages logs beside the tool (and writes the
// log switch into its config.ini): these run in a copy of the install folder.
TEST_F(PdfToolsTest, SecondInputMayBeAMetafileOrAnImage) {
  InstallCopy install;
  std::string pdfsdk = install.Path("pdfsdk.dll"), pdfutil = install.Path("pdfutil.dll");
  EmfBuilder(U_RECTL{0, 0, 21000, 29700})
      .Font(1, -100, "Arial")
      .Text(100, 100, "EMF page")
      .Write(dir_.Join("c.emf"));
  std::string out = dir_.Join("out.pdf");
  RunResult r = RunProgram(pdfsdk, {a_, dir_.Join("c.emf"), "cat", "output", out, "dont_ask"});
  EXPECT_EQ(0, r.status) << r.stderrText;
  std::vector<std::string> texts = PdfPageTexts(out);
  ASSERT_EQ(4u, texts.size());
  EXPECT_NE(std::string::npos, texts[3].find("EMF page"));

  WmfBuilder wmf(2880, 1440, 1440);
  char text[] = "WMF page";
  wmf.Add(U_WMRTEXTOUT_set(point16_set(100, 700), text));
  wmf.Write(dir_.Join("d.WMF"));
  r = RunProgram(pdfutil, {"-i", b_, "-*", dir_.Join("d.WMF")});
  EXPECT_EQ(0, r.status) << r.stderrText;
  texts = PdfPageTexts(b_);
  ASSERT_EQ(3u, texts.size());
  EXPECT_NE(std::string::npos, texts[2].find("WMF page"));

  ASSERT_TRUE(WriteTestPng(dir_.Join("e.png"), 30, 20, 255));
  r = RunProgram(pdfutil, {"-i", b_, "-*", dir_.Join("e.png")});
  EXPECT_EQ(0, r.status) << r.stderrText;
  EXPECT_EQ(4u, PdfPageTexts(b_).size());
}

TEST_F(PdfToolsTest, PictureThatMakesNoPageFailsAndLeavesTheOutput) {
  InstallCopy install;
  std::string before = ReadFileText(a_);
  WriteFileText(dir_.Join("bad.emf"), "not a metafile");
  RunResult r = RunProgram(install.Path("pdfutil.dll"), {"-i", a_, "-*", dir_.Join("bad.emf")});
  EXPECT_NE(0, r.status);
  EXPECT_NE(std::string::npos, r.stderrText.find("bad.emf")) << r.stderrText;
  EXPECT_EQ(before, ReadFileText(a_));
}

}  // namespace
