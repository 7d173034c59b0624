#include "pdf/image/image.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <qpdf/Buffer.hh>
#include <qpdf/Pl_Buffer.hh>
#include <qpdf/Pl_Flate.hh>
#include <string>

#include "platform/platform.h"

namespace images {
namespace {

bool StartsWith(const std::string& data, const char* magic, size_t n) {
  return data.size() >= n && std::memcmp(data.data(), magic, n) == 0;
}

std::string Deflate(const std::string& raw) {
  Pl_Buffer buffer("image");
  Pl_Flate flate("image", &buffer, Pl_Flate::a_deflate);
  flate.write(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
  flate.finish();
  std::unique_ptr<Buffer> out(buffer.getBuffer());
  return std::string(reinterpret_cast<const char*>(out->getBuffer()), out->getSize());
}

}  // namespace

ImageFormat SniffImageFormat(const std::string& head) {
  if (StartsWith(head, "\xFF\xD8\xFF", 3)) return ImageFormat::kJpeg;
  if (StartsWith(head, "\x89PNG\r\n\x1A\n", 8)) return ImageFormat::kPng;
  if (StartsWith(head, "II*\0", 4) || StartsWith(head, "MM\0*", 4) ||
      StartsWith(head, "II+\0", 4) || StartsWith(head, "MM\0+", 4)) {
    return ImageFormat::kTiff;
  }
  if (StartsWith(head, "\0\0\0\x0CjP  \r\n\x87\n", 12)) return ImageFormat::kJp2;
  if (StartsWith(head, "\xFF\x4F\xFF\x51", 4)) return ImageFormat::kJ2k;
  if (StartsWith(head, "GIF87a", 6) || StartsWith(head, "GIF89a", 6) || StartsWith(head, "BM", 2) ||
      StartsWith(head, "8BPS", 4)) {
    return ImageFormat::kStb;
  }
  if (head.size() >= 2 && head[0] == 'P') {
    if (head[1] >= '1' && head[1] <= '4') return ImageFormat::kPlainNetpbm;
    if (head[1] == '5' || head[1] == '6') return ImageFormat::kStb;
  }
  return ImageFormat::kUnknown;
}

bool SizeIsSane(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide &&
         width * height <= kMaxImagePixels;
}

bool ReadImageFile(const std::string& path, std::string* data, std::string* error) {
  int64_t size = platform::FileSize(path);
  if (size > kMaxImageFileSize) {
    *error = "the file is too large (" + std::to_string(size) + " bytes)";
    return false;
  }
  if (!platform::ReadWholeFile(path, data)) {
    *error = "cannot read the file";
    return false;
  }
  return true;
}

bool CheckPixelCount(int64_t width, int64_t height, std::string* error) {
  if (width <= 0 || height <= 0) {
    *error = "the image has no pixels";
    return false;
  }
  if (!SizeIsSane(width, height)) {
    *error = "the image is too large (" + std::to_string(width) + " x " + std::to_string(height) +
             " pixels)";
    return false;
  }
  return true;
}

void StoreInterleaved(const unsigned char* samples, int width, int height, int channels, bool alpha,
                      Pixels* pixels) {
  int step = channels + (alpha ? 1 : 0);
  size_t count = static_cast<size_t>(width) * height;
  pixels->width = width;
  pixels->height = height;
  pixels->channels = channels;
  pixels->color.resize(count * channels);
  if (alpha) pixels->alpha.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* in = samples + i * step;
    std::memcpy(&pixels->color[i * channels], in, channels);
    if (alpha) pixels->alpha[i] = static_cast<char>(in[channels]);
  }
}

PdfImage ImageFromPixels(const Pixels& pixels) {
  PdfImage image;
  image.width = pixels.width;
  image.height = pixels.height;
  image.components = pixels.channels;
  image.filter = "/FlateDecode";
  image.data = Deflate(pixels.color);
  bool opaque = std::all_of(pixels.alpha.begin(), pixels.alpha.end(),
                            [](char a) { return static_cast<unsigned char>(a) == 255; });
  if (!opaque) image.alpha = Deflate(pixels.alpha);
  return image;
}

}  // namespace images
