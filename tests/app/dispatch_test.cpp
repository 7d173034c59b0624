#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/install_copy.h"

namespace {

TEST(DispatchTest, ExitCodesUsageAndLog) {
  const struct {
    std::vector<std::string> args;
    int status;          // process status: -1 reads 255, -2 254, -3 253
    bool usage;          // the option list on stderr
    const char* logged;  // a line the log must hold, or null
  } cases[] = {
      {{}, 255, true, "Example:\n"},
      {{"word"}, 0, false, nullptr},
      {{"a", "b"}, 0, false, nullptr},
      {{"a", "b", "c"}, 255, true, nullptr},
      {{"-h"}, 255, true, nullptr},
      {{"-?"}, 255, true, nullptr},
      {{"--help"}, 255, true, nullptr},
      {{"-paper2", "0"}, 0, false, nullptr},
      {{"-paper2", "x"}, 255, true, nullptr},
      {{"-paper2", "9"}, 253, false, "Please input correct printer name.\n"},
      {{"-printer", "P", "-orient2"}, 255, true, nullptr},
      {{"-orient2", "2", "-paper2", "1"}, 253, false, "Please input correct printer name.\n"},
      {{"-orient2", "1"}, 253, false, "Please input correct printer name.\n"},
      {{"x", "--", "-h"}, 0, false, nullptr},
      {{"--", "-h", "-h", "-h"}, 255, true, nullptr},
      {{"-appendfile", "job.ps"}, 0, false, nullptr},
  };
  for (const auto& c : cases) {
    InstallCopy install;
    install.WriteConfig("[debug]\noutlog=Yes\n");
    RunResult r = install.Run(c.args);
    std::string name = c.args.empty() ? "(none)" : c.args[0] + "...";
    EXPECT_EQ(c.status, r.status) << name;
    EXPECT_EQ(c.usage, r.stderrText.find("Usage: tarvelin [options]  \n") == 0) << name;
    std::string log = install.LogText();
    // The command line is logged first, before the options are parsed.
    std::string cmd = "[CMD] \"" + install.Program() + "\" ";
    for (const std::string& a : c.args) cmd += "\"" + a + "\" ";
    EXPECT_EQ(23u, log.find(cmd + "\n")) << name;
    EXPECT_TRUE(!c.logged || Has(log, c.logged)) << name;
    EXPECT_EQ(c.usage, log.find("Build: Jun 24 2019\n") != std::string::npos) << name;
  }
}

TEST(DispatchTest, SettingsAndSpoolerLibrary) {
  InstallCopy install;
  install.WriteConfig("[debug]\noutlog=Yes\n[Options]\nTitle=  My title \n");
  EXPECT_EQ(0, install.Run({"nothing"}).status);
  std::string config = ReadFileText(install.ConfigPath());
  for (const char* line : {"PDFVersion=1.7\n", "Title=My title\n", "Keywords=\n", "Producer=\n"})
    EXPECT_TRUE(Has(config, line)) << line;
  const std::vector<std::string> noLibrary{"TARVELIN_SPOOLER_LIBRARY=libnothere.so.9"};
  EXPECT_EQ(254, install.Run({"-paper2", "1"}, noLibrary).status);
  EXPECT_TRUE(Has(install.LogText(), "Can't load Spool library.\n"));
  // A print job never talks to the spooler, and arrives without its library.
  install.WriteConfig("[Options]\nOutputPDFFile=" + install.Path("out.pdf") + "\n");
  WriteFileText(install.Path("job.ps"), "%!PS\nshowpage\n");
  EXPECT_EQ(0, install.Run({"-appendfile", install.Path("job.ps")}, noLibrary).status);
  EXPECT_TRUE(std::filesystem::exists(install.Path("out.pdf")));

  // With the log off the usage is the option list on stderr and nothing more.
  InstallCopy quiet;
  RunResult u = quiet.Run({"-help"});
  EXPECT_EQ(255, u.status);
  EXPECT_EQ(ReadFileText(TARVELIN_TEST_DATA "/usage.txt"), u.stderrText);
  EXPECT_FALSE(std::filesystem::exists(quiet.Path("tarvelin.log")));
}

// A job path longer than its field is refused: cut, it would name another
// file (here an existing job, which must stay untouched).
TEST(DispatchTest, OverlongJobPathIsRefused) {
  ScopedTempDir work;
  std::string prefix = work.path();
  while (prefix.size() < 1023 - 201) {
    prefix += "/" + std::string(200, 'd');
    std::filesystem::create_directory(prefix);
  }
  prefix += "/" + std::string(1023 - prefix.size() - 1, 'j');
  ASSERT_EQ(1023u, prefix.size());
  WriteFileText(prefix, "%!PS\nshowpage\n");
  InstallCopy install;
  install.WriteConfig("[debug]\noutlog=Yes\n[Options]\nOutputPDFFile=" + work.Join("out.pdf") +
                      "\n");
  EXPECT_EQ(0, install.Run({"-appendfile", prefix + std::string(211, 'x')}).status);
  EXPECT_EQ("%!PS\nshowpage\n", ReadFileText(prefix));
  EXPECT_FALSE(std::filesystem::exists(work.Join("out.pdf")));
  EXPECT_TRUE(Has(install.LogText(), "[ERROR] The -appendfile value is longer than 1023 bytes"));
}

}  // namespace
