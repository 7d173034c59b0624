#include "pdf/page_geometry.h"

#include <cmath>

#include "config/log.h"
#include "pdf/file_kind.h"
#include "pdf/pdf_library.h"
#include "platform/metafile_header.h"
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

int GetEMFFrameRect(const char* path, PageRect* rect) {
  platform::EnhMetaFrame frame;
  if (!path || !rect || !platform::ReadEnhMetaFileFrame(path, &frame)) return 0;
  // In this order and in double precision: hundredths of a millimetre to
  // points, rounded half up by cutting towards zero.
  auto points = [](int64_t hundredths) {
    return static_cast<int32_t>(
        std::trunc(static_cast<double>(hundredths) / 25.4 * 72 * 0.01 + 0.5));
  };
  int32_t width = points(int64_t(frame.right) - frame.left);
  int32_t height = points(int64_t(frame.bottom) - frame.top);
  *rect = PageRect{0, 0, width, height};
  return width > 0 && height > 0 ? 1 : 0;
}

void LimitMetafilePageSize(PageRect* rect) {
  float width = static_cast<float>(rect->right);
  float height = static_cast<float>(rect->bottom);
  if (height >= kMetafileSizeLimit) {
    width = std::trunc(width / (height / kMetafileScaledSide));
    height = kMetafileScaledSide;
  }
  if (width >= kMetafileSizeLimit) {
    height = std::trunc(height / (width / kMetafileScaledSide));
    width = kMetafileScaledSide;
  }
  rect->right = static_cast<int32_t>(width);
  rect->bottom = static_cast<int32_t>(height);
}

int GetRectFromEMFFile(PDF* pdf, const char* path, PageRect* rect) {
  if (!path || !rect || !platform::PathExists(path)) return 0;
  PageRect found{0, 0, 0, 0};
  if (!GetEMFFrameRect(path, &found)) {
    PdfRectL measured{0, 0, 0, 0};
    if (!pdfGetLogMetafileSizeA(pdf, path, &measured)) {
      OutLog(
          "Can't open the EMF/WMF file or can't read the paper size from EMF/WMF file "
          "properly.\n");
      return 0;
    }
    // Measured from the rectangle's own origin: its width and height.
    found = PageRect{0, 0, static_cast<int32_t>(int64_t(measured.right) - measured.left),
                     static_cast<int32_t>(int64_t(measured.bottom) - measured.top)};
  }
  LimitMetafilePageSize(&found);
  *rect = found;
  return 1;
}
