// PDF page content for metafile drawings: paths, fills, strokes, text in
// the standard fonts, images and clipping, all in page coordinates (points,
// y upwards). The metafile players decide what to draw; this writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace metafile {

class TrueTypeFont;

struct Point {
  double x = 0, y = 0;
};

/// An affine map: x' = a x + c y + e, y' = b x + d y + f (PDF's order).
struct Matrix {
  double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
  Point Apply(Point p) const { return {a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
  /// Applies this map first, then `next`.
  Matrix Then(const Matrix& next) const;
  /// The inverse, or identity when the map is singular.
  Matrix Inverse() const;
  /// Mean length a unit of this map's input has after it (for line widths).
  double Scale() const;
  static Matrix Translate(double x, double y) { return {1, 0, 0, 1, x, y}; }
  static Matrix Scaling(double x, double y) { return {x, 0, 0, y, 0, 0}; }
};

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

/// A decoded bitmap: 8-bit RGB rows from the top; alpha (one byte per
/// pixel) only when some pixel is not opaque.
struct RasterImage {
  int width = 0, height = 0;
  std::string rgb;
  std::string alpha;
};

/// The cell of a tiling pattern: (0,0)-(width, height) painted by ops
/// (which may name image resources the canvas made), and the map from cell
/// space to the page.
struct PatternCell {
  std::string ops;
  double width = 8, height = 8;
  Matrix placement;
};

/// Where the drawing's resources go: the PDF layer names a standard font or
/// an image as a resource of the page and returns its name ("/F1").
class MetafileCanvas {
 public:
  virtual ~MetafileCanvas() = default;
  virtual std::string FontResource(const std::string& baseFont) = 0;
  /// The page's resource of an embedded TrueType font, which must show the
  /// glyphs given (each standing for the character of chars at its index).
  virtual std::string EmbeddedFontResource(const TrueTypeFont& font,
                                           const std::vector<uint16_t>& glyphs,
                                           const std::u32string& chars) = 0;
  virtual std::string ImageResource(const RasterImage& image) = 0;
  /// A picture file's bytes (PNG, JPEG, GIF, BMP or TIFF, as metafiles embed
  /// them) as an image resource, JPEG data as it is; its size in pixels goes
  /// to *width and *height. Empty with *error set when it cannot be read.
  virtual std::string PictureResource(const std::string& file, int* width, int* height,
                                      std::string* error) = 0;
  /// A form that fills the page path `area` (nonzero or even-odd) with the
  /// tiling pattern of `cell`.
  virtual std::string PatternFillResource(const std::string& area, bool evenOdd,
                                          const PatternCell& cell) = 0;
  /// A graphics state of fill and stroke opacity (0 to 1) and blend mode
  /// ("Normal", "Difference").
  virtual std::string GraphicStateResource(double fillAlpha, double strokeAlpha,
                                           const std::string& blendMode) = 0;
  /// A form of the content (drawn in (0,0)-(width, height), clipped to it,
  /// naming resources this canvas made) that fills the unit square.
  virtual std::string FormResource(const std::string& content, double width, double height) = 0;
};

/// A path in page coordinates, kept as PDF path operators.
class PagePath {
 public:
  void MoveTo(Point p);
  void LineTo(Point p);
  void CurveTo(Point c1, Point c2, Point p);
  void Close();
  bool Empty() const { return ops_.empty(); }
  bool HasCurrent() const { return hasCurrent_; }
  const std::string& Ops() const { return ops_; }
  void Append(const PagePath& other);
  /// The box around every point the path names (curves inside their
  /// control points); false for an empty path.
  bool Bounds(Point* low, Point* high) const;

 private:
  void Grow(Point p);

  std::string ops_;
  bool hasCurrent_ = false;
  bool hasBounds_ = false;
  Point low_, high_;
};

/// Appends an elliptic arc of centre c and radii rx, ry from angle start
/// (radians, y growing as the input's y does) sweeping by sweep (at most a
/// full turn), as Bezier curves of at most 90 degrees, each point mapped by
/// m (an affine map keeps Bezier curves exact). The arc's start is moved to
/// when moveFirst, else joined by a line.
void AppendEllipseArc(PagePath* path, const Matrix& m, Point c, double rx, double ry, double start,
                      double sweep, bool moveFirst);

/// One intersecting part of a clip: inside the path (nonzero or even-odd).
/// Copies share the path, so comparing the clips of saved states is cheap.
struct ClipPart {
  ClipPart(const std::string& ops, bool evenOddRule)
      : pathOps(std::make_shared<const std::string>(ops)), evenOdd(evenOddRule) {}
  std::shared_ptr<const std::string> pathOps;
  bool evenOdd = false;
  bool operator==(const ClipPart& o) const {
    return evenOdd == o.evenOdd && (pathOps == o.pathOps || *pathOps == *o.pathOps);
  }
};

/// Most parts a clip keeps; a further narrowing is left out (and counted).
const size_t kMaxClipParts = 64;

enum class ClipCombine { kIntersect, kUnion, kXor, kExclude, kReplace };

/// Combines a clip (an intersection of parts; empty: no clip) with a path.
/// A union or an exclusive or is written as one part of both paths (the
/// nonzero rule for a union, even-odd for an exclusive or: right when the
/// paths do not cross themselves and wind alike), so it needs a clip of at
/// most one part; false, the clip unchanged, otherwise and past
/// kMaxClipParts.
bool CombineClip(std::vector<ClipPart>* clip, const std::string& pathOps, bool evenOdd,
                 ClipCombine how);

struct StrokeStyle {
  bool on = false;
  Rgb color;
  uint8_t alpha = 255;  ///< opacity
  double width = 0;     ///< 0: the thinnest line the device shows
  std::vector<double> dash;
  int cap = 0, join = 0;  ///< PDF codes
  double miterLimit = 10;
};

struct FillStyle {
  bool on = false;
  Rgb color;
  uint8_t alpha = 255;  ///< opacity
  bool evenOdd = false;
};

/// A line of text in one standard font, WinAnsi bytes, or in an embedded
/// TrueType font, its glyphs.
struct TextRun {
  std::string baseFont;
  const TrueTypeFont* font = nullptr;  ///< set: glyphs and chars, not bytes
  std::vector<uint16_t> glyphs;
  std::u32string chars;
  double size = 12;
  Matrix placement;  ///< text space (baseline start at 0,0; unscaled) to page
  std::string bytes;
  Rgb color;
  uint8_t alpha = 255;           ///< opacity
  double horizontalScale = 100;  ///< percent
};

class PdfPainter {
 public:
  /// content stops growing (Full()) past limitBytes. depth counts the
  /// pictures this one is embedded in (0: drawn on the page).
  PdfPainter(MetafileCanvas* canvas, size_t limitBytes, int depth = 0);
  /// The clip for what is painted next: the intersection of the parts.
  void SetClip(const std::vector<ClipPart>& clip) { wantedClip_ = clip; }
  void Paint(const PagePath& path, const FillStyle& fill, const StrokeStyle& stroke);
  void Text(const TextRun& run);
  /// Draws the image into the parallelogram that `unitSquare` maps
  /// [0,1]x[0,1] onto (the image's top row at y = 1).
  void Image(const RasterImage& image, const Matrix& unitSquare);
  /// An image resource for later Place calls (empty when none was made).
  std::string ImageName(const RasterImage& image);
  std::string Picture(const std::string& file, int* width, int* height, std::string* error);
  /// Draws a named image resource as Image does, at an opacity.
  void Place(const std::string& name, const Matrix& unitSquare, uint8_t alpha = 255);
  /// Inverts what lies under the path (a white fill blended by difference).
  void Invert(const PagePath& path);
  /// Fills the path with the tiling pattern of cell.
  void PatternFill(const PagePath& path, bool evenOdd, const PatternCell& cell);
  bool Full() const { return content_.size() + formBytes_ > limit_; }
  int Depth() const { return depth_; }
  /// A painter for a picture embedded in this one's: one level deeper,
  /// limited to the room this one has left.
  PdfPainter Inner() const;
  /// The content an inner painter made, as a form resource for Place
  /// (empty when none was made); its bytes count against this painter's
  /// limit.
  std::string Form(const std::string& content, double width, double height);
  /// The content, every group closed.
  std::string Finish();

 private:
  void ApplyClip();
  /// The operator that sets fill and stroke opacity; empty when opaque.
  std::string Opacity(uint8_t fillAlpha, uint8_t strokeAlpha);
  void Emit(const std::string& ops);

  MetafileCanvas* canvas_;
  size_t limit_;
  int depth_;
  size_t formBytes_ = 0;  ///< content of the forms made through Form
  std::string content_;
  std::vector<ClipPart> wantedClip_;
  std::vector<ClipPart> activeClip_;
  bool clipOpen_ = false;
};

/// A number as PDF writes it (at most 4 decimals, no exponent).
std::string Num(double value);

}  // namespace metafile
