#include "pdf/page_geometry.h"

#include <gtest/gtest.h>

#include "pdf/pdf_library.h"
#include "support/make_image.h"
#include "support/make_metafile.h"
#include "support/program_folder.h"
#include "support/temp_dir.h"

namespace {

class PageGeometryTest : public ::testing::Test {
 protected:
  void SetUp() override { pdf_ = pdfNewPDF(); }
  void TearDown() override { pdfDeletePDF(pdf_); }
  ScopedTempDir dir_;
  PDF* pdf_ = nullptr;
};

TEST(IsImageFileExtTest, KnowsTheImageExtensionsInAnyCase) {
  for (const char* ext :
       {".bmp", ".gif", ".jpg", ".jpeg", ".jp2", ".j2k", ".jpc", ".jpx", ".pbm", ".pgm", ".pnm",
        ".ppm", ".png", ".psd", ".tif", ".tiff", ".JPG", ".Tiff"}) {
    EXPECT_TRUE(IsImageFileExt(ext)) << ext;
  }
  for (const char* ext : {".jpe", "", ".pdf", "jpg", ".tif ", ".tiffx", ".ti"}) {
    EXPECT_FALSE(IsImageFileExt(ext)) << ext;
  }
  EXPECT_FALSE(IsImageFileExt(nullptr));
}

TEST_F(PageGeometryTest, ImageSizeInPixelsGivesPageSizeInPoints) {
  ASSERT_TRUE(WriteTestPng(dir_.Join("a.png"), 800, 600, 255));
  PageRect rect{-1, -1, -1, -1};
  ASSERT_EQ(1, GetRectFromImageFile(pdf_, dir_.Join("a.png").c_str(), 1, &rect));
  EXPECT_EQ(0, rect.left);
  EXPECT_EQ(0, rect.top);
  EXPECT_EQ(800, rect.right);
  EXPECT_EQ(600, rect.bottom);
  EXPECT_EQ(0, GetRectFromImageFile(pdf_, dir_.Join("a.png").c_str(), 2, &rect));
}

TEST_F(PageGeometryTest, EachTiffImageHasItsOwnSize) {
  std::vector<std::pair<int, int>> sizes{{100, 50}, {30, 200}, {64, 64}};
  ASSERT_TRUE(WriteTestTiff(dir_.Join("multi.tif"), sizes));
  ASSERT_EQ(3, pdfGetImageCountA(pdf_, dir_.Join("multi.tif").c_str()));
  for (int i = 1; i <= 3; ++i) {
    PageRect rect{};
    ASSERT_EQ(1, GetRectFromImageFile(pdf_, dir_.Join("multi.tif").c_str(), i, &rect));
    EXPECT_EQ(sizes[i - 1].first, rect.right) << i;
    EXPECT_EQ(sizes[i - 1].second, rect.bottom) << i;
  }
  EXPECT_EQ(0, GetRectFromImageFile(pdf_, dir_.Join("multi.tif").c_str(), 4, nullptr));
}

TEST_F(PageGeometryTest, MissingOrUnreadableFileGivesNoRect) {
  PageRect rect{};
  EXPECT_EQ(0, GetRectFromImageFile(pdf_, dir_.Join("none.png").c_str(), 1, &rect));
  WriteFileText(dir_.Join("bad.tif"), "II*\0garbage that is no TIFF directory");
  EXPECT_EQ(0, GetRectFromImageFile(pdf_, dir_.Join("bad.tif").c_str(), 1, &rect));
  EXPECT_EQ(0, pdfGetImageCountA(pdf_, dir_.Join("bad.tif").c_str()));
}

TEST_F(PageGeometryTest, NetpbmBitmapIsRead) {
  WriteFileText(dir_.Join("a.pbm"), "P1\n# comment\n3 2\n010\n101\n");
  PageRect rect{};
  ASSERT_EQ(1, GetRectFromImageFile(pdf_, dir_.Join("a.pbm").c_str(), 1, &rect));
  EXPECT_EQ(3, rect.right);
  EXPECT_EQ(2, rect.bottom);
}

// Metafile pages.

class MetafileGeometryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_.EnableLog();
    pdf_ = pdfNewPDF();
    pdfSetOnErrorProc(pdf_, nullptr, OnPDFError);
  }
  void TearDown() override { pdfDeletePDF(pdf_); }
  std::string Path(const std::string& name) { return program_.Join(name); }
  /// GetRectFromEMFFile's rectangle as "left top right bottom", or "none".
  std::string Rect(const std::string& name) {
    PageRect rect{-1, -1, -1, -1};
    if (!GetRectFromEMFFile(pdf_, Path(name).c_str(), &rect)) return "none";
    return std::to_string(rect.left) + " " + std::to_string(rect.top) + " " +
           std::to_string(rect.right) + " " + std::to_string(rect.bottom);
  }
  ScopedProgramFolder program_;
  PDF* pdf_ = nullptr;
};

TEST_F(MetafileGeometryTest, EnhancedFrameInHundredthsOfMillimetreGivesPoints) {
  EmfBuilder(U_RECTL{0, 0, 21000, 29700}).Write(Path("a4.emf"));
  PageRect rect{-1, -1, -1, -1};
  ASSERT_EQ(1, GetEMFFrameRect(Path("a4.emf").c_str(), &rect));
  EXPECT_EQ(0, rect.left);
  EXPECT_EQ(0, rect.top);
  EXPECT_EQ(595, rect.right);
  EXPECT_EQ(842, rect.bottom);
  EXPECT_EQ("0 0 595 842", Rect("a4.emf"));
  // A frame that does not start at the origin is measured by its sides.
  EmfBuilder(U_RECTL{5000, -3000, 26000, 26700}).Write(Path("moved.emf"));
  EXPECT_EQ("0 0 595 842", Rect("moved.emf"));
  EmfBuilder(U_RECTL{0, 0, 29700, 21000}).Write(Path("landscape.emf"));
  EXPECT_EQ("0 0 842 595", Rect("landscape.emf"));
}

