// The drawing records of enhanced metafiles: shapes, paths and clipping,
// text, bitmaps and regions.
#include <uemf.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "pdf/metafile/dib.h"
#include "pdf/metafile/emf_player_impl.h"
#include "pdf/metafile/record_reader.h"

namespace metafile {

void EmfPlayer::Points(const RecordReader& r, uint32_t type) {
  bool small = type >= U_EMR_POLYBEZIER16;
  uint32_t count = r.Value<uint32_t>(24);
  size_t each = small ? 4 : 8;
  if (!r.Has(28, uint64_t(count) * each)) return;
  std::vector<Point> points;
  points.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    size_t at = 28 + i * each;
    if (small) {
      points.push_back({double(r.Value<int16_t>(at)), double(r.Value<int16_t>(at + 2))});
    } else {
      points.push_back({double(r.Value<int32_t>(at)), double(r.Value<int32_t>(at + 4))});
    }
  }
  switch (small ? type - U_EMR_POLYBEZIER16 + U_EMR_POLYBEZIER : type) {
    case U_EMR_POLYBEZIER:
      Bezier(points, false);
      break;
    case U_EMR_POLYGON:
      Poly(points, true, false);
      break;
    case U_EMR_POLYLINE:
      Poly(points, false, false);
      break;
    case U_EMR_POLYBEZIERTO:
      Bezier(points, true);
      break;
    default:  // POLYLINETO
      Poly(points, false, true);
      break;
  }
}

void EmfPlayer::PolyPoints(const RecordReader& r, uint32_t type) {
  bool small = type == U_EMR_POLYPOLYLINE16 || type == U_EMR_POLYPOLYGON16;
  uint32_t polys = r.Value<uint32_t>(24), total = r.Value<uint32_t>(28);
  size_t each = small ? 4 : 8;
  uint64_t pointsAt = 32 + uint64_t(polys) * 4;
  if (!r.Has(32, uint64_t(polys) * 4) || !r.Has(pointsAt, uint64_t(total) * each)) return;
  std::vector<std::vector<Point>> all;
  uint64_t next = 0;
  for (uint32_t i = 0; i < polys; ++i) {
    uint32_t count = r.Value<uint32_t>(32 + 4 * uint64_t(i));
    if (count > total - next) return;
    std::vector<Point> points;
    for (uint32_t k = 0; k < count; ++k, ++next) {
      uint64_t at = pointsAt + next * each;
      points.push_back(small
                           ? Point{double(r.Value<int16_t>(at)), double(r.Value<int16_t>(at + 2))}
                           : Point{double(r.Value<int32_t>(at)), double(r.Value<int32_t>(at + 4))});
    }
    all.push_back(std::move(points));
  }
  PolyPoly(all, type == U_EMR_POLYPOLYGON || type == U_EMR_POLYPOLYGON16);
}

bool EmfPlayer::ShapeRecord(uint32_t type, const RecordReader& r) {
  U_RECTL box{};
  r.Get(8, &box);
  Point a{double(box.left), double(box.top)}, b{double(box.right), double(box.bottom)};
  U_POINTL p1{}, p2{};
  r.Get(24, &p1);
  r.Get(32, &p2);
  switch (type) {
    case U_EMR_POLYBEZIER:
    case U_EMR_POLYGON:
    case U_EMR_POLYLINE:
    case U_EMR_POLYBEZIERTO:
    case U_EMR_POLYLINETO:
    case U_EMR_POLYBEZIER16:
    case U_EMR_POLYGON16:
    case U_EMR_POLYLINE16:
    case U_EMR_POLYBEZIERTO16:
    case U_EMR_POLYLINETO16:
      Points(r, type);
      return true;
    case U_EMR_POLYPOLYLINE:
    case U_EMR_POLYPOLYGON:
    case U_EMR_POLYPOLYLINE16:
    case U_EMR_POLYPOLYGON16:
      PolyPoints(r, type);
      return true;
    case U_EMR_LINETO:
      LineTo({double(r.Value<int32_t>(8)), double(r.Value<int32_t>(12))});
      return true;
    case U_EMR_RECTANGLE:
      Rectangle(a, b);
      return true;
    case U_EMR_ELLIPSE:
      Ellipse(a, b);
      return true;
    case U_EMR_ROUNDRECT:
      RoundRect(a, b, p1.x, p1.y);
      return true;
    case U_EMR_ARC:
    case U_EMR_ARCTO:
    case U_EMR_CHORD:
    case U_EMR_PIE: {
      ArcKind kind = type == U_EMR_ARC     ? kArc
                     : type == U_EMR_ARCTO ? kArcTo
                     : type == U_EMR_CHORD ? kChord
                                           : kPie;
      Arc(kind, a, b, ToPoint(p1), ToPoint(p2));
      return true;
    }
    case U_EMR_SETPIXELV: {
      U_COLORREF color{};
      r.Get(16, &color);
      Point p{double(r.Value<int32_t>(8)), double(r.Value<int32_t>(12))};
      FillRectangleWith(p, {p.x + 1, p.y + 1}, ToRgb(color));
      return true;
    }
    default:
      return false;
  }
}

