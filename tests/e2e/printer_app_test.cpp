// The driverless printer end to end: tarvelin-printer from a copy of the
// install folder on a loopback port, CUPS's own IPP Everywhere conformance
// file run against it with ipptool, and jobs of every format checked by the
// pages they add to the output PDF.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "support/cups_scheduler.h"
#include "support/install_copy.h"
#include "support/make_pdf.h"
#include "support/scoped_env.h"

namespace fs = std::filesystem;

namespace {

const char kConformance[] = "/usr/share/cups/ipptool/ipp-everywhere.test";
const char kPrintJob[] = "/usr/share/cups/ipptool/print-job.test";

class PrinterAppTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(install_.Path("tarvelin-printer")) || !fs::exists(kConformance)) {
      GTEST_SKIP() << "tarvelin-printer or ipptool's files are missing";
    }
    port_ = 20000 + getpid() % 20000;
    install_.WriteConfig("[debug]\noutlog=Yes\n");
    Start();
  }
  void TearDown() override {
    if (pid_ > 0) Stop(SIGTERM);
    if (HasFailure()) {
      std::cerr << "--- server log\n"
                << ReadFileText(work_.Join("state/server.log")) << "--- program log\n"
                << ReadFileText(install_.Path("tarvelin-printer.log"));
    }
  }
  std::string Output() const { return work_.Join("out.pdf"); }
  std::string Uri() const { return "ipp://127.0.0.1:" + std::to_string(port_) + "/ipp/print"; }

  // Starts the server and waits (bounded) until it answers at uri.
  void Start(std::vector<std::string> more = {}, std::string uri = "") {
    std::vector<std::string> args{"server", "--port",  std::to_string(port_), "--output",
                                  Output(), "--state", work_.Join("state")};
    args.insert(args.end(), more.begin(), more.end());
    pid_ = install_.Start(args, install_.Path("tarvelin-printer"));
    const std::vector<std::string> ask{"-q", uri.empty() ? Uri() : uri,
                                       "/usr/share/cups/ipptool/get-printer-attributes.test"};
    for (int i = 0; i < 100 && Ipp(ask).status != 0; ++i) SleepMs(100);
    ASSERT_EQ(0, Ipp(ask).status) << "the server did not answer on port " << port_;
  }
  // Stops the server; SIGTERM must end it cleanly within 10 s.
  void Stop(int signal) {
    kill(pid_, signal);
    int status = 0;
    for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i) SleepMs(100);
    if (waitpid(pid_, &status, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      ADD_FAILURE() << "the server did not end on signal " << signal;
    } else if (signal == SIGTERM) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    pid_ = -1;
  }
  static RunResult Ipp(const std::vector<std::string>& args) {
    return RunProgram("/usr/bin/ipptool", args);
  }
  // Prints one document; true when the printer accepted the job. A raster
  // job streams straight to the printer, which is busy while it prints
  // another: a client sends it again, and so does this.
  bool Print(const std::string& file) const {
    for (int i = 0; i < 100; ++i) {
      RunResult r = Ipp({"-t", "-f", file, Uri(), kPrintJob});
      if (r.status == 0) return true;
      if (r.stdoutText.find("server-error-busy") == std::string::npos) return false;
      SleepMs(200);
    }
    return false;
  }
  // Waits (bounded) until the output holds at least pages pages.
  std::vector<std::string> WaitForPages(size_t pages) const {
    std::vector<std::string> texts;
    for (int i = 0; i < 300 && texts.size() < pages; ++i) {
      SleepMs(100);
      texts = PdfPageTexts(Output());
    }
    return texts;
  }
  // Waits (bounded) until the server holds no job that is not completed and
  // its intake no document: every job accepted so far is in the output.
  bool Idle() const {
    for (int i = 0; i < 600; ++i) {
      RunResult jobs = Ipp({"-tv", Uri(), "/usr/share/cups/ipptool/get-jobs.test"});
      bool waiting = jobs.stdoutText.find("job-state (enum)") != std::string::npos;
      for (const auto& entry : fs::directory_iterator(work_.Join("state/intake-1"))) {
        waiting = waiting || entry.path().filename().string()[0] == 'J';
      }
      if (!waiting) return true;
      SleepMs(100);
    }
    return false;
  }
  std::string Job(int k) const { return work_.Join("job" + std::to_string(k) + ".pdf"); }

  ScopedTempDir work_;
  InstallCopy install_;
  // What PAPPL and libcups keep until the end is theirs, not a leak of ours.
  ScopedEnv leaks_{"LSAN_OPTIONS", "suppressions=" TARVELIN_TEST_DATA "/pappl.supp"};
  int port_ = 0;
  pid_t pid_ = -1;
};

