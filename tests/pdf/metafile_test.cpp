// Metafile pages made by the merger: what is drawn (text that a PDF reader
// extracts, colours where shapes and bitmaps are), in which fonts, and what
// happens to damaged files.
#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/command_options.h"
#include "pdf/pdf_merger.h"
#include "support/install_copy.h"
#include "support/make_image.h"
#include "support/make_metafile.h"
#include "support/make_pdf.h"
#include "support/page_color.h"
#include "support/program_folder.h"

namespace {

const U_RECTL kA4{0, 0, 21000, 29700};  // hundredths of a millimetre

TestRgb ColorAt(const std::string& pdf, int page, double fx, double fy) {
  return PageColorAt(pdf, page, fx, fy);
}

std::string Show(TestRgb c) {
  return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

#define EXPECT_COLOR(expected, actual) EXPECT_EQ(Show(expected), Show(actual))

const TestRgb kWhite{255, 255, 255}, kRed{255, 0, 0}, kBlue{0, 0, 255}, kGreen{0, 255, 0},
    kYellow{255, 255, 0};

struct MetafileTest : testing::Test {
  void SetUp() override { program.EnableLog(); }
  /// Merges the inputs into the output; the merger's result.
  int Merge(std::vector<std::string> inputs) {
    CommandOptions options{};
    return PDFMerger(inputs, output.c_str(), &options);
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

TEST_F(MetafileTest, EnhancedMetafileDrawsTextShapesAndBitmap) {
  // A4 in device pixels of 0.1 mm: 2100 x 2970.
  EmfBuilder emf(kA4);
  emf.Brush(1, 255, 0, 0).Pen(2, U_PS_NULL, 0, 0, 0, 0);
  emf.Add(U_EMRRECTANGLE_set(U_RECTL{0, 0, 1050, 742}));  // top-left quarter red
  emf.Brush(3, 0, 0, 255);
  emf.Add(U_EMRELLIPSE_set(U_RECTL{1050, 0, 2100, 1485}));  // top-right blue ellipse
  emf.Bitmap(U_RECTL{0, 1485, 1050, 2970}, colorref_set(0, 255, 0), colorref_set(255, 255, 0));
  emf.Add(U_EMRSETBKMODE_set(U_TRANSPARENT));
  emf.Font(4, -100, "Arial").Text(1200, 2000, "Hello metafile");
  emf.Write(program.Join("a.emf"));

  ASSERT_EQ(1, Merge({program.Join("a.emf")})) << Log();
  EXPECT_EQ((std::vector<std::pair<double, double>>{{595, 842}}), PageSizes());
  std::vector<std::string> texts = PdfPageTexts(output);
  ASSERT_EQ(1u, texts.size());
  EXPECT_NE(std::string::npos, texts[0].find("Hello metafile")) << texts[0];
  EXPECT_COLOR(kRed, ColorAt(output, 1, 0.1, 0.1));
  EXPECT_COLOR(kWhite, ColorAt(output, 1, 0.1, 0.3));
  EXPECT_COLOR(kBlue, ColorAt(output, 1, 0.75, 0.25));
  EXPECT_COLOR(kWhite, ColorAt(output, 1, 0.52, 0.02));  // outside the ellipse's curve
  EXPECT_COLOR(kGreen, ColorAt(output, 1, 0.25, 0.6));   // the bitmap's top rows
  EXPECT_COLOR(kYellow, ColorAt(output, 1, 0.25, 0.9));
  EXPECT_EQ((std::set<std::string>{"/Helvetica"}), FontsUsed());
}

TEST_F(MetafileTest, FontRequestsChooseStandardFamilies) {
  EmfBuilder emf(kA4);
  emf.Font(1, -80, "Times New Roman", 700).Text(100, 100, "Serif bold");
  emf.Font(2, -80, "Courier New", 400, true).Text(100, 300, "Mono italic");
  emf.Font(3, -80, "Verdana").Text(100, 500, "Sans \xc3\xa9t\xc3\xa9");  // UTF-8 "été"
  emf.Write(program.Join("fonts.emf"));
  ASSERT_EQ(1, Merge({program.Join("fonts.emf")})) << Log();
  EXPECT_EQ((std::set<std::string>{"/Times-Bold", "/Courier-Oblique", "/Helvetica"}), FontsUsed());
  std::string text = PdfPageTexts(output).at(0);
  for (const char* word : {"Serif bold", "Mono italic", "Sans \xc3\xa9t\xc3\xa9"}) {
    EXPECT_NE(std::string::npos, text.find(word)) << word << " in " << text;
  }
}

TEST_F(MetafileTest, LandscapeFrameGivesLandscapePage) {
  EmfBuilder emf(U_RECTL{0, 0, 29700, 21000});
  emf.Brush(1, 0, 0, 255).Add(U_EMRRECTANGLE_set(U_RECTL{0, 0, 1485, 1050}));
  emf.Write(program.Join("wide.emf"));
  ASSERT_EQ(1, Merge({program.Join("wide.emf")})) << Log();
  EXPECT_EQ((std::vector<std::pair<double, double>>{{842, 595}}), PageSizes());
  EXPECT_COLOR(kBlue, ColorAt(output, 1, 0.25, 0.25));
  EXPECT_COLOR(kWhite, ColorAt(output, 1, 0.75, 0.75));
}

TEST_F(MetafileTest, MapModeTransformAndClipPlaceShapes) {
  EmfBuilder emf(kA4);
  emf.Pen(1, U_PS_NULL, 0, 0, 0, 0).Brush(2, 255, 0, 0);
  // MM_LOMETRIC: 0.1 mm units with y upwards; the window origin moved to
  // the page's top edge. A rectangle from 50 mm to 100 mm in both axes.
  emf.Add(U_EMRSAVEDC_set());
  emf.Add(U_EMRSETMAPMODE_set(U_MM_LOMETRIC));
  emf.Add(U_EMRSETWINDOWORGEX_set(point_set(0, 0)));
  emf.Add(U_EMRRECTANGLE_set(U_RECTL{500, -500, 1000, -1000}));
  emf.Add(U_EMRRESTOREDC_set(-1));
  // A world transform that moves by 1050 device pixels to the right, and a
  // clip that lets only the right half of a full-width fill through.
  emf.Add(U_EMRSETWORLDTRANSFORM_set(U_XFORM{1, 0, 0, 1, 1050, 0}));
  emf.Brush(3, 0, 0, 255).Add(U_EMRRECTANGLE_set(U_RECTL{0, 2000, 100, 2100}));
  emf.Add(U_EMRSETWORLDTRANSFORM_set(U_XFORM{1, 0, 0, 1, 0, 0}));
  emf.Add(U_EMRINTERSECTCLIPRECT_set(U_RECTL{1050, 2500, 2100, 2970}));
  emf.Brush(4, 0, 255, 0).Add(U_EMRRECTANGLE_set(U_RECTL{0, 2500, 2100, 2970}));
  emf.Write(program.Join("map.emf"));

  ASSERT_EQ(1, Merge({program.Join("map.emf")})) << Log();
  EXPECT_COLOR(kRed, ColorAt(output, 1, 75.0 / 210, 75.0 / 297));
  EXPECT_COLOR(kWhite, ColorAt(output, 1, 40.0 / 210, 75.0 / 297));
  EXPECT_COLOR(kBlue, ColorAt(output, 1, 1100.0 / 2100, 2050.0 / 2970));
  EXPECT_COLOR(kWhite, ColorAt(output, 1, 50.0 / 2100, 2050.0 / 2970));
  EXPECT_COLOR(kGreen, ColorAt(output, 1, 0.75, 0.9));
  EXPECT_COLOR(kWhite, ColorAt(output, 1, 0.25, 0.9));
}

TEST_F(MetafileTest, RegionsFillAndAlphaBlendedBitmapsShowThrough) {
  EmfBuilder emf(kA4);
  emf.Brush(1, 255, 0, 0);
  // Two region rectangles (logical units) filled with the red brush: the
  // left half of the page's top and its bottom quarter.
  U_RECTL rects[] = {{0, 0, 1050, 742}, {0, 2227, 2100, 2970}};
  PU_RGNDATA region = rgndata_set(rgndataheader_set(2, U_RECTL{0, 0, 2100, 2970}), rects);
  emf.Add(U_EMRFILLRGN_set(U_RCL_DEF, 1, region));
  std::free(region);
  // A 2 x 2 blue bitmap with premultiplied alpha 128, blended at half
  // strength over the red top-left quarter: a quarter blue where it lies.
  U_BITMAPINFOHEADER bih = bitmapinfoheader_set(2, 2, 1, 32, U_BI_RGB, 0, 0, 0, 0, 0);
  PU_BITMAPINFO bmi = bitmapinfo_set(bih, nullptr);
  std::string px;
  for (int i = 0; i < 4; ++i) px += std::string("\x80\x00\x00\x80", 4);
  emf.Add(U_EMRALPHABLEND_set(U_RCL_DEF, point_set(0, 0), point_set(525, 742), point_set(0, 0),
                              point_set(2, 2), xform_set(1, 0, 0, 1, 0, 0), colorref_set(0, 0, 0),
                              U_DIB_RGB_COLORS, U_BLEND{0, 0, 128, U_AC_SRC_ALPHA}, bmi,
                              static_cast<uint32_t>(px.size()), &px[0]));
  std::free(bmi);
  emf.Write(program.Join("region.emf"));

  ASSERT_EQ(1, Merge({program.Join("region.emf")})) << Log();
  TestRgb blended = ColorAt(output, 1, 0.1, 0.1);
  EXPECT_NEAR(191, blended.r, 3);
  EXPECT_EQ(0, blended.g);
  EXPECT_NEAR(64, blended.b, 3);
  EXPECT_COLOR(kRed, ColorAt(output, 1, 0.4, 0.1));
  EXPECT_COLOR(kWhite, ColorAt(output, 1, 0.75, 0.1));
  EXPECT_COLOR(kWhite, ColorAt(output, 1, 0.5, 0.5));
  EXPECT_COLOR(kRed, ColorAt(output, 1, 0.75, 0.9));
}

TEST_F(MetafileTest, EmfPlusOnlyFileDrawsItsRecords) {
  EmfBuilder emf(kA4);
  std::string plus = PlusRecord(
      0x4001, 0, LeBytes(0xDBC01002, 4) + LeBytes(0, 4) + LeBytes(96, 4) + LeBytes(96, 4));
  // A solid red rectangle (colour inline) over the top-left quarter, in
  // millimetres: the page is 210 x 297 mm.
  plus += PlusRecord(0x4030, 6, FloatBytes(1));  // SetPageTransform, UnitMillimeter
  plus += PlusRecord(0x400A, 0x8000,
                     LeBytes(0xFFFF0000, 4) + LeBytes(1, 4) + FloatBytes(0) + FloatBytes(0) +
                         FloatBytes(105) + FloatBytes(148.5));
  // A font object (id 1): 5 mm Arial; DrawString in black.
  std::string family = "A\0r\0i\0a\0l\0";
  plus += PlusRecord(0x4008, 0x0601,
                     LeBytes(0xDBC01002, 4) + FloatBytes(5) + LeBytes(6, 4) + LeBytes(0, 4) +
                         LeBytes(0, 4) + LeBytes(5, 4) + family + std::string(2, '\0'));
  std::string text = std::string("P\0l\0u\0s\0 \0t\0e\0x\0t\0", 18);
  plus += PlusRecord(0x401C, 0x8001,
                     LeBytes(0xFF000000, 4) + LeBytes(0, 4) + LeBytes(9, 4) + FloatBytes(20) +
                         FloatBytes(200) + FloatBytes(100) + FloatBytes(20) + text);
  plus += PlusRecord(0x4002, 0, "");
  emf.Plus(plus);
  // The GDI fallback would paint the whole page blue: it must not be drawn.
  emf.Brush(1, 0, 0, 255).Add(U_EMRRECTANGLE_set(U_RECTL{0, 0, 2100, 2970}));
  emf.Write(program.Join("plus.emf"));

  ASSERT_EQ(1, Merge({program.Join("plus.emf")})) << Log();
  EXPECT_NE(std::string::npos, PdfPageTexts(output).at(0).find("Plus text"));
  EXPECT_COLOR(kRed, ColorAt(output, 1, 0.2, 0.2));
  EXPECT_COLOR(kWhite, ColorAt(output, 1, 0.8, 0.8));
}

TEST_F(MetafileTest, GradientsPiesAndDriverStringsAreDrawn) {
  EmfBuilder emf(kA4);
  // A red-to-blue gradient from left to right over the page's top quarter.
  U_TRIVERTEX corners[] = {{0, 0, 0xFF00, 0, 0, 0}, {2100, 742, 0, 0, 0xFF00, 0}};
  U_GRADIENT4 rect{0, 1};
  emf.Add(U_EMRGRADIENTFILL_set(U_RCL_DEF, 2, 1, U_GRADIENT_FILL_RECT_H, corners,
                                reinterpret_cast<uint32_t*>(&rect)));
  std::string plus = PlusRecord(
      0x4001, 0, LeBytes(0xDBC01002, 4) + LeBytes(0, 4) + LeBytes(96, 4) + LeBytes(96, 4));
  plus += PlusRecord(0x4030, 6, FloatBytes(1));  // millimetres
  // A green quarter pie: centre (105, 150) mm, from 0 to 90 degrees
  // (clockwise on the page: towards the bottom right).
  plus += PlusRecord(0x4010, 0x8000,
                     LeBytes(0xFF00FF00, 4) + FloatBytes(0) + FloatBytes(90) + FloatBytes(55) +
                         FloatBytes(100) + FloatBytes(100) + FloatBytes(100));
  std::string family = std::string("A\0r\0i\0a\0l\0", 10);
  plus += PlusRecord(0x4008, 0x0601,
                     LeBytes(0xDBC01002, 4) + FloatBytes(6) + LeBytes(6, 4) + LeBytes(0, 4) +
                         LeBytes(0, 4) + LeBytes(5, 4) + family + std::string(2, '\0'));
  // DrawDriverString with Unicode glyphs (cmap lookup), placed 3 mm apart.
  std::string glyphs = std::string("D\0r\0i\0v\0e\0r\0", 12), positions;
  for (int i = 0; i < 6; ++i) positions += FloatBytes(20 + 3.5f * i) + FloatBytes(280);
  plus += PlusRecord(
      0x4036, 0x8001,
      LeBytes(0xFF000000, 4) + LeBytes(1, 4) + LeBytes(0, 4) + LeBytes(6, 4) + glyphs + positions);
  emf.Plus(plus);
  emf.Write(program.Join("more.emf"));

  ASSERT_EQ(1, Merge({program.Join("more.emf")})) << Log();
  TestRgb left = ColorAt(output, 1, 0.03, 0.1), right = ColorAt(output, 1, 0.97, 0.1);
  EXPECT_GT(left.r, 220);
  EXPECT_LT(left.b, 35);
  EXPECT_GT(right.b, 220);
  EXPECT_LT(right.r, 35);
  EXPECT_COLOR(kGreen, ColorAt(output, 1, 120.0 / 210, 170.0 / 297));
  EXPECT_COLOR(kWhite, ColorAt(output, 1, 90.0 / 210, 130.0 / 297));
  EXPECT_COLOR(kWhite, ColorAt(output, 1, 120.0 / 210, 130.0 / 297));
  EXPECT_NE(std::string::npos, PdfPageTexts(output).at(0).find("Driver"));
}

TEST_F(MetafileTest, PlaceableWindowsMetafileDrawsShapesAndText) {
  // 8 x 4 inches at 1440 units per inch: a landscape page of 576 x 288.
  WmfBuilder wmf(11520, 5760, 1440);
  wmf.Add(U_WMRCREATEBRUSHINDIRECT_set(U_WLOGBRUSH_set(U_BS_SOLID, colorref_set(255, 0, 0), 0)));
  wmf.Add(U_WMRSELECTOBJECT_set(0));
  wmf.Add(U_WMRCREATEPENINDIRECT_set(U_PEN_set(U_PS_NULL, 0, colorref_set(0, 0, 0))));
  wmf.Add(U_WMRSELECTOBJECT_set(1));
  wmf.Add(U_WMRRECTANGLE_set(U_RECT16_set(point16_set(0, 0), point16_set(5760, 2880))));
  wmf.Add(U_WMRSETBKMODE_set(U_TRANSPARENT));
  char text[] = "Windows text";
  wmf.Add(U_WMRTEXTOUT_set(point16_set(6000, 4000), text));
  wmf.Write(program.Join("a.wmf"));

  ASSERT_EQ(1, Merge({program.Join("a.wmf")})) << Log();
  EXPECT_EQ((std::vector<std::pair<double, double>>{{576, 288}}), PageSizes());
  EXPECT_NE(std::string::npos, PdfPageTexts(output).at(0).find("Windows text"));
  EXPECT_COLOR(kRed, ColorAt(output, 1, 0.25, 0.25));
  EXPECT_COLOR(kWhite, ColorAt(output, 1, 0.75, 0.25));
}

TEST_F(MetafileTest, MergerKeepsOrderOfPdfImageAndMetafileAndLogsTheSteps) {
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
  std::string log = Log();
  size_t at = log.find("PDFMerger, Page #3, " + program.Join("c.EMF"));
  for (const char* line : {"Get rectangle from EMF file...\n", "Append PDF page...\n",
                           "Draw EMF file to PDF page...\n", "Finish EMF file on PDF page...\n",
                           "End PDF page creation...\n", "PDFMerger, Page #4"}) {
    size_t next = log.find(line, at);
    ASSERT_NE(std::string::npos, next) << line << " after #3 in\n" << log;
    at = next;
  }
}

TEST_F(MetafileTest, RecordsNotDrawnAreLoggedOncePerFileWithCounts) {
  EmfBuilder emf(kA4);
  for (int i = 0; i < 3; ++i) emf.Raw(U_EMR_PLGBLT, std::string(20, '\0'));
  emf.Raw(U_EMR_MASKBLT, std::string(20, '\0'));
  emf.Font(1, -100, "Arial").Text(100, 100, "still drawn");
  emf.Write(program.Join("skip.emf"));
  ASSERT_EQ(1, Merge({program.Join("skip.emf")}));
  std::string log = Log();
  std::string line = "[INFO] Metafile \"" + program.Join("skip.emf") + "\": not drawn: ";
  size_t first = log.find(line);
  ASSERT_NE(std::string::npos, first) << log;
  EXPECT_EQ(std::string::npos, log.find("not drawn", first + line.size()));
  EXPECT_NE(std::string::npos, log.find("U_EMR_PLGBLT (damaged) x3", first)) << log;
  EXPECT_NE(std::string::npos, log.find("U_EMR_MASKBLT (damaged) x1", first)) << log;
  EXPECT_NE(std::string::npos, PdfPageTexts(output).at(0).find("still drawn"));
}

}  // namespace
