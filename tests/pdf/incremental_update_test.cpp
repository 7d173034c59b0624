// Appending to the output as an incremental update: the old bytes stay, the
// result is a valid PDF with every job's pages in order, and every output
// the update cannot build on (or a damaged one) is written whole instead,
// never broken.
#include "pdf/incremental_update.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "config/settings.h"
#include "delivery/page_writers.h"
#include "pdf/output_end.h"
#include "pdf/pdf_file_info.h"
#include "support/forked_child.h"
#include "support/install_copy.h"
#include "support/make_pdf.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class IncrementalUpdateTest : public testing::Test {
 protected:
  void SetUp() override {
    program_.EnableLog();
    options_.pdfVersion = "1.4";
    MakeTextPdf(Out(), {"Base"});  // the output most tests start from
  }
  std::string Out() const { return program_.Join("out.pdf"); }
  std::string Log() const { return ReadFileText(program_.Log()); }
  // Appends a one-page job reading `text`; the merger's result.
  int Append(const std::string& text, const std::string& output) {
    std::string job = program_.Join("job.pdf");
    MakeTextPdf(job, {text});
    return AppendPDFByMerger(job.c_str(), output.c_str(), options_) ? 1 : 0;
  }
  static bool Valid(const std::string& pdf) {
    return RunProgram("/usr/bin/qpdf", {"--check", pdf}).status == 0;
  }
  static bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
  }
  // The most kids any node of a pages tree holds.
  static int MostKids(QPDFObjectHandle node) {
    QPDFObjectHandle kids = node.getKey("/Kids");
    int most = kids.isArray() ? kids.getArrayNItems() : 0;
    for (int i = 0, n = most; i < n; ++i) most = std::max(most, MostKids(kids.getArrayItem(i)));
    return most;
  }
  static int MostKids(const std::string& pdf) {
    QPDF doc;
    doc.processFile(pdf.c_str());
    return MostKids(doc.getRoot().getKey("/Pages"));
  }

  ScopedProgramFolder program_;
  DocumentInfo options_;
};

TEST_F(IncrementalUpdateTest, ManyAppendsStayValidAndAreConsolidated) {
  const std::string base = ReadFileText(Out());
  for (int job = 1; job <= 600; ++job) {
    const std::string before = job == 600 ? ReadFileText(Out()) : base;
    ASSERT_EQ(1, Append("Job " + std::to_string(job), Out())) << job << Log();
    EXPECT_TRUE((job != 1 && job != 600) || StartsWith(ReadFileText(Out()), before)) << job;
    if (job != 1 && job != 50 && job != 600) continue;
    SCOPED_TRACE(job);
    ASSERT_TRUE(Valid(Out()));
    std::vector<std::string> pages = PdfPageTexts(Out());
    ASSERT_EQ(static_cast<size_t>(job + 1), pages.size());
    for (int page = 1; page <= job; ++page)
      ASSERT_TRUE(Has(pages[page], "Job " + std::to_string(page) + "\n")) << page;
  }
  // Once the updates grew, the whole document was written now and then (and
  // later jobs were updates again).
  EXPECT_TRUE(Has(Log(), "\" is written whole: its updates are over a third of it"));
}

// The document information is the last run's, as a whole write makes it.
TEST_F(IncrementalUpdateTest, DocumentInformationIsTheLastRuns) {
  options_.title = "First title";
  ASSERT_EQ(1, Append("One", Out()));
  EXPECT_TRUE(Has(RunProgram("/usr/bin/pdfinfo", {Out()}).stdoutText, "First title"));
  options_.title.clear();
  options_.author = "Ann";
  options_.pdfVersion = "1.7";  // the catalog says it
  const std::string before = ReadFileText(Out());
  ASSERT_EQ(1, Append("Two", Out()));
  EXPECT_TRUE(StartsWith(ReadFileText(Out()), before));
  const std::string info = RunProgram("/usr/bin/pdfinfo", {Out()}).stdoutText;
  EXPECT_FALSE(Has(info, "First title"));
  for (const char* line : {"PDF version:     1.7", "Author:          Ann",
                           "Producer:        Quorvel Virtual PDFPrinter"})
    EXPECT_TRUE(Has(info, line)) << line;
}

