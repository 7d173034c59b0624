// The Win32 platform calls that the in-place append rests on, under Wine;
// and a metafile page made there: GDI reads the frame for the page size (its
// header checks are the metafile parts test's, which runs here too), libuemf
// (built for Windows) reads the records and the translator draws them, text
// included (libuemf's UTF-16 conversion makes the test's text record).
#include <gtest/gtest.h>

#include <functional>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <string>

#include "config/settings.h"
#include "pdf/pdf_merger.h"
#include "platform/platform.h"
#include "support/make_metafile.h"
#include "support/make_pdf.h"
#include "support/temp_dir.h"

namespace {

TEST(Win32FileUpdateTest, AppendAndSyncAddsAtTheEndAndTruncateCutsBack) {
  ScopedTempDir dir;
  std::string file = dir.Join("out.pdf");
  WriteFileText(file, "%PDF-1.4\n");
  std::vector<std::string> events;
  platform::SetFileEventRecorderForTesting(&events);
  std::string error;
  ASSERT_TRUE(platform::AppendAndSync(file, "update one\n", &error)) << error;
  ASSERT_TRUE(platform::AppendAndSync(file, std::string(100000, 'x'), &error)) << error;
  platform::SetFileEventRecorderForTesting(nullptr);
  EXPECT_EQ("append " + file, events.at(0));
  EXPECT_EQ("fsync " + file, events.at(1));
  EXPECT_EQ(9 + 11 + 100000, platform::FileSize(file));
  EXPECT_EQ("%PDF-1.4\nupdate one\n", ReadFileText(file).substr(0, 20));
  ASSERT_TRUE(platform::TruncateFile(file, 9, &error)) << error;
  EXPECT_EQ("%PDF-1.4\n", ReadFileText(file));
  ASSERT_TRUE(platform::TruncateFile(file, 0, &error)) << error;
  EXPECT_EQ(0, platform::FileSize(file));
}

// Missing files and folders, and a folder or file for the other, are
// refused with the reason; an existing folder is synced.
TEST(Win32FileUpdateTest, MissingFilesAndFoldersAreRefusedWithTheReason) {
  ScopedTempDir dir;
  WriteFileText(dir.Join("file"), "x");
  const std::string missing = dir.Join("missing");
  const std::pair<const char*, std::function<bool(std::string*)>> calls[] = {
      {"append", [&](std::string* e) { return platform::AppendAndSync(missing, "x", e); }},
      {"truncate", [&](std::string* e) { return platform::TruncateFile(missing, 0, e); }},
      {"append to a folder",
       [&](std::string* e) { return platform::AppendAndSync(dir.path(), "x", e); }},
      {"sync", [&](std::string* e) { return platform::SyncFolder(missing, e); }},
      {"sync a file", [&](std::string* e) { return platform::SyncFolder(dir.Join("file"), e); }},
  };
  std::string error;
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    error.clear();
    EXPECT_FALSE(call(&error));
    EXPECT_FALSE(error.empty());
  }
  EXPECT_TRUE(platform::SyncFolder(dir.path(), &error)) << error;
}

TEST(Win32MetafilePageTest, AnEnhancedMetafileBecomesAnA4PageWithItsText) {
  ScopedProgramFolder program;
  program.EnableLog();
  EmfBuilder emf(U_RECTL{0, 0, 21000, 29700});
  emf.Brush(1, 255, 0, 0).Pen(2, U_PS_NULL, 0, 0, 0, 0);
  emf.Add(U_EMRRECTANGLE_set(U_RECTL{0, 0, 1050, 742}));
  emf.Add(U_EMRSETBKMODE_set(U_TRANSPARENT));
  emf.Font(3, -100, "Arial").Text(1200, 2000, "Hello metafile");
  emf.Write(program.Join("a.emf"));

  std::vector<std::string> inputs{program.Join("a.emf")};
  std::string output = program.Join("out.pdf");
  DocumentInfo options;
  ASSERT_TRUE(PDFMerger(inputs, output.c_str(), options)) << ReadFileText(program.Log());
  QPDF pdf;
  pdf.processFile(output.c_str());
  std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
  ASSERT_EQ(1u, pages.size());
  QPDFObjectHandle::Rectangle box = pages[0].getMediaBox().getArrayAsRectangle();
  EXPECT_NEAR(595, box.urx - box.llx, 0.5);
  EXPECT_NEAR(842, box.ury - box.lly, 0.5);
  std::string content = PageContent(pages[0]);
  // The red rectangle over the top-left quarter: 297.5 of 595 points wide.
  EXPECT_NE(std::string::npos, content.find("1 0 0 rg\n0 842 m\n297.5 842 l")) << content;
  EXPECT_NE(std::string::npos, PageTexts(output).at(0).find("Hello metafile")) << content;
}

}  // namespace
