// pdfcp.exe, the command of the Quorvel port monitor: a copy of the install
// folder, the owner's settings in a registry store of a temporary folder,
// real Ghostscript and real PDFs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/install_copy.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "tools/tool_run.h"

namespace fs = std::filesystem;

namespace {

const std::string kGeneralKey = "Software\\quorvel\\lumaset";
const std::string kPortKey = kGeneralKey + "\\Quorvel2";
const int kPlaced = 0;
const int kNotPlaced = 1;

void SetText(const std::string& path, const char* name, const std::string& value) {
  SetRegistryValue(HKEY_CURRENT_USER, path, name, value);
}
void SetNumber(const std::string& path, const char* name, uint32_t value) {
  SetRegistryValue(HKEY_CURRENT_USER, path, name, value);
}

class PdfcpTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(work_.Join("spool"));
    fs::create_directories(work_.Join("out"));
    fs::create_directories(work_.Join("reg"));
    install_.WriteConfig("[debug]\noutlog=Yes\n[Options]\nTempFolder=" + work_.Join("tmp") + "\n");
  }
  /// Turns the output on into directory under key, with AutoExec of program.
  void Settings(const std::string& key, const std::string& directory,
                const std::string& program = "") {
    SetNumber(key, "AutomaticOutput", 1);
    SetText(key, "AutomaticDirectory", directory);
    SetNumber(key, "AutomaticValue", 5);
    SetNumber(key, "AutoExec", program.empty() ? 0 : 1);
    SetText(key, "AutoExecProgram", program);
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

  ScopedTempDir work_;
  InstallCopy install_;
  ScopedEnv registry_{"TARVELIN_REGISTRY_DIR", work_.Join("reg").c_str()};
};

TEST_F(PdfcpTest, JobsGoIntoOnePdfInOrderAndAutoExecGetsIt) {
  std::string recorder = work_.Join("record");
  WriteFileText(recorder, "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > '" +
                              work_.Join("started") + "'\n");
  fs::permissions(recorder, fs::perms::owner_all);
  Settings(kGeneralKey, work_.Join("out"), recorder);
  std::string first = Spool("invoice.ps", "job1.ps");
  std::string second = Spool("letter.ps", "job2.ps");
  EXPECT_EQ(kPlaced, Run("Quorvel2:", first).status) << Log();
  EXPECT_EQ(kPlaced, Run("Quorvel2:", second).status) << Log();
  std::string pdf = work_.Join("out/out.pdf");
  ExpectJobs(pdf, "IL");
  EXPECT_FALSE(fs::exists(first));
  EXPECT_FALSE(fs::exists(second));
  EXPECT_EQ(std::string::npos, Log().find("[ERROR]")) << Log();
  for (int i = 0; i < 500 && ReadFileText(work_.Join("started")).empty(); ++i) SleepMs(10);
  EXPECT_EQ(pdf + "\n", ReadFileText(work_.Join("started")));
}

// The port's own key wins; a missing folder is made for its PDF; a program
// that cannot start leaves the PDF made.
TEST_F(PdfcpTest, PortKeyWinsOverTheGeneralOne) {
  Settings(kGeneralKey, work_.Join("out/general.pdf"));
  Settings(kPortKey, work_.Join("out/port/"), work_.Join("no-such-program"));
  EXPECT_EQ(kPlaced, Run("Quorvel2:", Spool("invoice.ps", "job1.ps")).status) << Log();
  ExpectJobs(work_.Join("out/port/out.pdf"), "I");
  EXPECT_FALSE(fs::exists(work_.Join("out/general.pdf")));
  EXPECT_NE(std::string::npos,
            Log().find("[ERROR] Could not start AutoExecProgram \"" +
                       work_.Join("no-such-program") + "\": No such file or directory"))
      << Log();

  EXPECT_EQ(kPlaced, Run("Quorvel3:", Spool("letter.ps", "job2.ps")).status) << Log();
  ExpectJobs(work_.Join("out/general.pdf"), "L");
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
      SetNumber(kPortKey, "AutomaticOutput", c.output);
      SetText(kPortKey, "AutomaticDirectory", c.directory == " " ? "" : c.directory);
    }
    if (c.damage) WriteFileText(hive, ReadFileText(hive) + c.damage);
    std::string job = Spool("invoice.ps", "job1.ps");
    EXPECT_EQ(kNotPlaced, Run("Quorvel2:", job).status);
    EXPECT_NE(std::string::npos, Log().find(c.why)) << Log();
    EXPECT_NE(std::string::npos, Log().find("; the job stays in \"" + job + "\".\n")) << Log();
    EXPECT_TRUE(fs::exists(job));
    EXPECT_TRUE(fs::is_empty(work_.Join("out")));
  }
}

TEST_F(PdfcpTest, WrongArgumentsShowTheUsage) {
  RunResult run = RunProgram(install_.Path("pdfcp.exe"), {"Quorvel2:"});
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.stderrText.find("Usage: pdfcp.exe PORT SPOOLFILE"));
}

}  // namespace
