// Page rectangles for the pages the merger makes from image files and
// metafiles, and which file extensions name image files.
#pragma once

#include <cstdint>

struct PDF;

/// A page rectangle in points, top-down (y grows downwards). It is both the
/// page's media box and the area the image fills.
struct PageRect {
  int32_t left, top, right, bottom;
};

/// True when the extension (with its dot, any case) names an image file:
/// .bmp .gif .jpg .jpeg .jp2 .j2k .jpc .jpx .pbm .pgm .pnm .ppm .png .psd
/// .tif .tiff. Null or empty is false.
bool IsImageFileExt(const char* ext);

/// Fills *rect with (0, 0, width, height) of image `image` (from 1) of the
/// file, one point per pixel, no size limit. Returns 1, or 0 when the file
/// does not exist or the image cannot be read.
int GetRectFromImageFile(PDF* pdf, const char* path, int image, PageRect* rect);

/// The frame of an enhanced metafile's header as a page at the origin:
/// (0, 0, width, height) in points, each side (frame side in hundredths of
/// a millimetre) / 25.4 * 72 * 0.01 + 0.5, cut towards zero. Returns 1 when
/// both are positive; 0 when they are not or the file is no readable
/// enhanced metafile (short, truncated or lying header).
int GetEMFFrameRect(const char* path, PageRect* rect);

/// Largest page side, in points, a metafile page keeps (at or above it the
/// page is scaled down to kMetafileScaledSide, keeping its proportions).
const int kMetafileSizeLimit = 14400;
const int kMetafileScaledSide = 14000;

/// The page rectangle of a metafile: the enhanced-metafile frame
/// (GetEMFFrameRect), else what the PDF library measures
/// (pdfGetLogMetafileSizeA; always so for Windows metafiles), as
/// (0, 0, width, height) in points, then limited: a height of 14400 or more
/// becomes 14000 and the width is scaled with it; then the same for the
/// width. Returns 0 without a message when the file does not exist, 0 with
/// "Can't open the EMF/WMF file ..." logged when neither route sizes it.
int GetRectFromEMFFile(PDF* pdf, const char* path, PageRect* rect);

/// The size limit alone, on a rectangle at the origin (single precision,
/// fractions cut off, as the page rectangle is computed).
void LimitMetafilePageSize(PageRect* rect);
