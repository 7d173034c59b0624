// Metafile pages made by the merger: in which fonts text is drawn and the
// order of pages among other inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <set>
#include <string>
#include <vector>

#include "config/settings.h"
#include "pdf/pdf_merger.h"
#include "support/install_copy.h"
#include "support/make_image.h"
#include "support/make_metafile.h"
#include "support/make_pdf.h"
#include "support/program_folder.h"

namespace {

struct MetafileTest : testing::Test {
  void SetUp() override { program.EnableLog(); }
  /// Merges the inputs into the output; the merger's result.
  int Merge(std::vector<std::string> inputs) {
    DocumentInfo options;
    return PDFMerger(inputs, output.c_str(), options) ? 1 : 0;
  }
  std::vector<std::pair<double, double>> PageSizes() {
    QPDF pdf;
    pdf.processFile(output.c_str());
    std::vector<std::pair<double, double>> sizes;
    for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
      auto box = page.getMediaBox().getArrayAsRectangle();
      sizes.emplace_back(box.urx - box.llx, box.ury - box.lly);
    }
    return sizes;
  }
  std::set<std::string> FontsUsed() {
    QPDF pdf;
    pdf.processFile(output.c_str());
    std::set<std::string> fonts;
    for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
      QPDFObjectHandle dict = page.getObjectHandle().getKey("/Resources").getKey("/Font");
      if (!dict.isDictionary()) continue;
      for (const auto& key : dict.getKeys()) {
        fonts.insert(dict.getKey(key).getKey("/BaseFont").getName());
      }
    }
    return fonts;
  }
  std::string Log() { return ReadFileText(program.Log()); }

  ScopedProgramFolder program;
  std::string output = program.Join("out.pdf");
};

TEST_F(MetafileTest, FontRequestsChooseStandardFamilies) {
  EmfBuilder emf(kA4);
  emf.Font(1, -80, "Times New Roman", 700).Text(100, 100, "Serif bold");
  emf.Font(2, -80, "Courier New", 400, true).Text(100, 300, "Mono italic");
  emf.Font(3, -80, "Verdana").Text(100, 500, "Sans \xc3\xa9t\xc3\xa9");       // UTF-8 "été"
  emf.Font(4, -80, "Georgia", 400, true).Text(100, 700, "\xce\xb1\xce\xb2");  // Greek, italic
  emf.Write(program.Join("fonts.emf"));
  ASSERT_EQ(1, Merge({program.Join("fonts.emf")})) << Log();
  std::set<std::string> fonts = FontsUsed();
  // The Greek line is an embedded subset of the serif italic font.
  auto unicode = std::find_if(fonts.begin(), fonts.end(), [](const std::string& name) {
    return name.find("DejaVuSerif-Italic") != std::string::npos;
  });
  ASSERT_NE(fonts.end(), unicode) << ::testing::PrintToString(fonts);
  fonts.erase(unicode);
  EXPECT_EQ((std::set<std::string>{"/Times-Bold", "/Courier-Oblique", "/Helvetica"}), fonts);
  std::string text = PdfPageTexts(output).at(0);
  for (const char* word : {"Serif bold", "Mono italic", "Sans \xc3\xa9t\xc3\xa9"}) {
    EXPECT_NE(std::string::npos, text.find(word)) << word << " in " << text;
  }
}

TEST_F(MetafileTest, MergerKeepsOrderOfPdfImageAndMetafile) {
  MakeTextPdf(program.Join("a.pdf"), {"first"});
  ASSERT_TRUE(WriteTestPng(program.Join("b.png"), 40, 30, 255));
  EmfBuilder(kA4).Font(1, -100, "Arial").Text(100, 100, "third").Write(program.Join("c.EMF"));
  MakeTextPdf(program.Join("d.pdf"), {"fourth"});
  ASSERT_EQ(1, Merge({program.Join("a.pdf"), program.Join("b.png"), program.Join("c.EMF"),
                      program.Join("d.pdf")}));
  EXPECT_EQ((std::vector<std::pair<double, double>>{{200, 300}, {40, 30}, {595, 842}, {200, 300}}),
            PageSizes());
  std::vector<std::string> texts = PdfPageTexts(output);
  ASSERT_EQ(4u, texts.size());
  EXPECT_NE(std::string::npos, texts[0].find("first"));
  EXPECT_NE(std::string::npos, texts[2].find("third"));
  EXPECT_NE(std::string::npos, texts[3].find("fourth"));
}

}  // namespace
