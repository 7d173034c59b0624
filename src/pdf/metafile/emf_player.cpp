#include "pdf/metafile/emf_player.h"

#include <uemf.h>
#include <uemf_safe.h>

#include <cmath>
#include <cstddef>
#include <memory>

#include "pdf/metafile/dib.h"
#include "pdf/metafile/emfplus_player.h"
#include "pdf/metafile/record_reader.h"

namespace metafile {

namespace {

const uint32_t kEmfPlusSignature = 0x2B464D45;  // "EMF+"

Rgb ToRgb(U_COLORREF c) { return Rgb{c.Red, c.Green, c.Blue}; }
Point ToPoint(U_POINTL p) { return {double(p.x), double(p.y)}; }

std::u16string FaceName(const uint16_t* name) {
  std::u16string face;
  for (int i = 0; i < U_LF_FACESIZE && name[i]; ++i) face += static_cast<char16_t>(name[i]);
  return face;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (char16_t ch : text) {
    if (ch < 0x80) {
      out += static_cast<char>(ch);
    } else if (ch < 0x800) {
      out += static_cast<char>(0xC0 | ch >> 6);
      out += static_cast<char>(0x80 | (ch & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | ch >> 12);
      out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (ch & 0x3F));
    }
  }
  return out;
}

GdiFont FontFromLogFont(const U_LOGFONT& lf) {
  GdiFont font;
  font.height = lf.lfHeight;
  font.escapement = lf.lfEscapement;
  font.underline = lf.lfUnderline != 0;
  font.strikeOut = lf.lfStrikeOut != 0;
  font.request.face = Utf16ToUtf8(FaceName(lf.lfFaceName));
  font.request.weight = lf.lfWeight;
  font.request.italic = lf.lfItalic != 0;
  font.request.pitchAndFamily = lf.lfPitchAndFamily;
  return font;
}

std::string RecordName(uint32_t type) {
  if (type >= U_EMR_MIN && type <= U_EMR_MAX) return U_emr_names(type);
  return "U_EMR_" + std::to_string(type);
}

class EmfPlayer : public GdiPlayer {
 public:
  EmfPlayer(const EmfHeader& header, const Matrix& hundredthMmToPage, PdfPainter* painter,
            DrawReport* report)
      : GdiPlayer(painter, report),
        deviceToPage_(Matrix::Scaling(header.HundredthMmPerPixel(0), header.HundredthMmPerPixel(1))
                          .Then(hundredthMmToPage)),
        header_(header),
        plus_(hundredthMmToPage, painter, report) {}

  // Returns false at a record that points outside the file.
  bool Play(const uint8_t* data, size_t size, std::string* error);

 protected:
  Matrix LogicalToPage() const override {
    return dc_.world.Then(PageToDevice()).Then(deviceToPage_);
  }
  Matrix DeviceToPage() const override { return deviceToPage_; }

 private:
  Matrix PageToDevice() const;
  void Record(uint32_t type, const RecordReader& r);
  bool StateRecord(uint32_t type, const RecordReader& r);
  bool MappingRecord(uint32_t type, const RecordReader& r);
  bool ObjectRecord(uint32_t type, const RecordReader& r);
  bool ShapeRecord(uint32_t type, const RecordReader& r);
  bool PathRecord(uint32_t type, const RecordReader& r);
  bool BitmapRecord(uint32_t type, const RecordReader& r);
  void Points(const RecordReader& r, uint32_t type);
  void PolyPoints(const RecordReader& r, uint32_t type);
  void Text(const RecordReader& r, bool wide);
  void ExtCreatePen(const RecordReader& r);
  void ClipRegion(const RecordReader& r);
  void Comment(const RecordReader& r);
  void ModifyWorld(const RecordReader& r);
  void DrawDib(const RecordReader& r, Point dest, Point extent, size_t fieldsAt);

