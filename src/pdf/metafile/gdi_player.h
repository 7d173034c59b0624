// The drawing model that enhanced and Windows metafiles share: GDI's device
// context (pens, brushes, fonts, colours, text alignment, current position,
// saved states, clipping, paths) and its shapes, drawn through a PdfPainter.
// The EMF and WMF players decode records and call these; they differ in how
// logical coordinates reach the page (LogicalToPage, DeviceToPage).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pdf/metafile/pdf_painter.h"
#include "pdf/metafile/standard_fonts.h"

namespace metafile {

/// What a drawing left out: records not drawn by name, and problems met.
struct DrawReport {
  std::map<std::string, int> notDrawn;
  std::vector<std::string> problems;  ///< the first few only
  void Skip(const std::string& what) { ++notDrawn[what]; }
  /// Counts what text lost (ShapedText::lost), when it lost anything.
  void Lost(const std::string& what) {
    if (!what.empty()) Skip(what);
  }
  void Problem(const std::string& what) {
    if (problems.size() < 5) problems.push_back(what);
  }
};

struct GdiPen {
  uint32_t style = 0;  ///< PS_* style, end cap and join bits
  double width = 0;    ///< logical units; 0 is one device pixel
  Rgb color;
  bool cosmetic = false;
};

struct GdiBrush {
  uint32_t style = 0;  ///< BS_SOLID 0, BS_NULL 1, BS_HATCHED 2, patterns above
  Rgb color{255, 255, 255};
  uint32_t hatch = 0;  ///< HS_* of a hatched brush
  /// A pattern brush's bitmap (style 3); none when it could not be read.
  std::shared_ptr<const RasterImage> pattern;
};

/// The cell of a hatch of style HS_* (0 horizontal, 1 vertical, 2 and 3
/// diagonals, 4 cross, 5 diagonal cross) 8 device pixels square, y
/// downwards: lines of `line` colour over `back` (none when null).
PatternCell HatchCell(uint32_t style, Rgb line, const Rgb* back, const Matrix& deviceToPage);

struct GdiFont {
  double height = 0;       ///< logical units; negative: character height
  int32_t escapement = 0;  ///< tenths of a degree, counter-clockwise
  bool underline = false, strikeOut = false;
  FontRequest request;
};

struct GdiObject {
  enum Kind { kPen, kBrush, kFont, kOther } kind = kOther;
  GdiPen pen;
  GdiBrush brush;
  GdiFont font;
};

/// One saved state of the device context.
struct DcState {
  int mapMode = 1;  ///< MM_TEXT
  Point windowOrg, windowExt{1, 1}, viewportOrg, viewportExt{1, 1};
  Matrix world;
  GdiPen pen;
  GdiBrush brush;
  GdiFont font;
  Rgb textColor, bkColor{255, 255, 255};
  int bkMode = 2;  ///< OPAQUE
  uint32_t textAlign = 0;
  int polyFillMode = 1;  ///< ALTERNATE
  Point position;
  bool clockwise = false;
  double miterLimit = 10;
  std::vector<ClipPart> clip;
};

/// A rectangle in device units (clip regions).
struct DeviceRect {
  double left, top, right, bottom;
};

class GdiPlayer {
 public:
  GdiPlayer(PdfPainter* painter, DrawReport* report) : painter_(painter), report_(report) {}
  virtual ~GdiPlayer() = default;
  GdiPlayer(const GdiPlayer&) = delete;
  GdiPlayer& operator=(const GdiPlayer&) = delete;

 protected:
  /// Logical coordinates of the current state to page coordinates.
  virtual Matrix LogicalToPage() const = 0;
  /// Device units (where clip regions are given) to page coordinates.
  virtual Matrix DeviceToPage() const = 0;

  void StoreObject(uint32_t index, const GdiObject& object);
  /// Selects a stored object, or a stock object (index with the high bit).
  void SelectObject(uint32_t index);
  void DeleteObject(uint32_t index) { objects_.erase(index); }
  void SaveDC();
  /// Negative: relative to the newest saved state; positive: by number.
  void RestoreDC(int32_t which);

