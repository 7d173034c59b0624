// The enhanced-metafile player: GDI's drawing model (GdiPlayer) driven by
// EMF records, with the EMF+ records of comments handed to EmfPlusPlayer.
// Internal to pdf/metafile/: emf_player.cpp plays the file and keeps the
// state, emf_drawing.cpp turns the drawing records into shapes.
#pragma once

#include <uemf.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "pdf/metafile/emf_player.h"
#include "pdf/metafile/emfplus_player.h"
#include "pdf/metafile/gdi_player.h"
#include "pdf/metafile/record_reader.h"

namespace metafile {

inline Rgb ToRgb(U_COLORREF c) { return Rgb{c.Red, c.Green, c.Blue}; }
inline Point ToPoint(U_POINTL p) { return {double(p.x), double(p.y)}; }
/// libuemf's name of an EMF record type ("U_EMR_POLYGON").
std::string EmfRecordName(uint32_t type);

class EmfPlayer : public GdiPlayer {
 public:
  EmfPlayer(const EmfHeader& header, const Matrix& hundredthMmToPage, PdfPainter* painter,
            DrawReport* report)
      : GdiPlayer(painter, report),
        deviceToPage_(Matrix::Scaling(header.HundredthMmPerPixel(0), header.HundredthMmPerPixel(1))
                          .Then(hundredthMmToPage)),
        header_(header),
        plus_(hundredthMmToPage, painter, report) {
    PagePath area;
    const int32_t* f = header.frame;
    area.MoveTo(hundredthMmToPage.Apply({double(f[0]), double(f[1])}));
    area.LineTo(hundredthMmToPage.Apply({double(f[2]), double(f[1])}));
    area.LineTo(hundredthMmToPage.Apply({double(f[2]), double(f[3])}));
    area.LineTo(hundredthMmToPage.Apply({double(f[0]), double(f[3])}));
    area.Close();
    plus_.SetArea(area);
  }

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
  /// Draws the EMRTEXT at `at`; returns the offset after it (0 when it
  /// does not fit).
  uint64_t Text(const RecordReader& r, uint64_t at, bool wide);
  void PolyText(const RecordReader& r, bool wide);
  void SmallText(const RecordReader& r);
  void PatternBrush(const RecordReader& r);
  /// AngleArc, PolyDraw and FrameRgn.
  bool MoreShapeRecord(uint32_t type, const RecordReader& r);
  void ExtCreatePen(const RecordReader& r);
  void ClipRegion(const RecordReader& r);
  void Comment(const RecordReader& r);
  void ModifyWorld(const RecordReader& r);
  void PaintRegion(const RecordReader& r, bool withBrushObject);
  void GradientFill(const RecordReader& r);
  /// Draws the DIB whose offBmi, cbBmi, offBits, cbBits stand at fieldsAt;
  /// with alpha its 32-bit pixels carry premultiplied alpha; constantAlpha
  /// below 255 makes the whole bitmap that much transparent.
  void DrawDib(const RecordReader& r, Point dest, Point extent, size_t fieldsAt, bool alpha = false,
               uint8_t constantAlpha = 255);

  Matrix deviceToPage_;
  EmfHeader header_;
  EmfPlusPlayer plus_;
};

}  // namespace metafile
