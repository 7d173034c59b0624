#include "pdf/metafile/wmf_player.h"

#include <uwmf.h>

#include <cmath>
#include <memory>
#include <set>

#include "pdf/metafile/dib.h"
#include "pdf/metafile/record_reader.h"

namespace metafile {

namespace {

const uint32_t kPlaceableKey = 0x9AC6CDD7;
const size_t kPlaceableSize = 22, kHeaderSize = 18;
// Records start with their size in 16-bit words and their function.
const size_t kParams = 6;

std::string RecordName(uint16_t function) {
  return std::string(U_wmr_names(function & 0xFF)) + " (0x" + [&] {
    char hex[8];
    std::snprintf(hex, sizeof(hex), "%04X", function);
    return std::string(hex);
  }() + ")";
}

// Walks the records from `at`; calls visit(function, record) for each
// until it returns false or EOF. False when a record's size points past
// the end of the data or is too small to hold its own head.
template <typename Visit>
bool WalkRecords(const uint8_t* data, size_t size, size_t at, std::string* error, Visit visit) {
  while (at + kParams <= size) {
    RecordReader head(data + at, size - at);
    uint64_t bytes = uint64_t(head.Value<uint32_t>(0)) * 2;
    uint16_t function = head.Value<uint16_t>(4);
    if (bytes < kParams || bytes > size - at) {
      *error = "record " + RecordName(function) + " at byte " + std::to_string(at) +
               " does not fit in the file";
      return false;
    }
    if (function == 0) return true;  // META_EOF
    if (!visit(function, RecordReader(data + at, static_cast<size_t>(bytes)))) return true;
    at += static_cast<size_t>(bytes);
  }
  return true;
}

// The size of a metafile without a placeable header: its window (or
// viewport) extent in the units of its map mode.
void MeasureByRecords(const uint8_t* data, size_t size, WmfLayout* layout, std::string* error,
                      bool* ok) {
  int mapMode = 1;
  bool haveWindow = false, haveViewport = false;
  double viewport[2] = {0, 0};
  *ok = WalkRecords(data, size, layout->recordsAt, error, [&](uint16_t f, const RecordReader& r) {
    int16_t y = r.Value<int16_t>(kParams), x = r.Value<int16_t>(kParams + 2);
    switch (f & 0xFF) {
      case U_WMR_SETMAPMODE:
        mapMode = y;
        break;
      case U_WMR_SETWINDOWORG:
        layout->window[0] = x, layout->window[1] = y;
        break;
      case U_WMR_SETWINDOWEXT:
        if (!haveWindow) layout->window[2] = x, layout->window[3] = y;
        haveWindow = true;
        break;
      case U_WMR_SETVIEWPORTEXT:
        if (!haveViewport) viewport[0] = x, viewport[1] = y;
        haveViewport = true;
        break;
      default:
        break;
    }
    return true;
  });
  if (!*ok) return;
  // Units per inch of the map modes; the free-scaling modes and MM_TEXT are
  // taken as screen pixels (96 per inch), or the viewport is when given.
  const double kPerInch[] = {96, 96, 254, 2540, 100, 1000, 1440, 96, 96};
  double perInch = mapMode >= 1 && mapMode <= 8 ? kPerInch[mapMode] : 96;
  double w = std::fabs(layout->window[2]), h = std::fabs(layout->window[3]);
  if ((mapMode == 7 || mapMode == 8) && haveViewport) {
    w = std::fabs(viewport[0]), h = std::fabs(viewport[1]);
    perInch = 96;
  }
  layout->widthPoints = w * 72 / perInch;
  layout->heightPoints = h * 72 / perInch;
  if (!haveWindow || w == 0 || h == 0) {
    *error = "the metafile has no placeable header and no window extent";
    *ok = false;
  }
}

class WmfPlayer : public GdiPlayer {
 public:
  WmfPlayer(const WmfLayout& layout, const Matrix& unitToPage, PdfPainter* painter,
            DrawReport* report)
      : GdiPlayer(painter, report), unitToPage_(unitToPage) {
    dc_.windowOrg = {layout.window[0], layout.window[1]};
    dc_.windowExt = {layout.window[2], layout.window[3]};
  }
  bool Play(const uint8_t* data, size_t size, size_t at, std::string* error);

