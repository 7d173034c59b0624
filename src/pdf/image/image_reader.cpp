#include "pdf/image/image_reader.h"

#include <cstdio>
#include <string>

#include "pdf/image/jpeg2000_file.h"
#include "pdf/image/jpeg_file.h"
#include "pdf/image/netpbm_file.h"
#include "pdf/image/png_file.h"
#include "pdf/image/stb_formats.h"
#include "pdf/image/tiff_file.h"

namespace images {
namespace {

bool ReadFileHead(const std::string& path, std::string* head, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *error = "cannot open the file";
    return false;
  }
  char buffer[16];
  size_t n = std::fread(buffer, 1, sizeof(buffer), file);
  std::fclose(file);
  head->assign(buffer, n);
  return true;
}

bool ImageFileFormat(const std::string& path, ImageFormat* format, std::string* error) {
  std::string head;
  if (!ReadFileHead(path, &head, error)) return false;
  *format = SniffImageFormat(head);
  if (*format == ImageFormat::kUnknown) {
    *error = "unknown image format";
    return false;
  }
  return true;
}

}  // namespace

bool CountImages(const std::string& path, int* count, std::string* error) {
  ImageFormat format;
  if (!ImageFileFormat(path, &format, error)) return false;
  if (format == ImageFormat::kTiff) return CountTiffImages(path, count, error);
  ImageSize size;
  *count = 1;
  switch (format) {
    case ImageFormat::kJpeg:
      return LoadJpeg(path, &size, nullptr, error);
    case ImageFormat::kJp2:
    case ImageFormat::kJ2k:
      return LoadJpeg2000(path, format == ImageFormat::kJ2k, &size, nullptr, error);
    case ImageFormat::kPng:
      return LoadPng(path, &size, nullptr, error);
    case ImageFormat::kPlainNetpbm:
      return LoadPlainNetpbm(path, &size, nullptr, error);
    default:
      return LoadWithStb(path, &size, nullptr, error);
  }
}

bool ReadImage(const std::string& path, int index, ImageSize* size, PdfImage* image,
               std::string* error) {
  ImageFormat format;
  if (!ImageFileFormat(path, &format, error)) return false;
  if (format != ImageFormat::kTiff && index != 1) {
    *error = "the file holds one image only";
    return false;
  }
  Pixels pixels;
  Pixels* wanted = image ? &pixels : nullptr;
  bool ok = false;
  switch (format) {
    case ImageFormat::kJpeg:
      return LoadJpeg(path, size, image, error);
    case ImageFormat::kJp2:
    case ImageFormat::kJ2k:
      return LoadJpeg2000(path, format == ImageFormat::kJ2k, size, image, error);
    case ImageFormat::kTiff:
      ok = LoadTiff(path, index, size, wanted, error);
      break;
    case ImageFormat::kPng:
      ok = LoadPng(path, size, wanted, error);
      break;
    case ImageFormat::kPlainNetpbm:
      ok = LoadPlainNetpbm(path, size, wanted, error);
      break;
    default:
      ok = LoadWithStb(path, size, wanted, error);
      break;
  }
  if (ok && image) *image = ImageFromPixels(pixels);
  return ok;
}

}  // namespace images