// Gives Ghostscript's rendering of a one-line page at dpi in a PWG raster
// type (black-1, sgray-8, srgb-8) to path; pages pages of width x height points.
void MakeRaster(const std::string& path, const std::string& type, int dpi, int width, int height,
                int pages, const std::string& text) {
  std::string space = type == "black-1" ? "3" : type == "sgray-8" ? "18" : "19";
  std::string bits = type == "black-1" ? "1" : "8";
  RunResult r = RunProgram(
      "/usr/bin/gs", {"-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=pwgraster",
                      "-r" + std::to_string(dpi), "-dcupsColorSpace=" + space,
                      "-dcupsBitsPerColor=" + bits, "-dDEVICEWIDTHPOINTS=" + std::to_string(width),
                      "-dDEVICEHEIGHTPOINTS=" + std::to_string(height), "-dFIXEDMEDIA",
                      "-sOutputFile=" + path, "-c",
                      "1 1 " + std::to_string(pages) +
                          " { /Helvetica findfont 20 scalefont setfont 20 40 moveto (" + text +
                          ") show pop showpage } for"});
  ASSERT_EQ(0, r.status) << r.stderrText;
}

TEST_F(PrinterAppTest, PassesIppEverywhereConformanceAndTakesEveryFormatInOrder) {
  // The conformance file prints raster samples that Debian does not ship:
  // the ones this printer's resolutions and types call for are rendered,
  // the others are empty (their tests are skipped).
  std::string folder = work_.Join("conformance");
  fs::create_directories(folder);
  fs::copy_file(kConformance, folder + "/ipp-everywhere.test");
  const std::string test = ReadFileText(kConformance);
  static const std::regex sample(
      R"(FILE\s+(pwg-raster-samples-(\d+)dpi/([a-z0-9-]+)/([a-z0-9.-]+)-\3-\d+dpi\.pwg))");
  for (std::sregex_iterator it(test.begin(), test.end(), sample), end; it != end; ++it) {
    const std::smatch& m = *it;
    const std::string path = folder + "/" + m.str(1);
    if (fs::exists(path)) continue;
    fs::create_directories(fs::path(path).parent_path());
    const int dpi = std::stoi(m[2]);
    const std::string type = m[3], name = m[4];
    if ((dpi != 150 && dpi != 300) || type == "cmyk-8" || type == "srgb-16") {
      WriteFileText(path, "");
      continue;
    }
    const std::pair<int, int> size =
        name.find("4x6") != std::string::npos  ? std::make_pair(288, 432)
        : name.find("a4") != std::string::npos ? std::make_pair(595, 842)
                                               : std::make_pair(612, 792);
    MakeRaster(path, type, dpi, size.first, size.second, name.find("document") == 0 ? 2 : 1, name);
  }
  MakeTextPdf(work_.Join("doc.pdf"), {"conformance"});
  RunResult conformance = RunProgram(
      "/bin/sh", {"-c", "cd '" + folder + "' && /usr/bin/ipptool -t -f '" + work_.Join("doc.pdf") +
                            "' " + Uri() + " ipp-everywhere.test"});
  EXPECT_EQ(0, conformance.status) << conformance.stdoutText;
  ASSERT_TRUE(Idle());
  size_t before = PdfPageTexts(Output()).size();

  // Every format, one after the other: each lands once, in the order sent.
  MakeTextPdf(Job(1), {"pdf page 1", "pdf page 2"});
  WriteFileText(work_.Join("job2.ps"),
                "%!PS\n/Helvetica findfont 20 scalefont setfont 72 600 moveto (postscript job) "
                "show showpage\n");
  MakeRaster(work_.Join("job3.pwg"), "srgb-8", 150, 288, 432, 2, "raster job");
  for (const auto& [device, image] : {std::make_pair("jpeg", "job4.jpg"), {"png16m", "job5.png"}}) {
    ASSERT_EQ(0, RunProgram("/usr/bin/gs", {"-q", "-dSAFER", std::string("-sDEVICE=") + device,
                                            "-r30", "-o", work_.Join(image), work_.Join("job2.ps")})
                     .status);
  }
  for (const char* job : {"job1.pdf", "job2.ps", "job3.pwg", "job4.jpg", "job5.png"}) {
    ASSERT_TRUE(Print(work_.Join(job))) << job;
  }
  std::vector<std::string> pages = WaitForPages(before + 7);
  ASSERT_EQ(before + 7, pages.size());
  std::vector<std::string> ours(pages.begin() + static_cast<long>(before), pages.end());
  const char* texts[] = {"pdf page 1", "pdf page 2", "postscript job"};
  for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(Has(ours[i], texts[i]));
  // The raster and image pages carry no text; their page sizes tell them.
  std::string sizes = RunProgram("/usr/bin/pdfinfo", {"-f", std::to_string(before + 4), "-l",
                                                      std::to_string(before + 5), Output()})
                          .stdoutText;
  size_t small = 0;
  for (size_t at = 0; (at = sizes.find("288 x 432 pts", at)) != std::string::npos; ++at) ++small;
  EXPECT_EQ(2u, small) << sizes;
  EXPECT_EQ("", RunProgram("/usr/bin/qpdf", {"--check", Output()}).stderrText);

  // The printer's own page, in a real browser: the output's pages, the last
  // jobs with their page ranges and the picture of the last page.
  if (!fs::exists("/usr/bin/chromium")) return;
  std::string page = "http://127.0.0.1:" + std::to_string(port_) + "/tarvelin/1";
  std::string dom = RunProgram("/usr/bin/chromium",
                               {"--headless", "--no-sandbox", "--disable-gpu", "--dump-dom", page})
                        .stdoutText;
  EXPECT_TRUE(Has(dom, std::to_string(before + 7) + " pages."));
  EXPECT_TRUE(
      Has(dom, "<td>" + std::to_string(before + 4) + "-" + std::to_string(before + 5) + "</td>"));
  RunResult picture = RunProgram("/usr/bin/curl", {"-sf", page + "/last-page.png"});
  EXPECT_EQ(0, picture.status);
  EXPECT_EQ(0, picture.stdoutText.compare(1, 3, "PNG"));
}

