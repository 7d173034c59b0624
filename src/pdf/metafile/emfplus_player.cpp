#include "pdf/metafile/emfplus_player.h"

#include <upmf.h>

#include <algorithm>
#include <cmath>

#include "pdf/metafile/record_reader.h"
#include "pdf/metafile/truetype_font.h"

namespace metafile {

namespace {

const double kPi = 3.14159265358979323846;
// EMF+ record flags.
const uint16_t kColorFlag = 0x8000;     // S: the brush is a colour, not an object
const uint16_t kInt16Flag = 0x4000;     // C: coordinates are 16-bit integers
const uint16_t kAppendFlag = 0x2000;    // A: transform applied after the world
const uint16_t kClosedFlag = 0x2000;    // L: DrawLines closes the figure
const uint16_t kRelativeFlag = 0x0800;  // P: points are relative (not drawn)
const size_t kMaxSaved = 1024;

std::string RecordName(uint16_t type) {
  unsigned index = type & 0xFF;
  if ((type & 0xFF00) == 0x4000 && index >= 1 && index <= U_PMR_MAX) return U_pmr_names(index);
  return "U_PMR_" + std::to_string(type);
}

bool ReadRect(const RecordReader& r, uint64_t at, bool int16, Point* corner, Point* size) {
  std::vector<Point> two;
  if (!EmfPlusPlayer::ReadPoints(r, at, 2, int16, &two)) return false;
  *corner = two[0];
  *size = two[1];
  return true;
}

}  // namespace

EmfPlusPlayer::Brush EmfPlusPlayer::ArgbBrush(uint32_t argb) {
  EmfPlusPlayer::Brush brush;
  brush.solid = true;
  brush.color = Rgb{static_cast<uint8_t>(argb >> 16), static_cast<uint8_t>(argb >> 8),
                    static_cast<uint8_t>(argb)};
  brush.alpha = static_cast<uint8_t>(argb >> 24);
  return brush;
}

// Points as the records hold them: 16-bit integers or floats.
bool EmfPlusPlayer::ReadPoints(const RecordReader& r, uint64_t at, uint32_t count, bool int16,
                               std::vector<Point>* out) {
  uint64_t each = int16 ? 4 : 8;
  if (!r.Has(at, uint64_t(count) * each)) return false;
  out->reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t p = at + i * each;
    if (int16) {
      out->push_back({double(r.Value<int16_t>(p)), double(r.Value<int16_t>(p + 2))});
    } else {
      out->push_back({double(r.Value<float>(p)), double(r.Value<float>(p + 4))});
    }
  }
  return true;
}

EmfPlusPlayer::EmfPlusPlayer(const Matrix& hundredthMmToPage, PdfPainter* painter,
                             DrawReport* report)
    : hundredthMmToPage_(hundredthMmToPage), painter_(painter), report_(report) {}

void EmfPlusPlayer::Play(const uint8_t* data, size_t size) {
  size_t offset = 0;
  fallback_ = false;
  while (offset + 12 <= size) {
    RecordReader head(data + offset, size - offset);
    uint16_t type = head.Value<uint16_t>(0), flags = head.Value<uint16_t>(2);
    uint32_t length = head.Value<uint32_t>(4), dataSize = head.Value<uint32_t>(8);
    if (length < 12 || length > size - offset || dataSize > length - 12) {
      report_->Skip("EMF+ record with a size outside its comment");
      return;
    }
    gdiAllowed_ = false;
    Record(type, flags, data + offset + 12, dataSize);
    offset += length;
  }
}

double EmfPlusPlayer::UnitToPixels(uint32_t unit) const {
  switch (unit) {
    case 3:  // UnitPoint
      return dpiX_ / 72;
    case 4:  // UnitInch
      return dpiX_;
    case 5:  // UnitDocument
      return dpiX_ / 300;
    case 6:  // UnitMillimeter
      return dpiX_ / 25.4;
    case 1:  // UnitDisplay: a pixel on screens
    default:
      return 1;
  }
}

Matrix EmfPlusPlayer::WorldToPage() const {
  double page = UnitToPixels(state_.pageUnit) * state_.pageScale;
  return state_.world.Then(Matrix::Scaling(page, page))
      .Then(Matrix::Scaling(2540 / dpiX_, 2540 / dpiY_))
      .Then(hundredthMmToPage_);
}