// A node holds at most 64 kids: a full last leaf, then a full root, make
// room elsewhere instead of taking one more. A job of more pages than one
// node takes hangs under new nodes of its own, several levels deep.
TEST_F(IncrementalUpdateTest, NoNodeTakesMoreThan64Kids) {
  MakeTextPdf(Out(), std::vector<std::string>(63, "Base"));
  std::vector<std::string> pages;
  for (int page = 1; page <= 4200; ++page) pages.push_back("Long " + std::to_string(page));
  const std::string longJob = program_.Join("long.pdf");
  MakeTextPdf(longJob, pages);
  for (int job = 1; job <= 4; ++job) {
    const std::string before = ReadFileText(Out());
    ASSERT_TRUE(job < 4 ? Append("Job " + std::to_string(job), Out()) == 1
                        : bool(AppendPDFByMerger(longJob.c_str(), Out().c_str(), options_)))
        << Log();
    EXPECT_TRUE(StartsWith(ReadFileText(Out()), before)) << job;
    EXPECT_EQ(64, MostKids(Out())) << job;
  }
  ASSERT_TRUE(Valid(Out()));
  pages = PdfPageTexts(Out());
  ASSERT_EQ(66u + 4200u, pages.size());
  EXPECT_TRUE(Has(pages[64], "Job 2\n"));
  EXPECT_TRUE(Has(pages[66], "Long 1\n"));
  EXPECT_TRUE(Has(pages.back(), "Long 4200\n"));
}

// An end read once is what the update builds on and is checked against: a
// file that grew after it was read is written whole, saying why, and an
// update whose new end is not what was meant is cut off again.
TEST_F(IncrementalUpdateTest, UpdateBuildsOnTheEndReadAndIsCheckedAgainstIt) {
  const std::string job = program_.Join("job.pdf");
  MakeTextPdf(job, {"Job"});
  OutputEnd end;
  bool updated = true;
  for (const char* another : {"% another writer\n", ""}) {
    ASSERT_TRUE(end.Read(Out()));
    WriteFileText(Out(), ReadFileText(Out()) + another);
    ASSERT_TRUE(MergeIntoOutputPDF(job.c_str(), Out().c_str(), options_, end, &updated));
    EXPECT_EQ(!*another, updated) << Log();
  }
  EXPECT_TRUE(Has(Log(), "is written whole: it changed while the update was"));
  EXPECT_TRUE(Has(end.CheckUpdate(4).reason(), "holds 3 pages, not 4"));
  EXPECT_EQ(end.length(), static_cast<int64_t>(ReadFileText(Out()).size()));
}

TEST_F(IncrementalUpdateTest, EveryKindOfOutputTakesTheUpdateOrIsWrittenWhole) {
  const std::string plain = program_.Join("plain.pdf");
  MakeTextPdf(plain, {"Base one", "Base two"});
  const std::string ps = program_.Join("base.ps");
  WriteFileText(ps,
                "%!PS\n/Helvetica findfont 20 scalefont setfont\n72 700 moveto (Base one) "
                "show showpage 72 700 moveto (Base two) show showpage\n");
  const struct {
    const char* name;
    std::vector<std::string> make;  // a program and its words making the base from plain
    const char* whole;              // why it is written whole, nullptr for an update
  } kinds[] = {
      {"ghostscript.pdf",
       {"/usr/bin/gs", "-q", "-dBATCH", "-dNOPAUSE", "-dSAFER", "-sDEVICE=pdfwrite", "-o", "@", ps},
       nullptr},
      {"objstm.pdf", {"/usr/bin/qpdf", "--object-streams=generate", plain, "@"}, nullptr},
      {"linearized.pdf", {"/usr/bin/qpdf", "--linearize", plain, "@"}, "it is linearized"},
      {"encrypted.pdf",
       {"/usr/bin/qpdf", "--encrypt", "", "owner", "256", "--", plain, "@"},
       "it is encrypted"},
      {"damaged.pdf", {"/usr/bin/head", "-c", "-6", plain}, "its startxref is unreadable"},
      {"link.pdf", {"/bin/ln", "-s", plain, "@"}, "it is a link"},  // never written through
  };
  const std::string plainBytes = ReadFileText(plain);
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.name);
    const std::string output = program_.Join(kind.name);
    std::vector<std::string> words(kind.make.begin() + 1, kind.make.end());
    for (std::string& word : words) word = word == "@" ? output : word;
    RunResult made = RunProgram(kind.make[0], words);
    if (kind.make[0] == "/usr/bin/head") WriteFileText(output, made.stdoutText);
    const std::string before = ReadFileText(output);
    ASSERT_EQ(1, Append("First job", output)) << Log();
    ASSERT_EQ(1, Append("Second job", output)) << Log();
    EXPECT_TRUE(Valid(output));
    std::vector<std::string> pages = PdfPageTexts(output);
    ASSERT_EQ(4u, pages.size());
    EXPECT_TRUE(Has(pages[1], "Base two"));
    EXPECT_TRUE(Has(pages[3], "Second job"));
    EXPECT_EQ(!kind.whole, StartsWith(ReadFileText(output), before)) << Log();
    const std::string whole = output + "\" is written whole: " + (kind.whole ? kind.whole : "");
    EXPECT_TRUE(!kind.whole || Log().find(whole) != std::string::npos) << Log();
  }
  EXPECT_EQ(plainBytes, ReadFileText(plain));
}

