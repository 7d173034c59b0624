// Page rectangles for the pages the merger makes from image files (and, in
// time, from metafiles), and which file extensions name image files.
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

// Metafile pages: GetRectFromEMFFile and GetEMFFrameRect belong here.
