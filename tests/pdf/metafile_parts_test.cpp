// The metafile translator's parts on their own: font choice and text
// encoding, bitmap decoding, and the page size a metafile gives.
#include <gtest/gtest.h>

#include <string>

#include "pdf/metafile/dib.h"
#include "pdf/metafile/standard_fonts.h"
#include "pdf/page_geometry.h"
#include "pdf/pdf_library.h"
#include "support/make_image.h"
#include "support/make_metafile.h"
#include "support/temp_dir.h"

namespace {

using metafile::RasterImage;

TEST(StandardFontsTest, FaceWeightAndItalicChooseTheFontOfWinAnsiWidths) {
  const std::pair<metafile::FontRequest, const char*> cases[] = {
      {{"Arial", 400, false, 0}, "Helvetica"},
      {{"Segoe UI", 700, true, 0}, "Helvetica-BoldOblique"},
      {{"Times New Roman", 400, true, 0}, "Times-Italic"},
      {{"Georgia", 800, false, 0}, "Times-Bold"},
      {{"Microsoft Sans Serif", 400, false, 0}, "Helvetica"},
      {{"Courier New", 700, false, 0}, "Courier-Bold"},
      {{"Consolas", 400, false, 0}, "Courier"},
      {{"Some Font", 400, false, 1}, "Courier"},  // FIXED_PITCH
      {{"", 400, false, 0x12}, "Times-Roman"},    // FF_ROMAN
      {{"", 400, false, 0x22}, "Helvetica"}};     // FF_SWISS
  for (const auto& c : cases) {
    EXPECT_EQ(c.second, metafile::ChooseStandardFont(c.first)) << c.first.face;
  }
  // Text becomes WinAnsi and has the fonts' widths.
  std::u16string text = u"a\u00e9\u20ac\u2013\u03a9\u0001z";
  EXPECT_EQ(std::string("a\xe9\x80\x96?z"), metafile::Utf16ToWinAnsi(text));
  // H e l l o in Helvetica: 722 + 556 + 222 + 222 + 556.
  EXPECT_EQ(2278, metafile::StandardTextWidth("Helvetica", "Hello"));
}

// The decoded pixels, top row first, and "|" and the alpha when there is
// one; or "error: " and why the bitmap was refused.
std::string Decode(const std::string& header, const std::string& rows, bool alpha = false) {
  RasterImage image;
  std::string error;
  bool ok = metafile::DecodeDib(reinterpret_cast<const uint8_t*>(header.data()), header.size(),
                                reinterpret_cast<const uint8_t*>(rows.data()), rows.size(), &image,
                                &error, alpha);
  return ok ? image.rgb + (image.alpha.empty() ? "" : "|" + image.alpha) : "error: " + error;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

TEST(DibTest, EachDepthAndRunLengthDecodesTopRowFirst) {
  const std::string blueGreen = Le32s(0x0000FF, 0x00FF00);     // BGR0
  const std::string three = LeBytes(0xFF0000, 4) + blueGreen;  // red, blue, green
  const std::string masks = Le32s(0xFF, 0xFF00, 0xFF000000);
  const std::string R = Bytes({255, 0, 0}), G = Bytes({0, 255, 0}), B = Bytes({0, 0, 255});
  const struct {
    const char* name;
    std::string header, rows;
    std::string decoded;
    bool alpha = false;
  } rows[] = {
      {"1 bit, bottom-up", DibHeader(2, 2, 1) + blueGreen, Le32s(0x40, 0x80), G + B + B + G},
      {"4 bits, three colours, top-down", DibHeader(2, -1, 4, 0, 3) + three, LeBytes(0x12, 4),
       B + G},
      {"16 bits 5-5-5", DibHeader(1, 1, 16), LeBytes(0x7C00, 4), R},
      {"32 bits with bit fields", DibHeader(1, 1, 32, 3) + masks, LeBytes(0xFF0000FF, 4),
       Bytes({255, 0, 255})},
      // Bottom row: one pixel, end of line (the rest stays colour 0); top
      // row: two from the left edge.
      {"RLE8 end of line", DibHeader(2, 2, 8, 1, 3) + three, Bytes({1, 1, 0, 0, 2, 2, 0, 1}),
       G + G + B + R},
      {"RLE4 high nibble first", DibHeader(3, 1, 4, 2, 3) + three, Bytes({3, 0x12, 0, 1}),
       B + G + B},
      // Bottom row half-covered red (premultiplied), top row opaque blue.
      {"32 bits premultiplied alpha, bottom-up", DibHeader(1, 2, 32),
       Bytes({0, 0, 0x40, 0x80, 0xFF, 0, 0, 0xFF}),
       B + Bytes({127, 0, 0}) + "|" + Bytes({255, 128}), true},
      {"rows cut short", DibHeader(4, 4, 24), std::string(47, 'x'),
       "error: bitmap rows are cut short"},
      {"colour table cut short", DibHeader(2, 2, 8) + std::string(8, '\0'), "",
       "error: bitmap colour table is cut short"},
      {"huge", DibHeader(100000, 100000, 24), "",
       "error: bitmap size 100000 x 100000 is out of range"},
      {"RLE8 of 24 bits", DibHeader(2, 2, 24, 1), "", "error: unsupported bitmap compression 1"},
      {"7 bits", DibHeader(2, 2, 7), "", "error: unsupported bitmap depth 7"},
      {"short header", "abc", "", "error: bitmap header is cut short"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.decoded, Decode(row.header, row.rows, row.alpha));
  }
}

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