// An output whose pages tree miscounts is written whole: an update would
// keep the lie, and readers trusting the /Count would not show the new page.
// Its pages are counted as readers find them, not by its /Count.
TEST_F(IncrementalUpdateTest, PagesTreeThatMiscountsIsWrittenWhole) {
  const struct {
    int pages;     // the pages the file holds
    int count;     // its root's /Count
    bool untyped;  // its last page has no /Type
    const char* why;
  } trees[] = {
      {3, 1, false, "pages-tree node 2 says /Count 1, its kids hold 3"},
      {1, 0, false, "pages-tree node 2 says /Count 0, its kids hold 1"},
      {2, 5, false, "pages-tree node 2 says /Count 5, its kids hold 2"},
      {2, 2, true, "of pages-tree node 2 is neither a page nor a pages node"},
  };
  for (const auto& tree : trees) {
    SCOPED_TRACE(tree.why);
    TestPdfOptions lie;
    lie.edit = [&tree](QPDF& pdf) {
      QPDFObjectHandle root = pdf.getRoot().getKey("/Pages");
      root.replaceKey("/Count", QPDFObjectHandle::newInteger(tree.count));
      if (tree.untyped) root.getKey("/Kids").getArrayItem(1).removeKey("/Type");
    };
    const std::string output = program_.Join(std::to_string(&tree - trees) + ".pdf");
    MakeTextPdf(output, std::vector<std::string>(static_cast<size_t>(tree.pages), "Old"), lie);
    std::string error = "untouched";
    EXPECT_EQ(tree.pages, GetPDFFilePageCount(output.c_str(), &error));
    EXPECT_EQ("untouched", error);
    ASSERT_EQ(1, Append("Job", output)) << Log();
    EXPECT_EQ(tree.pages + 1, GetPDFFilePageCount(output.c_str()));
    std::vector<std::string> texts = PdfPageTexts(output);
    ASSERT_EQ(static_cast<size_t>(tree.pages + 1), texts.size());
    EXPECT_TRUE(Has(texts.back(), "Job"));
    size_t whole = Log().find(output + "\" is written whole: ");
    EXPECT_NE(std::string::npos, Log().find(tree.why, whole)) << Log();
  }
}

// Another account's output in a folder this run may write: replaced whole.
TEST_F(IncrementalUpdateTest, AnotherAccountsOutputIsReplacedWhole) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const std::string job = program_.Join("other.pdf");
  MakeTextPdf(job, {"Other"});
  chmod(program_.path().c_str(), 0777);
  chmod(program_.Log().c_str(), 0666);
  auto append = [&] { return AppendPDFByMerger(job.c_str(), Out().c_str(), options_) ? 0 : 1; };
  EXPECT_EQ(0, InChild(append, true)) << Log();
  EXPECT_EQ(2u, PdfPageTexts(Out()).size());
}

