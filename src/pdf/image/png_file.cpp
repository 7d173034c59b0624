#include "pdf/image/png_file.h"

#include <png.h>

#include <cstring>
#include <string>
#include <vector>

#include "pdf/image/codec_library.h"

namespace images {
namespace {

#define TARVELIN_PNG_CALLS(X)       \
  X(png_image_begin_read_from_file) \
  X(png_image_finish_read)          \
  X(png_image_free)

TARVELIN_CODEC_LIBRARY(PngCalls, libpng, TARVELIN_LIBPNG, TARVELIN_PNG_CALLS);

}  // namespace

bool LoadPng(const std::string& path, ImageSize* size, Pixels* pixels, std::string* error) {
  const PngCalls* lib = libpng.Get(error);
  if (!lib) return false;
  png_image png;
  std::memset(&png, 0, sizeof(png));
  png.version = PNG_IMAGE_VERSION;
  if (!lib->png_image_begin_read_from_file(&png, path.c_str())) {
    *error = png.message;
    return false;
  }
  bool color = (png.format & PNG_FORMAT_FLAG_COLOR) != 0;
  bool alpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  if (!CheckPixelCount(png.width, png.height, error)) {
    lib->png_image_free(&png);
    return false;
  }
  if (size) {
    size->width = static_cast<int>(png.width);
    size->height = static_cast<int>(png.height);
    size->bitsPerPixel =
        PNG_IMAGE_SAMPLE_CHANNELS(png.format) * ((png.format & PNG_FORMAT_FLAG_LINEAR) ? 16 : 8);
  }
  if (!pixels) {
    lib->png_image_free(&png);
    return true;
  }
  png.format = color ? (alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB)
                     : (alpha ? PNG_FORMAT_GA : PNG_FORMAT_GRAY);
  int channels = color ? 3 : 1;
  int step = channels + (alpha ? 1 : 0);
  size_t count = static_cast<size_t>(png.width) * png.height;
  // Sized here rather than by PNG_IMAGE_SIZE, which counts in 32 bits.
  std::vector<unsigned char> buffer(count * step);
  if (!lib->png_image_finish_read(&png, nullptr, buffer.data(), 0, nullptr)) {
    *error = png.message;
    return false;
  }
  StoreInterleaved(buffer.data(), static_cast<int>(png.width), static_cast<int>(png.height),
                   channels, alpha, pixels);
  return true;
}

}  // namespace images
