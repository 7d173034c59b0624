// The printing road end to end: the built program, real Ghostscript, real
// PDFs, real page tools.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "delivery/job_journal.h"
#include "pdf/pdf_file_info.h"
#include "platform/platform.h"
#include "support/forked_child.h"
#include "support/install_copy.h"
#include "support/make_pdf.h"

namespace fs = std::filesystem;

namespace {

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
  pid_t Start(const std::string& job) const { return install_.Start({"-appendfile", job}); }
  bool Logged(const std::string& text) const { return Has(install_.LogText(), text); }
  // Appends the first job (the invoice); the output it makes.
  std::string First() const {
    EXPECT_EQ(0, Append(Spool("invoice.ps", "first.ps")));
    return ReadFileText(Output());
  }

  ScopedTempDir work_;
  InstallCopy install_;
};

// Every method appends; a method of none, an unknown one, kept temporary
// files or no appending while printing keep the job and its converted PDF.
TEST_F(AppendTest, SettingsChooseHowTheJobIsAppendedOrKept) {
  const struct {
    const char* setting;
    bool appended;
  } rows[] = {{"AppendPDFMethod=1\nTitle=Jobs\n", true},
              {"AppendPDFMethod=2\nTitle=Jobs\n", true},
              {"AppendPDFMethod=3\nTitle=Jobs\n", true},
              {"AppendPDFMethod=0\n", false},
              {"AppendPDFMethod=4\n", false},
              {"AppendPDFDuringPrinting=0\n", false},
              {"DeleteTempFiles=0\n", true}};
  int n = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.setting);
    for (const char* leftover : {"", ".journal"}) fs::remove(Output() + leftover);
    fs::remove_all(work_.Join("tmp"));
    Configure("");
    const std::string before = First();
    Configure(row.setting);
    std::string job = Spool("letter.ps", "job" + std::to_string(++n) + ".ps");
    EXPECT_EQ(0, Append(job));
    const bool keep = !row.appended || std::string(row.setting) == "DeleteTempFiles=0\n";
    EXPECT_EQ(keep, fs::exists(job));
    EXPECT_EQ(keep, !fs::is_empty(work_.Join("tmp")));
    if (row.appended) {
      ExpectJobs(Output(), "IL");
    } else {
      EXPECT_EQ(before, ReadFileText(Output()));
    }
  }
}

TEST_F(AppendTest, EveryJobGoesThroughGhostscript) {
  Configure("PDFPaperSize=a4 -dNOSAFER\nDeleteTempFiles=0\n");
  const std::string first = Spool("invoice.ps", "first.ps");
  ASSERT_EQ(0, Append(first));
  // The first job's converted PDF becomes the output by copy.
  EXPECT_EQ(ReadFileText(Converted(1)), ReadFileText(Output()));
  EXPECT_TRUE(Logged("-sOutputFile=\"" + Converted(1) + "\" -f \"" + first + "\" -c quit\n"));
  // A PDF given as the job is converted too, and a paper size that is not one
  // word never reaches the command line.
  std::string pdfJob = work_.Join("spool/given.pdf");
  fs::copy_file(Output(), pdfJob);
  EXPECT_EQ(0, Append(pdfJob));
  EXPECT_EQ(6, GetPDFFilePageCount(Output().c_str()));
  EXPECT_TRUE(Logged("-f \"" + pdfJob + "\" -c quit"));
  EXPECT_FALSE(Logged("-sPAPERSIZE="));
  EXPECT_TRUE(Logged("[ERROR] PDFPaperSize"));
  Configure("PDFPaperSize=a5\n");
  EXPECT_EQ(0, Append(Spool("letter.ps", "a5.ps")));
  EXPECT_TRUE(Logged(" -sPAPERSIZE=a5 -dFIXEDMEDIA -dPDFFitPage "));
}

