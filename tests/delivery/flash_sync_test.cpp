#include "delivery/flash_sync.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "app/tarvelin.h"
#include "config/settings.h"
#include "delivery/append_driver.h"
#include "delivery/job_journal.h"
#include "delivery/page_writers.h"
#include "pdf/pdf_file_info.h"
#include "platform/platform.h"
#include "support/fake_clock.h"
#include "support/file_size_limit.h"
#include "support/forked_child.h"
#include "support/make_pdf.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

TEST(FileStabilityTest, WaitUntilFileStablePollsOncePerSecond) {
  ScopedTempDir dir;
  const std::string file = dir.Join("out.pdf");
  const struct {
    const char* name;
    const char* content;  // nullptr: no file
    int growsUntil, vanishesAt, sleeps;
  } rows[] = {{"six equal readings, one second apart", "12345", 0, 0, 5},
              {"grows for ten seconds, then stays", "12345", 10, 0, 15},
              {"vanishes after two seconds", "12345", 0, 2, 2},
              {"empty: no wait", "", 0, 0, 0},
              {"missing: no wait", nullptr, 0, 0, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    platform::DeleteFile(file);
    if (row.content) WriteFileText(file, row.content);
    FakeClock clock;
    clock.onSleep = [&](int n) {
      if (n <= row.growsUntil) platform::AppendToFile(file, "more");
      if (n == row.vanishesAt) platform::DeleteFile(file);
    };
    WaitUntilFileStable(file.c_str());
    EXPECT_EQ(row.sleeps, clock.sleeps);
    EXPECT_EQ(row.sleeps * 1000, clock.sleptMs);
  }
}

class FlashSyncTest : public testing::Test {
 protected:
  void SetUp() override {
    program_.EnableLog();
    platform::CreateOneDirectory(drive_.Join("usb"));
  }
  std::string Source() const { return program_.Join("out.pdf"); }
  std::string Target() const { return drive_.Join("usb/all.pdf"); }
  int Sync(const std::string& source) {
    return SyncPDFFileToFlashDrive(source.c_str(), Target().c_str(), options_);
  }
  int Sync() { return Sync(Source()); }
  std::string Log() const { return ReadFileText(program_.Log()); }
  void Configure(const std::string& options) const {
    WriteFileText(program_.Config(), "[debug]\noutlog=Yes\n[Options]\n" + options);
  }
  // A source of one page "S1" and a journal of kept jobs, one a page, each
  // converted in the working temporary folder; the first was last tried at
  // firstTry, the others long ago.
  JobJournal KeepJobs(const std::vector<std::string>& pages, long long firstTry) {
    Configure("TempFolder=" + program_.Join("") + "\n");
    MakeTextPdf(Source(), {"S1"});
    JobJournal journal;
    for (const std::string& page : pages) {
      std::string spool = program_.Join(page + ".ps");
      std::string converted =
          program_.Join("file00000" + std::to_string(journal.kept.size()) + ".pdf");
      WriteFileText(spool, "%!PS job " + page);
      MakeTextPdf(converted, {page});
      journal.kept.push_back(KeptJob{1, journal.kept.empty() ? firstTry : 0, spool, converted,
                                     GetFileDigest(spool.c_str()), "kept"});
    }
    std::string error;
    EXPECT_TRUE(WriteJobJournal(Source(), journal, &error)) << error;
    return journal;
  }

  ScopedProgramFolder program_;
  FakeClock clock_;
  ScopedTempDir drive_;
  JobSettings options_;
};

TEST_F(FlashSyncTest, NoDriveLeavesTheSourceAlone) {
  MakeTextPdf(Source(), {"S1"});
  // The folder is missing.
  EXPECT_EQ(
      0, SyncPDFFileToFlashDrive(Source().c_str(), drive_.Join("gone/all.pdf").c_str(), options_));
  // The folder is a mount point of the system's table whose drive is not in.
  WriteFileText(drive_.Join("fstab"),
                "# <fs> <mount point>\nproc /proc proc defaults 0 0\nLABEL=USB " +
                    drive_.Join("usb") + " vfat noauto,user 0 0\n");
  ScopedEnv fstab("TARVELIN_FSTAB", drive_.Join("fstab").c_str());
  EXPECT_EQ(0, Sync());

  EXPECT_TRUE(platform::PathExists(Source()));
  EXPECT_FALSE(platform::PathExists(Target()));
  EXPECT_EQ(0, clock_.sleeps);
  EXPECT_TRUE(Has(Log(), "is not mounted (no drive?)"));
}

// A row: the source's name and pages, the drive's pages before, the result
// and the drive's pages after. A page list of one "%PDF-1.4 ..." text is a
// damaged file of those bytes; none is no file.
TEST_F(FlashSyncTest, SourcePagesGoBehindTheDrivesOnce) {
  using Pages = std::vector<std::string>;
  const struct {
    const char* name;
    const char* source;
    Pages pages, target;
    int result;
    Pages after;
  } rows[] = {
      {"first sync copies", "out.pdf", {"S1", "S2"}, {}, 1, {"S1", "S2"}},
      {"identical source is skipped", "out.pdf", {"S1"}, {"S1"}, 1, {"S1"}},
      {"appended", "out.pdf", {"S1", "S2"}, {"T1"}, 1, {"T1", "S1", "S2"}},
      {"source without extension", "jobs", {"S1"}, {"T1"}, 1, {"T1", "S1"}},
      {"source of another extension", "output.dat", {"S1"}, {"T1"}, 1, {"T1", "S1"}},
      {"unreadable source", "out.pdf", {"%PDF-1.4 not a real one"}, {}, 0, {}},
      {"damaged target", "out.pdf", {"S1"}, {"%PDF-1.4 damaged"}, 0, {"%PDF-1.4 damaged"}},
  };
  auto make = [](const std::string& path, const Pages& pages) {
    platform::DeleteFile(path);
    if (pages.size() == 1 && pages[0].rfind("%PDF", 0) == 0) WriteFileText(path, pages[0]);
    if (!pages.empty() && pages[0].rfind("%PDF", 0) != 0) MakeTextPdf(path, pages);
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string source = program_.Join(row.source);
    make(source, row.pages);
    make(Target(), row.target);
    const std::string sourceBytes = ReadFileText(source), before = ReadFileText(Target());
    EXPECT_EQ(row.result, Sync(source)) << Log();
    EXPECT_EQ(row.result == 0, platform::PathExists(source));
    EXPECT_FALSE(platform::PathExists(source + ".journal"));
    // Only the new pages went to the drive, behind the old bytes.
    const std::string after = ReadFileText(Target());
    EXPECT_EQ(before, after.substr(0, before.size()));
    if (row.result == 0) {
      EXPECT_EQ(sourceBytes, ReadFileText(source));
      EXPECT_EQ(before, after);
    } else {
      EXPECT_EQ(row.after, PageTexts(Target()));
      EXPECT_TRUE(!row.target.empty() || sourceBytes == after);  // a first sync copies
    }
  }
  // A target that is the source itself, by another spelling.
  MakeTextPdf(Source(), {"S1"});
  std::string same = program_.path() + "/./out.pdf";
  EXPECT_EQ(0, SyncPDFFileToFlashDrive(Source().c_str(), same.c_str(), options_));
  EXPECT_EQ(Pages{"S1"}, PageTexts(Source()));
}

// The output is deleted only when the drive's copy verifiably holds its old
// pages and the new ones: a copy whose pages tree overstates its pages in a
// side branch (T1's node says 2) comes out one page short of the count.
TEST_F(FlashSyncTest, TargetThatComesOutShortKeepsTheSource) {
  MakeTextPdf(Source(), {"S1"});
  TestPdfOptions lie;
  lie.edit = [](QPDF& pdf) {
    QPDFObjectHandle root = pdf.getRoot().getKey("/Pages");
    QPDFObjectHandle page = root.getKey("/Kids").getArrayItem(0);
    QPDFObjectHandle node =
        pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Pages /Count 2 >>"));
    node.replaceKey("/Kids", QPDFObjectHandle::newArray({page}));
    node.replaceKey("/Parent", root);
    page.replaceKey("/Parent", node);
    root.getKey("/Kids").setArrayItem(0, node);
    root.replaceKey("/Count", QPDFObjectHandle::newInteger(3));
  };
  std::string target = drive_.Join("usb/all.pages");  // not a ".pdf": written whole
  MakeTextPdf(target, {"T1", "T2"}, lie);
  EXPECT_EQ(0, SyncPDFFileToFlashDrive(Source().c_str(), target.c_str(), options_));
  EXPECT_TRUE(platform::PathExists(Source()));
  EXPECT_TRUE(Has(Log(), "(3 pages there, 4 expected); it stays"));
}

// The write to the drive fails half-way (the file size limit stands in for a
// full drive): the source stays and the target keeps its old pages.
TEST_F(FlashSyncTest, FailedWriteToTheDriveKeepsTheSource) {
  std::vector<std::string> many(300, "A long line of text on a page of the source document");
  for (bool targetExists : {false, true}) {
    SCOPED_TRACE(targetExists ? "append" : "copy");
    if (targetExists) MakeTextPdf(Target(), {"T1"});
    MakeTextPdf(Source(), many);
    std::string before = ReadFileText(Target());
    EXPECT_EQ("0", RunWithFileSizeLimit(4096, [this] { return std::to_string(Sync()); }));
    EXPECT_EQ(300u, PageTexts(Source()).size());
    EXPECT_EQ(before, ReadFileText(Target()));
  }
}

// Another process holds the output's lock: the sync neither copies nor
// deletes until it is released, and gives up waiting after LockWaitLimit.
TEST_F(FlashSyncTest, LockHeldElsewhereTouchesNothing) {
  Configure("LockWaitLimit=2\n");
  MakeTextPdf(Source(), {"S1"});
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  pid_t holder = StartChild([&] {
    platform::FileLock lock(Source() + ".lock");
    return write(ready[1], lock.Held() ? "y" : "n", 1) == 1 ? pause() : 1;
  });
  char c = 0;
  ASSERT_EQ(1, read(ready[0], &c, 1));
  ASSERT_EQ('y', c);
  EXPECT_EQ(0, Sync());
  EXPECT_TRUE(platform::PathExists(Source()));
  EXPECT_FALSE(platform::PathExists(Target()));
  EXPECT_TRUE(Has(Log(), "could not lock \"" + Source() + ".lock\": held by"));
  EXPECT_GE(clock_.sleptMs, 2000);

  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  for (int end : ready) close(end);
  EXPECT_EQ(1, Sync());
  EXPECT_EQ(std::vector<std::string>{"S1"}, PageTexts(Target()));
}

// A sync that died between the write of the target and the deletion of the
// source left its commit behind: the next cycle finishes it without copying
// the pages a second time; an unfinished one, or a target that holds other
// pages than the commit promised, gets the pages (again).
TEST_F(FlashSyncTest, CommitOfADeadSyncIsFinishedOnce) {
  using Pages = std::vector<std::string>;
  const struct {
    const char* name;
    Pages target, after;
  } rows[] = {{"landed", {"T1", "S1"}, {"T1", "S1"}},
              {"not landed", {"T1"}, {"T1", "S1"}},
              {"more pages than promised", {"T1", "S1", "X"}, {"T1", "S1", "X", "S1"}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    MakeTextPdf(Source(), {"S1"});
    MakeTextPdf(Target(), row.target);
    JobJournal journal;
    journal.hasCommit = true;
    journal.commit = PendingCommit{Target(), 1, 2, "", "", {Source()}};
    std::string error;
    ASSERT_TRUE(WriteJobJournal(Source(), journal, &error));
    Sync();
    EXPECT_EQ(row.after, PageTexts(Target()));
    EXPECT_FALSE(platform::PathExists(Source()));
    EXPECT_FALSE(platform::PathExists(JournalPath(Source())));
  }
}

// Kept jobs arrive first; a new job that took a kept one's spool name stays.
TEST_F(FlashSyncTest, KeptJobsAreDeliveredBeforeTheSync) {
  KeptJob kept = KeepJobs({"K1"}, 0).kept[0];
  WriteFileText(kept.job, "%!PS another job");
  EXPECT_EQ(1, Sync());
  EXPECT_EQ((std::vector<std::string>{"S1", "K1"}), PageTexts(Target()));
  EXPECT_EQ("%!PS another job", ReadFileText(kept.job));
  EXPECT_FALSE(platform::PathExists(kept.converted));
  EXPECT_FALSE(platform::PathExists(JournalPath(Source())));
}

// The sync instance retries a kept job once a minute; one that waits for its
// minute holds back every job behind it, or a later job would reach the
// drive first.
TEST_F(FlashSyncTest, JobThatIsNotDueHoldsBackTheJobsBehindIt) {
  JobJournal journal = KeepJobs({"A", "B"}, time(nullptr));
  EXPECT_EQ(1, Sync());
  EXPECT_EQ((std::vector<std::string>{"S1"}), PageTexts(Target()));
  JobJournal after;
  std::string error;
  ASSERT_EQ(JournalRead::kRead, ReadJobJournal(Source(), &after, &error)) << error;
  ASSERT_EQ(2u, after.kept.size());
  EXPECT_EQ(journal.kept[0].job, after.kept[0].job);
}

// A delivered job leaves the journal in the same write that clears its
// commit: no write of the journal follows the output's.
TEST_F(FlashSyncTest, DeliveryIsOneDurableStep) {
  KeepJobs({"K1"}, 0);
  std::vector<std::string> events;
  {
    platform::FileLock lock(OutputLockPath(Source()));
    platform::SetFileEventRecorderForTesting(&events);
    EXPECT_EQ(1, DeliverKeptJobs(Source().c_str(), options_, lock.NativeHandle()));
    platform::SetFileEventRecorderForTesting(nullptr);
  }
  EXPECT_EQ((std::vector<std::string>{"S1", "K1"}), PageTexts(Source()));
  EXPECT_FALSE(platform::PathExists(JournalPath(Source())));
  auto written = std::find(events.begin(), events.end(), "append " + Source());
  ASSERT_NE(events.end(), written);
  for (auto later = written; later != events.end(); ++later)
    EXPECT_EQ(std::string::npos, later->find(" " + JournalPath(Source()))) << *later;
  // The removal of the length record is on the disk before the job counts.
  const std::string folder = platform::DirName(Source());
  EXPECT_NE(events.end(), std::find(written, events.end(), "fsync " + folder));
  // So is every name made beside the output (the commit's record among
  // them) before the output changes.
  auto unsynced = events.end();
  for (auto e = events.begin(); e != written; ++e) {
    if (e->rfind("rename ", 0) == 0 && e->find(" " + folder + "/") != std::string::npos)
      unsynced = e;
    if (*e == "fsync " + folder) unsynced = events.end();
  }
  EXPECT_TRUE(unsynced == events.end()) << *unsynced;
}

// Job names travel through the journal's tab-separated fields unchanged.
TEST(JobJournalTest, FieldsComeBackUnchanged) {
  for (const char* name : {"50% off.ps", "tab\there.ps", "two\nlines.ps", "cr\rlf.ps", "%41.ps",
                           "trailing%", "\xC3\xA9t\xC3\xA9.ps"}) {
    SCOPED_TRACE(name);
    JobJournal journal, back;
    journal.kept.push_back(KeptJob{1, 2, name, name, "d", name, 3});
    journal.hasCommit = true;
    journal.commit = PendingCommit{name, 1, 2, name, "d", {name, name}};
    journal.leftovers.push_back(Leftover{4, name});
    const std::string text = FormatJobJournal(journal);
    ASSERT_TRUE(ParseJobJournal(text, &back));
    for (const std::string& field : {back.kept.at(0).job, back.kept.at(0).cause, back.commit.target,
                                     back.commit.files.at(1), back.leftovers.at(0).path})
      EXPECT_EQ(name, field);
    // Two commit records are no journal this program wrote.
    const size_t commit = text.find("\ncommit\t") + 1, end = text.find('\n', commit) + 1;
    EXPECT_FALSE(ParseJobJournal(text.substr(0, end) + text.substr(commit), &back));
  }
}

// The watcher on the fake clock: jobs arrive between and during its cycles,
// and the drive is plugged in late; every page arrives once, in order.
TEST_F(FlashSyncTest, WatcherDeliversEveryJobOnceAndInOrder) {
  rmdir(drive_.Join("usb").c_str());
  Configure("OutputPDFFile=%APPFOLDER%/out.pdf\nSyncPDFFileToFlashDrive=" + Target() + "\n");
  const std::map<int, int> printAt = {{1, 1}, {2, 2}, {9, 3}, {25, 4}, {26, 5}, {40, 6}};
  clock_.onSleep = [&](int sleeps) {
    auto it = printAt.find(sleeps);
    if (it != printAt.end()) {
      std::string job = program_.Join("job" + std::to_string(it->second) + ".pdf");
      MakeTextPdf(job, {"Job " + std::to_string(it->second)});
      platform::FileLock lock(Source() + ".lock");
      ASSERT_TRUE(AppendPDFByMerger(job.c_str(), Source().c_str(), options_.info));
    }
    if (sleeps == 20) platform::CreateOneDirectory(drive_.Join("usb"));
  };
  RunSyncLoop(60);
  EXPECT_FALSE(platform::PathExists(Source()));
  EXPECT_EQ((std::vector<std::string>{"Job 1", "Job 2", "Job 3", "Job 4", "Job 5", "Job 6"}),
            PageTexts(Target()));
}

// A source setting longer than the watcher's buffer is neither used nor
// written back cut, which would send later jobs to another path.
TEST_F(FlashSyncTest, WatcherNeverWritesBackACutSetting) {
  std::string longSource = program_.path() + "/" + std::string(600, 'o') + ".pdf";
  Configure("OutputPDFFile=" + longSource + "\nSyncPDFFileToFlashDrive=" + Target() + "\n");
  RunSyncLoop(2);
  EXPECT_TRUE(Has(ReadFileText(program_.Config()), "OutputPDFFile=" + longSource));
  EXPECT_TRUE(Has(Log(), "[ERROR] The setting OutputPDFFile is"));
}

}  // namespace
