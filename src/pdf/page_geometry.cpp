#include "pdf/page_geometry.h"

#include <cctype>
#include <cstring>

#include "pdf/pdf_library.h"
#include "platform/platform.h"

bool IsImageFileExt(const char* ext) {
  static const char* const kImageExts[] = {".bmp", ".gif", ".jpg", ".jpeg", ".jp2", ".j2k",
                                           ".jpc", ".jpx", ".pbm", ".pgm",  ".pnm", ".ppm",
                                           ".png", ".psd", ".tif", ".tiff"};
  if (!ext || !*ext) return false;
  for (const char* known : kImageExts) {
    size_t i = 0;
    while (known[i] && ext[i] &&
           std::tolower(static_cast<unsigned char>(ext[i])) ==
               static_cast<unsigned char>(known[i])) {
      ++i;
    }
    if (!known[i] && !ext[i]) return true;
  }
  return false;
}

int GetRectFromImageFile(PDF* pdf, const char* path, int image, PageRect* rect) {
  if (!path || !rect || !platform::PathExists(path)) return 0;
  int width = 0, height = 0, bitsPerPixel = 0, compressionHint = 0;
  if (!pdfReadImageFormat2A(pdf, path, image, &width, &height, &bitsPerPixel, &compressionHint)) {
    return 0;
  }
  rect->left = 0;
  rect->top = 0;
  rect->right = width;
  rect->bottom = height;
  return 1;
}