// Damaged ends of an output: the update never builds on them; the whole
// write recovers what qpdf can, or the output stays exactly as it was.
TEST_F(IncrementalUpdateTest, DamagedTailsNeverCrashOrHang) {
  const std::string good = ReadFileText(Out());
  const size_t xref = good.rfind("\nxref") + 1;
  // An update of our own shape, with the trailer given.
  auto withUpdate = [&](const std::string& trailer) {
    std::string update = "xref\n0 0\ntrailer\n" + trailer + "\n";
    return good + update + "startxref\n" + std::to_string(good.size()) + "\n%%EOF\n";
  };
  std::vector<std::pair<const char*, std::string>> damaged = {
      {"startxref outside the file",
       good.substr(0, good.rfind("startxref")) + "startxref\n99999999\n%%EOF\n"},
      {"an entry into garbage", good.substr(0, good.find("0000", xref) + 20) +
                                    "0000000003 00000 n" +
                                    good.substr(good.find("0000", xref) + 38)},
      {"a /Prev loop",
       withUpdate("<< /Size 9 /Root 1 0 R /Prev " + std::to_string(good.size()) + " >>")},
      {"a /Size below the objects",
       withUpdate("<< /Size 2 /Root 1 0 R /Prev " + std::to_string(xref) + " >>")},
  };
  // A pages tree whose last node points back at the root.
  TestPdfOptions cycle;
  cycle.edit = [](QPDF& pdf) {
    QPDFObjectHandle root = pdf.getRoot().getKey("/Pages");
    QPDFObjectHandle loop =
        pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Pages /Count 1 /Kids [] >>"));
    loop.getKey("/Kids").appendItem(root);
    loop.replaceKey("/Parent", root);
    root.getKey("/Kids").appendItem(loop);
  };
  MakeTextPdf(Out(), {"Base"}, cycle);
  damaged.emplace_back("a pages tree that loops", ReadFileText(Out()));
  for (const auto& item : damaged) {
    SCOPED_TRACE(item.first);
    WriteFileText(Out(), item.second);
    if (Append("Job", Out()) == 1) {
      EXPECT_TRUE(Valid(Out()));
      std::vector<std::string> pages = PdfPageTexts(Out());
      EXPECT_TRUE(!pages.empty() && Has(pages.back(), "Job"));
    } else {
      EXPECT_EQ(item.second, ReadFileText(Out()));
    }
  }
}

// Hand-made sections. Cross-reference subsections at the edges of a
// section: an update builds on one whose last entry is the last object its
// /Size allows, read from that very entry; an entry at /Size, or numbers
// that wrap, make the output written whole.
TEST_F(IncrementalUpdateTest, SubsectionBoundsAreCheckedAtTheEdge) {
  const std::string good = ReadFileText(Out());
  const std::string prev = std::to_string(good.rfind("\nxref") + 1);
  // A new catalog whose pages tree is the new object 6.
  const std::string objects =
      "1 0 obj\n<< /Pages 6 0 R /Type /Catalog >>\nendobj\n"
      "6 0 obj\n<< /Count 1 /Kids [ 3 0 R ] /Type /Pages >>\nendobj\n";
  auto entry = [&](size_t at) {
    char text[32];
    snprintf(text, sizeof(text), "%010zu 00000 n \n", good.size() + at);
    return std::string(text);
  };
  const struct {
    std::string subsections;
    int size;
    const char* whole;  // the end of why it is written whole; nullptr for an update
  } rows[] = {
      // The last entry, read for the pages tree, is the last one /Size allows.
      {"1 1\n" + entry(0) + "6 1\n" + entry(objects.find("6 0 obj")), 7, nullptr},
      {"6 1\n" + entry(objects.find("6 0 obj")), 6, " reaches past the trailer's /Size"},
      {"4294967297 1\n" + entry(0), 6, "'s object numbers are out of range"},  // wraps to 1
      {"2147483647 1\n" + entry(0), 6, "'s object numbers are out of range"},
  };
  // A section of over 4096 entries is read entry by entry, a smaller one
  // whole: each row is read both ways.
  std::string padding;
  for (int i = 0; i <= 4096; ++i) padding += "0 1\n0000000000 65535 f \n";
  for (const auto& row : rows) {
    for (const std::string& pad : {std::string(), padding}) {
      SCOPED_TRACE(row.subsections + (pad.empty() ? "read whole" : "read entry by entry"));
      const std::string file = good + objects + "xref\n" + pad + row.subsections +
                               "trailer\n<< /Size " + std::to_string(row.size) +
                               " /Root 1 0 R /Prev " + prev + " >>\nstartxref\n" +
                               std::to_string(good.size() + objects.size()) + "\n%%EOF\n";
      WriteFileText(Out(), file);
      ASSERT_EQ(1, Append("Job", Out())) << Log();
      std::vector<std::string> pages = PdfPageTexts(Out());
      ASSERT_EQ(2u, pages.size());
      EXPECT_TRUE(Has(pages[1], "Job"));
      EXPECT_EQ(!row.whole, StartsWith(ReadFileText(Out()), file));
      const std::string whole = "\" is written whole: a cross-reference subsection";
      EXPECT_TRUE(!row.whole || Log().find(whole + row.whole) != std::string::npos) << Log();
    }
  }

  // An older section's trailer is read for its /Prev and /Size alone: one
  // hidden in a string, a nested dictionary or an array is not taken.
  const std::string entries = "1 1\n" + entry(0) + "6 1\n" + entry(objects.find("6 0 obj"));
  for (std::string trailer : {
           "<< /Title (a /Prev 5 \\) (and) ) /Size 7 /Root 1 0 R /Prev @ >>",
           "<< /X << /Prev 5 /Size 1 >> /Size 7 /Prev @ /Root 1 0 R >>",
           "<< /ID [<00ff> <01>] /K [ /Prev 5 [ /Size 1 ] ] /Size 7 /Root 1 0 R /Prev @ >>",
           "<< /Size 7 % /Prev 5\n /Root 1 0 R /Prev @ >>",
           "<</Size 7/Root 1 0 R/Prev @>>",
       }) {
    SCOPED_TRACE(trailer);
    trailer.replace(trailer.find('@'), 1, prev);
    const std::string older = good + objects + "xref\n" + entries + "trailer\n" + trailer + "\n";
    const std::string file = older + "xref\n0 0\ntrailer\n<< /Size 7 /Root 1 0 R /Prev " +
                             std::to_string(good.size() + objects.size()) + " >>\nstartxref\n" +
                             std::to_string(older.size()) + "\n%%EOF\n";
    WriteFileText(Out(), file);
    ASSERT_EQ(1, Append("Job", Out())) << Log();
    EXPECT_EQ(2u, PdfPageTexts(Out()).size());
    EXPECT_TRUE(StartsWith(ReadFileText(Out()), file)) << Log();
  }
}

