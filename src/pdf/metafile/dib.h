// Device-independent bitmaps as metafiles carry them: a BITMAPINFO (or
// BITMAPCOREHEADER) header with its colour table, and the pixel rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "pdf/metafile/pdf_painter.h"

namespace metafile {

/// Largest bitmap decoded, in pixels (three bytes each once decoded).
const int64_t kMaxDibPixels = int64_t(1) << 24;

/// BI_JPEG and BI_PNG: the rows are a whole JPEG or PNG file.
const uint32_t kBiJpeg = 4, kBiPng = 5;

/// The compression a DIB header states (BI_RGB when it is unreadable).
uint32_t DibCompression(const uint8_t* header, size_t headerSize);

/// Decodes a DIB of 1, 4, 8, 16, 24 or 32 bits per pixel, uncompressed
/// (BI_RGB or BI_BITFIELDS) or run-length encoded (BI_RLE8, BI_RLE4). header/headerSize hold the
/// info header and colour table; bits/bitsSize the rows. False with *error set for other
/// compressions, absurd sizes, or rows or colours that are not all there.
/// With premultipliedAlpha, 32-bit pixels carry a premultiplied alpha in
/// their fourth byte (as AlphaBlend takes them), which goes to image->alpha.
bool DecodeDib(const uint8_t* header, size_t headerSize, const uint8_t* bits, size_t bitsSize,
               RasterImage* image, std::string* error, bool premultipliedAlpha = false);

/// The same for a packed DIB (header, colour table and rows one after the
/// other, as Windows metafiles carry them).
bool DecodePackedDib(const uint8_t* dib, size_t size, RasterImage* image, std::string* error);

}  // namespace metafile
