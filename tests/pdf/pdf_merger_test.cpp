#include "pdf/pdf_merger.h"

#include <gtest/gtest.h>

#include <iterator>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <string>
#include <vector>

#include "config/command_options.h"
#include "platform/platform.h"
#include "support/make_image.h"
#include "support/make_pdf.h"
#include "support/program_folder.h"

namespace {

struct MergerTest : testing::Test {
  void SetUp() override {
    program.EnableLog();
    options = CommandOptions{};
    snprintf(options.pdfVersion, sizeof(options.pdfVersion), "1.7");
  }
  std::string Info(const std::string& key) {
    QPDF pdf;
    pdf.processFile(output.c_str());
    QPDFObjectHandle info = pdf.getTrailer().getKey("/Info");
    return info.isDictionary() && info.hasKey(key) ? info.getKey(key).getUTF8Value() : "(none)";
  }
  std::string Version() {
    QPDF pdf;
    pdf.processFile(output.c_str());
    return pdf.getPDFVersion();
  }

  ScopedProgramFolder program;
  CommandOptions options;
  std::string output = program.Join("out.pdf");
};

TEST(PDFVersionCodeTest, MapsVersionTexts) {
  EXPECT_EQ(1, PDFVersionCode("1.1"));
  EXPECT_EQ(4, PDFVersionCode("1.4"));
  EXPECT_EQ(6, PDFVersionCode("1.6"));
  for (const char* other : {"1.7", "2.0", "abc", "1.45"}) EXPECT_EQ(7, PDFVersionCode(other));
}

TEST_F(MergerTest, PdfsOfThreeAndTwoPagesInListOrder) {
  std::string a = program.Join("a.pdf"), b = program.Join("b.PDF");
  MakeTextPdf(a, {"a1", "a2", "a3"});
  MakeTextPdf(b, {"b1", "b2"});
  std::vector<std::string> list{a, program.Join("notes.txt"), b};
  snprintf(options.title, sizeof(options.title), "T\xfctel");  // cp1252 u-umlaut
  snprintf(options.pdfVersion, sizeof(options.pdfVersion), "1.4");
  EXPECT_EQ(1, PDFMerger(list, output.c_str(), &options));
  EXPECT_TRUE(list.empty());
  EXPECT_EQ((std::vector<std::string>{"a1", "a2", "a3", "b1", "b2"}), PageTexts(output));
  std::string log = ReadFileText(program.Log());
  EXPECT_NE(std::string::npos,
            log.find("[ImportPDF] GetPDFPageCount=3 (NextPage=4) before import '" + b));
  EXPECT_NE(std::string::npos, log.find("PDFMerger, Page #2, " + program.Join("notes.txt")));
  EXPECT_EQ("1.4", Version());
  EXPECT_EQ("T\xc3\xbctel", Info("/Title"));
  EXPECT_EQ("Quorvel Virtual PDFPrinter (https://www.quorvel.com)", Info("/Producer"));
  EXPECT_EQ("Quorvel Virtual PDFPrinter, Build: Jun 24 2019", Info("/Creator"));
  EXPECT_EQ("(none)", Info("/Author"));

  snprintf(options.producer, sizeof(options.producer), "P");
  snprintf(options.author, sizeof(options.author), "A");
  list = {a};
  EXPECT_EQ(1, PDFMerger(list, output.c_str(), &options));
  EXPECT_EQ("P", Info("/Producer"));
  EXPECT_EQ("A", Info("/Author"));
}

TEST_F(MergerTest, ImagePagesAreSizedToTheirImages) {
  std::string tiff = program.Join("scan.TIF"), png = program.Join("logo.png");
  std::string bigEndian = program.Join("mac.tif");
  ASSERT_TRUE(WriteTestTiff(tiff, {{100, 200}, {300, 150}, {50, 50}}));
  ASSERT_TRUE(WriteTestPng(png, 80, 60, 128));
  ASSERT_TRUE(WriteTestTiff(bigEndian, {{70, 40}, {20, 90}}, true));
  ASSERT_EQ(std::string("MM\0*", 4), ReadFileText(bigEndian).substr(0, 4));
  std::vector<std::string> list{tiff, png, program.Join("broken.jpg"), bigEndian};
  WriteFileText(program.Join("broken.jpg"), "\xff\xd8\xff garbage");
  EXPECT_EQ(1, PDFMerger(list, output.c_str(), &options));
  QPDF pdf;
  pdf.processFile(output.c_str());
  std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
  const int sizes[][2] = {{100, 200}, {300, 150}, {50, 50}, {80, 60}, {70, 40}, {20, 90}};
  ASSERT_EQ(std::size(sizes), pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    QPDFObjectHandle::Rectangle box = pages[i].getMediaBox().getArrayAsRectangle();
    EXPECT_EQ(sizes[i][0], box.urx - box.llx) << i;
    EXPECT_EQ(sizes[i][1], box.ury - box.lly) << i;
  }
  QPDFObjectHandle images = pages[3].getObjectHandle().getKey("/Resources").getKey("/XObject");
  bool hasMask = false;
  for (const std::string& key : images.getKeys()) {
    hasMask = hasMask || images.getKey(key).getDict().hasKey("/SMask");
  }
  EXPECT_TRUE(hasMask);
}

TEST_F(MergerTest, FailuresLeaveTheOutputAsItWas) {
  WriteFileText(output, "old output");
  std::vector<std::string> empty;
  EXPECT_EQ(0, PDFMerger(empty, output.c_str(), &options));
  EXPECT_FALSE(platform::PathExists(program.Log()));

  std::string good = program.Join("good.pdf"), damaged = program.Join("old.pdf");
  MakeTextPdf(good, {"g"});
  WriteFileText(damaged, "%PDF-1.4 nothing else");
  std::vector<std::string> list{damaged, good};
  EXPECT_EQ(0, PDFMerger(list, output.c_str(), &options));
  EXPECT_TRUE(list.empty());
  EXPECT_EQ("old output", ReadFileText(output));
  EXPECT_NE(
      std::string::npos,
      ReadFileText(program.Log()).find("[ImportPDF] Failed to open \"" + damaged + "\" file.\n"));
  list = {good};
  EXPECT_EQ(0, PDFMerger(list, program.Join("no/such/folder/out.pdf").c_str(), &options));
}

}  // namespace