  void MoveTo(Point p);
  void LineTo(Point p);
  void Rectangle(Point a, Point b);
  void RoundRect(Point a, Point b, double cornerWidth, double cornerHeight);
  void Ellipse(Point a, Point b);
  enum ArcKind { kArc, kArcTo, kChord, kPie };
  void Arc(ArcKind kind, Point a, Point b, Point start, Point end);
  /// Polyline, polygon (closed, filled) or polylineto (from the position).
  void Poly(const std::vector<Point>& points, bool closed, bool fromPosition);
  /// Bezier segments; with fromPosition the first point is the position.
  void Bezier(const std::vector<Point>& points, bool fromPosition);
  void PolyPoly(const std::vector<std::vector<Point>>& polys, bool closed);
  /// Fills a logical rectangle or polygon with a colour, without outline.
  void FillRectangleWith(Point a, Point b, Rgb color);
  void FillPolygonWith(const std::vector<Point>& points, Rgb color);
  /// A blit without a source bitmap onto the logical rectangle a-b: what
  /// the ternary raster operation `rop` does with the brush and the page.
  void BlitWithoutSource(Point a, Point b, uint32_t rop);
  /// Fills a region of logical rectangles with a stored brush object, or
  /// the selected brush for kSelectedBrush.
  static const uint32_t kSelectedBrush = 0xFFFFFFFFu;
  void FillRegion(const std::vector<DeviceRect>& rects, uint32_t brushIndex);

  /// ExtTextOut: options ETO_OPAQUE (2) fills and ETO_CLIPPED (4) clips to
  /// *box when given; dx holds the advances in logical units (may be empty).
  void TextOut(Point reference, const std::u16string& text, const std::vector<double>& dx,
               uint32_t options, const Point* box);
  /// Draws a bitmap into the logical rectangle at dest of size extent.
  void Bitmap(Point dest, Point extent, const RasterImage& image);
  /// The same for an image resource the painter made, at an opacity.
  void PlaceImage(Point dest, Point extent, const std::string& name, uint8_t alpha = 255);
  /// AngleArc: a line from the position to the arc's start, and the arc.
  void AngleArc(Point center, double radius, double start, double sweep);
  /// PolyDraw: points with PT_MOVETO 6, PT_LINETO 2, PT_BEZIERTO 4 and
  /// PT_CLOSEFIGURE 1 types.
  void PolyDraw(const std::vector<Point>& points, const std::vector<uint8_t>& types);
  /// FrameRgn: the outline of each rectangle of a region, width by height
  /// logical units, painted with a stored brush.
  void FrameRegion(const std::vector<DeviceRect>& rects, uint32_t brushIndex, double width,
                   double height);

  void BeginPath();
  void EndPath() { pathClosedForUse_ = true; }
  void AbortPath();
  void CloseFigure() { path_.Close(); }
  void FillPath() { UsePath(true, false); }
  void StrokePath() { UsePath(false, true); }
  void StrokeAndFillPath() { UsePath(true, true); }
  void SelectClipPath(int mode);

  void IntersectClipRect(Point a, Point b);
  void ExcludeClipRect(Point a, Point b);
  /// A region of device rectangles combined with the clip by RGN_* mode;
  /// RGN_COPY with no rectangles removes the clip.
  void SelectClipRegion(const std::vector<DeviceRect>& rects, int mode);
  /// Adds a part to the clip (at most kMaxClipParts).
  void NarrowClip(const ClipPart& part);

  DcState dc_;
  DrawReport* report() { return report_; }
  PdfPainter* painter() { return painter_; }

 private:
  void Draw(const PagePath& path, bool fill, bool stroke);
  /// Fills with a brush: plain, hatched or a pattern.
  void FillWithBrush(const PagePath& path, const GdiBrush& brush, bool evenOdd);
  const GdiBrush* StoredBrush(uint32_t index) const;
  void UsePath(bool fill, bool stroke);
  StrokeStyle Stroke() const;
  FillStyle Fill() const;
  PagePath PolygonPath(const std::vector<Point>& logical, bool closed) const;
  void AddEllipseArc(PagePath* path, Point center, double rx, double ry, double start, double sweep,
                     bool moveFirst) const;
  void TextDecoration(const Matrix& place, double width, double size, Rgb color);

  PdfPainter* painter_;
  DrawReport* report_;
  std::map<uint32_t, GdiObject> objects_;
  std::vector<DcState> saved_;
  bool inPath_ = false;
  bool pathClosedForUse_ = false;
  PagePath path_;
};

}  // namespace metafile