bool EmfPlayer::PathRecord(uint32_t type, const RecordReader& r) {
  U_RECTL box{};
  r.Get(8, &box);
  switch (type) {
    case U_EMR_BEGINPATH:
      BeginPath();
      return true;
    case U_EMR_ENDPATH:
      EndPath();
      return true;
    case U_EMR_ABORTPATH:
      AbortPath();
      return true;
    case U_EMR_CLOSEFIGURE:
      CloseFigure();
      return true;
    case U_EMR_FILLPATH:
      FillPath();
      return true;
    case U_EMR_STROKEPATH:
      StrokePath();
      return true;
    case U_EMR_STROKEANDFILLPATH:
      StrokeAndFillPath();
      return true;
    case U_EMR_SELECTCLIPPATH:
      SelectClipPath(r.Value<int32_t>(8));
      return true;
    case U_EMR_INTERSECTCLIPRECT:
      IntersectClipRect({double(box.left), double(box.top)},
                        {double(box.right), double(box.bottom)});
      return true;
    case U_EMR_EXCLUDECLIPRECT:
      ExcludeClipRect({double(box.left), double(box.top)}, {double(box.right), double(box.bottom)});
      return true;
    case U_EMR_EXTSELECTCLIPRGN:
      ClipRegion(r);
      return true;
    default:
      return false;
  }
}

namespace {

// The rectangles of region data (a RGNDATAHEADER and its rectangles) of
// cbRgnData bytes at `at`. False when they do not fit.
bool ReadRegion(const RecordReader& r, uint64_t at, uint32_t cbRgnData,
                std::vector<DeviceRect>* rects) {
  if (cbRgnData < sizeof(U_RGNDATAHEADER) || !r.Has(at, cbRgnData)) return false;
  uint32_t count = r.Value<uint32_t>(at + offsetof(U_RGNDATAHEADER, nCount));
  if (uint64_t(count) * 16 > cbRgnData - sizeof(U_RGNDATAHEADER)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    U_RECTL rect{};
    r.Get(at + sizeof(U_RGNDATAHEADER) + 16 * uint64_t(i), &rect);
    rects->push_back(
        {double(rect.left), double(rect.top), double(rect.right), double(rect.bottom)});
  }
  return true;
}

}  // namespace

void EmfPlayer::ClipRegion(const RecordReader& r) {
  uint32_t cbRgnData = r.Value<uint32_t>(8);
  std::vector<DeviceRect> rects;
  // No region data is allowed: with RGN_COPY it removes the clip.
  if (cbRgnData != 0 && !ReadRegion(r, 16, cbRgnData, &rects)) return;
  SelectClipRegion(rects, r.Value<int32_t>(12));
}

void EmfPlayer::PaintRegion(const RecordReader& r, bool withBrushObject) {
  // rclBounds, cbRgnData, [ihBrush,] region data; rectangles in logical units.
  uint32_t cbRgnData = r.Value<uint32_t>(24);
  uint64_t at = withBrushObject ? 32 : 28;
  std::vector<DeviceRect> rects;
  if (!ReadRegion(r, at, cbRgnData, &rects)) return;
  FillRegion(rects, withBrushObject ? r.Value<uint32_t>(28) : kSelectedBrush);
}

