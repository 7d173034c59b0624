#include "pdf/page_geometry.h"

#include <gtest/gtest.h>

#include "pdf/pdf_library.h"
#include "support/make_image.h"
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

}  // namespace