TEST_F(MetafileGeometryTest, ShortTruncatedOrLyingHeadersGiveNoFrame) {
  std::string good = EmfBuilder(U_RECTL{0, 0, 21000, 29700}).Bytes();
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::string wrongType = good, wrongSignature = good, recordTooLong = good, fileTooLong = good;
  wrongType[0] = 2;
  wrongSignature[40] = 'X';
  recordTooLong.replace(4, 4, LeBytes(good.size() + 4, 4));
  fileTooLong.replace(48, 4, LeBytes(good.size() + 1, 4));
  const Case cases[] = {{"empty.emf", ""},
                        {"short.emf", good.substr(0, 60)},
                        {"truncated.emf", good.substr(0, good.size() - 24)},
                        {"type.emf", wrongType},
                        {"signature.emf", wrongSignature},
                        {"record.emf", recordTooLong},
                        {"filesize.emf", fileTooLong},
                        {"text.emf", "This is a text file with an .emf name, not a metafile."}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileText(Path(c.name), c.bytes);
    PageRect rect{};
    EXPECT_EQ(0, GetEMFFrameRect(Path(c.name).c_str(), &rect));
  }
  // The library route does not take a damaged header for a metafile either.
  EXPECT_EQ("none", Rect("text.emf"));
  EXPECT_EQ("none", Rect("short.emf"));
  EXPECT_NE(std::string::npos,
            ReadLogText(program_.Log())
                .find("Can't open the EMF/WMF file or can't read the paper size from EMF/WMF "
                      "file properly.\n"));
  EXPECT_EQ("none", Rect("missing.emf"));
}

TEST_F(MetafileGeometryTest, EmptyFrameFallsBackToTheBoundsMeasuredFromTheirOrigin) {
  std::string bytes = EmfBuilder(U_RECTL{0, 0, 21000, 29700}).Bytes();
  // Frame emptied; bounds (device pixels of 0.1 mm) from (1000, 500) to
  // (3100, 3470): 210 by 297 mm wherever they start.
  bytes.replace(24, 16, std::string(16, '\0'));
  bytes.replace(8, 16, LeBytes(1000, 4) + LeBytes(500, 4) + LeBytes(3100, 4) + LeBytes(3470, 4));
  WriteFileText(Path("bounds.emf"), bytes);
  PageRect rect{};
  EXPECT_EQ(0, GetEMFFrameRect(Path("bounds.emf").c_str(), &rect));
  EXPECT_EQ("0 0 595 842", Rect("bounds.emf"));
}

TEST_F(MetafileGeometryTest, SizeLimitScalesLargePagesTo14000) {
  const struct {
    int width, height, limitedWidth, limitedHeight;
  } cases[] = {{15000, 20000, 10500, 14000},
               {20000, 10000, 14000, 7000},
               {595, 14399, 595, 14399},
               {595, 14400, 578, 14000},
               {30000, 15000, 14000, 7000},
               // The rule's single precision: 14400 / (14400 / 14000) is just under 14000.
               {14400, 14400, 13999, 14000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    PageRect rect{0, 0, c.width, c.height};
    LimitMetafilePageSize(&rect);
    EXPECT_EQ(c.limitedWidth, rect.right);
    EXPECT_EQ(c.limitedHeight, rect.bottom);
  }
  // A frame 20000 points wide (705556 hundredths of a millimetre) and 10000
  // high goes through the same limit.
  EmfBuilder(U_RECTL{0, 0, 705556, 352778}).Write(Path("huge.emf"));
  EXPECT_EQ("0 0 14000 7000", Rect("huge.emf"));
}

TEST_F(MetafileGeometryTest, WindowsMetafileSizedByPlaceableHeaderOrWindowExtent) {
  // 8.5 x 11 inches at 1440 units per inch.
  WmfBuilder(12240, 15840, 1440).Write(Path("letter.wmf"));
  EXPECT_EQ("0 0 612 792", Rect("letter.wmf"));
  PdfRectL measured{};
  ASSERT_EQ(1, pdfGetLogMetafileSizeA(pdf_, Path("letter.wmf").c_str(), &measured));
  EXPECT_EQ(612, measured.right);
  // Without a placeable header: a window of 960 x 480 in MM_ANISOTROPIC
  // units, taken as screen pixels (96 per inch).
  WmfBuilder plain(0, 0, 0);
  plain.Add(U_WMRSETMAPMODE_set(U_MM_ANISOTROPIC));
  plain.Add(U_WMRSETWINDOWORG_set(point16_set(0, 0)));
  plain.Add(U_WMRSETWINDOWEXT_set(point16_set(960, 480)));
  plain.Write(Path("plain.wmf"));
  EXPECT_EQ("0 0 720 360", Rect("plain.wmf"));
  // Neither: no size to be had.
  WmfBuilder(0, 0, 0).Write(Path("nosize.wmf"));
  EXPECT_EQ("none", Rect("nosize.wmf"));
}

}  // namespace