// Damaged jobs, jobs that do not give the pages they announce, files that
// are no regular non-empty file and a path with a double quote (it cannot
// be quoted on a command line) leave the output alone; the kept job's
// line says why in Ghostscript's own words.
TEST_F(AppendTest, JobsThatGiveNoGoodPagesLeaveTheOutputAlone) {
  const std::string body =
      "/Helvetica findfont 20 scalefont setfont\n"
      "72 720 moveto (One) show showpage\n72 720 moveto (Two) show showpage\n";
  const std::string letter = ReadFileText(kSamples + "letter.ps");
  const std::string head = "%!PS-Adobe-3.0\n%%Pages: ";
  const struct {
    const char* name;
    std::string text;  // "": made by the row's own step
    bool delivered;
    const char* said;
  } rows[] = {
      {"truncated.ps", letter.substr(0, letter.size() * 2 / 3), false, "\": it announces"},
      {"notes.txt", "just some words, no PostScript at all\n", false, "\": Error: /undefined"},
      {"fewer.ps", head + "3\n%%EndComments\n" + body + "%%EOF\n", false, ""},
      {"more.ps", head + "1\n%%EndComments\n" + body + "%%EOF\n", false, ""},
      {"atend-cut.ps", head + "(atend)\n%%EndComments\n" + body, false, ""},
      {"atend.ps", head + "(atend)\n%%EndComments\n" + body + "%%Trailer\n%%Pages: 2\n%%EOF\n",
       true, ""},
      {"link.ps", "", false, "\" is not a regular file"},
      {"fifo.ps", "", false, "\" is not a regular file"},
      {"empty.ps", "", true, "\" is empty"},
      {"bad\"name.ps", letter, false, "\" holds a double quote"},
  };
  std::string target = Spool("letter.ps", "secret.ps");
  fs::create_symlink(target, work_.Join("spool/link.ps"));
  ASSERT_EQ(0, mkfifo(work_.Join("spool/fifo.ps").c_str(), 0600));
  WriteFileText(work_.Join("spool/empty.ps"), "");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string before = First();
    std::string job = work_.Join(std::string("spool/") + row.name);
    if (!row.text.empty()) WriteFileText(job, row.text);
    EXPECT_EQ(0, Append(job));
    EXPECT_EQ(!row.delivered, fs::exists(fs::symlink_status(job)));
    EXPECT_EQ(row.delivered && !row.text.empty(), before != ReadFileText(Output()));
    if (*row.said) {
      EXPECT_TRUE(Logged(job + row.said)) << install_.LogText();
    }
    for (const char* leftover : {"", ".journal"}) fs::remove(Output() + leftover);
  }
  EXPECT_TRUE(fs::exists(target));
}

TEST_F(AppendTest, KeptJobsArriveLaterInPrintOrder) {
  // Damaged: every method fails, the output stays as it was and the jobs are
  // kept; the job that fails a third time moves to the failed folder.
  WriteFileText(Output(), "%PDF-1.4\nthis is not really a PDF\n");
  std::vector<std::string> jobs;
  for (int method : {1, 2, 3}) {
    Configure("AppendPDFMethod=" + std::to_string(method) + "\n");
    jobs.push_back(Spool("letter.ps", "job" + std::to_string(method) + ".ps"));
    EXPECT_EQ(0, Append(jobs.back()));
    EXPECT_EQ("%PDF-1.4\nthis is not really a PDF\n", ReadFileText(Output()));
    EXPECT_TRUE(Logged("[ERROR] The pages of \"" + jobs[0]));
  }
  EXPECT_FALSE(fs::exists(jobs[0]));
  EXPECT_TRUE(fs::exists(work_.Join("out/failed/job1.ps")));
  EXPECT_TRUE(Logged("[ERROR] The job \"" + jobs[0] + "\" failed 3 times"));
  // Once the output is usable again, the next run delivers the kept jobs
  // first, oldest first, then its own.
  fs::remove(Output());
  EXPECT_EQ(0, Append(Spool("invoice.ps", "later.ps")));
  ExpectJobs(Output(), "LLI");
  for (int i : {1, 2}) EXPECT_FALSE(fs::exists(jobs[i]));
  EXPECT_FALSE(fs::exists(Output() + ".journal"));
}

