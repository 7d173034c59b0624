#include "pdf/pdf_merger.h"

#include <gtest/gtest.h>

#include <iterator>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/platform.h"
#include "support/install_copy.h"
#include "support/make_image.h"
#include "support/make_pdf.h"
#include "support/page_color.h"
#include "support/temp_dir.h"

namespace {

struct MergerTest : testing::Test {
  void SetUp() override {
    program.EnableLog();
    options.pdfVersion = "1.7";
  }
  std::string Info(const std::string& key) {
    QPDF pdf;
    pdf.processFile(output.c_str());
    QPDFObjectHandle info = pdf.getTrailer().getKey("/Info");
    return info.isDictionary() && info.hasKey(key) ? info.getKey(key).getUTF8Value() : "(none)";
  }

  ScopedProgramFolder program;
  DocumentInfo options;
  std::string output = program.Join("out.pdf");
};

// An encrypted file's pages come without its encryption; the version is
// never below an imported file's (AES makes b.PDF a 1.6 file). Settings
// text is UTF-8; text that is not valid UTF-8 comes from Windows-1252.
TEST_F(MergerTest, PdfsOfThreeAndTwoPagesInListOrder) {
  std::string a = program.Join("a.pdf"), b = program.Join("b.PDF");
  TestPdfOptions locked;
  locked.encrypt = true;
  MakeTextPdf(a, {"a1", "a2", "a3"});
  MakeTextPdf(b, {"b1", "b2"}, locked);
  std::vector<std::string> list{a, program.Join("notes.txt"), b};
  options.title = "T\xfctel";  // cp1252 u-umlaut
  options.author = "M\xC3\xBCller \xE2\x80\x93 Bericht \xE2\x82\xAC";
  options.keywords = "Keys";
  options.pdfVersion = "1.4";
  EXPECT_TRUE(PDFMerger(list, output.c_str(), options));
  EXPECT_EQ((std::vector<std::string>{"a1", "a2", "a3", "b1", "b2"}), PageTexts(output));
  EXPECT_EQ("%PDF-1.6", ReadFileText(output).substr(0, 8));
  EXPECT_FALSE(Has(ReadFileText(output), "/Encrypt"));
  EXPECT_EQ("T\xc3\xbctel", Info("/Title"));
  EXPECT_EQ("Quorvel Virtual PDFPrinter (https://www.quorvel.com)", Info("/Producer"));
  EXPECT_EQ("Quorvel Virtual PDFPrinter, Build: Jun 24 2019", Info("/Creator"));
  EXPECT_EQ(options.author + "|Keys|(none)",
            Info("/Author") + "|" + Info("/Keywords") + "|" + Info("/Subject"));
}

// Every image format makes pages of its images' sizes that show their
// colours the right way up: each hand-written 2 x 2 image has an upper row
// unlike its lower row, and the pixel read lies in its upper-left pixel.
// Transparency becomes a soft mask; a JPEG goes in as it is. The version
// rises to what the images need (JPEG 2000: 1.5).
TEST_F(MergerTest, ImagePagesShowTheirImagesAtTheirSizes) {
  options.pdfVersion = "1.3";
  const TestRgb red{200, 30, 30}, blue{30, 30, 200}, green{30, 160, 60}, gray{128, 128, 128};
  ASSERT_TRUE(WriteTestTiff(program.Join("scan.TIF"), {{100, 200}, {300, 150}, {50, 50}}));
  ASSERT_TRUE(WriteTestPng(program.Join("logo.png"), 80, 60, 128));
  WriteFileText(program.Join("broken.jpg"), "\xff\xd8\xff garbage");
  ASSERT_TRUE(WriteTestTiff(program.Join("mac.tif"), {{70, 40}, {20, 90}}, true));
  ASSERT_EQ(std::string("MM\0*", 4), ReadFileText(program.Join("mac.tif")).substr(0, 4));
  // CMYK as Adobe applications write it: every sample inverted.
  ASSERT_TRUE(WriteFlatJpeg(program.Join("adobe.jpg"), 16, 8, JCS_CMYK, {255, 0, 0, 255}));
  ASSERT_TRUE(WriteTestJpeg2000(program.Join("a.jp2"), 2, 2, red, blue, false));
  ASSERT_TRUE(WriteTestJpeg2000(program.Join("a.j2k"), 2, 2, green, red, true));
  WriteFileText(program.Join("a.bmp"), TestBmp(blue, red));
  WriteFileText(program.Join("a.gif"), TestGif(green, blue));
  WriteFileText(program.Join("a.psd"), TestPsd(red, green));
  WriteFileText(program.Join("a.ppm"),
                "P6\n2 2\n255\n\x1E\x1E\xC8\x1E\x1E\xC8\xC8\x1E\x1E\xC8\x1E\x1E");
  WriteFileText(program.Join("a.pgm"), "P5 2 2 255\n\x40\x40\xC0\xC0");
  WriteFileText(program.Join("a.pbm"), std::string("P4\n2 2\n\xC0\x00", 9));
  WriteFileText(program.Join("plain.pbm"), "P1\n# comment\n2 2\n10\n01\n");
  const struct {
    const char* file;
    int width, height;
    TestRgb color;  // of the upper-left pixel
  } pages[] = {
      {"scan.TIF", 100, 200, gray},
      {"scan.TIF", 300, 150, gray},
      {"scan.TIF", 50, 50, gray},
      {"logo.png", 80, 60, {160, 160, 160}},  // 0x40 at half opacity on white
      {"mac.tif", 70, 40, gray},
      {"mac.tif", 20, 90, gray},
      {"adobe.jpg", 16, 8, {237, 28, 36}},  // cyan 0, magenta and yellow 255, black 0
      {"a.jp2", 2, 2, red},
      {"a.j2k", 2, 2, green},
      {"a.bmp", 2, 2, blue},
      {"a.gif", 2, 2, green},
      {"a.psd", 2, 2, red},
      {"a.ppm", 2, 2, blue},
      {"a.pgm", 2, 2, {64, 64, 64}},
      {"a.pbm", 2, 2, {0, 0, 0}},
      {"plain.pbm", 2, 2, {0, 0, 0}},
  };
  std::vector<std::string> list{program.Join("broken.jpg")};  // gives no page
  for (const auto& page : pages)
    if (list.back() != program.Join(page.file)) list.push_back(program.Join(page.file));
  EXPECT_TRUE(PDFMerger(list, output.c_str(), options));
  QPDF pdf;
  pdf.processFile(output.c_str());
  std::vector<QPDFPageObjectHelper> made = QPDFPageDocumentHelper(pdf).getAllPages();
  ASSERT_EQ(std::size(pages), made.size());
  for (size_t i = 0; i < made.size(); ++i) {
    SCOPED_TRACE(std::string(pages[i].file) + ", page " + std::to_string(i + 1));
    QPDFObjectHandle::Rectangle box = made[i].getMediaBox().getArrayAsRectangle();
    EXPECT_EQ(pages[i].width, box.urx - box.llx);
    EXPECT_EQ(pages[i].height, box.ury - box.lly);
    TestRgb shown = PageColorAt(output, static_cast<int>(i + 1), 0.25, 0.25);
    EXPECT_NEAR(pages[i].color.r, shown.r, 12);
    EXPECT_NEAR(pages[i].color.g, shown.g, 12);
    EXPECT_NEAR(pages[i].color.b, shown.b, 12);
  }
  auto image = [&made](size_t page) {
    return made[page].getObjectHandle().getKey("/Resources").getKey("/XObject").getKey("/Im0");
  };
  auto bytes = [](const std::shared_ptr<Buffer>& data) {
    return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
  };
  EXPECT_EQ("1.5", pdf.getPDFVersion());
  EXPECT_FALSE(image(0).getDict().hasKey("/SMask"));
  QPDFObjectHandle mask = image(3).getDict().getKey("/SMask");
  ASSERT_TRUE(mask.isStream());
  EXPECT_EQ("/DeviceGray", mask.getDict().getKey("/ColorSpace").getName());
  EXPECT_EQ(std::string(80 * 60, '\x80'), bytes(mask.getStreamData()));
  EXPECT_EQ("/DCTDecode", image(6).getDict().getKey("/Filter").getName());
  EXPECT_EQ(ReadFileText(program.Join("adobe.jpg")), bytes(image(6).getRawStreamData()));
  // A bare JPEG 2000 codestream goes in wrapped in a JP2 file.
  EXPECT_EQ(std::string("\0\0\0\x0CjP  \r\n\x87\n", 12),
            bytes(image(8).getRawStreamData()).substr(0, 12));
}

TEST_F(MergerTest, FailuresLeaveTheOutputAsItWas) {
  WriteFileText(output, "old output");
  std::vector<std::string> empty;
  EXPECT_FALSE(PDFMerger(empty, output.c_str(), options));
  EXPECT_FALSE(platform::PathExists(program.Log()));

  std::string good = program.Join("good.pdf"), damaged = program.Join("old.pdf");
  MakeTextPdf(good, {"g"});
  WriteFileText(damaged, "%PDF-1.4 nothing else");
  std::vector<std::string> list{damaged, good};
  EXPECT_FALSE(PDFMerger(list, output.c_str(), options));
  EXPECT_EQ("old output", ReadFileText(output));
  EXPECT_TRUE(
      Has(ReadFileText(program.Log()), "[ImportPDF] Failed to open \"" + damaged + "\" file.\n"));
}

}  // namespace
