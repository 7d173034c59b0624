#include "pdf/image/tiff_file.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "pdf/image/codec_library.h"

namespace images {
namespace {

#define TARVELIN_TIFF_CALLS(X)            \
  X(TIFFClose)                            \
  X(TIFFGetField)                         \
  X(TIFFGetFieldDefaulted)                \
  X(TIFFNumberOfDirectories)              \
  X(TIFFOpenExt)                          \
  X(TIFFOpenOptionsAlloc)                 \
  X(TIFFOpenOptionsFree)                  \
  X(TIFFOpenOptionsSetErrorHandlerExtR)   \
  X(TIFFOpenOptionsSetWarningHandlerExtR) \
  X(TIFFRGBAImageOK)                      \
  X(TIFFReadRGBAImageOriented)            \
  X(TIFFSetDirectory)                     \
  X(TIFFSetErrorHandler)                  \
  X(TIFFSetWarningHandler)

TARVELIN_CODEC_LIBRARY(TiffCalls, libtiff, TARVELIN_LIBTIFF, TARVELIN_TIFF_CALLS);

int TiffError(TIFF*, void* client, const char*, const char* format, va_list args) {
  auto* error = static_cast<std::string*>(client);
  if (error->empty()) {
    char buffer[512];
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    *error = buffer;
  }
  return 1;
}

int TiffQuiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Splits ABGR words into colour (gray: the red sample) and, with alpha, a
// soft mask. libtiff hands out premultiplied colour; a soft mask wants it
// plain.
void StoreRaster(const std::vector<uint32_t>& raster, bool gray, bool alpha, Pixels* pixels) {
  pixels->color.resize(raster.size() * pixels->channels);
  if (alpha) pixels->alpha.resize(raster.size());
  char* out = &pixels->color[0];
  for (size_t i = 0; i < raster.size(); ++i) {
    uint32_t abgr = raster[i];
    unsigned a = TIFFGetA(abgr);
    unsigned rgb[3] = {TIFFGetR(abgr), TIFFGetG(abgr), TIFFGetB(abgr)};
    if (alpha && a > 0 && a < 255) {
      for (unsigned& c : rgb) c = std::min(255u, (c * 255 + a / 2) / a);
    }
    if (alpha) pixels->alpha[i] = static_cast<char>(a);
    if (gray) {
      *out++ = static_cast<char>(rgb[0]);
    } else {
      for (unsigned c : rgb) *out++ = static_cast<char>(c);
    }
  }
}

class TiffReader {
 public:
  explicit TiffReader(const std::string& path) : lib_(libtiff.Get(&error_)) {
    if (!lib_) return;
    // Some messages are still sent to the process-wide handlers, which
    // would print to stderr.
    static bool silenced = [lib = lib_] {
      lib->TIFFSetErrorHandler(nullptr);
      lib->TIFFSetWarningHandler(nullptr);
      return true;
    }();
    (void)silenced;
    TIFFOpenOptions* options = lib_->TIFFOpenOptionsAlloc();
    lib_->TIFFOpenOptionsSetErrorHandlerExtR(options, TiffError, &error_);
    lib_->TIFFOpenOptionsSetWarningHandlerExtR(options, TiffQuiet, nullptr);
    tiff_ = lib_->TIFFOpenExt(path.c_str(), "r", options);
    lib_->TIFFOpenOptionsFree(options);
    if (!tiff_ && error_.empty()) error_ = "cannot open the TIFF file";
  }
  ~TiffReader() {
    if (tiff_) lib_->TIFFClose(tiff_);
  }
  TiffReader(const TiffReader&) = delete;
  TiffReader& operator=(const TiffReader&) = delete;

  const std::string& error() const { return error_; }

  int Count() { return tiff_ ? static_cast<int>(lib_->TIFFNumberOfDirectories(tiff_)) : 0; }

  bool Select(int index, uint32_t* width, uint32_t* height) {
    if (!tiff_) return false;
    if (index < 1 || !lib_->TIFFSetDirectory(tiff_, static_cast<tdir_t>(index - 1))) {
      if (error_.empty()) error_ = "no image " + std::to_string(index) + " in the TIFF file";
      return false;
    }
    if (!lib_->TIFFGetField(tiff_, TIFFTAG_IMAGEWIDTH, width) ||
        !lib_->TIFFGetField(tiff_, TIFFTAG_IMAGELENGTH, height)) {
      if (error_.empty()) error_ = "the TIFF image has no size";
      return false;
    }
    return CheckPixelCount(*width, *height, &error_);
  }

