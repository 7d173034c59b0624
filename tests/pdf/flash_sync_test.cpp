#include "pdf/flash_sync.h"

#include <gtest/gtest.h>

#include <string>

#include "app/command_options.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "support/fake_clock.h"
#include "support/program_folder.h"

namespace {

TEST(FlashSyncTest, WaitUntilFileStablePollsOncePerSecond) {
  ScopedTempDir dir;
  std::string file = dir.Join("out.pdf");
  {
    FakeClock clock;
    WriteFileText(file, "12345");
    EXPECT_EQ(1, WaitUntilFileStable(file.c_str()));
    EXPECT_EQ(5, clock.sleeps);  // six equal readings, one second apart
    EXPECT_EQ(5000, clock.sleptMs);
  }
  {
    FakeClock clock;  // grows for ten seconds, then stays
    clock.onSleep = [&](int n) {
      if (n <= 10) platform::AppendToFile(file, "more");
    };
    WaitUntilFileStable(file.c_str());
    EXPECT_EQ(15, clock.sleeps);
  }
  {
    FakeClock clock;  // vanishes after two seconds
    clock.onSleep = [&](int n) {
      if (n == 2) platform::DeleteFile(file);
    };
    WaitUntilFileStable(file.c_str());
    EXPECT_EQ(2, clock.sleeps);
  }
  {
    FakeClock clock;  // missing or empty: no wait at all
    WaitUntilFileStable(file.c_str());
    WriteFileText(file, "");
    WaitUntilFileStable(file.c_str());
    EXPECT_EQ(0, clock.sleeps);
  }
  EXPECT_EQ(0, GetFileSizeBytes(file.c_str()));
  EXPECT_EQ(-1, GetFileSizeBytes(dir.Join("none").c_str()));
}

TEST(FlashSyncTest, SourceStaysUnlessItsPagesReachTheTarget) {
  ScopedProgramFolder program;
  FakeClock clock;
  static CommandOptions options;
  ScopedTempDir drive;
  std::string source = program.Join("out.pdf");
  std::string target = drive.Join("usb/all.pdf");
  WriteFileText(source, "%PDF-1.4 not a real one");

  // No drive folder: nothing happens, no wait.
  EXPECT_EQ(0, SyncPDFFileToFlashDrive(source.c_str(), target.c_str(), &options));
  EXPECT_TRUE(platform::PathExists(source));
  EXPECT_EQ(0, clock.sleeps);
  // The target names the source itself.
  std::string same = program.path() + "/./out.pdf";
  EXPECT_EQ(0, SyncPDFFileToFlashDrive(source.c_str(), same.c_str(), &options));
  EXPECT_TRUE(platform::PathExists(source));

  // No target yet: byte copy, source deleted.
  platform::CreateOneDirectory(drive.Join("usb"));
  EXPECT_EQ(1, SyncPDFFileToFlashDrive(source.c_str(), target.c_str(), &options));
  EXPECT_EQ("%PDF-1.4 not a real one", ReadFileText(target));
  EXPECT_FALSE(platform::PathExists(source));

  // Byte-identical: skipped and deleted. Same size, other content: a new job,
  // which here cannot be merged (not a PDF), so it stays.
  WriteFileText(source, "%PDF-1.4 not a real one");
  EXPECT_EQ(1, SyncPDFFileToFlashDrive(source.c_str(), target.c_str(), &options));
  EXPECT_FALSE(platform::PathExists(source));
  WriteFileText(source, "%PDF-1.4 not a real two");
  EXPECT_EQ(0, SyncPDFFileToFlashDrive(source.c_str(), target.c_str(), &options));
  EXPECT_TRUE(platform::PathExists(source));
  EXPECT_EQ("%PDF-1.4 not a real one", ReadFileText(target));

  // An empty source is left alone.
  WriteFileText(source, "");
  EXPECT_EQ(0, SyncPDFFileToFlashDrive(source.c_str(), target.c_str(), &options));
  EXPECT_TRUE(platform::PathExists(source));
}

TEST(FlashSyncTest, AutoRunEntryIsStoredUnderRun) {
  ScopedProgramFolder program;
  ScopedTempDir store;
  setenv("TARVELIN_REGISTRY_DIR", store.path().c_str(), 1);
  EXPECT_EQ(0, SetAutoRunIntoRegistry(""));
  EXPECT_EQ(1, SetAutoRunIntoRegistry("\"/opt/q/tarvelin\" -syncpdf"));
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                          0, KEY_QUERY_VALUE, &key));
  char data[256];
  uint32_t size = sizeof(data), type = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "QuorvelPrinterAutoSyncFile", nullptr, &type,
                                            reinterpret_cast<unsigned char*>(data), &size));
  RegCloseKey(key);
  EXPECT_EQ(REG_SZ, type);
  EXPECT_STREQ("\"/opt/q/tarvelin\" -syncpdf", data);
  EXPECT_EQ(strlen(data) + 1, size);

  // The sync instance is started and entered for auto-run with the program's path.
  program.EnableLog();
  RunSyncMonitorApp();
  std::string command = "\"" + program.Join("tarvelin") + "\" -syncpdf";
  size = sizeof(data);
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                          0, KEY_QUERY_VALUE, &key));
  RegQueryValueExA(key, "QuorvelPrinterAutoSyncFile", nullptr, &type,
                   reinterpret_cast<unsigned char*>(data), &size);
  RegCloseKey(key);
  EXPECT_EQ(command, data);
  std::string log = ReadFileText(program.Log());
  EXPECT_NE(std::string::npos, log.find("RunSyncMonitorApp: \"" + command + "\"\n"));
  EXPECT_NE(std::string::npos, log.find("[NTSystemCommand]: " + command + "\n"));
  EXPECT_NE(std::string::npos, log.find("Exit SetAutoRunIntoRegistry successful\n"));

  // A store that cannot be written: the open fails and says so.
  WriteFileText(store.Join("blocker"), "");
  setenv("TARVELIN_REGISTRY_DIR", store.Join("blocker/sub").c_str(), 1);
  EXPECT_EQ(0, SetAutoRunIntoRegistry("x"));
  EXPECT_NE(std::string::npos,
            ReadFileText(program.Log()).find("SetAutoRunIntoRegistry failed on RegOpenKeyEx\n"));
  unsetenv("TARVELIN_REGISTRY_DIR");
}

}  // namespace