 protected:
  // The window fills the target: logical units map through it alone (the
  // viewport is the target rectangle that the caller chose).
  Matrix LogicalToPage() const override {
    double ex = dc_.windowExt.x != 0 ? dc_.windowExt.x : 1;
    double ey = dc_.windowExt.y != 0 ? dc_.windowExt.y : 1;
    return Matrix::Translate(-dc_.windowOrg.x, -dc_.windowOrg.y)
        .Then(Matrix::Scaling(1 / ex, 1 / ey))
        .Then(unitToPage_);
  }
  Matrix DeviceToPage() const override { return LogicalToPage(); }

 private:
  void Record(uint16_t function, const RecordReader& r);
  bool StateRecord(uint8_t kind, const RecordReader& r);
  bool ShapeRecord(uint8_t kind, const RecordReader& r);
  bool ObjectRecord(uint8_t kind, const RecordReader& r);
  bool BitmapRecord(uint8_t kind, const RecordReader& r);
  uint32_t NewObjectSlot();
  void Text(const RecordReader& r, bool extended);
  void Polygons(const RecordReader& r);
  std::vector<Point> PointList(const RecordReader& r, uint64_t at, uint32_t count);
  void DrawDib(const RecordReader& r, uint64_t dibAt, Point dest, Point extent);