EmfPlusPlayer::Brush EmfPlusPlayer::BrushFor(bool inlineColor, uint32_t value) const {
  if (inlineColor) return ArgbBrush(value);
  auto found = brushes_.find(static_cast<uint8_t>(value));
  return found == brushes_.end() ? Brush() : found->second;
}

void EmfPlusPlayer::Record(uint16_t type, uint16_t flags, const uint8_t* data, size_t size) {
  if (TransformRecord(type, flags, data, size) || DrawRecord(type, flags, data, size) ||
      StateRecord(type, flags, data, size)) {
    return;
  }
  switch (type) {
    case U_PMR_HEADER | 0x4000: {
      RecordReader r(data, size);
      active_ = true;
      uint32_t x = r.Value<uint32_t>(8), y = r.Value<uint32_t>(12);
      if (x >= 10 && x <= 100000) dpiX_ = x;
      if (y >= 10 && y <= 100000) dpiY_ = y;
      break;
    }
    case U_PMR_GETDC | 0x4000:
      gdiAllowed_ = true;
      break;
    case U_PMR_OBJECT | 0x4000:
      Object(flags, data, size);
      break;
    case U_PMR_CLEAR | 0x4000:
      Clear(data, size);
      break;
    // Records that change nothing a PDF page shows.
    case U_PMR_ENDOFFILE | 0x4000:
    case U_PMR_COMMENT | 0x4000:
    case U_PMR_SETANTIALIASMODE | 0x4000:
    case U_PMR_SETTEXTRENDERINGHINT | 0x4000:
    case U_PMR_SETTEXTCONTRAST | 0x4000:
    case U_PMR_SETINTERPOLATIONMODE | 0x4000:
    case U_PMR_SETPIXELOFFSETMODE | 0x4000:
    case U_PMR_SETCOMPOSITINGMODE | 0x4000:
    case U_PMR_SETCOMPOSITINGQUALITY | 0x4000:
    case U_PMR_SETRENDERINGORIGIN | 0x4000:
      break;
    default:
      report_->Skip(RecordName(type));
      break;
  }
}

bool EmfPlusPlayer::TransformRecord(uint16_t type, uint16_t flags, const uint8_t* data,
                                    size_t size) {
  RecordReader r(data, size);
  float v[6] = {1, 0, 0, 1, 0, 0};
  for (int i = 0; i < 6; ++i) r.Get(4 * i, &v[i]);
  Matrix m{v[0], v[1], v[2], v[3], v[4], v[5]};
  bool append = flags & kAppendFlag;
  auto combine = [&](const Matrix& t) {
    state_.world = append ? state_.world.Then(t) : t.Then(state_.world);
  };
  switch (type & 0xFF) {
    case U_PMR_SETWORLDTRANSFORM:
      state_.world = m;
      return true;
    case U_PMR_RESETWORLDTRANSFORM:
      state_.world = Matrix();
      return true;
    case U_PMR_MULTIPLYWORLDTRANSFORM:
      combine(m);
      return true;
    case U_PMR_TRANSLATEWORLDTRANSFORM:
      combine(Matrix::Translate(v[0], v[1]));
      return true;
    case U_PMR_SCALEWORLDTRANSFORM:
      combine(Matrix::Scaling(v[0], v[1]));
      return true;
    case U_PMR_ROTATEWORLDTRANSFORM: {
      double t = v[0] * kPi / 180;
      combine(Matrix{std::cos(t), std::sin(t), -std::sin(t), std::cos(t), 0, 0});
      return true;
    }
    case U_PMR_SETPAGETRANSFORM:
      state_.pageUnit = flags & 0xFF;
      state_.pageScale = std::isfinite(v[0]) && v[0] > 0 ? v[0] : 1;
      return true;
    default:
      return false;
  }
}