uint64_t EmfPlayer::Text(const RecordReader& r, uint64_t at, bool wide) {
  // After rclBounds, iGraphicsMode, exScale and eyScale: the EMRTEXT.
  U_EMRTEXT text{};
  if (!r.Get(at, &text)) return 0;
  uint64_t next = at + sizeof(U_EMRTEXT);
  Point box[2];
  bool hasBox = !(text.fOptions & U_ETO_NO_RECT);
  if (hasBox) {
    U_RECTL rect{};
    r.Get(next, &rect);
    box[0] = {double(rect.left), double(rect.top)};
    box[1] = {double(rect.right), double(rect.bottom)};
    next += sizeof(U_RECTL);
  }
  uint32_t offDx = r.Value<uint32_t>(next);
  next += 4;
  std::u16string chars;
  if (wide) {
    if (!r.Utf16(text.offString, text.nChars, &chars)) return 0;
  } else {
    if (!r.Has(text.offString, text.nChars)) return 0;
    // Narrow text is in the system's code page: taken as Windows-1252.
    for (uint32_t i = 0; i < text.nChars; ++i) {
      chars += static_cast<char16_t>(r.data()[text.offString + i]);
    }
  }
  std::vector<double> dx;
  if (offDx && r.Has(offDx, uint64_t(text.nChars) * 4)) {
    for (uint32_t i = 0; i < text.nChars; ++i) dx.push_back(r.Value<int32_t>(offDx + 4 * i));
  }
  TextOut(ToPoint(text.ptlReference), chars, dx, text.fOptions, hasBox ? box : nullptr);
  return next;
}

void EmfPlayer::PolyText(const RecordReader& r, bool wide) {
  // rclBounds, iGraphicsMode, exScale, eyScale, cStrings, the EMRTEXTs.
  uint32_t count = r.Value<uint32_t>(36);
  uint64_t at = 40;
  for (uint32_t i = 0; i < count && at != 0; ++i) at = Text(r, at, wide);
  if (at == 0) report()->Skip("U_EMR_POLYTEXTOUT (damaged)");
}

void EmfPlayer::SmallText(const RecordReader& r) {
  // Dest, cChars, fuOptions, iGraphicsMode, exScale, eyScale, [rclBounds,]
  // the text: bytes with ETO_SMALL_CHARS, else UTF-16.
  Point dest{double(r.Value<int32_t>(8)), double(r.Value<int32_t>(12))};
  uint32_t count = r.Value<uint32_t>(16), options = r.Value<uint32_t>(20);
  uint64_t at = 36;
  Point box[2];
  bool hasBox = !(options & U_ETO_NO_RECT);
  if (hasBox) {
    box[0] = {double(r.Value<int32_t>(at)), double(r.Value<int32_t>(at + 4))};
    box[1] = {double(r.Value<int32_t>(at + 8)), double(r.Value<int32_t>(at + 12))};
    at += 16;
  }
  std::u16string chars;
  if (options & U_ETO_SMALL_CHARS) {
    if (!r.Has(at, count)) return report()->Skip("U_EMR_SMALLTEXTOUT (damaged)");
    for (uint32_t i = 0; i < count; ++i) chars += static_cast<char16_t>(r.data()[at + i]);
  } else if (!r.Utf16(at, count, &chars)) {
    return report()->Skip("U_EMR_SMALLTEXTOUT (damaged)");
  }
  TextOut(dest, chars, {}, options, hasBox ? box : nullptr);
}

