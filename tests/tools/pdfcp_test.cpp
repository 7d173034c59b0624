// pdfcp.exe, the command of the Quorvel port monitor, and the two PDF tools:
// a copy of the install folder, the owner's settings in a registry store of
// a temporary folder, real Ghostscript and real PDFs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/install_copy.h"
#include "support/make_metafile.h"
#include "support/make_pdf.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "tools/tool_run.h"

namespace fs = std::filesystem;

namespace {

const std::string kGeneralKey = "Software\\quorvel\\lumaset";
const std::string kPortKey = kGeneralKey + "\\Quorvel2";
const int kPlaced = 0;
const int kNotPlaced = 1;

class PdfcpTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(work_.Join("spool"));
    fs::create_directories(work_.Join("out"));
    install_.WriteConfig("[debug]\noutlog=Yes\n[Options]\nTempFolder=" + work_.Join("tmp") + "\n");
  }
  /// Turns the output on into directory under key, with AutoExec of program.
  void Settings(const std::string& key, const std::string& directory,
                const std::string& program = "") {
    SetRegistryValue(HKEY_CURRENT_USER, key, "AutomaticOutput", 1u);
    SetRegistryValue(HKEY_CURRENT_USER, key, "AutomaticDirectory", directory);
    SetRegistryValue(HKEY_CURRENT_USER, key, "AutomaticValue", 5u);
    SetRegistryValue(HKEY_CURRENT_USER, key, "AutoExec", program.empty() ? 0u : 1u);
    SetRegistryValue(HKEY_CURRENT_USER, key, "AutoExecProgram", program);
  }
  std::string Spool(const std::string& sample, const std::string& as) const {
    std::string job = work_.Join("spool/" + as);
    fs::copy_file(kSamples + sample, job, fs::copy_options::overwrite_existing);
    return job;
  }
  RunResult Run(const std::string& port, const std::string& job) const {
    return RunProgram(install_.Path("pdfcp.exe"), {port, job});
  }
  std::string Log() const { return ReadFileText(install_.Path("tarvelin.log")); }
  /// a.pdf of three pages and "b pages.pdf" of two; the first's path.
  std::string ThreeAndTwo() const {
    MakeTextPdf(work_.Join("a.pdf"), {"A1", "A2", "A3"});
    MakeTextPdf(work_.Join("b pages.pdf"), {"B1", "B2"});
    return work_.Join("a.pdf");
  }

  ScopedTempDir work_;
  InstallCopy install_;
  ScopedEnv registry_{"TARVELIN_REGISTRY_DIR", work_.Join("reg").c_str()};
};

// The port's own key wins over the general one; jobs go into one PDF in
// order and AutoExec gets it; a missing folder is made for its PDF; a
// program that cannot start leaves the PDF made.
TEST_F(PdfcpTest, JobsGoIntoThePortsPdfAndAutoExecGetsIt) {
  const std::string recorder = work_.Join("record"), started = work_.Join("started");
  WriteFileText(recorder, "#!/bin/sh\necho \"$@\" >> '" + started + "'\n");
  fs::permissions(recorder, fs::perms::owner_all);
  Settings(kGeneralKey, work_.Join("out/general.pdf"), recorder);
  Settings(kPortKey, work_.Join("out/port/"), work_.Join("no-such-program"));
  EXPECT_EQ(kPlaced, Run("Quorvel2:", Spool("invoice.ps", "job1.ps")).status) << Log();
  ExpectJobs(work_.Join("out/port/out.pdf"), "I");
  EXPECT_FALSE(fs::exists(work_.Join("out/general.pdf")));
  EXPECT_TRUE(Has(Log(), "[ERROR] Could not start AutoExecProgram \"" +
                             work_.Join("no-such-program") + "\": No such file or directory"));

  const std::string second = Spool("letter.ps", "job2.ps"), third = Spool("invoice.ps", "job3.ps");
  EXPECT_EQ(kPlaced, Run("Quorvel3:", second).status) << Log();
  EXPECT_EQ(kPlaced, Run("Quorvel3:", third).status) << Log();
  ExpectJobs(work_.Join("out/general.pdf"), "LI");
  EXPECT_FALSE(fs::exists(second) || fs::exists(third));
  const std::string twice = work_.Join("out/general.pdf\n") + work_.Join("out/general.pdf\n");
  for (int i = 0; i < 500 && ReadFileText(started).size() < twice.size(); ++i) SleepMs(10);
  EXPECT_EQ(twice, ReadFileText(started));
}