  bool Size(int index, ImageSize* size) {
    uint32_t width = 0, height = 0;
    if (!Select(index, &width, &height)) return false;
    uint16_t bits = 1, samples = 1;
    lib_->TIFFGetFieldDefaulted(tiff_, TIFFTAG_BITSPERSAMPLE, &bits);
    lib_->TIFFGetFieldDefaulted(tiff_, TIFFTAG_SAMPLESPERPIXEL, &samples);
    // Two 16-bit values, whose product may not fit an int.
    int64_t bitsPerPixel = int64_t(bits) * samples;
    if (bitsPerPixel > kMaxBitsPerPixel) {
      error_ = "unsupported TIFF samples (" + std::to_string(samples) + " of " +
               std::to_string(bits) + " bits)";
      return false;
    }
    size->width = static_cast<int>(width);
    size->height = static_cast<int>(height);
    size->bitsPerPixel = static_cast<int>(bitsPerPixel);
    return true;
  }

  bool Read(int index, Pixels* pixels) {
    uint32_t width = 0, height = 0;
    if (!Select(index, &width, &height)) return false;
    std::vector<uint32_t> raster;
    if (!ReadRaster(width, height, &raster)) return false;
    bool gray = false, alpha = false;
    Layout(&gray, &alpha);
    pixels->width = static_cast<int>(width);
    pixels->height = static_cast<int>(height);
    pixels->channels = gray ? 1 : 3;
    StoreRaster(raster, gray, alpha, pixels);
    return true;
  }

 private:
  // libtiff's RGBA interface decodes every photometric and compression it
  // knows into ABGR words, rows top to bottom.
  bool ReadRaster(uint32_t width, uint32_t height, std::vector<uint32_t>* raster) {
    char message[1024] = "";
    if (!lib_->TIFFRGBAImageOK(tiff_, message)) {
      if (error_.empty()) error_ = message;
      return false;
    }
    raster->resize(static_cast<size_t>(width) * height);
    if (!lib_->TIFFReadRGBAImageOriented(tiff_, width, height, raster->data(), ORIENTATION_TOPLEFT,
                                         1)) {
      if (error_.empty()) error_ = "cannot decode the TIFF image";
      return false;
    }
    return true;
  }

  // Gray when the samples but the extra ones are one gray sample; alpha when
  // the first extra sample is alpha.
  void Layout(bool* gray, bool* alpha) {
    uint16_t photometric = PHOTOMETRIC_RGB, samples = 1, extraCount = 0;
    uint16_t* extraTypes = nullptr;
    lib_->TIFFGetFieldDefaulted(tiff_, TIFFTAG_PHOTOMETRIC, &photometric);
    lib_->TIFFGetFieldDefaulted(tiff_, TIFFTAG_SAMPLESPERPIXEL, &samples);
    lib_->TIFFGetFieldDefaulted(tiff_, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
    *gray = (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) &&
            samples - extraCount <= 1;
    *alpha = extraCount > 0 && extraTypes &&
             (extraTypes[0] == EXTRASAMPLE_ASSOCALPHA || extraTypes[0] == EXTRASAMPLE_UNASSALPHA);
  }

  TIFF* tiff_ = nullptr;
  std::string error_;
  const TiffCalls* lib_;
};

}  // namespace

bool CountTiffImages(const std::string& path, int* count, std::string* error) {
  TiffReader tiff(path);
  *count = tiff.Count();
  if (*count <= 0) *error = tiff.error().empty() ? "the TIFF file holds no image" : tiff.error();
  return *count > 0;
}

bool LoadTiff(const std::string& path, int index, ImageSize* size, Pixels* pixels,
              std::string* error) {
  TiffReader tiff(path);
  bool ok = (!size || tiff.Size(index, size)) && (!pixels || tiff.Read(index, pixels));
  if (!ok) *error = tiff.error().empty() ? "cannot read the TIFF image" : tiff.error();
  if (size) size->passThrough = false;
  return ok;
}

}  // namespace images