bool EmfPlusPlayer::DrawRecord(uint16_t type, uint16_t flags, const uint8_t* data, size_t size) {
  switch (type & 0xFF) {
    case U_PMR_FILLRECTS:
      FillRects(flags, data, size, true);
      return true;
    case U_PMR_DRAWRECTS:
      FillRects(flags, data, size, false);
      return true;
    case U_PMR_FILLPOLYGON:
      Polygon(flags, data, size, true, false);
      return true;
    case U_PMR_DRAWLINES:
      Polygon(flags, data, size, false, false);
      return true;
    case U_PMR_DRAWBEZIERS:
      Polygon(flags, data, size, false, true);
      return true;
    case U_PMR_FILLELLIPSE:
      EllipseShape(flags, data, size, true);
      return true;
    case U_PMR_DRAWELLIPSE:
      EllipseShape(flags, data, size, false);
      return true;
    case U_PMR_FILLPATH:
      PathShape(flags, data, size, true);
      return true;
    case U_PMR_DRAWPATH:
      PathShape(flags, data, size, false);
      return true;
    case U_PMR_DRAWSTRING:
      DrawString(flags, data, size);
      return true;
    case U_PMR_DRAWDRIVERSTRING:
      DrawDriverString(flags, data, size);
      return true;
    case U_PMR_FILLPIE:
      PieShape(flags, data, size, kFillPie);
      return true;
    case U_PMR_DRAWPIE:
      PieShape(flags, data, size, kDrawPie);
      return true;
    case U_PMR_DRAWARC:
      PieShape(flags, data, size, kDrawArc);
      return true;
    case U_PMR_DRAWIMAGE:
      DrawImage(flags, data, size, false);
      return true;
    case U_PMR_DRAWIMAGEPOINTS:
      DrawImage(flags, data, size, true);
      return true;
    default:
      return false;
  }
}

bool EmfPlusPlayer::StateRecord(uint16_t type, uint16_t flags, const uint8_t* data, size_t size) {
  RecordReader r(data, size);
  uint32_t id = r.Value<uint32_t>(0);
  switch (type & 0xFF) {
    case U_PMR_SAVE:
    case U_PMR_BEGINCONTAINERNOPARAMS:
      if (saved_.size() < kMaxSaved || saved_.count(id)) {
        saved_[id] = state_;
      } else {
        report_->Skip("EMF+ saved states beyond 1024");
      }
      return true;
    case U_PMR_RESTORE:
    case U_PMR_ENDCONTAINER: {
      auto found = saved_.find(id);
      if (found != saved_.end()) state_ = found->second;
      return true;
    }
    case U_PMR_RESETCLIP:
      state_.clip.clear();
      return true;
    case U_PMR_SETCLIPRECT:
      SetClipRect(flags, data, size);
      return true;
    case U_PMR_SETCLIPPATH:
      SetClipPath(flags);
      return true;
    case U_PMR_SETCLIPREGION:
      SetClipRegion(flags);
      return true;
    default:
      return false;
  }
}

PagePath EmfPlusPlayer::BuildPath(const Path& path) const {
  Matrix m = WorldToPage();
  PagePath out;
  for (size_t i = 0; i < path.points.size(); ++i) {
    uint8_t kind = path.types[i] & 0x07;
    Point p = m.Apply(path.points[i]);
    if (kind == 0) {
      out.MoveTo(p);
    } else if (kind == 3 && i + 2 < path.points.size()) {
      out.CurveTo(p, m.Apply(path.points[i + 1]), m.Apply(path.points[i + 2]));
      i += 2;
    } else {
      out.LineTo(p);
    }
    if (path.types[i] & 0x80) out.Close();
  }
  return out;
}

void EmfPlusPlayer::PaintPath(const PagePath& path, const Brush* fill, const Pen* pen,
                              bool evenOdd) {
  if (fill && fill->solid && fill->type != 0) {
    FillWithBrush(path, *fill, evenOdd);
    fill = nullptr;
  }
  FillStyle f;
  f.on = fill && fill->solid && fill->alpha > 0;
  if (f.on) f.color = fill->color, f.alpha = fill->alpha;
  f.evenOdd = evenOdd;
  StrokeStyle s;
  s.on = pen && pen->brush.alpha > 0;
  if (s.on) {
    s.color = pen->brush.color;
    s.alpha = pen->brush.alpha;
    double scale = pen->unit == 0
                       ? WorldToPage().Scale()
                       : UnitToPixels(pen->unit) * (2540 / dpiX_) * hundredthMmToPage_.Scale();
    s.width = pen->width * scale;
    s.join = 0;
  }
  painter_->SetClip(state_.clip);
  painter_->Paint(path, f, s);
}