  Matrix unitToPage_;
  std::set<uint32_t> usedSlots_;
};

int16_t P(const RecordReader& r, int index) { return r.Value<int16_t>(kParams + 2 * index); }

Rgb ColorAt(const RecordReader& r, uint64_t at) {
  return Rgb{r.Value<uint8_t>(at), r.Value<uint8_t>(at + 1), r.Value<uint8_t>(at + 2)};
}

bool WmfPlayer::Play(const uint8_t* data, size_t size, size_t at, std::string* error) {
  bool full = false;
  bool ok = WalkRecords(data, size, at, error, [&](uint16_t function, const RecordReader& r) {
    Record(function, r);
    full = painter()->Full();
    return !full;
  });
  if (ok && full) {
    *error = "the drawing is larger than the limit for one page";
    return false;
  }
  return ok;
}

// Windows metafiles give new objects the lowest free slot of their table.
uint32_t WmfPlayer::NewObjectSlot() {
  uint32_t slot = 0;
  while (usedSlots_.count(slot)) ++slot;
  usedSlots_.insert(slot);
  return slot;
}

void WmfPlayer::Record(uint16_t function, const RecordReader& r) {
  uint8_t kind = function & 0xFF;
  if (StateRecord(kind, r) || ShapeRecord(kind, r) || ObjectRecord(kind, r) ||
      BitmapRecord(kind, r)) {
    return;
  }
  switch (kind) {
    case U_WMR_TEXTOUT:
      Text(r, false);
      break;
    case U_WMR_EXTTEXTOUT:
      Text(r, true);
      break;
    // Records that change nothing a PDF page shows.
    case U_WMR_SETROP2:
    case U_WMR_SETRELABS:
    case U_WMR_SETSTRETCHBLTMODE:
    case U_WMR_SETTEXTCHAREXTRA:
    case U_WMR_SETTEXTJUSTIFICATION:
    case U_WMR_SETVIEWPORTORG:
    case U_WMR_SETVIEWPORTEXT:
    case U_WMR_OFFSETVIEWPORTORG:
    case U_WMR_SCALEVIEWPORTEXT:
    case U_WMR_ESCAPE:
    case U_WMR_SETMAPPERFLAGS:
    case U_WMR_SELECTPALETTE:
    case U_WMR_REALIZEPALETTE:
    case U_WMR_ANIMATEPALETTE:
    case U_WMR_SETPALENTRIES:
    case U_WMR_RESIZEPALETTE:
    case U_WMR_49:  // META_SETLAYOUT (0x0149)
      break;
    default:
      report()->Skip(RecordName(function));
      break;
  }
}

bool WmfPlayer::StateRecord(uint8_t kind, const RecordReader& r) {
  Point p{double(P(r, 1)), double(P(r, 0))};  // most records hold y before x
  switch (kind) {
    case U_WMR_SETBKCOLOR:
      dc_.bkColor = ColorAt(r, kParams);
      return true;
    case U_WMR_SETTEXTCOLOR:
      dc_.textColor = ColorAt(r, kParams);
      return true;
    case U_WMR_SETBKMODE:
      dc_.bkMode = P(r, 0);
      return true;
    case U_WMR_SETMAPMODE:
      dc_.mapMode = P(r, 0);
      return true;
    case U_WMR_SETPOLYFILLMODE:
      dc_.polyFillMode = P(r, 0);
      return true;
    case U_WMR_SETTEXTALIGN:
      dc_.textAlign = static_cast<uint16_t>(P(r, 0));
      return true;
    case U_WMR_SETWINDOWORG:
      dc_.windowOrg = p;
      return true;
    case U_WMR_SETWINDOWEXT:
      dc_.windowExt = p;
      return true;
    case U_WMR_OFFSETWINDOWORG:
      dc_.windowOrg = {dc_.windowOrg.x + p.x, dc_.windowOrg.y + p.y};
      return true;
    case U_WMR_SCALEWINDOWEXT:
      // yDenom, yNum, xDenom, xNum
      if (P(r, 0) != 0 && P(r, 2) != 0) {
        dc_.windowExt = {dc_.windowExt.x * P(r, 3) / P(r, 2), dc_.windowExt.y * P(r, 1) / P(r, 0)};
      }
      return true;
    case U_WMR_SAVEDC:
      SaveDC();
      return true;
    case U_WMR_RESTOREDC:
      RestoreDC(P(r, 0));
      return true;
    case U_WMR_MOVETO:
      MoveTo(p);
      return true;
    case U_WMR_INTERSECTCLIPRECT:
      IntersectClipRect({double(P(r, 3)), double(P(r, 2))}, {double(P(r, 1)), double(P(r, 0))});
      return true;
    case U_WMR_EXCLUDECLIPRECT:
      ExcludeClipRect({double(P(r, 3)), double(P(r, 2))}, {double(P(r, 1)), double(P(r, 0))});
      return true;
    default:
      return false;
  }
}

std::vector<Point> WmfPlayer::PointList(const RecordReader& r, uint64_t at, uint32_t count) {
  std::vector<Point> points;
  if (!r.Has(at, uint64_t(count) * 4)) return points;
  for (uint32_t i = 0; i < count; ++i) {
    points.push_back(
        {double(r.Value<int16_t>(at + 4 * i)), double(r.Value<int16_t>(at + 4 * i + 2))});
  }
  return points;
}

void WmfPlayer::Polygons(const RecordReader& r) {
  uint16_t polys = r.Value<uint16_t>(kParams);
  uint64_t pointsAt = kParams + 2 + uint64_t(polys) * 2;
  std::vector<std::vector<Point>> all;
  for (uint16_t i = 0; i < polys; ++i) {
    uint16_t count = r.Value<uint16_t>(kParams + 2 + 2 * uint64_t(i));
    std::vector<Point> points = PointList(r, pointsAt, count);
    if (points.size() != count) return;
    pointsAt += uint64_t(count) * 4;
    all.push_back(std::move(points));
  }
  PolyPoly(all, true);
}

bool WmfPlayer::ShapeRecord(uint8_t kind, const RecordReader& r) {
  // Rectangles are held bottom, right, top, left after any other values.
  auto corner = [&](int first) {
    return std::make_pair(Point{double(P(r, first + 3)), double(P(r, first + 2))},
                          Point{double(P(r, first + 1)), double(P(r, first))});
  };
  switch (kind) {
    case U_WMR_LINETO:
      LineTo({double(P(r, 1)), double(P(r, 0))});
      return true;
    case U_WMR_RECTANGLE:
      Rectangle(corner(0).first, corner(0).second);
      return true;
    case U_WMR_ELLIPSE:
      Ellipse(corner(0).first, corner(0).second);
      return true;
    case U_WMR_ROUNDRECT:
      RoundRect(corner(2).first, corner(2).second, P(r, 1), P(r, 0));
      return true;
    case U_WMR_ARC:
    case U_WMR_PIE:
    case U_WMR_CHORD: {
      ArcKind arc = kind == U_WMR_ARC ? kArc : kind == U_WMR_PIE ? kPie : kChord;
      Arc(arc, corner(4).first, corner(4).second, {double(P(r, 3)), double(P(r, 2))},
          {double(P(r, 1)), double(P(r, 0))});
      return true;
    }
    case U_WMR_POLYGON:
    case U_WMR_POLYLINE: {
      uint16_t count = r.Value<uint16_t>(kParams);
      std::vector<Point> points = PointList(r, kParams + 2, count);
      if (points.size() == count) Poly(points, kind == U_WMR_POLYGON, false);
      return true;
    }
    case U_WMR_POLYPOLYGON:
      Polygons(r);
      return true;
    case U_WMR_SETPIXEL: {
      Point p{double(P(r, 3)), double(P(r, 2))};
      FillRectangleWith(p, {p.x + 1, p.y + 1}, ColorAt(r, kParams));
      return true;
    }
    case U_WMR_PATBLT: {
      // raster operation (4 bytes), height, width, top, left
      Point p{double(P(r, 5)), double(P(r, 4))};
      BlitWithoutSource(p, {p.x + P(r, 3), p.y + P(r, 2)}, r.Value<uint32_t>(kParams));
      return true;
    }
    default:
      return false;
  }
}

bool WmfPlayer::ObjectRecord(uint8_t kind, const RecordReader& r) {
  GdiObject object;
  switch (kind) {
    case U_WMR_SELECTOBJECT:
      SelectObject(static_cast<uint16_t>(P(r, 0)));
      return true;
    case U_WMR_DELETEOBJECT:
      DeleteObject(static_cast<uint16_t>(P(r, 0)));
      usedSlots_.erase(static_cast<uint16_t>(P(r, 0)));
      return true;
    case U_WMR_CREATEPENINDIRECT:
      object.kind = GdiObject::kPen;
      object.pen.style = static_cast<uint16_t>(P(r, 0));
      object.pen.width = std::abs(P(r, 1));
      object.pen.cosmetic = P(r, 1) == 0;
      object.pen.color = ColorAt(r, kParams + 6);
      break;
    case U_WMR_CREATEBRUSHINDIRECT:
      object.kind = GdiObject::kBrush;
      object.brush.style = static_cast<uint16_t>(P(r, 0));
      object.brush.color = ColorAt(r, kParams + 2);
      break;
    case U_WMR_CREATEFONTINDIRECT: {
      object.kind = GdiObject::kFont;
      object.font.height = P(r, 0);
      object.font.escapement = P(r, 2);
      object.font.request.weight = P(r, 4);
      object.font.request.italic = r.Value<uint8_t>(kParams + 10) != 0;
      object.font.underline = r.Value<uint8_t>(kParams + 11) != 0;
      object.font.strikeOut = r.Value<uint8_t>(kParams + 12) != 0;
      object.font.request.pitchAndFamily = r.Value<uint8_t>(kParams + 17);
      for (uint64_t i = kParams + 18; i < r.size() && i < kParams + 50; ++i) {
        char ch = static_cast<char>(r.data()[i]);
        if (!ch) break;
        object.font.request.face += ch;
      }
      break;
    }
    // Objects that take a slot but are not drawn with.
    case U_WMR_CREATEPALETTE:
    case U_WMR_CREATEREGION:
      break;
    case U_WMR_CREATEPATTERNBRUSH:
    case U_WMR_DIBCREATEPATTERNBRUSH:
      object.kind = GdiObject::kBrush;
      object.brush.style = 3;
      break;
    default:
      return false;
  }
  StoreObject(NewObjectSlot(), object);
  return true;
}

void WmfPlayer::Text(const RecordReader& r, bool extended) {
  Point reference;
  uint16_t length = 0, options = 0;
  uint64_t at = 0;
  Point box[2];
  bool hasBox = false;
  if (extended) {
    // y, x, length, options, [rectangle], text, [advances]
    reference = {double(P(r, 1)), double(P(r, 0))};
    length = r.Value<uint16_t>(kParams + 4);
    options = r.Value<uint16_t>(kParams + 6);
    at = kParams + 8;
    if (options & 6) {  // ETO_OPAQUE or ETO_CLIPPED carry the rectangle
      box[0] = {double(r.Value<int16_t>(at)), double(r.Value<int16_t>(at + 2))};
      box[1] = {double(r.Value<int16_t>(at + 4)), double(r.Value<int16_t>(at + 6))};
      hasBox = true;
      at += 8;
    }
  } else {
    // length, text (padded to an even length), y, x
    length = r.Value<uint16_t>(kParams);
    at = kParams + 2;
    uint64_t after = at + length + (length & 1);
    reference = {double(r.Value<int16_t>(after + 2)), double(r.Value<int16_t>(after))};
  }
  if (!r.Has(at, length)) return;
  std::u16string text;
  // Narrow text is in the system's code page: taken as Windows-1252.
  for (uint16_t i = 0; i < length; ++i) text += static_cast<char16_t>(r.data()[at + i]);
  std::vector<double> dx;
  uint64_t dxAt = at + length + (length & 1);
  if (extended && r.Has(dxAt, uint64_t(length) * 2)) {
    for (uint16_t i = 0; i < length; ++i) dx.push_back(r.Value<int16_t>(dxAt + 2 * i));
  }
  TextOut(reference, text, dx, options, hasBox ? box : nullptr);
}

bool WmfPlayer::BitmapRecord(uint8_t kind, const RecordReader& r) {
  switch (kind) {
    case U_WMR_STRETCHDIB:
      // rop (4), usage, srcH, srcW, ySrc, xSrc, destH, destW, yDest, xDest, DIB
      DrawDib(r, kParams + 22, {double(P(r, 10)), double(P(r, 9))},
              {double(P(r, 8)), double(P(r, 7))});
      return true;
    case U_WMR_DIBSTRETCHBLT:
      if (r.size() == kParams + 22) {  // no bitmap: a reserved word before the destination
        Point p{double(P(r, 10)), double(P(r, 9))};
        BlitWithoutSource(p, {p.x + P(r, 8), p.y + P(r, 7)}, r.Value<uint32_t>(kParams));
        return true;
      }
      // rop (4), srcH, srcW, ySrc, xSrc, destH, destW, yDest, xDest, DIB
      DrawDib(r, kParams + 20, {double(P(r, 9)), double(P(r, 8))},
              {double(P(r, 7)), double(P(r, 6))});
      return true;
    case U_WMR_DIBBITBLT:
      if (r.size() == kParams + 18) {  // no bitmap: a reserved word before the destination
        Point p{double(P(r, 8)), double(P(r, 7))};
        BlitWithoutSource(p, {p.x + P(r, 6), p.y + P(r, 5)}, r.Value<uint32_t>(kParams));
        return true;
      }
      // rop (4), ySrc, xSrc, height, width, yDest, xDest, DIB
      DrawDib(r, kParams + 16, {double(P(r, 7)), double(P(r, 6))},
              {double(P(r, 5)), double(P(r, 4))});
      return true;
    case U_WMR_SETDIBTODEV:
      // usage, scans, start, yDib, xDib, height, width, yDest, xDest, DIB
      DrawDib(r, kParams + 18, {double(P(r, 8)), double(P(r, 7))},
              {double(P(r, 6)), double(P(r, 5))});
      return true;
    default:
      return false;
  }
}

void WmfPlayer::DrawDib(const RecordReader& r, uint64_t dibAt, Point dest, Point extent) {
  if (!r.Has(dibAt, 12)) {
    report()->Skip("bitmap record without a bitmap");
    return;
  }
  RasterImage image;
  std::string why;
  if (!DecodePackedDib(r.data() + dibAt, r.size() - dibAt, &image, &why)) {
    report()->Skip("bitmap not drawn: " + why);
    return;
  }
  Bitmap(dest, extent, image);
}

}  // namespace

bool ReadWmfLayout(const uint8_t* data, size_t size, WmfLayout* layout, std::string* error) {
  RecordReader r(data, size);
  size_t at = 0;
  if (r.Value<uint32_t>(0) == kPlaceableKey) {
    if (!r.Has(0, kPlaceableSize)) {
      *error = "the placeable header is cut short";
      return false;
    }
    layout->placeable = true;
    for (int i = 0; i < 4; ++i) layout->box[i] = r.Value<int16_t>(6 + 2 * i);
    layout->unitsPerInch = r.Value<uint16_t>(14);
    at = kPlaceableSize;
  }
  uint16_t type = r.Value<uint16_t>(at), headerWords = r.Value<uint16_t>(at + 2);
  if (!r.Has(at, kHeaderSize) || (type != 1 && type != 2) || headerWords != 9) {
    *error = "the file is not a Windows metafile";
    return false;
  }
  layout->recordsAt = at + kHeaderSize;
  if (layout->placeable) {
    double w = layout->box[2] - layout->box[0], h = layout->box[3] - layout->box[1];
    if (layout->unitsPerInch == 0 || w == 0 || h == 0) {
      *error = "the placeable header has an empty box or no units per inch";
      return false;
    }
    layout->window[0] = layout->box[0], layout->window[1] = layout->box[1];
    layout->window[2] = w, layout->window[3] = h;
    layout->widthPoints = std::fabs(w) * 72 / layout->unitsPerInch;
    layout->heightPoints = std::fabs(h) * 72 / layout->unitsPerInch;
    return true;
  }
  bool ok = false;
  MeasureByRecords(data, size, layout, error, &ok);
  return ok;
}

bool PlayWmf(const uint8_t* data, size_t size, const WmfLayout& layout, const Matrix& unitToPage,
             PdfPainter* painter, DrawReport* report, std::string* error) {
  auto player = std::make_unique<WmfPlayer>(layout, unitToPage, painter, report);
  return player->Play(data, size, layout.recordsAt, error);
}

}  // namespace metafile
