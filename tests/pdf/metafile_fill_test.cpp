// Metafile pictures and fills beyond plain colours: EMF+ images (pixels and
// compressed files, objects continued over several records), Clear,
// gradient, hatch and path-gradient brushes, wrapped strings; EMF bitmaps
// run-length encoded or carrying a JPEG, hatched brushes, and the records
// AngleArc, PolyDraw, FrameRgn, SmallTextOut, PolyTextOut and clip
// combinations; the fonts text is drawn in.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "pdf/pdf_merger.h"
#include "support/install_copy.h"
#include "support/make_image.h"
#include "support/make_metafile.h"
#include "support/page_color.h"
#include "support/temp_dir.h"

namespace {

// EMF+ header (a reference device of `dpi` pixels per inch) and a page
// unit of millimetres.
std::string PlusStart(int dpi = 96) {
  return PlusHeader(dpi) + PlusRecord(0x4030, 6, FloatBytes(1));
}

struct MetafileFillTest : testing::Test {
  void SetUp() override { program.EnableLog(); }
  void MergeOne(const std::string& name, const std::string& bytes) {
    WriteFileText(program.Join(name), bytes);
    DocumentInfo options;
    std::vector<std::string> inputs{program.Join(name)};
    ASSERT_TRUE(PDFMerger(inputs, output.c_str(), options)) << Log();
  }
  // Expects the ink `expected` on the first page: entries "colour x y" or
  // "colour x y tolerance" apart by commas, x and y fractions of the page
  // from the top left ("a/b" allowed), the colour a name or "r:g:b".
  void ExpectInk(const std::string& expected) {
    const std::map<std::string, std::string> names = {
        {"white", "255:255:255"}, {"red", "255:0:0"}, {"blue", "0:0:255"},  {"green", "0:255:0"},
        {"yellow", "255:255:0"},  {"black", "0:0:0"}, {"cyan", "0:255:255"}};
    auto number = [](const std::string& text) {
      size_t slash = text.find('/');
      return std::stod(text) / (slash == std::string::npos ? 1 : std::stod(text.substr(slash + 1)));
    };
    std::istringstream entries(expected);
    for (std::string entry; std::getline(entries, entry, ',');) {
      std::istringstream in(entry);
      std::string colour, x, y;
      int tolerance = 0, want[3];
      in >> colour >> x >> y >> tolerance;
      if (names.count(colour)) colour = names.at(colour);
      ASSERT_EQ(3, std::sscanf(colour.c_str(), "%d:%d:%d", &want[0], &want[1], &want[2])) << entry;
      TestRgb seen = PageColorAt(output, 1, number(x), number(y));
      EXPECT_TRUE(std::abs(seen.r - want[0]) <= tolerance &&
                  std::abs(seen.g - want[1]) <= tolerance &&
                  std::abs(seen.b - want[2]) <= tolerance)
          << entry << ": " << int(seen.r) << "," << int(seen.g) << "," << int(seen.b);
    }
  }
  std::string Log() { return ReadFileText(program.Log()); }

