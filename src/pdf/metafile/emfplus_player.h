// Plays EMF+ records (the GDI+ drawing that enhanced metafiles carry in
// their comment records) onto a PDF page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pdf/metafile/gdi_player.h"
#include "pdf/metafile/pdf_painter.h"
#include "pdf/metafile/record_reader.h"

namespace metafile {

class EmfPlusPlayer {
 public:
  /// hundredthMmToPage maps hundredths of a millimetre on the reference
  /// device to page coordinates.
  EmfPlusPlayer(const Matrix& hundredthMmToPage, PdfPainter* painter, DrawReport* report);

  /// Plays the EMF+ records of one comment's data (after its signature).
  void Play(const uint8_t* data, size_t size);
  /// True once an EMF+ header record has been played: the file draws with
  /// EMF+, and its plain EMF records are only a fallback.
  bool Active() const { return active_; }
  /// True after a GetDC record, until the next EMF+ record, and after an
  /// image that could not be drawn, until the next EMF+ comment: the EMF
  /// records in between belong to the drawing (or, after such an image,
  /// carry the same drawing as the comment's EMF+ records).
  bool GdiAllowed() const { return gdiAllowed_ || fallback_; }
  /// The picture's area on the page (what Clear paints).
  void SetArea(const PagePath& area) { area_ = area; }

  /// An image object: a bitmap's pixels, a compressed picture file, or a
  /// metafile.
  struct ImageObject {
    RasterImage raster;
    std::string file;
    std::string metafile;
    int width = 0, height = 0;
    Point origin, extent;  ///< a metafile's picture in the image's pixels
    std::string resource;  ///< the painter's name once made
    bool failed = false;
  };
  struct Brush {
    bool solid = false;  ///< has a colour: plain, or the mean of a gradient
    Rgb color;
    uint8_t alpha = 255;
    uint32_t type = 0;  ///< 0 solid, 1 hatch, 2 texture, 3 path gradient, 4 linear gradient
    uint32_t hatch = 0;
    Rgb second;  ///< hatch background, gradient end or surrounding colour
    uint8_t secondAlpha = 255;
    Point corner, extent;         ///< a linear gradient's rectangle
    Point center;                 ///< a path gradient's centre
    std::vector<Point> boundary;  ///< a path gradient's boundary
    Matrix transform;             ///< brush space to world
    std::shared_ptr<ImageObject> image;
  };
  struct Pen {
    double width = 0;
    uint32_t unit = 0;
    Brush brush;
  };
  struct Font {
    double emSize = 12;
    uint32_t unit = 3;
    FontRequest request;
    bool underline = false, strikeOut = false;
  };
  struct Path {
    std::vector<Point> points;  ///< world units
    std::vector<uint8_t> types;
  };
  struct Format {
    uint32_t flags = 0;
    uint32_t align = 0, lineAlign = 0;  ///< 0 near, 1 centre, 2 far
  };
  struct State {
    Matrix world;
    uint32_t pageUnit = 2;  ///< UnitPixel
    double pageScale = 1;
    std::vector<ClipPart> clip;
  };

  /// An area of the page: everything, nothing, or the intersection of parts.
  struct Area {
    enum Kind { kEverything, kNothing, kParts } kind = kEverything;
    std::vector<ClipPart> parts;
  };

  /// A solid brush of a colour given as ARGB.
  static Brush ArgbBrush(uint32_t argb);
  /// count points at `at`: 16-bit integers or floats. False when they do
  /// not fit in the record.
  static bool ReadPoints(const RecordReader& r, uint64_t at, uint32_t count, bool int16,
                         std::vector<Point>* out);
  /// A path object's points and types at `at`; false when it does not fit
  /// or uses relative or run-length coded points.
  static bool ReadPath(const RecordReader& r, uint64_t at, Path* out);