// The output itself, a link to it or a hard link, given as the job; a job
// name that reads as a switch; a name that is not UTF-8.
TEST_F(AppendTest, JobNamesNameThatVeryFileAndNeverTheOutput) {
  const std::string before = First();
  fs::create_symlink(Output(), work_.Join("spool/link.pdf"));
  fs::create_hard_link(Output(), work_.Join("spool/hard.pdf"));
  for (int method : {1, 2, 3}) {
    Configure("AppendPDFMethod=" + std::to_string(method) + "\n");
    for (const std::string& job :
         {Output(), work_.Join("spool/link.pdf"), work_.Join("spool/hard.pdf")}) {
      SCOPED_TRACE(job + " method " + std::to_string(method));
      EXPECT_EQ(0, Append(job));
      EXPECT_EQ(before, ReadFileText(Output()));
      EXPECT_TRUE(fs::exists(job));
    }
  }
  EXPECT_TRUE(Logged("is the output PDF \"" + Output()));
  // Relative names, from the spool folder, as a user might type them.
  const std::string spool = platform::DirName(Spool("letter.ps", "-dNOSAFER"));
  const ToolLaunch fromSpool{
      {"-appendfile", "-dNOSAFER"}, "/dev/null", {}, [&] { return chdir(spool.c_str()) == 0; }};
  EXPECT_EQ(0, RunTool(install_.Program(), fromSpool).status);
  ExpectJobs(Output(), "IL");
  EXPECT_FALSE(fs::exists(work_.Join("spool/-dNOSAFER")));
  EXPECT_TRUE(Logged("-f \"" + work_.Join("spool/-dNOSAFER") + "\" -c quit"));

  std::string bad = Spool("letter.ps", "bad\xffname.ps");
  std::string similar = Spool("invoice.ps", "badname.ps");
  EXPECT_EQ(0, Append(bad));
  ExpectJobs(Output(), "ILL");
  EXPECT_FALSE(fs::exists(bad));
  EXPECT_TRUE(fs::exists(similar));
}

// A job that never ends and prints for ever: the interpreter is ended after
// its time, what it printed is capped, and the job is kept.
TEST_F(AppendTest, GhostscriptIsBoundedInTimeAndOutput) {
  Configure("GhostscriptTimeLimit=2\n");
  std::string job = work_.Join("spool/loop.ps");
  WriteFileText(job, "%!PS\n/s 1000 string def 0 1 999 { s exch 65 put } for { s print } loop\n");
  EXPECT_EQ(0, Append(job));
  EXPECT_TRUE(fs::exists(job));
  EXPECT_FALSE(fs::exists(Output()));
  EXPECT_TRUE(Logged("ended the command after 2 seconds"));
  EXPECT_TRUE(Logged("[cut "));
  EXPECT_LT(install_.LogText().size(), 1024u * 1024u);
}

TEST_F(AppendTest, LockThatCannotBeTakenKeepsTheJob) {
  const std::string before = First(), victim = work_.Join("victim");
  for (bool link : {false, true}) {
    SCOPED_TRACE(link ? "link" : "folder");
    fs::remove_all(Output() + ".lock");
    if (link) {
      fs::create_symlink(victim, Output() + ".lock");
    } else {
      fs::create_directory(Output() + ".lock");
    }
    std::string job = Spool("letter.ps", link ? "b.ps" : "a.ps");
    EXPECT_EQ(0, Append(job));
    EXPECT_TRUE(fs::exists(job));
    EXPECT_EQ(before, ReadFileText(Output()));
    EXPECT_FALSE(fs::exists(victim));
  }
  EXPECT_TRUE(Logged("[ERROR] Could not lock \"" + Output() + ".lock\": Is a directory"));
  EXPECT_TRUE(Logged(".lock\": Too many levels of symbolic links"));
}

// The output's end read while the job converts stands in only for the
// very file it read: here the interpreter, once started, puts an older
// output in its place.
TEST_F(AppendTest, OutputReplacedWhileTheJobConvertsIsReadAgain) {
  const std::string older = work_.Join("older.pdf"), gs = install_.Path("gs/gswin32.exe");
  WriteFileText(older, First());
  ASSERT_EQ(0, Append(Spool("letter.ps", "a.ps")));
  fs::rename(gs, gs + ".real");
  WriteFileText(
      gs, "#!/bin/sh\nsleep 0.3\ncp '" + older + "' '" + Output() + "'\nexec \"$0.real\" \"$@\"\n");
  fs::permissions(gs, fs::perms::owner_all);
  EXPECT_EQ(0, Append(Spool("letter.ps", "b.ps")));
  ExpectJobs(Output(), "IL");
  // Read anew, the end takes the update (a stale one could only be written
  // over whole).
  EXPECT_FALSE(Logged(Output() + "\" is written whole: "));
}