void EmfPlusPlayer::FillRects(uint16_t flags, const uint8_t* data, size_t size, bool fill) {
  RecordReader r(data, size);
  uint64_t at = fill ? 8 : 4;
  uint32_t count = r.Value<uint32_t>(at - 4);
  bool int16 = flags & kInt16Flag;
  if (!r.Has(at, uint64_t(count) * (int16 ? 8 : 16))) return;
  Matrix m = WorldToPage();
  PagePath path;
  for (uint32_t i = 0; i < count; ++i) {
    Point c, s;
    ReadRect(r, at + uint64_t(i) * (int16 ? 8 : 16), int16, &c, &s);
    path.MoveTo(m.Apply(c));
    path.LineTo(m.Apply({c.x + s.x, c.y}));
    path.LineTo(m.Apply({c.x + s.x, c.y + s.y}));
    path.LineTo(m.Apply({c.x, c.y + s.y}));
    path.Close();
  }
  if (fill) {
    Brush brush = BrushFor(flags & kColorFlag, r.Value<uint32_t>(0));
    PaintPath(path, &brush, nullptr, false);
  } else {
    auto pen = pens_.find(flags & 0xFF);
    if (pen != pens_.end()) PaintPath(path, nullptr, &pen->second, false);
  }
}

void EmfPlusPlayer::Polygon(uint16_t flags, const uint8_t* data, size_t size, bool fill,
                            bool bezier) {
  RecordReader r(data, size);
  uint64_t at = fill ? 8 : 4;
  std::vector<Point> points;
  if ((flags & kRelativeFlag) ||
      !ReadPoints(r, at, r.Value<uint32_t>(at - 4), flags & kInt16Flag, &points) ||
      points.empty()) {
    if (flags & kRelativeFlag) report_->Skip("EMF+ relative points");
    return;
  }
  Matrix m = WorldToPage();
  PagePath path;
  path.MoveTo(m.Apply(points[0]));
  size_t i = 1;
  for (; bezier && i + 2 < points.size(); i += 3) {
    path.CurveTo(m.Apply(points[i]), m.Apply(points[i + 1]), m.Apply(points[i + 2]));
  }
  for (; !bezier && i < points.size(); ++i) path.LineTo(m.Apply(points[i]));
  if (fill || (!bezier && (flags & kClosedFlag))) path.Close();
  if (fill) {
    Brush brush = BrushFor(flags & kColorFlag, r.Value<uint32_t>(0));
    PaintPath(path, &brush, nullptr, !(flags & 0x2000));
    return;
  }
  auto pen = pens_.find(flags & 0xFF);
  if (pen != pens_.end()) PaintPath(path, nullptr, &pen->second, false);
}

void EmfPlusPlayer::EllipseShape(uint16_t flags, const uint8_t* data, size_t size, bool fill) {
  RecordReader r(data, size);
  Point c, s;
  if (!ReadRect(r, fill ? 4 : 0, flags & kInt16Flag, &c, &s)) return;
  PagePath path;
  AppendEllipseArc(&path, WorldToPage(), {c.x + s.x / 2, c.y + s.y / 2}, s.x / 2, s.y / 2, 0,
                   2 * kPi, true);
  path.Close();
  if (fill) {
    Brush brush = BrushFor(flags & kColorFlag, r.Value<uint32_t>(0));
    PaintPath(path, &brush, nullptr, false);
    return;
  }
  auto pen = pens_.find(flags & 0xFF);
  if (pen != pens_.end()) PaintPath(path, nullptr, &pen->second, false);
}

void EmfPlusPlayer::PieShape(uint16_t flags, const uint8_t* data, size_t size, PieKind kind) {
  // [brush,] start angle, sweep angle (degrees), rectangle.
  RecordReader r(data, size);
  uint64_t at = kind == kFillPie ? 4 : 0;
  float start = r.Value<float>(at), sweep = r.Value<float>(at + 4);
  Point c, s;
  if (!ReadRect(r, at + 8, flags & kInt16Flag, &c, &s)) return;
  Matrix m = WorldToPage();
  Point center{c.x + s.x / 2, c.y + s.y / 2};
  PagePath path;
  AppendEllipseArc(&path, m, center, s.x / 2, s.y / 2, start * kPi / 180, sweep * kPi / 180, true);
  if (kind != kDrawArc) {
    path.LineTo(m.Apply(center));
    path.Close();
  }
  if (kind == kFillPie) {
    Brush brush = BrushFor(flags & kColorFlag, r.Value<uint32_t>(0));
    PaintPath(path, &brush, nullptr, false);
    return;
  }
  auto pen = pens_.find(flags & 0xFF);
  if (pen != pens_.end()) PaintPath(path, nullptr, &pen->second, false);
}

