// A metafile page under Wine: GDI reads the enhanced metafile's frame for the
// page size, libuemf (built for Windows) reads its records and the
// translator draws them, text included (libuemf's UTF-16 conversion makes
// the test's text record).
#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <string>
#include <vector>

#include "config/settings.h"
#include "pdf/pdf_merger.h"
#include "support/make_metafile.h"
#include "support/make_pdf.h"
#include "support/program_folder.h"

namespace {

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