TEST_F(IncrementalUpdateTest, OnlyOwnRecordsOfAnEarlierEndCutTheFile) {
  const std::string original = ReadFileText(Out());
  const std::string record = AppendRecordPath(Out());
  const std::string length = std::to_string(original.size()) + "\n";
  const std::string cut = "\n12 0 obj\n<< /Type /Pa";  // a run killed mid-write
  bool recovered = true;
  std::string why;
  EXPECT_TRUE(RecoverInterruptedAppend(Out(), &recovered, &why));
  EXPECT_FALSE(recovered);  // nothing to do without a record

  WriteFileText(record, length);
  WriteFileText(Out(), original + cut);
  ASSERT_TRUE(RecoverInterruptedAppend(Out(), &recovered, &why)) << why;
  EXPECT_TRUE(recovered);
  EXPECT_EQ(original, ReadFileText(Out()));
  EXPECT_FALSE(platform::PathEntryExists(record));

  // Records planted by another account, or naming no earlier end of the
  // file, never cut it: they are set aside and the file stays as it is.
  // How a row's record is planted: w open to others, o another account's,
  // l a link; e beside a complete file (no update was cut short).
  const struct {
    const char* name;
    std::string text;
    char how = ' ';
  } rows[] = {
      {"cut to nothing", "0\n"},
      {"no number", "nonsense"},
      {"past the end", std::to_string(original.size() + cut.size() + 9)},
      {"inside the file", std::to_string(original.size() / 2)},
      {"open to others", length, 'w'},
      {"another account's", length, 'o'},
      {"a link", length, 'l'},
      {"past the end of a whole file", std::to_string(original.size() + 9), 'e'},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.how == 'o' && geteuid() != 0) continue;  // chown needs root
    fs::remove(record + ".untrusted");
    const std::string file = row.how == 'e' ? original : original + cut;
    WriteFileText(Out(), file);
    std::string holder = row.how == 'l' ? program_.Join("elsewhere") : record;
    WriteFileText(holder, row.text);
    chmod(holder.c_str(), row.how == 'w' ? 0666 : 0644);
    if (row.how == 'o') {
      ASSERT_EQ(0, chown(holder.c_str(), 65534, 65534));
    }
    if (row.how == 'l') fs::create_symlink(holder, record);
    why.clear();
    EXPECT_TRUE(RecoverInterruptedAppend(Out(), &recovered, &why));
    EXPECT_FALSE(recovered);
    EXPECT_TRUE(Has(why, "is not believed"));
    EXPECT_EQ(file, ReadFileText(Out()));
    EXPECT_FALSE(platform::PathEntryExists(record));
    EXPECT_TRUE(platform::PathEntryExists(record + ".untrusted"));
  }
}

}  // namespace