// Page tools that lie: pdfsdk.dll fails and says why, which the kept job's
// record repeats; pdfutil.dll ends with success but adds nothing for that
// job, and the job printed after it waits behind it instead of overtaking.
TEST_F(AppendTest, PageToolsThatLieKeepTheJobAndHoldBackTheJobsBehindIt) {
  const std::string before = First();
  const std::string util = install_.Path("pdfutil.dll"), sdk = install_.Path("pdfsdk.dll");
  for (const std::string& tool : {util, sdk}) fs::rename(tool, tool + ".real");
  WriteFileText(util,
                "#!/bin/sh\ncase \"$*\" in *file000002*) exit 0;; esac\nexec \"$0.real\" \"$@\"\n");
  WriteFileText(sdk, "#!/bin/sh\necho 'Error: disk on fire'\nexit 3\n");
  for (const std::string& tool : {util, sdk}) fs::permissions(tool, fs::perms::owner_all);
  for (int method : {3, 2}) {
    SCOPED_TRACE(method == 3 ? "a.ps: pdfsdk.dll fails" : "b.ps: pdfutil.dll adds nothing to a.ps");
    Configure("AppendPDFMethod=" + std::to_string(method) + "\n");
    std::string job =
        Spool(method == 3 ? "letter.ps" : "invoice.ps", method == 3 ? "a.ps" : "b.ps");
    EXPECT_EQ(0, Append(job));
    EXPECT_TRUE(fs::exists(job));
    EXPECT_EQ(before, ReadFileText(Output()));
    JobJournal journal;
    std::string why;
    ASSERT_EQ(JournalRead::kRead, ReadJobJournal(Output(), &journal, &why)) << why;
    if (method == 3) {
      EXPECT_TRUE(Has(journal.kept.at(0).cause, ": pdfsdk.dll: Error: disk on fire (exit code 3)"));
    }
  }
  for (const std::string& tool : {util, sdk}) fs::rename(tool + ".real", tool);
  EXPECT_EQ(0, Append(Spool("letter.ps", "c.ps")));
  ExpectJobs(Output(), "ILIL");
}

// A run that died between the output's rename and its clean-up: the same
// job delivered again is found committed, and only cleaned up.
TEST_F(AppendTest, JobCommittedByADeadRunIsNotPrintedTwice) {
  ASSERT_EQ(0, Append(Spool("invoice.ps", "first.ps")));
  Configure("DeleteTempFiles=0\n");
  std::string job = Spool("letter.ps", "second.ps");
  ASSERT_EQ(0, Append(job));
  ExpectJobs(Output(), "IL");  // landed: else the replay below would deliver it, not skip it
  JobJournal journal;
  journal.hasCommit = true;
  journal.commit =
      PendingCommit{Output(), 3, 5, job, GetFileDigest(job.c_str()), {Converted(2), job}};
  std::string error;
  ASSERT_TRUE(WriteJobJournal(Output(), journal, &error));

  Configure("");
  EXPECT_EQ(0, Append(job));
  ExpectJobs(Output(), "IL");
  EXPECT_FALSE(fs::exists(job));
  EXPECT_FALSE(fs::exists(Converted(2)));
  EXPECT_FALSE(fs::exists(Output() + ".journal"));

  // A job entered by a run that died is taken over when it comes again.
  std::string again = Spool("letter.ps", "again.ps");
  pid_t dead = StartChild([] { return 0; });
  ASSERT_EQ(0, ChildExitCode(dead));
  journal = JobJournal();
  journal.kept.push_back(KeptJob{0, 0, again, "", GetFileDigest(again.c_str()), "", dead});
  ASSERT_TRUE(WriteJobJournal(Output(), journal, &error));
  EXPECT_EQ(0, Append(again));
  ExpectJobs(Output(), "ILL");
}