  Matrix deviceToPage_;
  EmfHeader header_;
  EmfPlusPlayer plus_;
};

Matrix EmfPlayer::PageToDevice() const {
  double sx = 1, sy = 1;
  // Millimetres per logical unit of the fixed map modes.
  const double kUnits[] = {0, 0, 0.1, 0.01, 0.254, 0.0254, 25.4 / 1440};
  int mode = dc_.mapMode;
  if (mode >= 2 && mode <= 6) {
    sx = kUnits[mode] * 100 / header_.HundredthMmPerPixel(0);
    sy = -kUnits[mode] * 100 / header_.HundredthMmPerPixel(1);
  } else if (mode == 7 || mode == 8) {
    sx = dc_.windowExt.x != 0 ? dc_.viewportExt.x / dc_.windowExt.x : 1;
    sy = dc_.windowExt.y != 0 ? dc_.viewportExt.y / dc_.windowExt.y : 1;
    if (mode == 7) {  // MM_ISOTROPIC: one scale, the smaller, keeping signs
      double s = std::min(std::fabs(sx), std::fabs(sy));
      sx = std::copysign(s, sx);
      sy = std::copysign(s, sy);
    }
  }
  return Matrix::Translate(-dc_.windowOrg.x, -dc_.windowOrg.y)
      .Then(Matrix::Scaling(sx, sy))
      .Then(Matrix::Translate(dc_.viewportOrg.x, dc_.viewportOrg.y));
}

bool EmfPlayer::Play(const uint8_t* data, size_t size, std::string* error) {
  size_t offset = 0;
  while (offset + 8 <= size) {
    RecordReader head(data + offset, size - offset);
    uint32_t type = head.Value<uint32_t>(0), length = head.Value<uint32_t>(4);
    if (length < 8 || length % 4 != 0 || length > size - offset) {
      *error = "record " + RecordName(type) + " at byte " + std::to_string(offset) +
               " has a size of " + std::to_string(length) + " that does not fit in the file";
      return false;
    }
    RecordReader record(data + offset, length);
    offset += length;
    if (type == U_EMR_EOF) break;
    if (type == U_EMR_COMMENT) {
      Comment(record);
      continue;
    }
    // Once the file draws with EMF+, its GDI records are the fallback for
    // other readers, except right after an EMF+ GetDC record.
    if (plus_.Active() && !plus_.GdiAllowed()) continue;
    bool checked = type >= U_EMR_MIN && type <= U_EMR_MAX &&
                   U_emf_record_safe(reinterpret_cast<const char*>(record.data()));
    if (!checked) {
      report()->Skip(RecordName(type) + " (damaged)");
      continue;
    }
    Record(type, record);
    if (painter()->Full()) {
      *error = "the drawing is larger than the limit for one page";
      return false;
    }
  }
  return true;
}

void EmfPlayer::Record(uint32_t type, const RecordReader& r) {
  if (StateRecord(type, r) || MappingRecord(type, r) || ObjectRecord(type, r) ||
      ShapeRecord(type, r) || PathRecord(type, r) || BitmapRecord(type, r)) {
    return;
  }
  switch (type) {
    case U_EMR_HEADER:
    // Records that change nothing a PDF page shows.
    case U_EMR_SETMAPPERFLAGS:
    case U_EMR_SETROP2:
    case U_EMR_SETSTRETCHBLTMODE:
    case U_EMR_SETBRUSHORGEX:
    case U_EMR_SETCOLORADJUSTMENT:
    case U_EMR_SETICMMODE:
    case U_EMR_SELECTPALETTE:
    case U_EMR_CREATEPALETTE:
    case U_EMR_SETPALETTEENTRIES:
    case U_EMR_RESIZEPALETTE:
    case U_EMR_REALIZEPALETTE:
    case U_EMR_SETMETARGN:
    case U_EMR_FLATTENPATH:
    case U_EMR_SETLAYOUT:
    case U_EMR_SETCOLORSPACE:
    case U_EMR_CREATECOLORSPACE:
    case U_EMR_CREATECOLORSPACEW:
    case U_EMR_DELETECOLORSPACE:
    case U_EMR_SETICMPROFILEA:
    case U_EMR_SETICMPROFILEW:
    case U_EMR_COLORCORRECTPALETTE:
    case U_EMR_SETTEXTJUSTIFICATION:
      break;
    case U_EMR_EXTTEXTOUTA:
    case U_EMR_EXTTEXTOUTW:
      Text(r, type == U_EMR_EXTTEXTOUTW);
      break;
    default:
      report()->Skip(RecordName(type));
      break;
  }
}

bool EmfPlayer::StateRecord(uint32_t type, const RecordReader& r) {
  uint32_t value = r.Value<uint32_t>(8);
  U_COLORREF color{};
  r.Get(8, &color);
  switch (type) {
    case U_EMR_SETBKMODE:
      dc_.bkMode = static_cast<int>(value);
      return true;
    case U_EMR_SETPOLYFILLMODE:
      dc_.polyFillMode = static_cast<int>(value);
      return true;
    case U_EMR_SETTEXTALIGN:
      dc_.textAlign = value;
      return true;
    case U_EMR_SETTEXTCOLOR:
      dc_.textColor = ToRgb(color);
      return true;
    case U_EMR_SETBKCOLOR:
      dc_.bkColor = ToRgb(color);
      return true;
    case U_EMR_SETARCDIRECTION:
      dc_.clockwise = value == 2;  // AD_CLOCKWISE
      return true;
    case U_EMR_SETMITERLIMIT:
      dc_.miterLimit = value;
      return true;
    case U_EMR_SAVEDC:
      SaveDC();
      return true;
    case U_EMR_RESTOREDC:
      RestoreDC(static_cast<int32_t>(value));
      return true;
    case U_EMR_MOVETOEX:
      MoveTo({double(r.Value<int32_t>(8)), double(r.Value<int32_t>(12))});
      return true;
    default:
      return false;
  }
}

bool EmfPlayer::MappingRecord(uint32_t type, const RecordReader& r) {
  Point p{double(r.Value<int32_t>(8)), double(r.Value<int32_t>(12))};
  switch (type) {
    case U_EMR_SETMAPMODE:
      dc_.mapMode = r.Value<int32_t>(8);
      return true;
    case U_EMR_SETWINDOWEXTEX:
      dc_.windowExt = p;
      return true;
    case U_EMR_SETWINDOWORGEX:
      dc_.windowOrg = p;
      return true;
    case U_EMR_SETVIEWPORTEXTEX:
      dc_.viewportExt = p;
      return true;
    case U_EMR_SETVIEWPORTORGEX:
      dc_.viewportOrg = p;
      return true;
    case U_EMR_SCALEVIEWPORTEXTEX:
    case U_EMR_SCALEWINDOWEXTEX: {
      int32_t v[4] = {r.Value<int32_t>(8), r.Value<int32_t>(12), r.Value<int32_t>(16),
                      r.Value<int32_t>(20)};
      if (v[1] == 0 || v[3] == 0) return true;
      Point& ext = type == U_EMR_SCALEWINDOWEXTEX ? dc_.windowExt : dc_.viewportExt;
      ext = {ext.x * v[0] / v[1], ext.y * v[2] / v[3]};
      return true;
    }
    case U_EMR_SETWORLDTRANSFORM: {
      U_XFORM x{};
      r.Get(8, &x);
      dc_.world = Matrix{x.eM11, x.eM12, x.eM21, x.eM22, x.eDx, x.eDy};
      return true;
    }
    case U_EMR_MODIFYWORLDTRANSFORM:
      ModifyWorld(r);
      return true;
    default:
      return false;
  }
}

void EmfPlayer::ModifyWorld(const RecordReader& r) {
  U_XFORM x{};
  r.Get(8, &x);
  Matrix m{x.eM11, x.eM12, x.eM21, x.eM22, x.eDx, x.eDy};
  switch (r.Value<uint32_t>(8 + sizeof(U_XFORM))) {
    case U_MWT_IDENTITY:
      dc_.world = Matrix();
      break;
    case U_MWT_LEFTMULTIPLY:
      dc_.world = m.Then(dc_.world);
      break;
    case U_MWT_RIGHTMULTIPLY:
      dc_.world = dc_.world.Then(m);
      break;
    case 4:  // MWT_SET
      dc_.world = m;
      break;
    default:
      break;
  }
}

bool EmfPlayer::ObjectRecord(uint32_t type, const RecordReader& r) {
  uint32_t index = r.Value<uint32_t>(8);
  GdiObject object;
  switch (type) {
    case U_EMR_SELECTOBJECT:
      SelectObject(index);
      return true;
    case U_EMR_DELETEOBJECT:
      DeleteObject(index);
      return true;
    case U_EMR_CREATEPEN: {
      U_LOGPEN pen{};
      r.Get(12, &pen);
      object.kind = GdiObject::kPen;
      object.pen.style = pen.lopnStyle;
      object.pen.width = std::abs(pen.lopnWidth.x);
      object.pen.cosmetic = pen.lopnWidth.x == 0;
      object.pen.color = ToRgb(pen.lopnColor);
      StoreObject(index, object);
      return true;
    }
    case U_EMR_EXTCREATEPEN:
      ExtCreatePen(r);
      return true;
    case U_EMR_CREATEBRUSHINDIRECT: {
      U_LOGBRUSH brush{};
      r.Get(12, &brush);
      object.kind = GdiObject::kBrush;
      object.brush.style = brush.lbStyle;
      object.brush.color = ToRgb(brush.lbColor);
      StoreObject(index, object);
      return true;
    }
    case U_EMR_CREATEMONOBRUSH:
    case U_EMR_CREATEDIBPATTERNBRUSHPT:
      object.kind = GdiObject::kBrush;
      object.brush.style = 3;  // a pattern: not drawn
      StoreObject(index, object);
      return true;
    case U_EMR_EXTCREATEFONTINDIRECTW: {
      U_LOGFONT lf{};
      if (!r.Has(12, sizeof(U_LOGFONT))) return true;
      r.Get(12, &lf);
      object.kind = GdiObject::kFont;
      object.font = FontFromLogFont(lf);
      StoreObject(index, object);
      return true;
    }
    default:
      return false;
  }
}

void EmfPlayer::ExtCreatePen(const RecordReader& r) {
  // ihPen, offBmi, cbBmi, offBits, cbBits, then the EXTLOGPEN.
  const size_t at = 8 + 5 * 4;
  GdiObject object;
  object.kind = GdiObject::kPen;
  uint32_t style = r.Value<uint32_t>(at);
  object.pen.style = style;
  object.pen.width = r.Value<uint32_t>(at + 4);
  object.pen.cosmetic = (style & U_PS_GEOMETRIC) == 0;
  U_COLORREF color{};
  r.Get(at + 12, &color);
  object.pen.color = ToRgb(color);
  if (r.Value<uint32_t>(at + 8) == U_BS_NULL) object.pen.style = (style & ~0xFu) | U_PS_NULL;
  StoreObject(r.Value<uint32_t>(8), object);
}

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

void EmfPlayer::ClipRegion(const RecordReader& r) {
  uint32_t cbRgnData = r.Value<uint32_t>(8);
  int mode = r.Value<int32_t>(12);
  std::vector<DeviceRect> rects;
  if (cbRgnData >= sizeof(U_RGNDATAHEADER) && r.Has(16, cbRgnData)) {
    uint32_t count = r.Value<uint32_t>(16 + offsetof(U_RGNDATAHEADER, nCount));
    if (uint64_t(count) * 16 > cbRgnData - sizeof(U_RGNDATAHEADER)) return;
    for (uint32_t i = 0; i < count; ++i) {
      U_RECTL rect{};
      r.Get(16 + sizeof(U_RGNDATAHEADER) + 16 * uint64_t(i), &rect);
      rects.push_back(
          {double(rect.left), double(rect.top), double(rect.right), double(rect.bottom)});
    }
  }
  SelectClipRegion(rects, mode);
}

void EmfPlayer::Text(const RecordReader& r, bool wide) {
  // rclBounds, iGraphicsMode, exScale, eyScale, then the EMRTEXT.
  const size_t at = 8 + 16 + 12;
  U_EMRTEXT text{};
  if (!r.Get(at, &text)) return;
  size_t next = at + sizeof(U_EMRTEXT);
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
  std::u16string chars;
  if (wide) {
    if (!r.Utf16(text.offString, text.nChars, &chars)) return;
  } else {
    if (!r.Has(text.offString, text.nChars)) return;
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
        // No source bitmap: the destination is painted with the brush.
        if (dc_.brush.style == 0) {
          FillRectangleWith(ToPoint(dest), {double(dest.x) + extent.x, double(dest.y) + extent.y},
                            dc_.brush.color);
        }
        return true;
      }
      // The source fields follow the same layout in both records.
      DrawDib(r, ToPoint(dest), ToPoint(extent), offsetof(U_EMRBITBLT, offBmiSrc));
      return true;
    }
    default:
      return false;
  }
}