TEST_F(PrinterAppTest, AKillDuringABurstLosesNoJobAndRepeatsNone) {
  const int kJobs = 16;
  for (int k = 1; k <= kJobs; ++k) MakeTextPdf(Job(k), {"burst job " + std::to_string(k)});
  // A job the server accepted must land; one it refused (it was down) is
  // sent again, as a client does.
  int k = 1;
  for (; k <= kJobs / 2; ++k) ASSERT_TRUE(Print(Job(k)));
  Stop(SIGKILL);
  Start();
  for (; k <= kJobs; ++k) ASSERT_TRUE(Print(Job(k)));
  // Idle, not a page count: a slow machine must not pass for a lost job.
  ASSERT_TRUE(Idle()) << "jobs still waiting";
  std::vector<std::string> pages = PdfPageTexts(Output());
  ASSERT_EQ(static_cast<size_t>(kJobs), pages.size());
  for (int j = 1; j <= kJobs; ++j) {
    EXPECT_TRUE(Has(pages[j - 1], "burst job " + std::to_string(j) + "\n"))
        << "page " << j << ": " << pages[j - 1];
  }

  // Documents of jobs the state forgot (saved before they came) are taken
  // in by job id, whatever order the folder lists them in; one cut short
  // while it was sent is dropped; the next job's id comes after theirs.
  Stop(SIGTERM);
  for (int id = 1001; id <= 1004; ++id) {
    MakeTextPdf(work_.Join("state/spool/p00001j00000" + std::to_string(id) + "-f.pdf"),
                {"forgotten " + std::to_string(id)});
  }
  WriteFileText(work_.Join("state/spool/p00001j000001005-cut.pdf"), "%PDF-1.4\n1 0 obj");
  Start();
  ASSERT_TRUE(Print(Job(1)));
  ASSERT_TRUE(Idle()) << "jobs still waiting";
  pages = PdfPageTexts(Output());
  ASSERT_EQ(static_cast<size_t>(kJobs + 5), pages.size());
  for (int id = 1001; id <= 1004; ++id) {
    EXPECT_TRUE(Has(pages[kJobs + id - 1001], "forgotten " + std::to_string(id))) << id;
  }
  EXPECT_TRUE(Has(pages[kJobs + 4], "burst job 1\n"));
  EXPECT_FALSE(fs::exists(work_.Join("state/spool/p00001j000001005-cut.pdf")));
}