// The page tool still runs when its run is killed: the next run waits for
// it, finishes the killed run's job and then adds its own.
TEST_F(AppendTest, ToolThatOutlivesAKilledRunCannotOverwriteANewerOutput) {
  MakeTextPdf(Output(), std::vector<std::string>(6000, "Filler page"));
  Configure("AppendPDFMethod=2\n");
  std::string a = Spool("invoice.ps", "a.ps");
  pid_t run = install_.Start({"-appendfile", a});
  for (int i = 0; i < 3000 && FindProcess("pdfutil.dll", Output()) < 0; ++i) SleepMs(5);
  ASSERT_GT(FindProcess("pdfutil.dll", Output()), 0) << "the page tool never started";
  kill(run, SIGKILL);
  waitpid(run, nullptr, 0);
  EXPECT_EQ(0, Append(Spool("letter.ps", "b.ps")));
  EXPECT_EQ(-1, FindProcess("pdfutil.dll", Output()));
  ExpectJobs(Output(), std::string(6000, 'F') + "IL");
  EXPECT_FALSE(fs::exists(a));
  EXPECT_FALSE(fs::exists(work_.Join("spool/b.ps")));
}

// Records planted beside the output (the folder may be writable by a group)
// touch nothing they name: another account's journal, one open to others or
// a link is set aside; even the program's own journal may only name its own
// files, the output and the drive's copy, and pages come only from
// converting the job.
TEST_F(AppendTest, PlantedRecordsTouchNothingTheyName) {
  std::string victim = work_.Join("victim.txt");  // a file of the account the run is
  struct Row {
    const char* name;
    mode_t mode;
    bool otherOwner, link, setAside;
    const char* plantedAt;  // the planter's PDF; another account's when in tmp/
  } rows[] = {
      {"another account's journal", 0644, true, false, true, "planted.pdf"},
      {"a journal others may write", 0666, false, false, true, "planted.pdf"},
      {"a journal that is a link", 0644, false, true, true, "planted.pdf"},
      {"an own journal naming foreign files", 0644, false, false, false, "planted.pdf"},
      {"a converted PDF of another account", 0644, false, false, false, "tmp/file999999.pdf"},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string planted = work_.Join(row.plantedAt);
    bool foreignPlant = planted != work_.Join("planted.pdf");
    if ((row.otherOwner || foreignPlant) && geteuid() != 0) continue;  // chown needs root
    for (const char* leftover : {".journal", ".journal.untrusted"}) fs::remove(Output() + leftover);
    fs::remove(Output());
    ASSERT_EQ(0, Append(Spool("invoice.ps", "first.ps")));
    WriteFileText(victim, "precious\n");
    MakeTextPdf(planted, {"Planted page"});
    if (foreignPlant) {
      ASSERT_EQ(0, chown(planted.c_str(), 65534, 65534));
    }
    JobJournal journal;
    // One more failure would move the "job" into the failed folder.
    journal.kept.push_back(KeptJob{2, 0, victim, planted, "0000", "planted"});
    journal.hasCommit = true;
    journal.commit = PendingCommit{planted, 0, 1, victim, "0000", {victim, planted}};
    std::string holder = row.link ? work_.Join("elsewhere") : Output() + ".journal";
    WriteFileText(holder, FormatJobJournal(journal));
    chmod(holder.c_str(), row.mode);
    if (row.otherOwner) {
      ASSERT_EQ(0, chown(holder.c_str(), 65534, 65534));
    }
    if (row.link) fs::create_symlink(holder, Output() + ".journal");

    EXPECT_EQ(0, Append(Spool("letter.ps", "job" + std::to_string(++n) + ".ps")));
    ExpectJobs(Output(), "IL");
    EXPECT_EQ("precious\n", ReadFileText(victim));
    EXPECT_EQ(1u, PdfPageTexts(planted).size());
    EXPECT_FALSE(fs::exists(work_.Join("out/failed")));
    EXPECT_EQ(row.setAside, fs::exists(Output() + ".journal.untrusted"));
  }
  EXPECT_TRUE(Logged("is not this program's own"));

  // A "failed" folder planted as a link receives no job that fails for good.
  std::string bad = Spool("letter.ps", "bad.ps"), elsewhere = work_.Join("other-folder");
  WriteFileText(bad, "no PostScript at all\n");
  fs::create_directory(elsewhere);
  fs::create_directory_symlink(elsewhere, work_.Join("out/failed"));
  JobJournal journal;
  journal.kept.push_back(KeptJob{2, 0, bad, "", GetFileDigest(bad.c_str()), "bad"});
  WriteFileText(Output() + ".journal", FormatJobJournal(journal));
  EXPECT_EQ(0, Append(Spool("letter.ps", "last.ps")));
  EXPECT_TRUE(fs::exists(bad));
  EXPECT_TRUE(fs::is_empty(elsewhere));
  EXPECT_TRUE(Logged("/failed\" is not this program's own"));
}

