// Reads the size of a Windows metafile and plays its records onto a PDF
// page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "pdf/metafile/gdi_player.h"
#include "pdf/metafile/pdf_painter.h"

namespace metafile {

/// Where a Windows metafile's records start and what its headers say.
struct WmfLayout {
  bool placeable = false;
  int16_t box[4] = {0, 0, 0, 0};  ///< placeable bounding box: left, top, right, bottom
  uint16_t unitsPerInch = 0;      ///< placeable header's units per inch
  size_t recordsAt = 0;           ///< offset of the first record
  /// The logical window the drawing fills, and its size in points.
  double window[4] = {0, 0, 0, 0};  ///< origin x, y; extent x, y
  double widthPoints = 0, heightPoints = 0;
};

/// True when data is a Windows metafile (with or without a placeable
/// header) whose size can be told: by the placeable bounding box, else by
/// its window (or viewport) extent records and map mode.
bool ReadWmfLayout(const uint8_t* data, size_t size, WmfLayout* layout, std::string* error);

/// Draws every record, mapping the metafile's window onto the page
/// rectangle that unitToPage maps [0,1]x[0,1] (top-down) onto. Returns
/// false with *error set when a record points past the end (what was drawn
/// before stays).
bool PlayWmf(const uint8_t* data, size_t size, const WmfLayout& layout, const Matrix& unitToPage,
             PdfPainter* painter, DrawReport* report, std::string* error);

}  // namespace metafile