// Without settings that name a PDF the job stays as it is, and the log says
// why and where.
TEST_F(PdfcpTest, WithoutUsableSettingsTheJobStays) {
  std::string hive = work_.Join("reg/HKEY_CURRENT_USER.reg");
  struct Case {
    const char* what;
    std::string directory;
    uint32_t output;
    const char* damage;
    const char* why;
  } cases[] = {
      {"no settings", "", 0, nullptr, "There are no per-user settings"},
      {"output off", work_.Join("out"), 0, nullptr, "do not turn on AutomaticOutput"},
      {"no folder", " ", 1, nullptr, "do not turn on AutomaticOutput"},
      {"relative folder", "out/all.pdf", 1, nullptr, "is not an absolute path"},
      {"damaged store", work_.Join("out"), 1, "\"AutoExec\"=what\n", "is damaged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(hive);
    fs::remove(install_.Path("tarvelin.log"));
    if (!c.directory.empty()) {
      SetRegistryValue(HKEY_CURRENT_USER, kPortKey, "AutomaticOutput", c.output);
      SetRegistryValue(HKEY_CURRENT_USER, kPortKey, "AutomaticDirectory",
                       c.directory == " " ? "" : c.directory);
    }
    if (c.damage) WriteFileText(hive, ReadFileText(hive) + c.damage);
    std::string job = Spool("invoice.ps", "job1.ps");
    EXPECT_EQ(kNotPlaced, Run("Quorvel2:", job).status);
    EXPECT_TRUE(Has(Log(), c.why));
    EXPECT_TRUE(Has(Log(), "; the job stays in \"" + job + "\".\n"));
    EXPECT_TRUE(fs::exists(job));
    EXPECT_TRUE(fs::is_empty(work_.Join("out")));
  }
}

// The two PDF tools of the install folder, run as the program runs them
// (their plain appends of PDFs run in the end-to-end append tests).
using PdfToolsTest = PdfcpTest;

// Both tools take a picture (here a metafile; which kinds the merger reads
// is its own tests' subject) as their second input (the merger that makes
// picture pages logs beside the tool and writes the log switch into its
// config.ini: these run in a copy of the install folder).
TEST_F(PdfToolsTest, SecondInputMayBeAPicture) {
  const std::string a_ = ThreeAndTwo(), b_ = work_.Join("b pages.pdf");
  std::string pdfsdk = install_.Path("pdfsdk.dll"), pdfutil = install_.Path("pdfutil.dll");
  EmfBuilder(kA4).Font(1, -100, "Arial").Text(100, 100, "EMF page").Write(work_.Join("c.emf"));
  std::string out = work_.Join("out.pdf");
  RunResult r = RunProgram(pdfsdk, {a_, work_.Join("c.emf"), "cat", "output", out, "dont_ask"});
  EXPECT_EQ(0, r.status) << r.stderrText;
  std::vector<std::string> texts = PdfPageTexts(out);
  EXPECT_TRUE(texts.size() == 4 && Has(texts[3], "EMF page"));

  WmfBuilder wmf(2880, 1440, 1440);
  char text[] = "WMF page";
  wmf.Add(U_WMRTEXTOUT_set(point16_set(100, 700), text));
  wmf.Write(work_.Join("d.WMF"));
  r = RunProgram(pdfutil, {"-i", b_, "-*", work_.Join("d.WMF")});
  EXPECT_EQ(0, r.status) << r.stderrText;
  texts = PdfPageTexts(b_);
  EXPECT_TRUE(texts.size() == 3 && Has(texts[2], "WMF page"));
}

// Wrong words, an unreadable or missing input, a picture that makes no
// page: the tool (or pdfcp.exe, given too few words) fails, says which, and
// the output stays as it was.
TEST_F(PdfToolsTest, FailuresSayWhyAndLeaveTheOutput) {
  const std::string a_ = ThreeAndTwo(), b_ = work_.Join("b pages.pdf");
  const std::string pdfsdk = install_.Path("pdfsdk.dll"), pdfutil = install_.Path("pdfutil.dll");
  WriteFileText(work_.Join("bad.pdf"), "%PDF-1.4\nnothing here\n");
  WriteFileText(work_.Join("bad.emf"), "not a metafile");
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
      {pdfutil, {"-i", a_, "-*", work_.Join("bad.pdf")}, "bad.pdf"},
      {pdfsdk, {b_, work_.Join("missing.pdf"), "cat", "output", a_, "dont_ask"}, "missing.pdf"},
      {pdfutil, {"-i", a_, "-*", work_.Join("bad.emf")}, "bad.emf"},
      {install_.Path("pdfcp.exe"), {"Quorvel2:"}, "Usage: pdfcp.exe PORT SPOOLFILE"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.said);
    RunResult r = RunProgram(row.tool, row.args);
    EXPECT_NE(0, r.status);
    EXPECT_TRUE(Has(r.stderrText, row.said));
    EXPECT_EQ(before, ReadFileText(a_));
  }
}

}  // namespace