void EmfPlusPlayer::PathShape(uint16_t flags, const uint8_t* data, size_t size, bool fill) {
  RecordReader r(data, size);
  auto path = paths_.find(flags & 0xFF);
  if (path == paths_.end()) return;
  PagePath page = BuildPath(path->second);
  if (fill) {
    Brush brush = BrushFor(flags & kColorFlag, r.Value<uint32_t>(0));
    PaintPath(page, &brush, nullptr, false);
    return;
  }
  auto pen = pens_.find(static_cast<uint8_t>(r.Value<uint32_t>(0)));
  if (pen != pens_.end()) PaintPath(page, nullptr, &pen->second, false);
}

void EmfPlusPlayer::DrawString(uint16_t flags, const uint8_t* data, size_t size) {
  // brush, format, length, layout rectangle (floats), the UTF-16 text.
  RecordReader r(data, size);
  auto font = fonts_.find(flags & 0xFF);
  std::u16string text;
  Point corner, extent;
  if (font == fonts_.end() || !ReadRect(r, 12, false, &corner, &extent) ||
      !r.Utf16(28, r.Value<uint32_t>(8), &text)) {
    return;
  }
  Format format;
  auto found = formats_.find(static_cast<uint8_t>(r.Value<uint32_t>(4)));
  if (found != formats_.end()) format = found->second;
  const Font& f = font->second;
  // Lines end at line breaks and, unless the format says not to wrap (its
  // flag 0x1000), where the next word would pass the layout's width.
  const uint32_t kNoWrap = 0x1000;
  const size_t kMaxLines = 1000;
  double wrapAt = extent.x > 0 && !(format.flags & kNoWrap) ? extent.x * 1000 / FontWorldSize(f)
                                                            : 0;  // in the font's thousandths
  std::vector<std::u16string> lines;
  std::u16string paragraph;
  auto flush = [&]() {
    std::u16string line, word;
    for (char16_t ch : paragraph + u" ") {
      if (ch != u' ') {
        word += ch;
        continue;
      }
      std::u16string longer = line.empty() ? word : line + u" " + word;
      if (wrapAt > 0 && !line.empty() && ShapeText(f.request, longer).width > wrapAt) {
        lines.push_back(line);
        line = word;
      } else {
        line = longer;
      }
      word.clear();
    }
    if (lines.size() < kMaxLines) lines.push_back(line);
    paragraph.clear();
  };
  for (char16_t ch : text) {
    if (ch == u'\n') {
      flush();
    } else if (ch != u'\r') {
      paragraph += ch;
    }
  }
  flush();
  if (lines.size() > kMaxLines) lines.resize(kMaxLines);
  DrawStringLines(f, lines, corner, extent, format,
                  BrushFor(flags & kColorFlag, r.Value<uint32_t>(0)));
}

void EmfPlusPlayer::DrawStringLines(const Font& f, const std::vector<std::u16string>& lines,
                                    Point corner, Point extent, const Format& format,
                                    const Brush& brush) {
  double worldSize = FontWorldSize(f), lineHeight = worldSize * 1.15;
  Matrix m = WorldToPage();
  double total = lineHeight * lines.size();
  double y = corner.y + worldSize * 0.9;  // the first line's baseline
  if (extent.y > 0 && format.lineAlign == 1) y += (extent.y - total) / 2;
  if (extent.y > 0 && format.lineAlign == 2) y += extent.y - total;
  for (const std::u16string& line : lines) {
    double width = ShapeText(f.request, line).width * worldSize / 1000;
    double x = corner.x;
    if (extent.x > 0 && format.align == 1) x += (extent.x - width) / 2;
    if (extent.x > 0 && format.align == 2) x += extent.x - width;
    ShowText(f, line, m.Apply({x, y}), brush, 100);
    y += lineHeight;
  }
}

