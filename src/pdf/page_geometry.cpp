#include "pdf/page_geometry.h"

#include "pdf/file_kind.h"
#include "pdf/pdf_library.h"
#include "platform/platform.h"

bool IsImageFileExt(const char* ext) {
  static const char* const kImageExts[] = {".bmp", ".gif", ".jpg", ".jpeg", ".jp2", ".j2k",
                                           ".jpc", ".jpx", ".pbm", ".pgm",  ".pnm", ".ppm",
                                           ".png", ".psd", ".tif", ".tiff"};
  for (const char* known : kImageExts) {
    if (ExtensionIs(ext, known)) return true;
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
