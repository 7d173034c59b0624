// Plays the records of an enhanced metafile (and the EMF+ records in its
// comments) onto a PDF page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "pdf/metafile/gdi_player.h"
#include "pdf/metafile/pdf_painter.h"

namespace metafile {

/// What the header record of an enhanced metafile says about its size.
struct EmfHeader {
  int32_t bounds[4] = {0, 0, 0, 0};  ///< device units: left, top, right, bottom
  int32_t frame[4] = {0, 0, 0, 0};   ///< hundredths of a millimetre
  int32_t devicePixels[2] = {0, 0};
  int32_t deviceMillimetres[2] = {0, 0};
  /// Hundredths of a millimetre per device unit, x and y (from the
  /// reference device; 96 per inch when it states no size).
  double HundredthMmPerPixel(int axis) const;
};

/// True when data starts with an enhanced-metafile header record that fits
/// in size; fills *header.
bool ReadEmfHeader(const uint8_t* data, size_t size, EmfHeader* header, std::string* error);

/// Draws every record. hundredthMmToPage maps the reference device's
/// hundredths of a millimetre (the frame's unit) to page coordinates. A
/// record whose size points past the end stops the drawing with *error set
/// (what was drawn before stays); returns false only then.
bool PlayEmf(const uint8_t* data, size_t size, const EmfHeader& header,
             const Matrix& hundredthMmToPage, PdfPainter* painter, DrawReport* report,
             std::string* error);

}  // namespace metafile