void EmfPlusPlayer::DrawDriverString(uint16_t flags, const uint8_t* data, size_t size) {
  // brush, options, matrix present, glyph count, glyphs, their positions.
  RecordReader r(data, size);
  auto font = fonts_.find(flags & 0xFF);
  uint32_t options = r.Value<uint32_t>(4), count = r.Value<uint32_t>(12);
  std::u16string text;
  std::vector<Point> positions;
  if (font == fonts_.end() || count == 0 || !r.Utf16(16, count, &text) ||
      !ReadPoints(r, 16 + uint64_t(count) * 2, count, false, &positions)) {
    return;
  }
  if (!(options & 1)) {  // DriverStringOptionsCmapLookup: else glyph indices
    report_->Skip("EMF+ driver string of glyph indices");
    return;
  }
  if (r.Value<uint32_t>(8) != 0) report_->Skip("EMF+ driver string transform");
  const Font& f = font->second;
  // The glyphs' own positions set the line's width: the text is scaled to
  // span from the first to the last glyph as the file places them.
  double natural =
      ShapeText(f.request, text.substr(0, text.size() - 1)).width * FontWorldSize(f) / 1000;
  double span = positions.back().x - positions.front().x;
  double scale = natural > 0 && span > 0 ? std::clamp(100 * span / natural, 20.0, 500.0) : 100;
  ShowText(f, text, WorldToPage().Apply(positions.front()),
           BrushFor(flags & kColorFlag, r.Value<uint32_t>(0)), scale);
}

double EmfPlusPlayer::FontWorldSize(const Font& f) const {
  if (f.unit == 0) return f.emSize;  // UnitWorld
  return f.emSize * UnitToPixels(f.unit) / (UnitToPixels(state_.pageUnit) * state_.pageScale);
}

void EmfPlusPlayer::ShowText(const Font& f, const std::u16string& text, Point origin,
                             const Brush& brush, double horizontalScale) {
  Matrix m = WorldToPage();
  double fontSize = FontWorldSize(f) * std::hypot(m.c, m.d);
  ShapedText shaped = ShapeText(f.request, text);
  report_->Lost(shaped.lost);
  if (shaped.bytes.empty() || brush.alpha == 0 || !(fontSize > 0.01) || !std::isfinite(fontSize)) {
    return;
  }
  double angle = std::atan2(m.b, m.a);
  if (m.a < 0 && std::fabs(m.b) < 1e-9) angle = 0;
  TextRun run;
  run.baseFont = shaped.baseFont;
  run.font = shaped.font;
  run.glyphs = shaped.glyphs;
  run.chars = shaped.chars;
  run.size = fontSize;
  run.placement = Matrix{std::cos(angle), std::sin(angle), -std::sin(angle),
                         std::cos(angle), origin.x,        origin.y};
  run.bytes = shaped.bytes;
  run.color = brush.color;
  run.alpha = brush.alpha;
  run.horizontalScale = horizontalScale;
  painter_->SetClip(state_.clip);
  painter_->Text(run);
}

void EmfPlusPlayer::NarrowClip(const ClipPart& part, uint32_t mode) {
  // Replace, intersect, union, XOR, exclude; complement is not drawn.
  const ClipCombine hows[] = {ClipCombine::kReplace, ClipCombine::kIntersect, ClipCombine::kUnion,
                              ClipCombine::kXor, ClipCombine::kExclude};
  if (mode > 4 || !CombineClip(&state_.clip, *part.pathOps, part.evenOdd, hows[mode])) {
    report_->Skip("EMF+ clip combination not drawn");
  }
}

void EmfPlusPlayer::SetClipRect(uint16_t flags, const uint8_t* data, size_t size) {
  RecordReader r(data, size);
  Point c, s;
  if (!ReadRect(r, 0, false, &c, &s)) return;
  Matrix m = WorldToPage();
  PagePath path;
  path.MoveTo(m.Apply(c));
  path.LineTo(m.Apply({c.x + s.x, c.y}));
  path.LineTo(m.Apply({c.x + s.x, c.y + s.y}));
  path.LineTo(m.Apply({c.x, c.y + s.y}));
  path.Close();
  NarrowClip(ClipPart(path.Ops(), false), (flags >> 8) & 0xF);
}

void EmfPlusPlayer::SetClipPath(uint16_t flags) {
  auto path = paths_.find(flags & 0xFF);
  if (path == paths_.end()) return;
  NarrowClip(ClipPart(BuildPath(path->second).Ops(), false), (flags >> 8) & 0xF);
}

}  // namespace metafile