bool EmfPlayer::MoreShapeRecord(uint32_t type, const RecordReader& r) {
  switch (type) {
    case U_EMR_ANGLEARC:
      // ptlCenter, nRadius, eStartAngle, eSweepAngle.
      AngleArc({double(r.Value<int32_t>(8)), double(r.Value<int32_t>(12))}, r.Value<uint32_t>(16),
               r.Value<float>(20), r.Value<float>(24));
      return true;
    case U_EMR_POLYDRAW:
    case U_EMR_POLYDRAW16: {
      // rclBounds, cptl, the points, one type byte each.
      uint32_t count = r.Value<uint32_t>(24);
      uint64_t each = type == U_EMR_POLYDRAW16 ? 4 : 8;
      if (!r.Has(28, uint64_t(count) * (each + 1))) {
        report()->Skip(EmfRecordName(type) + " (damaged)");
        return true;
      }
      std::vector<Point> points;
      for (uint32_t i = 0; i < count; ++i) {
        uint64_t at = 28 + i * each;
        points.push_back(
            each == 4 ? Point{double(r.Value<int16_t>(at)), double(r.Value<int16_t>(at + 2))}
                      : Point{double(r.Value<int32_t>(at)), double(r.Value<int32_t>(at + 4))});
      }
      const uint8_t* types = r.data() + 28 + uint64_t(count) * each;
      PolyDraw(points, std::vector<uint8_t>(types, types + count));
      return true;
    }
    case U_EMR_FRAMERGN: {
      // rclBounds, cbRgnData, ihBrush, szlStroke, the region.
      std::vector<DeviceRect> rects;
      if (!ReadRegion(r, 40, r.Value<uint32_t>(24), &rects)) {
        report()->Skip("U_EMR_FRAMERGN (damaged)");
        return true;
      }
      FrameRegion(rects, r.Value<uint32_t>(28), r.Value<int32_t>(32), r.Value<int32_t>(36));
      return true;
    }
    default:
      return false;
  }
}

bool EmfPlayer::BitmapRecord(uint32_t type, const RecordReader& r) {
  U_POINTL dest{}, extent{};
  r.Get(24, &dest);
  switch (type) {
    case U_EMR_STRETCHDIBITS:
      r.Get(offsetof(U_EMRSTRETCHDIBITS, cDest), &extent);
      DrawDib(r, ToPoint(dest), ToPoint(extent), offsetof(U_EMRSTRETCHDIBITS, offBmiSrc));
      return true;
    case U_EMR_SETDIBITSTODEVICE:
      r.Get(offsetof(U_EMRSETDIBITSTODEVICE, cSrc), &extent);
      DrawDib(r, ToPoint(dest), ToPoint(extent), offsetof(U_EMRSETDIBITSTODEVICE, offBmiSrc));
      return true;
    case U_EMR_BITBLT:
    case U_EMR_STRETCHBLT: {
      r.Get(offsetof(U_EMRBITBLT, cDest), &extent);
      if (r.Value<uint32_t>(offsetof(U_EMRBITBLT, cbBmiSrc)) == 0) {
        BlitWithoutSource(ToPoint(dest), {double(dest.x) + extent.x, double(dest.y) + extent.y},
                          r.Value<uint32_t>(offsetof(U_EMRBITBLT, dwRop)));
        return true;
      }
      // The source fields follow the same layout in both records.
      DrawDib(r, ToPoint(dest), ToPoint(extent), offsetof(U_EMRBITBLT, offBmiSrc));
      return true;
    }
    case U_EMR_ALPHABLEND: {
      r.Get(offsetof(U_EMRALPHABLEND, cDest), &extent);
      U_BLEND blend{};
      r.Get(offsetof(U_EMRALPHABLEND, Blend), &blend);
      DrawDib(r, ToPoint(dest), ToPoint(extent), offsetof(U_EMRALPHABLEND, offBmiSrc),
              (blend.Op & U_AC_SRC_ALPHA) != 0, blend.Global);
      return true;
    }
    case U_EMR_GRADIENTFILL:
      GradientFill(r);
      return true;
    case U_EMR_FILLRGN:
    case U_EMR_PAINTRGN:
      PaintRegion(r, type == U_EMR_FILLRGN);
      return true;
    default:
      return MoreShapeRecord(type, r);
  }
}

// offBmi, cbBmi, offBits, cbBits stand one after the other at fieldsAt.
void EmfPlayer::DrawDib(const RecordReader& r, Point dest, Point extent, size_t fieldsAt,
                        bool alpha, uint8_t constantAlpha) {
  uint32_t offBmi = r.Value<uint32_t>(fieldsAt), cbBmi = r.Value<uint32_t>(fieldsAt + 4);
  uint32_t offBits = r.Value<uint32_t>(fieldsAt + 8), cbBits = r.Value<uint32_t>(fieldsAt + 12);
  if (!r.Has(offBmi, cbBmi) || !r.Has(offBits, cbBits) || cbBmi == 0) {
    report()->Skip("bitmap outside its record");
    return;
  }
  uint32_t compression = DibCompression(r.data() + offBmi, cbBmi);
  if (compression == kBiJpeg || compression == kBiPng) {
    // The rows are a whole JPEG or PNG file.
    int width = 0, height = 0;
    std::string why;
    std::string name =
        painter()->Picture(std::string(reinterpret_cast<const char*>(r.data()) + offBits, cbBits),
                           &width, &height, &why);
    if (name.empty()) {
      report()->Problem("embedded picture not drawn: " + why);
      return;
    }
    PlaceImage(dest, extent, name, constantAlpha);
    return;
  }
  RasterImage image;
  std::string why;
  if (!DecodeDib(r.data() + offBmi, cbBmi, r.data() + offBits, cbBits, &image, &why, alpha)) {
    report()->Skip("bitmap not drawn: " + why);
    return;
  }
  // AlphaBlend's constant alpha multiplies the pixels' own.
  PlaceImage(dest, extent, painter()->ImageName(image), constantAlpha);
}