// offBmi, cbBmi, offBits, cbBits stand one after the other at fieldsAt.
void EmfPlayer::DrawDib(const RecordReader& r, Point dest, Point extent, size_t fieldsAt) {
  uint32_t offBmi = r.Value<uint32_t>(fieldsAt), cbBmi = r.Value<uint32_t>(fieldsAt + 4);
  uint32_t offBits = r.Value<uint32_t>(fieldsAt + 8), cbBits = r.Value<uint32_t>(fieldsAt + 12);
  if (!r.Has(offBmi, cbBmi) || !r.Has(offBits, cbBits) || cbBmi == 0) {
    report()->Skip("bitmap outside its record");
    return;
  }
  RasterImage image;
  std::string why;
  if (!DecodeDib(r.data() + offBmi, cbBmi, r.data() + offBits, cbBits, &image, &why)) {
    report()->Skip("bitmap not drawn: " + why);
    return;
  }
  Bitmap(dest, extent, image);
}

void EmfPlayer::Comment(const RecordReader& r) {
  uint32_t cbData = r.Value<uint32_t>(8);
  if (cbData < 4 || !r.Has(12, cbData) || r.Value<uint32_t>(12) != kEmfPlusSignature) return;
  plus_.Play(r.data() + 16, cbData - 4);
}

}  // namespace