// File systems that fill up keep the jobs, without counting a try against
// them: the output's (where a reserve beside the journal still lets jobs be
// entered) and the temporary folder's. Once there is room, every job
// arrives, in print order.
TEST_F(AppendTest, FullDiskKeepsEveryJobForLater) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  struct Disk {
    std::string at, filler = at + "/filler";
    bool Mount() {
      fs::create_directories(at);
      return RunProgram("/bin/mount", {"-t", "tmpfs", "-o", "size=3m", "tmpfs", at}).status == 0;
    }
    void Fill() const {
      for (std::string block(65536, 'x'); !block.empty(); block.resize(block.size() / 2)) {
        while (platform::AppendToFile(filler, block)) {
        }
      }
    }
    ~Disk() { RunProgram("/bin/umount", {"-l", at}); }
  } disks[] = {{work_.Join("out")}, {work_.Join("tmp")}};
  for (Disk& disk : disks) ASSERT_TRUE(disk.Mount());
  ASSERT_EQ(0, Append(Spool("invoice.ps", "job1.ps")));
  for (int job = 2; job <= 6; ++job) {
    for (const Disk& disk : disks) {
      if (job < 6) disk.Fill();
      if (job == 6) fs::remove(disk.filler);
    }
    EXPECT_EQ(0, Append(Spool(job % 2 ? "invoice.ps" : "letter.ps",
                              "job" + std::to_string(job) + ".ps")));
  }
  ExpectJobs(Output(), "ILILIL");
  EXPECT_TRUE(fs::is_empty(work_.Join("spool")));
  EXPECT_FALSE(fs::exists(work_.Join("out/failed")));
  EXPECT_FALSE(fs::exists(Output() + ".journal"));
  EXPECT_TRUE(Logged("No space left on device (the machine's"));
}

// A Ghostscript that outlives its killed run and writes its converted PDF
// only after the next run gave the job a new one: the file is readable by
// its account alone, and a later run removes it.
TEST_F(AppendTest, ConvertedFilesOfKilledRunsAreCollected) {
  ASSERT_EQ(0, Append(Spool("invoice.ps", "first.ps")));
  std::string job = Spool("letter.ps", "killed.ps");
  pid_t gs = -1;
  std::string leftover;
  // Caught before it opens its output file (a few tries: it starts fast).
  for (int attempt = 0; attempt < 20 && gs < 0; ++attempt) {
    pid_t run = install_.Start({"-appendfile", job});
    pid_t found = -1;
    for (int i = 0; i < 20000 && found < 0; ++i)
      found = FindProcess("gswin32.exe", job, "-sOutputFile=", &leftover);
    if (found > 0) kill(found, SIGSTOP);
    kill(run, SIGKILL);
    waitpid(run, nullptr, 0);
    if (found < 0) continue;
    bool opened = false;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(found) + "/fd")) {
      std::error_code ec;
      opened = opened || fs::read_symlink(fd.path(), ec).string() == leftover;
    }
    if (!opened) gs = found;
    if (opened) kill(found, SIGKILL);
  }
  ASSERT_GT(gs, 0) << "Ghostscript was never caught before it opened its output";
  EXPECT_EQ(0, Append(Spool("letter.ps", "next.ps")));  // takes the job over
  EXPECT_FALSE(fs::exists(leftover));
  kill(gs, SIGCONT);
  for (int i = 0; i < 3000 && FindProcess("gswin32.exe", job) > 0; ++i) SleepMs(10);
  ASSERT_TRUE(fs::exists(leftover)) << "Ghostscript wrote no file";
  EXPECT_EQ(0, static_cast<int>(fs::status(leftover).permissions() &
                                (fs::perms::group_all | fs::perms::others_all)));
  EXPECT_EQ(0, Append(Spool("invoice.ps", "last.ps")));
  EXPECT_FALSE(fs::exists(leftover));
  ExpectJobs(Output(), "ILLI");
  EXPECT_TRUE(fs::is_empty(work_.Join("tmp")));
}

