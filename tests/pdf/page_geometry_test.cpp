#include "pdf/page_geometry.h"

#include <gtest/gtest.h>

#include "pdf/pdf_library.h"
#include "support/make_image.h"
#include "support/make_metafile.h"
#include "support/program_folder.h"

namespace {

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

// An enhanced metafile's frame (hundredths of a millimetre) gives the page
// in points, measured by its sides wherever it starts, or its bounds when
// the frame is empty; a Windows metafile's placeable header or window
// extent (screen pixels) gives it; very large pages are scaled down. Short,
// cut or lying headers give no frame and no page.
TEST_F(MetafileGeometryTest, FrameOrWindowGivesThePageSizeInPoints) {
  const std::string good = EmfBuilder(U_RECTL{0, 0, 21000, 29700}).Bytes();
  std::string bounds = good, wrongType = good, wrongSignature = good, fileTooLong = good;
  wrongType[0] = 2;
  wrongSignature[40] = 'X';
  fileTooLong.replace(48, 4, LeBytes(good.size() + 1, 4));
  // Frame emptied; bounds (device pixels of 0.1 mm) from (1000, 500) to
  // (3100, 3470): 210 by 297 mm.
  bounds.replace(24, 16, std::string(16, '\0'));
  bounds.replace(8, 16, Le32s(1000, 500, 3100, 3470));
  WmfBuilder window(0, 0, 0);  // a window of 960 x 480 MM_ANISOTROPIC units
  window.Add(U_WMRSETMAPMODE_set(U_MM_ANISOTROPIC));
  window.Add(U_WMRSETWINDOWORG_set(point16_set(0, 0)));
  window.Add(U_WMRSETWINDOWEXT_set(point16_set(960, 480)));
  const struct {
    const char* name;
    std::string bytes;
    const char* rect;  // nullptr: not asked
    int frameRight;    // GetEMFFrameRect's right side; 0: no frame
  } rows[] = {
      {"a4.emf", EmfBuilder(U_RECTL{0, 0, 21000, 29700}).Bytes(), "0 0 595 842", 595},
      {"moved.emf", EmfBuilder(U_RECTL{5000, -3000, 26000, 26700}).Bytes(), "0 0 595 842", 595},
      {"landscape.emf", EmfBuilder(U_RECTL{0, 0, 29700, 21000}).Bytes(), "0 0 842 595", 842},
      {"bounds.emf", bounds, "0 0 595 842", 0},
      // 20000 x 10000 points: through the size limit.
      {"huge.emf", EmfBuilder(U_RECTL{0, 0, 705556, 352778}).Bytes(), "0 0 14000 7000", 20000},
      {"letter.wmf", WmfBuilder(12240, 15840, 1440).Bytes(), "0 0 612 792", 0},
      {"window.wmf", window.Bytes(), "0 0 720 360", 0},
      {"nosize.wmf", WmfBuilder(0, 0, 0).Bytes(), "none", 0},
      {"empty.emf", "", "none", 0},
      {"short.emf", good.substr(0, 60), "none", 0},
      {"truncated.emf", good.substr(0, good.size() - 24), "none", 0},
      {"type.emf", wrongType, "none", 0},
      {"signature.emf", wrongSignature, "none", 0},
      {"filesize.emf", fileTooLong, nullptr, 0},
      {"text.emf", "This is a text file with an .emf name, not a metafile.", "none", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    WriteFileText(Path(row.name), row.bytes);
    if (row.rect) {
      EXPECT_EQ(row.rect, Rect(row.name));
    }
    PageRect frame{-1, -1, -1, -1};
    const bool framed = GetEMFFrameRect(Path(row.name).c_str(), &frame) == 1;
    EXPECT_EQ(row.frameRight, framed ? frame.right : 0);
  }
  PdfRectL measured{};
  ASSERT_EQ(1, pdfGetLogMetafileSizeA(pdf_, Path("letter.wmf").c_str(), &measured));
  EXPECT_EQ(612, measured.right);
  EXPECT_EQ("none", Rect("missing.emf"));
}

}  // namespace
