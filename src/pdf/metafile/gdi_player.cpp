#include "pdf/metafile/gdi_player.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "pdf/metafile/truetype_font.h"

namespace metafile {

namespace {

const double kPi = 3.14159265358979323846;
// Saved states beyond this are refused: each holds its clip paths, and a
// file of nothing but SaveDC records must not exhaust memory.
const size_t kMaxSavedStates = 1024;
const size_t kMaxObjects = 65536;
// Far outside any page: the outer edge of an excluded rectangle's clip.
const double kFar = 1e6;

const uint32_t kStockBit = 0x80000000u;

GdiObject StockObject(uint32_t index) {
  GdiObject object;
  switch (index) {
    case 0:  // WHITE_BRUSH, LTGRAY_BRUSH, GRAY_BRUSH, DKGRAY_BRUSH, BLACK_BRUSH
    case 1:
    case 2:
    case 3:
    case 4: {
      const uint8_t grays[] = {255, 192, 128, 64, 0};
      object.kind = GdiObject::kBrush;
      object.brush.color = Rgb{grays[index], grays[index], grays[index]};
      break;
    }
    case 5:  // NULL_BRUSH
      object.kind = GdiObject::kBrush;
      object.brush.style = 1;
      break;
    case 6:  // WHITE_PEN, BLACK_PEN, NULL_PEN
    case 7:
    case 8:
      object.kind = GdiObject::kPen;
      object.pen.style = index == 8 ? 5 : 0;
      object.pen.color = index == 6 ? Rgb{255, 255, 255} : Rgb{};
      object.pen.cosmetic = true;
      break;
    case 10:  // OEM_FIXED_FONT, ANSI_FIXED_FONT, SYSTEM_FIXED_FONT
    case 11:
    case 16:
      object.kind = GdiObject::kFont;
      object.font.request.face = "Courier New";
      break;
    case 12:  // ANSI_VAR_FONT, SYSTEM_FONT, DEVICE_DEFAULT_FONT, DEFAULT_GUI_FONT
    case 13:
    case 14:
    case 17:
      object.kind = GdiObject::kFont;
      object.font.request.face = "Arial";
      break;
    default:
      break;
  }
  return object;
}

Point Mid(Point a, Point b) { return {(a.x + b.x) / 2, (a.y + b.y) / 2}; }

}  // namespace

void GdiPlayer::StoreObject(uint32_t index, const GdiObject& object) {
  if (objects_.size() >= kMaxObjects && !objects_.count(index)) {
    report_->Skip("objects beyond 65536");
    return;
  }
  objects_[index] = object;
}

void GdiPlayer::SelectObject(uint32_t index) {
  GdiObject object;
  if (index & kStockBit) {
    object = StockObject(index & ~kStockBit);
  } else {
    auto found = objects_.find(index);
    if (found == objects_.end()) return;
    object = found->second;
  }
  switch (object.kind) {
    case GdiObject::kPen:
      dc_.pen = object.pen;
      break;
    case GdiObject::kBrush:
      dc_.brush = object.brush;
      break;
    case GdiObject::kFont:
      dc_.font = object.font;
      break;
    default:
      break;
  }
}

void GdiPlayer::SaveDC() {
  if (saved_.size() >= kMaxSavedStates) {
    report_->Skip("SaveDC beyond 1024 levels");
    return;
  }
  saved_.push_back(dc_);
}

void GdiPlayer::RestoreDC(int32_t which) {
  // Negative counts back from the newest state; positive names a state by
  // its number from 1. A restore of a state that was never saved is ignored.
  int64_t keep =
      which < 0 ? static_cast<int64_t>(saved_.size()) + which : static_cast<int64_t>(which) - 1;
  if (which == 0 || keep < 0 || keep >= static_cast<int64_t>(saved_.size())) return;
  dc_ = saved_[static_cast<size_t>(keep)];
  saved_.resize(static_cast<size_t>(keep));
}

StrokeStyle GdiPlayer::Stroke() const {
  StrokeStyle s;
  uint32_t kind = dc_.pen.style & 0xF;
  s.on = kind != 5;  // PS_NULL
  s.color = dc_.pen.color;
  s.width = dc_.pen.cosmetic ? 0 : dc_.pen.width * LogicalToPage().Scale();
  if (dc_.pen.cosmetic) {
    s.cap = 1;
    s.join = 1;
  } else {
    uint32_t cap = dc_.pen.style & 0xF00, join = dc_.pen.style & 0xF000;
    s.cap = cap == 0x100 ? 2 : cap == 0x200 ? 0 : 1;
    s.join = join == 0x1000 ? 2 : join == 0x2000 ? 0 : 1;
  }
  s.miterLimit = dc_.miterLimit;
  double unit = std::max(s.width, 0.75);
  switch (kind) {
    case 1:
      s.dash = {3 * unit, unit};
      break;
    case 2:
      s.dash = {unit, unit};
      break;
    case 3:
      s.dash = {3 * unit, unit, unit, unit};
      break;
    case 4:
      s.dash = {3 * unit, unit, unit, unit, unit, unit};
      break;
    default:
      break;
  }
  return s;
}

FillStyle GdiPlayer::Fill() const {
  FillStyle f;
  f.on = dc_.brush.style == 0;
  f.color = dc_.brush.color;
  f.evenOdd = dc_.polyFillMode == 1;
  return f;
}

PatternCell HatchCell(uint32_t style, Rgb line, const Rgb* back, const Matrix& deviceToPage) {
  auto color = [](Rgb c, const char* op) {
    return Num(c.r / 255.0) + " " + Num(c.g / 255.0) + " " + Num(c.b / 255.0) + " " + op + "\n";
  };
  PatternCell cell;
  cell.placement = deviceToPage;
  if (back) cell.ops += color(*back, "rg") + "0 0 8 8 re f\n";
  cell.ops += color(line, "RG") + "1 w 0 J\n";
  // Lines run past the cell so that neighbouring cells join without gaps.
  const char* lines[] = {"-1 4 m 9 4 l\n",
                         "4 -1 m 4 9 l\n",
                         "-1 -1 m 9 9 l\n",
                         "-1 9 m 9 -1 l\n",
                         "-1 4 m 9 4 l 4 -1 m 4 9 l\n",
                         "-1 -1 m 9 9 l -1 9 m 9 -1 l\n"};
  cell.ops += std::string(lines[style <= 5 ? style : 4]) + "S\n";
  return cell;
}

const GdiBrush* GdiPlayer::StoredBrush(uint32_t index) const {
  auto found = objects_.find(index);
  if (found == objects_.end() || found->second.kind != GdiObject::kBrush) return nullptr;
  return &found->second.brush;
}

void GdiPlayer::FillWithBrush(const PagePath& path, const GdiBrush& brush, bool evenOdd) {
  painter_->SetClip(dc_.clip);
  if (brush.style == 2) {
    Rgb back = dc_.bkColor;
    painter_->PatternFill(
        path, evenOdd,
        HatchCell(brush.hatch, brush.color, dc_.bkMode == 2 ? &back : nullptr, DeviceToPage()));
    return;
  }
  if (brush.style != 0) {
    if (!brush.pattern) {
      if (brush.style != 1) report_->Skip("pattern brush without a readable bitmap");
      return;
    }
    // One bitmap pixel a device pixel, from the device origin, y downwards.
    const RasterImage& image = *brush.pattern;
    PatternCell cell;
    cell.width = image.width;
    cell.height = image.height;
    cell.placement = DeviceToPage();
    std::string name = painter_->ImageName(image);
    if (name.empty()) return;
    cell.ops = Num(image.width) + " 0 0 " + Num(-image.height) + " 0 " + Num(image.height) +
               " cm " + name + " Do\n";
    painter_->PatternFill(path, evenOdd, cell);
    return;
  }
  FillStyle f;
  f.on = true;
  f.color = brush.color;
  f.evenOdd = evenOdd;
  painter_->Paint(path, f, StrokeStyle());
}

void GdiPlayer::Draw(const PagePath& path, bool fill, bool stroke) {
  if (inPath_) {
    path_.Append(path);
    return;
  }
  FillStyle f = Fill();
  f.on = f.on && fill;
  StrokeStyle s = Stroke();
  s.on = s.on && stroke;
  if (fill && dc_.brush.style > 1) {
    FillWithBrush(path, dc_.brush, f.evenOdd);
    f.on = false;
  }
  painter_->SetClip(dc_.clip);
  painter_->Paint(path, f, s);
}

PagePath GdiPlayer::PolygonPath(const std::vector<Point>& logical, bool closed) const {
  Matrix m = LogicalToPage();
  PagePath path;
  for (size_t i = 0; i < logical.size(); ++i) {
    if (i == 0) {
      path.MoveTo(m.Apply(logical[i]));
    } else {
      path.LineTo(m.Apply(logical[i]));
    }
  }
  if (closed) path.Close();
  return path;
}

void GdiPlayer::MoveTo(Point p) {
  dc_.position = p;
  if (inPath_) path_.MoveTo(LogicalToPage().Apply(p));
}

void GdiPlayer::LineTo(Point p) {
  if (inPath_) {
    if (!path_.HasCurrent()) path_.MoveTo(LogicalToPage().Apply(dc_.position));
    path_.LineTo(LogicalToPage().Apply(p));
  } else {
    Draw(PolygonPath({dc_.position, p}, false), false, true);
  }
  dc_.position = p;
}

void GdiPlayer::Rectangle(Point a, Point b) {
  Draw(PolygonPath({a, {b.x, a.y}, b, {a.x, b.y}}, true), true, true);
}

void GdiPlayer::FillRectangleWith(Point a, Point b, Rgb color) {
  FillPolygonWith({a, {b.x, a.y}, b, {a.x, b.y}}, color);
}

void GdiPlayer::FillPolygonWith(const std::vector<Point>& points, Rgb color) {
  FillStyle f;
  f.on = true;
  f.color = color;
  painter_->SetClip(dc_.clip);
  painter_->Paint(PolygonPath(points, true), f, StrokeStyle());
}

void GdiPlayer::BlitWithoutSource(Point a, Point b, uint32_t rop) {
  // The operation's index byte: its result for each combination of
  // pattern, source and destination bits.
  switch ((rop >> 16) & 0xFF) {
    case 0xAA:  // the destination as it is
      return;
    case 0x00:  // BLACKNESS
      FillRectangleWith(a, b, Rgb{0, 0, 0});
      return;
    case 0xFF:  // WHITENESS
      FillRectangleWith(a, b, Rgb{255, 255, 255});
      return;
    case 0xF0:  // PATCOPY
      FillWithBrush(PolygonPath({a, {b.x, a.y}, b, {a.x, b.y}}, true), dc_.brush, false);
      return;
    case 0x55:  // DSTINVERT
      painter_->SetClip(dc_.clip);
      painter_->Invert(PolygonPath({a, {b.x, a.y}, b, {a.x, b.y}}, true));
      return;
    default: {
      char name[64];
      std::snprintf(name, sizeof name, "raster operation 0x%08X without a bitmap", rop);
      report_->Skip(name);
    }
  }
}

void GdiPlayer::FillRegion(const std::vector<DeviceRect>& rects, uint32_t brushIndex) {
  const GdiBrush* brush = brushIndex == kSelectedBrush ? &dc_.brush : StoredBrush(brushIndex);
  if (!brush || brush->style == 1) return;
  PagePath path;
  for (const DeviceRect& r : rects) {
    path.Append(PolygonPath(
        {{r.left, r.top}, {r.right, r.top}, {r.right, r.bottom}, {r.left, r.bottom}}, true));
  }
  FillWithBrush(path, *brush, false);
}

void GdiPlayer::FrameRegion(const std::vector<DeviceRect>& rects, uint32_t brushIndex, double width,
                            double height) {
  const GdiBrush* brush = StoredBrush(brushIndex);
  if (!brush || brush->style == 1) return;
  // Each rectangle less its inside: an even-odd ring.
  PagePath path;
  for (const DeviceRect& r : rects) {
    double w = std::min(std::fabs(width), (r.right - r.left) / 2);
    double h = std::min(std::fabs(height), (r.bottom - r.top) / 2);
    path.Append(PolygonPath(
        {{r.left, r.top}, {r.right, r.top}, {r.right, r.bottom}, {r.left, r.bottom}}, true));
    path.Append(PolygonPath({{r.left + w, r.top + h},
                             {r.right - w, r.top + h},
                             {r.right - w, r.bottom - h},
                             {r.left + w, r.bottom - h}},
                            true));
  }
  FillWithBrush(path, *brush, true);
}

void GdiPlayer::AngleArc(Point center, double radius, double start, double sweep) {
  // Degrees counter-clockwise on the screen: y grows downwards in logical space.
  double t0 = -start * kPi / 180, dt = -sweep * kPi / 180;
  double r = std::fabs(radius);
  PagePath path;
  Matrix m = LogicalToPage();
  if (!(inPath_ && path_.HasCurrent())) path.MoveTo(m.Apply(dc_.position));
  AddEllipseArc(&path, center, r, r, t0, dt, false);
  dc_.position = {center.x + r * std::cos(t0 + dt), center.y + r * std::sin(t0 + dt)};
  Draw(path, false, true);
}

void GdiPlayer::PolyDraw(const std::vector<Point>& points, const std::vector<uint8_t>& types) {
  Matrix m = LogicalToPage();
  PagePath path;
  if (!(inPath_ && path_.HasCurrent())) path.MoveTo(m.Apply(dc_.position));
  for (size_t i = 0; i < points.size() && i < types.size(); ++i) {
    uint8_t kind = types[i] & 6;
    if (kind == 4 && i + 2 < points.size()) {  // PT_BEZIERTO: three points
      path.CurveTo(m.Apply(points[i]), m.Apply(points[i + 1]), m.Apply(points[i + 2]));
      i += 2;
    } else if (kind == 6) {
      path.MoveTo(m.Apply(points[i]));
    } else {
      path.LineTo(m.Apply(points[i]));
    }
    dc_.position = points[i];
    if (types[i] & 1) path.Close();
  }
  Draw(path, false, true);
}

void GdiPlayer::AddEllipseArc(PagePath* path, Point c, double rx, double ry, double start,
                              double sweep, bool moveFirst) const {
  AppendEllipseArc(path, LogicalToPage(), c, rx, ry, start, sweep, moveFirst);
}

void GdiPlayer::Ellipse(Point a, Point b) {
  PagePath path;
  AddEllipseArc(&path, Mid(a, b), std::fabs(b.x - a.x) / 2, std::fabs(b.y - a.y) / 2, 0, 2 * kPi,
                true);
  path.Close();
  Draw(path, true, true);
}

void GdiPlayer::RoundRect(Point a, Point b, double cw, double ch) {
  double left = std::min(a.x, b.x), right = std::max(a.x, b.x);
  double top = std::min(a.y, b.y), bottom = std::max(a.y, b.y);
  double rx = std::min(std::fabs(cw) / 2, (right - left) / 2);
  double ry = std::min(std::fabs(ch) / 2, (bottom - top) / 2);
  PagePath path;
  AddEllipseArc(&path, {right - rx, top + ry}, rx, ry, -kPi / 2, kPi / 2, true);
  AddEllipseArc(&path, {right - rx, bottom - ry}, rx, ry, 0, kPi / 2, false);
  AddEllipseArc(&path, {left + rx, bottom - ry}, rx, ry, kPi / 2, kPi / 2, false);
  AddEllipseArc(&path, {left + rx, top + ry}, rx, ry, kPi, kPi / 2, false);
  path.Close();
  Draw(path, true, true);
}

void GdiPlayer::Arc(ArcKind kind, Point a, Point b, Point start, Point end) {
  Point c = Mid(a, b);
  double rx = std::fabs(b.x - a.x) / 2, ry = std::fabs(b.y - a.y) / 2;
  if (rx <= 0 || ry <= 0) return;
  double t0 = std::atan2((start.y - c.y) / ry, (start.x - c.x) / rx);
  double t1 = std::atan2((end.y - c.y) / ry, (end.x - c.x) / rx);
  // With y growing downwards, GDI's counter-clockwise is a falling angle.
  double sweep = t1 - t0;
  if (dc_.clockwise) {
    if (sweep <= 0) sweep += 2 * kPi;
  } else if (sweep >= 0) {
    sweep -= 2 * kPi;
  }
  PagePath path;
  bool fromPosition = kind == kArcTo;
  if (fromPosition) path.MoveTo(LogicalToPage().Apply(dc_.position));
  AddEllipseArc(&path, c, rx, ry, t0, sweep, !fromPosition);
  if (kind == kPie) path.LineTo(LogicalToPage().Apply(c));
  if (kind == kPie || kind == kChord) path.Close();
  if (fromPosition) {
    double t = t0 + sweep;
    dc_.position = {c.x + rx * std::cos(t), c.y + ry * std::sin(t)};
  }
  bool closed = kind == kPie || kind == kChord;
  Draw(path, closed, true);
}

void GdiPlayer::Poly(const std::vector<Point>& points, bool closed, bool fromPosition) {
  if (points.empty()) return;
  std::vector<Point> all;
  if (fromPosition) all.push_back(dc_.position);
  all.insert(all.end(), points.begin(), points.end());
  if (fromPosition) dc_.position = points.back();
  if (inPath_ && fromPosition && path_.HasCurrent()) {
    for (const Point& p : points) path_.LineTo(LogicalToPage().Apply(p));
    return;
  }
  Draw(PolygonPath(all, closed), closed, true);
}

void GdiPlayer::Bezier(const std::vector<Point>& points, bool fromPosition) {
  Matrix m = LogicalToPage();
  PagePath path;
  size_t first = 0;
  if (fromPosition) {
    if (!(inPath_ && path_.HasCurrent())) path.MoveTo(m.Apply(dc_.position));
  } else {
    if (points.empty()) return;
    path.MoveTo(m.Apply(points[0]));
    first = 1;
  }
  size_t i = first;
  for (; i + 2 < points.size(); i += 3) {
    path.CurveTo(m.Apply(points[i]), m.Apply(points[i + 1]), m.Apply(points[i + 2]));
  }
  if (fromPosition && i > first) dc_.position = points[i - 1];
  Draw(path, false, true);
}

void GdiPlayer::PolyPoly(const std::vector<std::vector<Point>>& polys, bool closed) {
  PagePath path;
  for (const auto& poly : polys) path.Append(PolygonPath(poly, closed));
  Draw(path, closed, true);
}

void GdiPlayer::BeginPath() {
  inPath_ = true;
  pathClosedForUse_ = false;
  path_ = PagePath();
}

void GdiPlayer::AbortPath() {
  inPath_ = false;
  path_ = PagePath();
}

void GdiPlayer::UsePath(bool fill, bool stroke) {
  inPath_ = false;
  PagePath path = path_;
  path_ = PagePath();
  Draw(path, fill, stroke);
}

void GdiPlayer::NarrowClip(const ClipPart& part) {
  if (dc_.clip.size() >= kMaxClipParts) {
    report_->Skip("clip narrowed more than 64 times");
    return;
  }
  dc_.clip.push_back(part);
}

namespace {

bool CombineByMode(std::vector<ClipPart>* clip, const std::string& ops, bool evenOdd, int mode) {
  // RGN_AND 1, RGN_OR 2, RGN_XOR 3, RGN_DIFF 4, RGN_COPY 5.
  const ClipCombine hows[] = {ClipCombine::kIntersect, ClipCombine::kIntersect,
                              ClipCombine::kUnion,     ClipCombine::kXor,
                              ClipCombine::kExclude,   ClipCombine::kReplace};
  if (mode < 1 || mode > 5) return false;
  return CombineClip(clip, ops, evenOdd, hows[mode]);
}

}  // namespace

void GdiPlayer::SelectClipPath(int mode) {
  inPath_ = false;
  PagePath path = path_;
  path_ = PagePath();
  if (path.Empty()) return;
  if (!CombineByMode(&dc_.clip, path.Ops(), dc_.polyFillMode == 1, mode)) {
    report_->Skip("clip path combined with a clip of several parts");
  }
}

void GdiPlayer::IntersectClipRect(Point a, Point b) {
  NarrowClip(ClipPart(PolygonPath({a, {b.x, a.y}, b, {a.x, b.y}}, true).Ops(), false));
}

void GdiPlayer::ExcludeClipRect(Point a, Point b) {
  PagePath path;
  path.MoveTo({-kFar, -kFar});
  path.LineTo({kFar, -kFar});
  path.LineTo({kFar, kFar});
  path.LineTo({-kFar, kFar});
  path.Close();
  path.Append(PolygonPath({a, {b.x, a.y}, b, {a.x, b.y}}, true));
  NarrowClip(ClipPart(path.Ops(), true));
}

void GdiPlayer::SelectClipRegion(const std::vector<DeviceRect>& rects, int mode) {
  Matrix m = DeviceToPage();
  PagePath path;
  for (const DeviceRect& r : rects) {
    path.MoveTo(m.Apply({r.left, r.top}));
    path.LineTo(m.Apply({r.right, r.top}));
    path.LineTo(m.Apply({r.right, r.bottom}));
    path.LineTo(m.Apply({r.left, r.bottom}));
    path.Close();
  }
  if (path.Empty()) {  // RGN_COPY without a region: no clip
    if (mode == 5) dc_.clip.clear();
    return;
  }
  if (!CombineByMode(&dc_.clip, path.Ops(), false, mode)) {
    report_->Skip("clip region combined with a clip of several parts");
  }
}

void GdiPlayer::Bitmap(Point dest, Point extent, const RasterImage& image) {
  PlaceImage(dest, extent, painter_->ImageName(image));
}

void GdiPlayer::PlaceImage(Point dest, Point extent, const std::string& name, uint8_t alpha) {
  Matrix m = LogicalToPage();
  // The image's unit square: (0,0) bottom-left is the destination's lower
  // left corner in logical space (y down), (0,1) its upper left.
  Point origin = m.Apply({dest.x, dest.y + extent.y});
  Point right = m.Apply({dest.x + extent.x, dest.y + extent.y});
  Point up = m.Apply(dest);
  Matrix unit{right.x - origin.x, right.y - origin.y, up.x - origin.x,
              up.y - origin.y,    origin.x,           origin.y};
  painter_->SetClip(dc_.clip);
  painter_->Place(name, unit, alpha);
}

void GdiPlayer::TextDecoration(const Matrix& place, double width, double size, Rgb color) {
  StrokeStyle s;
  s.on = true;
  s.color = color;
  s.width = size * 0.06;
  auto line = [&](double y) {
    PagePath path;
    path.MoveTo(place.Apply({0, y}));
    path.LineTo(place.Apply({width, y}));
    painter_->Paint(path, FillStyle(), s);
  };
  if (dc_.font.underline) line(-size * 0.12);
  if (dc_.font.strikeOut) line(size * 0.28);
}

void GdiPlayer::TextOut(Point reference, const std::u16string& text, const std::vector<double>& dx,
                        uint32_t options, const Point* box) {
  const uint32_t kOpaque = 2, kClipped = 4, kUpdateCp = 1, kAlignMask = 6, kRight = 2, kCenter = 6,
                 kBaseline = 24, kBottom = 8;
  Matrix m = LogicalToPage();
  if (box && (options & kOpaque)) FillRectangleWith(box[0], box[1], dc_.bkColor);
  ShapedText shaped = ShapeText(dc_.font.request, text);
  report_->Lost(shaped.lost);
  if (shaped.bytes.empty()) return;
  if (dc_.textAlign & kUpdateCp) reference = dc_.position;

  // Size: the font height through the map's vertical scale; a positive
  // height is the cell, of which about 80% is the character height.
  double yScale = std::hypot(m.c, m.d), xScale = std::hypot(m.a, m.b);
  double height = dc_.font.height == 0 ? 12 / 0.75 : std::fabs(dc_.font.height);
  double size = height * yScale * (dc_.font.height > 0 ? 0.8 : 1.0);
  if (!(size > 0.01) || !std::isfinite(size)) return;
  double natural = shaped.width * size / 1000;
  double advance = 0;
  for (double d : dx) advance += d;
  double width = dx.empty() ? natural : std::fabs(advance) * xScale;
  double scale = natural > 0 && !dx.empty() ? std::clamp(100 * width / natural, 20.0, 500.0) : 100;

  // The baseline's direction: the logical x axis on the page, turned by the
  // escapement; glyphs stay upright whatever the map mirrors.
  double angle = std::atan2(m.b, m.a) + dc_.font.escapement * kPi / 1800;
  if (m.a < 0 && std::fabs(m.b) < 1e-9) angle = 0;
  double cs = std::cos(angle), sn = std::sin(angle);
  double ascent = size * 0.8, descent = size * 0.2;
  double shiftX = 0, shiftY = 0;
  uint32_t horizontal = dc_.textAlign & kAlignMask;
  if (horizontal == kRight) shiftX = -width;
  if (horizontal == kCenter) shiftX = -width / 2;
  uint32_t vertical = dc_.textAlign & kBaseline;
  if (vertical == 0) shiftY = -ascent;
  if (vertical == kBottom) shiftY = descent;
  Point origin = m.Apply(reference);
  Matrix place{
      cs, sn, -sn, cs, origin.x + cs * shiftX - sn * shiftY, origin.y + sn * shiftX + cs * shiftY};

  std::vector<ClipPart> clip = dc_.clip;
  if (box && (options & kClipped)) {
    clip.push_back(ClipPart(
        PolygonPath({box[0], {box[1].x, box[0].y}, box[1], {box[0].x, box[1].y}}, true).Ops(),
        false));
  }
  painter_->SetClip(clip);
  if (dc_.bkMode == 2 && !(box && (options & kOpaque))) {
    PagePath cell;
    cell.MoveTo(place.Apply({0, -descent}));
    cell.LineTo(place.Apply({width, -descent}));
    cell.LineTo(place.Apply({width, ascent}));
    cell.LineTo(place.Apply({0, ascent}));
    cell.Close();
    FillStyle back;
    back.on = true;
    back.color = dc_.bkColor;
    painter_->Paint(cell, back, StrokeStyle());
  }
  TextRun run;
  run.baseFont = shaped.baseFont;
  run.font = shaped.font;
  run.glyphs = shaped.glyphs;
  run.chars = shaped.chars;
  run.size = size;
  run.placement = place;
  run.bytes = shaped.bytes;
  run.color = dc_.textColor;
  run.horizontalScale = scale;
  painter_->Text(run);
  TextDecoration(place, width, size, dc_.textColor);
  if (dc_.textAlign & kUpdateCp) {
    Matrix back = m.Inverse();
    dc_.position = back.Apply(place.Apply({width, shiftY == 0 ? 0 : -shiftY}));
  }
}

}  // namespace metafile