namespace {

struct Vertex {
  Point p;
  double rgb[3];
};

Rgb Mix(const Vertex& a, const Vertex& b, double t) {
  auto channel = [&](int i) {
    return static_cast<uint8_t>(std::lround((a.rgb[i] + (b.rgb[i] - a.rgb[i]) * t) / 256));
  };
  return Rgb{channel(0), channel(1), channel(2)};
}

}  // namespace

// A gradient as bands of plain colour (rectangles) or as triangles of
// their corners' mean colour: close to the picture without shadings.
void EmfPlayer::GradientFill(const RecordReader& r) {
  // rclBounds, vertex count, mesh count, mode, vertices, meshes.
  uint32_t vertices = r.Value<uint32_t>(24), meshes = r.Value<uint32_t>(28);
  uint32_t mode = r.Value<uint32_t>(32);
  uint64_t meshSize = mode == U_GRADIENT_FILL_TRIANGLE ? 12 : 8;
  uint64_t meshesAt = 36 + uint64_t(vertices) * 16;
  if (mode > U_GRADIENT_FILL_TRIANGLE || !r.Has(36, uint64_t(vertices) * 16) ||
      !r.Has(meshesAt, uint64_t(meshes) * meshSize)) {
    report()->Skip("U_EMR_GRADIENTFILL (damaged)");
    return;
  }
  auto vertex = [&](uint32_t index) {
    uint64_t at = 36 + uint64_t(std::min(index, vertices - 1)) * 16;
    return Vertex{{double(r.Value<int32_t>(at)), double(r.Value<int32_t>(at + 4))},
                  {double(r.Value<uint16_t>(at + 8)), double(r.Value<uint16_t>(at + 10)),
                   double(r.Value<uint16_t>(at + 12))}};
  };
  const int kBands = 32;
  for (uint32_t m = 0; m < meshes && vertices > 0 && !painter()->Full(); ++m) {
    uint64_t at = meshesAt + m * meshSize;
    Vertex a = vertex(r.Value<uint32_t>(at)), b = vertex(r.Value<uint32_t>(at + 4));
    if (mode == U_GRADIENT_FILL_TRIANGLE) {
      Vertex c = vertex(r.Value<uint32_t>(at + 8));
      Vertex mean{{},
                  {(a.rgb[0] + b.rgb[0] + c.rgb[0]) / 3, (a.rgb[1] + b.rgb[1] + c.rgb[1]) / 3,
                   (a.rgb[2] + b.rgb[2] + c.rgb[2]) / 3}};
      FillPolygonWith({a.p, b.p, c.p}, Mix(mean, mean, 0));
      continue;
    }
    bool horizontal = mode == U_GRADIENT_FILL_RECT_H;
    for (int band = 0; band < kBands; ++band) {
      double t0 = double(band) / kBands, t1 = double(band + 1) / kBands;
      Point p0 = horizontal ? Point{a.p.x + (b.p.x - a.p.x) * t0, a.p.y}
                            : Point{a.p.x, a.p.y + (b.p.y - a.p.y) * t0};
      Point p1 = horizontal ? Point{a.p.x + (b.p.x - a.p.x) * t1, b.p.y}
                            : Point{b.p.x, a.p.y + (b.p.y - a.p.y) * t1};
      FillRectangleWith(p0, p1, Mix(a, b, (t0 + t1) / 2));
    }
  }
}

}  // namespace metafile