// Append runs that overlap or die: no job may be lost and the output PDF may
// never be left broken.
using AppendStressTest = AppendTest;

// A PostScript job of `pages` pages, each naming its page.
std::string MakeJob(const std::string& path, int pages, const std::string& title) {
  WriteFileText(path, "%!PS-Adobe-3.0\n%%Pages: " + std::to_string(pages) +
                          "\n%%EndComments\n/Helvetica findfont 20 scalefont setfont\n1 1 " +
                          std::to_string(pages) + " { 72 720 moveto (" + title +
                          ") show 20 string cvs show showpage } for\n%%EOF\n");
  return path;
}

TEST_F(AppendStressTest, ConcurrentRunsNeverLoseAJob) {
  const int kRounds = 4;
  for (int round = 0; round < kRounds; ++round) {
    pid_t a = Start(MakeJob(work_.Join("a" + std::to_string(round) + ".ps"), 2, "A"));
    pid_t b = Start(MakeJob(work_.Join("b" + std::to_string(round) + ".ps"), 1, "B"));
    for (pid_t pid : {a, b}) EXPECT_EQ(0, ChildExitCode(pid));
  }
  EXPECT_EQ(kRounds * 3, GetPDFFilePageCount(Output().c_str()));
  for (const auto& entry : fs::directory_iterator(work_.path()))
    EXPECT_NE(".ps", entry.path().extension()) << entry.path();
}

// Each run is killed while it appends its update to the output (the record
// of the output's old length exists): the next run cuts the output back and
// delivers every killed job exactly once, in order.
TEST_F(AppendStressTest, KillingARunMidAppendLosesNoJob) {
  const int pages = 1500;
  ASSERT_EQ(0, install_.Run({"-appendfile", MakeJob(work_.Join("big.ps"), pages, "Big")}).status);
  ASSERT_EQ(pages, GetPDFFilePageCount(Output().c_str()));

  int killedMidWrite = 0;
  const int kTrials = 4;
  for (int trial = 0; trial < kTrials; ++trial) {
    pid_t pid = Start(MakeJob(work_.Join("job" + std::to_string(trial) + ".ps"), 1,
                              "Small" + std::to_string(trial)));
    // A record left by the run killed before is removed by this run before
    // it starts its own append.
    const std::string record = Output() + ".appending";
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
    // Jobs kept by earlier killed runs may land too, never more than were
    // printed; an output the record stands beside may be cut short (read
    // only once the next run has cut it back).
    if (fs::exists(record)) continue;
    int now = GetPDFFilePageCount(Output().c_str());
    ASSERT_TRUE(now >= pages && now <= pages + trial + 1) << "trial " << trial << ": " << now;
  }
  EXPECT_GT(killedMidWrite, 0) << "no kill landed while the output was written";

  ASSERT_EQ(0, install_.Run({"-appendfile", MakeJob(work_.Join("last.ps"), 1, "Last")}).status);
  EXPECT_FALSE(fs::exists(Output() + ".appending"));
  EXPECT_EQ("", RunProgram("/usr/bin/qpdf", {"--check", Output()}).stderrText);
  std::vector<std::string> texts = PdfPageTexts(Output());
  ASSERT_EQ(static_cast<size_t>(pages + kTrials + 1), texts.size()) << install_.LogText();
  for (int trial = 0; trial < kTrials; ++trial)
    EXPECT_TRUE(Has(texts[pages + trial], "Small" + std::to_string(trial))) << trial;
  EXPECT_TRUE(Has(texts.back(), "Last"));
  for (const auto& entry : fs::directory_iterator(work_.path())) {
    EXPECT_NE(".ps", entry.path().extension()) << entry.path();
    EXPECT_NE(".tmp", entry.path().extension()) << entry.path();
  }
}

}  // namespace