double EmfHeader::HundredthMmPerPixel(int axis) const {
  if (devicePixels[axis] > 0 && deviceMillimetres[axis] > 0) {
    return 100.0 * deviceMillimetres[axis] / devicePixels[axis];
  }
  return 2540.0 / 96;
}

bool ReadEmfHeader(const uint8_t* data, size_t size, EmfHeader* header, std::string* error) {
  RecordReader r(data, size);
  U_EMRHEADER h{};
  const size_t kMinimum = offsetof(U_EMRHEADER, cbPixelFormat);
  if (!r.Has(0, kMinimum)) {
    *error = "the file is too short for an enhanced-metafile header";
    return false;
  }
  std::memcpy(&h, data, kMinimum);
  if (h.emr.iType != U_EMR_HEADER || h.dSignature != U_ENHMETA_SIGNATURE) {
    *error = "the file is not an enhanced metafile";
    return false;
  }
  if (h.emr.nSize < kMinimum || h.emr.nSize > size) {
    *error = "the header record's size does not fit in the file";
    return false;
  }
  const U_RECTL* rects[] = {&h.rclBounds, &h.rclFrame};
  int32_t* outs[] = {header->bounds, header->frame};
  for (int i = 0; i < 2; ++i) {
    outs[i][0] = rects[i]->left, outs[i][1] = rects[i]->top;
    outs[i][2] = rects[i]->right, outs[i][3] = rects[i]->bottom;
  }
  header->devicePixels[0] = h.szlDevice.cx, header->devicePixels[1] = h.szlDevice.cy;
  header->deviceMillimetres[0] = h.szlMillimeters.cx;
  header->deviceMillimetres[1] = h.szlMillimeters.cy;
  return true;
}

bool PlayEmf(const uint8_t* data, size_t size, const EmfHeader& header,
             const Matrix& hundredthMmToPage, PdfPainter* painter, DrawReport* report,
             std::string* error) {
  // The player is large (its own DC and the EMF+ state): keep it off the stack.
  auto player = std::make_unique<EmfPlayer>(header, hundredthMmToPage, painter, report);
  return player->Play(data, size, error);
}

}  // namespace metafile