  ScopedProgramFolder program;
  std::string output = program.Join("out.pdf");
};

// EMF+ images of pixels and of a compressed file continued over two
// records, over a yellow Clear.
std::string PlusImages() {
  std::string plus = PlusStart();
  plus += PlusRecord(0x4009, 0, LeBytes(0xFFFFFF00, 4));  // Clear: yellow
  // Image 1: 2 x 2 pixels of 32-bit ARGB, all red.
  std::string pixels;
  for (int i = 0; i < 4; ++i) pixels += LeBytes(0xFFFF0000, 4);
  plus += PlusRecord(0x4008, 0x0501, kPlusVersion + Le32s(1, 2, 2, 8, 0x0026200A, 0) + pixels);
  // DrawImage: the whole image onto the top-left 105 x 100 mm.
  plus += PlusRecord(0x401A, 0x0001, Le32s(0, 2) + Floats({0, 0, 2, 2, 0, 0, 105, 100}));
  // Image 2: a BMP file (blue over green) in two records, each with the
  // whole object's size first.
  std::string image =
      kPlusVersion + Le32s(1, 2, 2, 0, 0x00021808, 1) + TestBmp({0, 0, 255}, {0, 255, 0});
  std::string total = LeBytes(image.size(), 4);
  plus += PlusRecord(0x4008, 0x8502, total + image.substr(0, 30));
  plus += PlusRecord(0x4008, 0x8502, total + image.substr(30));
  // DrawImagePoints: upper-left, upper-right and lower-left corners.
  plus += PlusRecord(
      0x401B, 0x0002,
      Le32s(0, 2) + Floats({0, 0, 2, 2}) + LeBytes(3, 4) + Floats({105, 0, 210, 0, 105, 100}));
  // Only the left half of image 1 shows, on the right of the page's bottom.
  plus += PlusRecord(0x401A, 0x0001, Le32s(0, 2) + Floats({0, 0, 1, 2, 105, 200, 50, 50}));
  EmfBuilder emf(kA4);
  return emf.Plus(plus).Bytes();
}

// StretchDIBits of a header and rows onto a logical rectangle.
std::string StretchDib(U_RECTL dest, int width, int height, const std::string& info,
                       std::string bits) {
  while (bits.size() % 4) bits += '\0';
  uint32_t offBmi = 80, offBits = 80 + static_cast<uint32_t>(info.size());
  std::string body =
      Le32s(0, 0, 0, 0, dest.left, dest.top, 0, 0, width, height, offBmi, info.size(), offBits,
            bits.size(), 0, 0x00CC0020, dest.right - dest.left, dest.bottom - dest.top);
  return body + info + bits;
}

// Bitmaps run-length encoded (RLE8, 4 x 2: the bottom row red, the top
// blue) and carrying a JPEG (all green); a hatched brush over yellow; a
// thick red PolyDraw line along y = 1600 and an AngleArc from its end, half
// a circle around (1550, 2000); a blue FrameRgn; SmallTextOut, PolyTextOutW.
std::string GdiRecords(const std::string& jpegPath) {
  EmfBuilder emf(kA4);
  std::string palette = Le32s(0xFF0000, 0x0000FF);  // red, blue as BGR0
  std::string rle = std::string("\x04\x00\x00\x00\x04\x01\x00\x01", 8);
  emf.Raw(U_EMR_STRETCHDIBITS,
          StretchDib({0, 0, 1050, 742}, 4, 2, DibHeader(4, 2, 8, 1, 2, rle.size()) + palette, rle));
  if (!WriteFlatJpeg(jpegPath, 8, 8, JCS_RGB, {0, 255, 0})) return "";
  std::string jpeg = ReadFileText(jpegPath);
  emf.Raw(U_EMR_STRETCHDIBITS,
          StretchDib({1050, 0, 2100, 742}, 8, 8, DibHeader(8, 8, 0, 4, 0, jpeg.size()), jpeg));
  emf.Add(U_EMRSETBKCOLOR_set(colorref_set(255, 255, 0)));
  emf.Add(U_EMRCREATEBRUSHINDIRECT_set(
      5, logbrush_set(U_BS_HATCHED, colorref_set(0, 0, 0), U_HS_CROSS)));
  emf.Add(U_EMRSELECTOBJECT_set(5)).Add(U_EMRSELECTOBJECT_set(U_NULL_PEN | 0x80000000u));
  emf.Add(U_EMRRECTANGLE_set(U_RECTL{0, 900, 1000, 1400}));
  emf.Pen(6, U_PS_SOLID | U_PS_GEOMETRIC, 40, 255, 0, 0);
  emf.Raw(U_EMR_POLYDRAW,
          Le32s(0, 0, 0, 0, 2, 1100, 1600, 2000, 1600) + std::string("\x06\x02\0\0", 4));
  emf.Raw(U_EMR_ANGLEARC, Le32s(1550, 2000, 300) + FloatBytes(0) + FloatBytes(180));
  emf.Add(U_EMRCREATEBRUSHINDIRECT_set(7, logbrush_set(U_BS_SOLID, colorref_set(0, 0, 255), 0)));
  std::string region = Le32s(32, 1, 1, 16, 0, 0, 0, 0, 100, 2300, 1000, 2900);
  emf.Raw(U_EMR_FRAMERGN, Le32s(0, 0, 0, 0, region.size(), 7, 60, 60) + region);
  emf.Font(8, -80, "Arial").Add(U_EMRSETBKMODE_set(U_TRANSPARENT));
  std::string small = "small text";
  emf.Raw(U_EMR_SMALLTEXTOUT,
          Le32s(1200, 2400, small.size(), U_ETO_NO_RECT | U_ETO_SMALL_CHARS, 1) + FloatBytes(1) +
              FloatBytes(1) + small + std::string(2, '\0'));
  std::string wide = std::string("p\0o\0l\0y\0", 8);
  emf.Raw(U_EMR_POLYTEXTOUTW, Le32s(0, 0, 0, 0, 1) + FloatBytes(1) + FloatBytes(1) +
                                  Le32s(1, 1200, 2700, 4, 64, U_ETO_NO_RECT, 0) + wide);
  return emf.Bytes();
}

// One small picture a row: the ink expected on the page (ExpectInk), a
// text the page holds, and what the file's "not drawn" log line says (none:
// no line).
struct PictureRow {
  const char* name;
  std::function<std::string()> bytes;
  std::string ink, text = "", notDrawn = "";
};

std::string Blits() {
  EmfBuilder emf(kA4);
  emf.Brush(1, 255, 0, 0).Pen(2, U_PS_NULL, 0, 0, 0, 0);
  emf.Add(U_EMRRECTANGLE_set(U_RECTL{0, 0, 2100, 2970}));
  emf.Font(3, -100, "Arial").Text(100, 1400, "under the blit");
  auto blit = [&](U_RECTL r, uint32_t rop) {
    emf.Add(U_EMRBITBLT_set(U_RCL_DEF, point_set(r.left, r.top),
                            point_set(r.right - r.left, r.bottom - r.top), point_set(0, 0),
                            xform_set(1, 0, 0, 1, 0, 0), colorref_set(0, 0, 0), U_DIB_RGB_COLORS,
                            rop, nullptr, 0, nullptr));
  };
  blit({0, 0, 2100, 2970}, 0x00AA0029);  // leaves the page as it is
  emf.Brush(4, 0, 0, 255);
  blit({0, 0, 900, 1300}, U_PATCOPY);
  blit({1200, 0, 2100, 1300}, U_BLACKNESS);
  blit({0, 1600, 900, 2970}, U_WHITENESS);
  blit({1200, 1600, 2100, 2970}, U_DSTINVERT);
  blit({0, 0, 2100, 2970}, U_PATINVERT);
  return emf.Bytes();
}

std::string WindowsBlits() {
  WmfBuilder wmf(1000, 1000, 1000);
  wmf.Add(U_WMRCREATEBRUSHINDIRECT_set(U_WLOGBRUSH_set(U_BS_SOLID, colorref_set(255, 0, 0), 0)));
  wmf.Add(U_WMRSELECTOBJECT_set(0));
  wmf.Add(U_WMRCREATEPENINDIRECT_set(U_PEN_set(U_PS_NULL, 0, colorref_set(0, 0, 0))));
  wmf.Add(U_WMRSELECTOBJECT_set(1));
  wmf.Add(U_WMRRECTANGLE_set(U_RECT16_set(point16_set(0, 0), point16_set(1000, 1000))));
  wmf.Add(U_WMRPATBLT_set(point16_set(0, 0), point16_set(1000, 1000), 0x00AA0029));
  wmf.Add(U_WMRDIBBITBLT_set(point16_set(0, 0), point16_set(500, 1000), point16_set(0, 0),
                             U_DSTINVERT, nullptr, 0, nullptr));
  return wmf.Bytes();
}

// EMF+ clips by region objects of rectangles, paths, empty and infinite
// regions, after a clip that alone would hide nearly everything.
std::string PlusRegions() {
  auto rect = [](float x, float y, float w, float h) {
    return LeBytes(0x10000000, 4) + Floats({x, y, w, h});
  };
  std::string path = kPlusVersion + Le32s(4, 0) + Floats({105, 200, 210, 200, 210, 297, 105, 297}) +
                     LeBytes(0x81010100, 4);
  std::string plus = PlusStart() + PlusRecord(0x4032, 0x0100, Floats({0, 0, 10, 10}));
  auto clip = [&](int mode, const std::string& nodes) {
    plus += PlusRecord(0x4008, 0x0401, kPlusVersion + LeBytes(0, 4) + nodes) +
            PlusRecord(0x4034, static_cast<uint16_t>(mode << 8 | 1), "");
  };
  auto fill = [&](uint32_t argb) {
    plus += PlusRecord(0x400A, 0x8000, Le32s(argb, 1) + Floats({0, 0, 210, 297}));
  };
  clip(0, Le32s(4, 0x10000003) + rect(0, 0, 105, 148.5));  // all but top left
  fill(0xFF00FF00);
  // (top left or the path's bottom right) XOR the top band
  clip(0, LeBytes(2, 4) + rect(0, 0, 105, 148.5) + Le32s(0x10000001, path.size()) + path);
  clip(3, rect(0, 0, 210, 100));
  fill(0xFF0000FF);
  clip(0, LeBytes(0x10000002, 4));
  fill(0xFFFF0000);
  EmfBuilder emf(kA4);
  return emf.Plus(plus).Bytes();
}

// Translucent EMF+ colours and gradients over a red page.
std::string PlusAlpha() {
  std::string plus = PlusStart();
  auto fill = [&](uint16_t flags, uint32_t brush, std::initializer_list<float> rect) {
    plus += PlusRecord(0x400A, flags, Le32s(brush, 1) + Floats(rect));
  };
  fill(0x8000, 0xFFFF0000, {0, 0, 210, 297});
  fill(0x8000, 0x800000FF, {0, 0, 105, 100});
  // Blue fading out to the right; green fading out to a rectangle's edge.
  plus += PlusRecord(0x4008, 0x0101,
                     kPlusVersion + Le32s(4, 0, 0) + Floats({105, 0, 105, 100}) +
                         Le32s(0xFF0000FF, 0x000000FF, 0, 0));
  fill(1, 1, {105, 0, 105, 100});
  plus +=
      PlusRecord(0x4008, 0x0102,
                 kPlusVersion + Le32s(3, 0, 0, 0xFF00FF00) + Floats({155, 200}) +
                     Le32s(1, 0x0000FF00, 4) + Floats({110, 150, 200, 150, 200, 250, 110, 250}));
  fill(2, 2, {110, 150, 90, 100});
  EmfBuilder emf(kA4);
  return emf.Plus(plus).Bytes();
}

// A map mode with y upwards, a world transform and a clip rectangle.
std::string MapModes() {
  EmfBuilder emf(kA4);
  emf.Pen(1, U_PS_NULL, 0, 0, 0, 0).Brush(2, 255, 0, 0);
  // MM_LOMETRIC: 0.1 mm units, y upwards; the window origin at the page's
  // top edge. A rectangle from 50 mm to 100 mm in both axes.
  emf.Add(U_EMRSAVEDC_set()).Add(U_EMRSETMAPMODE_set(U_MM_LOMETRIC));
  emf.Add(U_EMRSETWINDOWORGEX_set(point_set(0, 0)));
  emf.Add(U_EMRRECTANGLE_set(U_RECTL{500, -500, 1000, -1000}));
  // MM_TWIPS (1/1440 inch): the same square 100 mm further right.
  emf.Add(U_EMRSETMAPMODE_set(U_MM_TWIPS));
  emf.Add(U_EMRRECTANGLE_set(U_RECTL{8504, -2835, 11339, -5669})).Add(U_EMRRESTOREDC_set(-1));
  // Moved 1050 device pixels to the right; then a clip that lets only the
  // right half of a full-width fill through.
  emf.Add(U_EMRSETWORLDTRANSFORM_set(U_XFORM{1, 0, 0, 1, 1050, 0}));
  emf.Brush(3, 0, 0, 255).Add(U_EMRRECTANGLE_set(U_RECTL{0, 2000, 100, 2100}));
  emf.Add(U_EMRSETWORLDTRANSFORM_set(U_XFORM{1, 0, 0, 1, 0, 0}));
  emf.Add(U_EMRINTERSECTCLIPRECT_set(U_RECTL{1050, 2500, 2100, 2970}));
  emf.Brush(4, 0, 255, 0).Add(U_EMRRECTANGLE_set(U_RECTL{0, 2500, 2100, 2970}));
  return emf.Bytes();
}

// Clip regions: the left half XOR the top half, less a band at the bottom.
std::string ClipRegions() {
  EmfBuilder emf(kA4);
  auto clip = [&](U_RECTL r, uint32_t mode) {
    U_RECTL rects[] = {r};
    PU_RGNDATA region = rgndata_set(rgndataheader_set(1, r), rects);
    emf.Add(U_EMREXTSELECTCLIPRGN_set(mode, region));
    std::free(region);
  };
  clip({0, 0, 1050, 2970}, U_RGN_COPY);
  clip({0, 0, 2100, 1485}, U_RGN_XOR);
  clip({0, 2500, 2100, 2970}, U_RGN_DIFF);
  emf.Brush(1, 0, 255, 0).Pen(2, U_PS_NULL, 0, 0, 0, 0);
  return emf.Add(U_EMRRECTANGLE_set(U_RECTL{0, 0, 2100, 2970})).Bytes();
}

// A region filled red, and a bitmap of premultiplied alpha 128 blended at
// half strength over its top-left part: a quarter blue where it lies.
std::string RegionAndAlphaBlend() {
  EmfBuilder emf(kA4);
  emf.Brush(1, 255, 0, 0);
  U_RECTL rects[] = {{0, 0, 1050, 742}, {0, 2227, 2100, 2970}};
  PU_RGNDATA region = rgndata_set(rgndataheader_set(2, U_RECTL{0, 0, 2100, 2970}), rects);
  emf.Add(U_EMRFILLRGN_set(U_RCL_DEF, 1, region));
  std::free(region);
  U_BITMAPINFOHEADER bih = bitmapinfoheader_set(2, 2, 1, 32, U_BI_RGB, 0, 0, 0, 0, 0);
  PU_BITMAPINFO bmi = bitmapinfo_set(bih, nullptr);
  std::string px;
  for (int i = 0; i < 4; ++i) px += std::string("\x80\x00\x00\x80", 4);
  emf.Add(U_EMRALPHABLEND_set(U_RCL_DEF, point_set(0, 0), point_set(525, 742), point_set(0, 0),
                              point_set(2, 2), xform_set(1, 0, 0, 1, 0, 0), colorref_set(0, 0, 0),
                              U_DIB_RGB_COLORS, U_BLEND{0, 0, 128, U_AC_SRC_ALPHA}, bmi,
                              static_cast<uint32_t>(px.size()), &px[0]));
  std::free(bmi);
  return emf.Bytes();
}

const std::string kArial = std::string("A\0r\0i\0a\0l\0\0\0", 12);

// EMF+ brushes: linear gradient, hatch (10 pixels per inch: a cell of 8
// pixels is 20 mm wide) and path gradient; a string wrapped in its box.
std::string PlusBrushes() {
  std::string plus = PlusStart(10);
  auto brush = [&](int id, uint32_t type, const std::string& data) {
    plus += PlusRecord(0x4008, static_cast<uint16_t>(0x0100 | id),
                       kPlusVersion + LeBytes(type, 4) + data);
  };
  auto fill = [&](int id, std::initializer_list<float> rect) {
    plus += PlusRecord(0x400A, 0, Le32s(id, 1) + Floats(rect));
  };
  // Linear: red to blue across the page, over its top band.
  brush(1, 4, LeBytes(0, 8) + Floats({0, 0, 210, 40}) + Le32s(0xFFFF0000, 0xFF0000FF, 0, 0));
  fill(1, {0, 0, 210, 40});
  // Hatch: a black diagonal cross over green, on the left.
  brush(2, 1, Le32s(5, 0xFF000000, 0xFF00FF00));
  fill(2, {0, 60, 100, 60});
  // Path gradient: white in the centre of a rectangle, blue at its edge.
  brush(3, 3,
        Le32s(0, 0, 0xFFFFFFFF) + Floats({155, 90}) + Le32s(1, 0xFF0000FF, 4) +
            Floats({110, 60, 200, 60, 200, 120, 110, 120}));
  fill(3, {110, 60, 90, 60});
  // A string in a 40 mm wide box: wrapped onto lines.
  plus += PlusRecord(0x4008, 0x0601, kPlusVersion + FloatBytes(5) + Le32s(6, 0, 0, 5) + kArial);
  std::string words = "alpha beta gamma delta epsilon", text;
  for (char c : words) text += std::string{c, '\0'};
  plus += PlusRecord(0x401C, 0x8001,
                     Le32s(0xFF000000, 0, words.size()) + Floats({20, 200, 40, 60}) + text);
  return EmfBuilder(kA4).Plus(plus).Bytes();
}

// EMF+ records drawn; the plain records after them (a blue page) are the
// fallback and not drawn.
std::string PlusOnly() {
  std::string plus =
      PlusStart() + PlusRecord(0x400A, 0x8000, Le32s(0xFFFF0000, 1) + Floats({0, 0, 105, 148.5}));
  plus += PlusRecord(0x4008, 0x0601, kPlusVersion + FloatBytes(5) + Le32s(6, 0, 0, 5) + kArial);
  std::string text = std::string("P\0l\0u\0s\0 \0t\0e\0x\0t\0", 18);
  plus += PlusRecord(0x401C, 0x8001, Le32s(0xFF000000, 0, 9) + Floats({20, 200, 100, 20}) + text);
  EmfBuilder emf(kA4);
  emf.Plus(plus + PlusRecord(0x4002, 0, ""));
  return emf.Brush(1, 0, 0, 255).Add(U_EMRRECTANGLE_set(U_RECTL{0, 0, 2100, 2970})).Bytes();
}

// A GDI gradient, then EMF+: a green quarter pie around (105, 150) mm from
// 0 to 90 degrees (towards the bottom right) and a driver string.
std::string GradientPieAndDriverString() {
  EmfBuilder emf(kA4);
  U_TRIVERTEX corners[] = {{0, 0, 0xFF00, 0, 0, 0}, {2100, 742, 0, 0, 0xFF00, 0}};
  U_GRADIENT4 rect{0, 1};
  emf.Add(U_EMRGRADIENTFILL_set(U_RCL_DEF, 2, 1, U_GRADIENT_FILL_RECT_H, corners,
                                reinterpret_cast<uint32_t*>(&rect)));
  std::string plus =
      PlusStart() +
      PlusRecord(0x4010, 0x8000, LeBytes(0xFF00FF00, 4) + Floats({0, 90, 55, 100, 100, 100}));
  plus += PlusRecord(0x4008, 0x0601, kPlusVersion + FloatBytes(6) + Le32s(6, 0, 0, 5) + kArial);
  // Unicode glyphs (a cmap lookup) placed 3.5 mm apart.
  std::string glyphs = std::string("D\0r\0i\0v\0e\0r\0", 12), positions;
  for (int i = 0; i < 6; ++i) positions += Floats({20 + 3.5f * i, 280});
  plus += PlusRecord(0x4036, 0x8001, Le32s(0xFF000000, 1, 0, 6) + glyphs + positions);
  return emf.Plus(plus).Bytes();
}

// 8 x 4 inches at 1440 units per inch, the left half red.
std::string PlaceableWindowsMetafile() {
  WmfBuilder wmf(11520, 5760, 1440);
  wmf.Add(U_WMRCREATEBRUSHINDIRECT_set(U_WLOGBRUSH_set(U_BS_SOLID, colorref_set(255, 0, 0), 0)));
  wmf.Add(U_WMRSELECTOBJECT_set(0));
  wmf.Add(U_WMRCREATEPENINDIRECT_set(U_PEN_set(U_PS_NULL, 0, colorref_set(0, 0, 0))));
  wmf.Add(U_WMRSELECTOBJECT_set(1));
  wmf.Add(U_WMRRECTANGLE_set(U_RECT16_set(point16_set(0, 0), point16_set(5760, 2880))));
  wmf.Add(U_WMRSETBKMODE_set(U_TRANSPARENT));
  char text[] = "Windows text";
  return wmf.Add(U_WMRTEXTOUT_set(point16_set(6000, 4000), text)).Bytes();
}

// Shapes, a bitmap and text of plain GDI records.
std::string GdiBasics() {
  EmfBuilder emf(kA4);
  emf.Brush(1, 255, 0, 0).Pen(2, U_PS_NULL, 0, 0, 0, 0);
  emf.Add(U_EMRRECTANGLE_set(U_RECTL{0, 0, 1050, 742}));  // top-left quarter red
  emf.Brush(3, 0, 0, 255);
  emf.Add(U_EMRELLIPSE_set(U_RECTL{1050, 0, 2100, 1485}));  // top-right blue ellipse
  emf.Bitmap(U_RECTL{0, 1485, 1050, 2970}, colorref_set(0, 255, 0), colorref_set(255, 255, 0));
  emf.Add(U_EMRSETBKMODE_set(U_TRANSPARENT));
  return emf.Font(4, -100, "Arial").Text(1200, 2000, "Hello metafile").Bytes();
}

// An EMF+ image object of a metafile (type 3 EMF, 2 placeable WMF) and a
// DrawImage of its source rectangle (image pixels) onto a destination (mm).
std::string PlusPicture(uint32_t type, const std::string& file,
                        std::initializer_list<float> rects) {
  return PlusRecord(0x4008, 0x0501, kPlusVersion + Le32s(2, type, file.size()) + file) +
         PlusRecord(0x401A, 1, Le32s(0, 2) + Floats(rects));
}

// An A4 EMF+ file; with dual, plain records after the comment (the left
// half blue) and after a further comment (all yellow).
std::string PlusFile(const std::string& plus, bool dual = false) {
  EmfBuilder emf(kA4);
  emf.Plus(PlusStart() + plus);
  if (!dual) return emf.Bytes();
  emf.Pen(2, U_PS_NULL, 0, 0, 0, 0).Brush(1, 0, 0, 255);
  emf.Add(U_EMRRECTANGLE_set(U_RECTL{0, 0, 1050, 2970})).Plus(PlusRecord(0x4002, 0, ""));
  return emf.Brush(3, 255, 255, 0).Add(U_EMRRECTANGLE_set(U_RECTL{0, 0, 2100, 2970})).Bytes();
}

// A red page inside five EMF+ files, each drawing the one before over its
// whole frame; the first of them has plain records as the fallback.
std::string NestedTooDeep() {
  EmfBuilder red(kA4);
  std::string file = red.Brush(1, 255, 0, 0).Add(U_EMRRECTANGLE_set(kA4)).Bytes();
  for (int i = 0; i < 5; ++i) {
    file = PlusFile(PlusPicture(3, file, {0, 0, 2100, 2970, 0, 0, 210, 297}), i == 0);
  }
  return file;
}

TEST_F(MetafileFillTest, PicturesShowTheirInkAndText) {
  // Text beyond Windows-1252, large at the top left: the left stem of the
  // leftmost letter is ink, `space` inside or after it is not (Hebrew reads
  // from the right: its final mem stands at the left).
  auto bigText = [&](const char* name, const char* face, const char* utf8, double space,
                     const char* shown = nullptr, const char* lost = "") {
    auto bytes = [=] { return EmfBuilder(kA4).Font(4, -400, face).Text(100, 100, utf8).Bytes(); };
    std::string ink = std::string(shown && !*shown ? "white" : "black") + " .065 .105, white " +
                      std::to_string(space) + " .105";  // none shown: no ink
    return PictureRow{name, bytes, ink, shown ? shown : utf8, lost};
  };
  const PictureRow rows[] = {
      // .52 .02 is outside the ellipse's curve; green and yellow the bitmap's rows.
      {"gdi.emf", GdiBasics,
       "red .1 .1, white .1 .3, blue .75 .25, white .52 .02, green .25 .6, yellow .25 .9",
       "Hello metafile"},
      // The last: clipped to the destination.
      {"images.emf", PlusImages,
       "red .25 .15, blue .75 .08, green .75 .25, yellow .25 .6, red 125/210 220/297, "
       "yellow 165/210 220/297"},
      {"blits.emf", Blits, "red .5 .5, blue .2 .2, black .8 .2, white .2 .8, cyan .8 .8",
       "under the blit", "raster operation 0x005A0049 without a bitmap x1"},
      {"blits.wmf", WindowsBlits, "cyan .25 .5, red .75 .5"},
      {"alpha.emf", PlusAlpha,
       "127:0:128 .25 .15 3, blue .52 .15 16, red .97 .15 16, green 155/210 200/297 12, "
       "red 111/210 151/297 12"},
      {"regions.emf", PlusRegions,
       "white .25 .2, blue .25 .42, blue .75 .2, green .75 .42, blue .75 .85, green .25 .85"},
      {"map.emf", MapModes,
       "red 75/210 75/297, red 175/210 75/297, white 40/210 75/297, blue 1100/2100 2050/2970, "
       "white 50/2100 2050/2970, green .75 .9, white .25 .9"},
      {"clip.emf", ClipRegions,
       "white .25 .25, green .75 .25, green .25 .7, white .75 .7, white .25 .95"},
      {"region.emf", RegionAndAlphaBlend,
       "191:0:64 .1 .1 3, red .4 .1, white .75 .1, white .5 .5, red .75 .9"},
      {"plus.emf", PlusOnly, "red .2 .2, white .8 .8", "Plus text"},
      {"more.emf", GradientPieAndDriverString,
       "red .03 .1 35, blue .97 .1 35, green 120/210 170/297, white 90/210 130/297, "
       "white 120/210 130/297",
       "Driver"},
      // The hatch: its ground and a line of it.
      {"brushes.emf", PlusBrushes,
       "red .03 .05 35, blue .97 .05 35, green .08 .247, black .30 .346 30, "
       "white 155/210 90/297 25, blue 112/210 62/297 25",
       "beta\ngamma"},
      // The hatch smoothed over yellow; then the line, the arc's highest point.
      {"records.emf", [this] { return GdiRecords(program.Join("g.jpg")); },
       "blue .25 .05, red .25 .2, green .75 .12 12, 223:223:0 .03 .31 40, "
       "129:129:0 .08 .3287 40, red 1550/2100 1600/2970, red 1550/2100 1700/2970, "
       "white 1550/2100 2000/2970, blue 130/2100 2600/2970, white 550/2100 2600/2970",
       "small text\n\npoly"},
      {"a.wmf", PlaceableWindowsMetafile, "red .25 .25, white .75 .25", "Windows text"},
      // Whole onto the bottom right, its left half onto the bottom left.
      {"nested.emf",
       [] {
         return PlusFile(PlusPicture(3, GdiBasics(), {0, 0, 2100, 2970, 105, 148.5, 105, 148.5}) +
                         PlusPicture(3, GdiBasics(), {0, 0, 1050, 2970, 0, 148.5, 105, 148.5}));
       },
       "red .55 .55, white .55 .65, blue .875 .625, green .625 .8, red .1 .55, white .4 .65, "
       "green .25 .8, white .25 .25",
       "Hello metafile"},
      {"nested-wmf.emf",
       [] {
         return PlusFile(
             PlusPicture(2, PlaceableWindowsMetafile(), {0, 0, 11520, 5760, 0, 0, 210, 105}));
       },
       "red .25 .09, white .75 .09, white .25 .5", "Windows text"},
      {"deep.emf", NestedTooDeep, "blue .25 .5, white .75 .5", "",
       "EMF+ metafile image nested more than 4 deep x1"},
      {"damaged.emf",
       [] {
         return PlusFile(PlusPicture(3, GdiBasics().substr(0, 60), {0, 0, 1, 1, 0, 0, 210, 297}),
                         true);
       },
       "blue .25 .5, white .75 .5", "",
       "EMF+ image: metafile image not drawn: neither an enhanced nor a Windows metafile x1"},
      {"skip.emf",
       [] {
         EmfBuilder emf(kA4);
         for (int i = 0; i < 3; ++i) emf.Raw(U_EMR_PLGBLT, std::string(20, '\0'));
         emf.Raw(U_EMR_MASKBLT, std::string(20, '\0'));
         return emf.Font(1, -100, "Arial").Text(100, 100, "still drawn").Bytes();
       },
       "", "still drawn", "U_EMR_MASKBLT (damaged) x1, U_EMR_PLGBLT (damaged) x3"},
      bigText("greek.emf", "Arial", "Καλημέρα", 0.145),
      bigText("cyrillic.emf", "Times New Roman", "Привет", 0.105),
      bigText("hebrew.emf", "Courier New", "שלום", 0.085),
      // Symbol fonts code pictures: Wingdings' "n", "J", "Q" are a black square,
      // a smiling face, a plane; its 0xFF (a logo) and Marlett have no character.
      bigText("wingdings.emf", "Wingdings", "nJ\uF051\u00FF", 0.2, "◼☺✈",
              "codes of the symbol font \"Wingdings\" without a Unicode character x1"),
      bigText("symbol.emf", "Symbol", "Gp\uF061", 0.2, "Γπα"),
      bigText("marlett.emf", "Marlett", "nnn", 0.1, "", "text in the symbol font \"Marlett\" x1"),
  };
  for (const PictureRow& row : rows) {
    SCOPED_TRACE(row.name);
    std::remove(output.c_str());
    MergeOne(row.name, row.bytes());
    ExpectInk(row.ink);
    EXPECT_TRUE(row.text.empty() || Has(PdfPageTexts(output).at(0), row.text));
    const std::string head = "\"" + program.Join(row.name) + "\": not drawn: ", log = Log();
    const size_t line = log.find(head), from = line + head.size();
    EXPECT_EQ(row.notDrawn,
              line == std::string::npos ? "" : log.substr(from, log.find('\n', line) - from));
    EXPECT_EQ(std::string::npos, log.find(head, line + 1)) << "one line a file";
  }
}

// Font requests choose the standard families; text beyond Windows-1252 is
// an embedded subset (here of the serif italic font, for Greek).
TEST_F(MetafileFillTest, FontRequestsChooseStandardFamilies) {
  EmfBuilder emf(kA4);
  emf.Font(1, -80, "Times New Roman", 700).Text(100, 100, "Serif bold");
  emf.Font(2, -80, "Courier New", 400, true).Text(100, 300, "Mono italic");
  emf.Font(3, -80, "Verdana").Text(100, 500, "Sans \xc3\xa9t\xc3\xa9");       // UTF-8 "été"
  emf.Font(4, -80, "Georgia", 400, true).Text(100, 700, "\xce\xb1\xce\xb2");  // Greek, italic
  MergeOne("fonts.emf", emf.Bytes());
  const std::string fonts = RunProgram("/usr/bin/pdffonts", {output}).stdoutText;
  for (const char* font : {"Times-Bold ", "Courier-Oblique ", "Helvetica ", "DejaVuSerif-Italic"})
    EXPECT_TRUE(Has(fonts, font)) << font << " in " << fonts;
  // Beyond ASCII through WinAnsi (the pictures' rows read the rest back).
  EXPECT_TRUE(Has(PdfPageTexts(output).at(0), "Sans \xc3\xa9t\xc3\xa9"));
}

}  // namespace