 private:
  void Record(uint16_t type, uint16_t flags, const uint8_t* data, size_t size);
  bool TransformRecord(uint16_t type, uint16_t flags, const uint8_t* data, size_t size);
  bool DrawRecord(uint16_t type, uint16_t flags, const uint8_t* data, size_t size);
  bool StateRecord(uint16_t type, uint16_t flags, const uint8_t* data, size_t size);
  void Object(uint16_t flags, const uint8_t* data, size_t size);
  void WholeObject(uint16_t flags, const uint8_t* data, size_t size);
  Brush ReadBrush(const RecordReader& r, uint64_t at);
  void ReadPathGradient(const RecordReader& r, uint64_t at, Brush* brush);
  void Clear(const uint8_t* data, size_t size);
  void DrawImage(uint16_t flags, const uint8_t* data, size_t size, bool points);
  /// The image's resource name, made on first use; empty when it cannot be.
  std::string ImageName(ImageObject* image);
  /// A metafile image drawn into a form; empty when it cannot be.
  std::string MetafileForm(const ImageObject& image);
  void FillWithBrush(const PagePath& path, const Brush& brush, bool evenOdd);
  void LinearGradient(const PagePath& path, const Brush& brush);
  void PathGradient(const Brush& brush);
  void DrawStringLines(const Font& f, const std::vector<std::u16string>& lines, Point corner,
                       Point extent, const Format& format, const Brush& brush);
  void PenObject(uint8_t id, const uint8_t* data, size_t size);
  void PathObject(uint8_t id, const uint8_t* data, size_t size);
  void FillRects(uint16_t flags, const uint8_t* data, size_t size, bool fill);
  void Polygon(uint16_t flags, const uint8_t* data, size_t size, bool fill, bool bezier);
  void EllipseShape(uint16_t flags, const uint8_t* data, size_t size, bool fill);
  void PathShape(uint16_t flags, const uint8_t* data, size_t size, bool fill);
  enum PieKind { kFillPie, kDrawPie, kDrawArc };
  void PieShape(uint16_t flags, const uint8_t* data, size_t size, PieKind kind);
  void DrawString(uint16_t flags, const uint8_t* data, size_t size);
  void DrawDriverString(uint16_t flags, const uint8_t* data, size_t size);
  /// The font's em size in world units.
  double FontWorldSize(const Font& f) const;
  void ShowText(const Font& f, const std::u16string& text, Point origin, const Brush& brush,
                double horizontalScale);
  void SetClipRect(uint16_t flags, const uint8_t* data, size_t size);
  void SetClipPath(uint16_t flags);
  void SetClipRegion(uint16_t flags);
  void NarrowClip(const ClipPart& part, uint32_t mode);
  /// Reads the region node at *at (moved past it) into page space.
  bool RegionNode(const RecordReader& r, uint64_t* at, int depth, Area* out) const;

  Matrix WorldToPage() const;
  double UnitToPixels(uint32_t unit) const;
  Brush BrushFor(bool inlineColor, uint32_t value) const;
  void PaintPath(const PagePath& path, const Brush* fill, const Pen* pen, bool evenOdd);
  PagePath BuildPath(const Path& path) const;

  Matrix hundredthMmToPage_;
  PdfPainter* painter_;
  DrawReport* report_;
  bool active_ = false;
  bool gdiAllowed_ = false;
  bool fallback_ = false;
  double dpiX_ = 96, dpiY_ = 96;
  State state_;
  std::map<uint32_t, State> saved_;
  std::map<uint8_t, Brush> brushes_;
  std::map<uint8_t, Pen> pens_;
  std::map<uint8_t, Font> fonts_;
  std::map<uint8_t, Path> paths_;
  std::map<uint8_t, std::string> regions_;  ///< region objects, read when used
  std::map<uint8_t, Format> formats_;
  std::map<uint8_t, std::shared_ptr<ImageObject>> images_;
  PagePath area_;
  /// An object continued over several records, gathered until whole.
  struct Pending {
    bool active = false;
    uint16_t flags = 0;
    uint32_t total = 0;
    std::string data;
  } pending_;
};

/// Reads an EMF+ image object (a bitmap of pixels or a compressed file);
/// false with *why set when it holds nothing this can draw.
bool ReadPlusImage(const RecordReader& r, uint64_t at, EmfPlusPlayer::ImageObject* image,
                   std::string* why);

}  // namespace metafile