TEST_F(PrinterAppTest, EachPrinterKeepsItsOwnPdfAndTheNetworkAsksForALogin) {
  // Each printer its own PDF and its own settings: the same PostScript job
  // (no page size of its own) comes out Letter on one and A4 on the other.
  Stop(SIGTERM);
  WriteFileText(work_.Join("state/printer-1.ini"), "[Options]\nPDFPaperSize=letter\n");
  WriteFileText(work_.Join("state/printer-2.ini"), "[Options]\nPDFPaperSize=a4\n");
  Start({"--printer", "second=" + work_.Join("second.pdf")});
  std::string job = work_.Join("plain.ps");
  WriteFileText(job,
                "%!PS\n/Helvetica findfont 20 scalefont setfont 72 300 moveto (plain) show "
                "showpage\n");
  ASSERT_TRUE(Print(job));
  ASSERT_EQ(0, Ipp({"-t", "-f", job, Uri() + "/second", kPrintJob}).status);
  ASSERT_EQ(1u, WaitForPages(1).size());
  for (int i = 0; i < 100 && PdfPageTexts(work_.Join("second.pdf")).empty(); ++i) SleepMs(100);
  ASSERT_EQ(1u, PdfPageTexts(work_.Join("second.pdf")).size());
  for (const auto& pdf :
       {std::make_pair(Output(), "612 x 792 pts"), {work_.Join("second.pdf"), "595 x 842 pts"}}) {
    EXPECT_TRUE(Has(RunProgram("/usr/bin/pdfinfo", {pdf.first}).stdoutText, pdf.second));
  }

  // On the network: TLS, and printing only after a login.
  Stop(SIGTERM);
  std::string secure = "ipps://127.0.0.1:" + std::to_string(port_) + "/ipp/print";
  Start({"--network", "--print-group", "nogroup"}, secure);
  RunResult refused = Ipp({"-t", "-f", job, secure, kPrintJob});
  EXPECT_NE(0, refused.status) << refused.stdoutText;
  SleepMs(1000);
  EXPECT_EQ(1u, PdfPageTexts(Output()).size()) << "a job without a login was printed";
}

TEST_F(PrinterAppTest, CupsPrintsToItAsADriverlessQueue) {
  if (!CupsScheduler::Installed()) GTEST_SKIP() << "cupsd is not installed";
  CupsScheduler scheduler;
  std::string error;
  ASSERT_TRUE(scheduler.Start(&error)) << error;
  RunResult added =
      scheduler.Tool("/usr/sbin/lpadmin",
                     {"-p", "Driverless", "-v", Uri() + "/tarvelin", "-m", "everywhere", "-E"});
  ASSERT_EQ(0, added.status) << added.stderrText;
  // The scheduler makes the queue's PPD from the printer's attributes after
  // lpadmin returned; a job queued before can find no filter for PostScript.
  auto noPpd = [&] {
    return scheduler.Tool("/usr/bin/lpoptions", {"-p", "Driverless", "-l"}).stdoutText.empty();
  };
  for (int i = 0; i < 100 && noPpd(); ++i) SleepMs(100);
  WriteFileText(
      work_.Join("a.ps"),
      "%!PS\n/Helvetica findfont 20 scalefont setfont 72 600 moveto (from lp: postscript) "
      "show showpage\n");
  MakeTextPdf(work_.Join("b.pdf"), {"from lp: pdf"});
  WriteFileText(work_.Join("c.txt"), "from lp: text\n");
  for (const char* file : {"a.ps", "b.pdf", "c.txt"}) {
    RunResult r = scheduler.Tool("/usr/bin/lp", {"-d", "Driverless", work_.Join(file)});
    ASSERT_EQ(0, r.status) << file << ": " << r.stderrText;
  }
  std::vector<std::string> pages = WaitForPages(3);
  ASSERT_EQ(3u, pages.size()) << scheduler.ErrorLog();
  for (size_t i = 0; i < 2; ++i)
    EXPECT_TRUE(Has(pages[i], i ? "from lp: pdf" : "from lp: postscript"));
  // CUPS's text filter embeds a font subset without a Unicode map: its
  // page's text cannot be read back, only seen to be there.
  EXPECT_GE(pages[2].size(), 8u) << pages[2];
}

}  // namespace
