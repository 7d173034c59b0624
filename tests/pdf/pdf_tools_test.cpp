// The two PDF tools of the install folder, run as the program runs them
// (their plain appends of PDFs run in the end-to-end append tests).
#include <gtest/gtest.h>

#include "support/install_copy.h"
#include "support/make_image.h"
#include "support/make_metafile.h"
#include "support/make_pdf.h"
#include "support/temp_dir.h"

namespace {

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

// Both tools take a metafile or an image as their second input (the merger
// that makes picture pages logs beside the tool and writes the log switch
// into its config.ini: these run in a copy of the install folder).
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

// Wrong words, an unreadable or missing input, a picture that makes no
// page: the tool fails, says which, and the output stays as it was.
TEST_F(PdfToolsTest, FailuresSayWhyAndLeaveTheOutput) {
  InstallCopy install;
  const std::string pdfsdk = install.Path("pdfsdk.dll"), pdfutil = install.Path("pdfutil.dll");
  WriteFileText(dir_.Join("bad.pdf"), "%PDF-1.4\nnothing here\n");
  WriteFileText(dir_.Join("bad.emf"), "not a metafile");
  const std::string before = ReadFileText(a_);
  const struct {
    std::string tool;
    std::vector<std::string> args;
    const char* said;
  } rows[] = {
      {pdfutil, {"-i", a_, "-x", b_}, "usage:"},
      {pdfutil, {"-i", a_, "-*"}, "usage:"},
      {pdfutil, {}, "usage:"},
      {pdfsdk, {b_, b_, "cat", "into", a_, "dont_ask"}, "usage:"},
      {pdfutil, {"-i", a_, "-*", dir_.Join("bad.pdf")}, "bad.pdf"},
      {pdfsdk, {b_, dir_.Join("missing.pdf"), "cat", "output", a_, "dont_ask"}, "missing.pdf"},
      {pdfutil, {"-i", a_, "-*", dir_.Join("bad.emf")}, "bad.emf"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.said);
    RunResult r = RunProgram(row.tool, row.args);
    EXPECT_NE(0, r.status);
    EXPECT_NE(std::string::npos, r.stderrText.find(row.said)) << r.stderrText;
    EXPECT_EQ(before, ReadFileText(a_));
  }
}

}  // namespace
