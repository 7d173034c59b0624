// Image files for image pages: the picture types and helpers the decoders
// share and the format told by a file's first bytes. Each format has its own
// file beside this one; image_reader.h reads any of them.
// Failures come back as false with a reason in *error; only running out of
// memory (or a zlib failure in qpdf's Flate) throws.
#pragma once

#include <cstdint>
#include <string>

namespace images {

/// Beyond this a decoded image (4 bytes a pixel while reading a TIFF) would
/// take more memory than a print job should.
const int64_t kMaxImagePixels = int64_t(1) << 27;
/// No side is longer, so that no product of sides, channels and sample bytes
/// can overflow while an image is checked or decoded.
const int64_t kMaxImageSide = int64_t(1) << 20;
/// More than 16 samples of 64 bits is no picture a page shows.
const int64_t kMaxBitsPerPixel = 1024;
/// Image files are read whole; a longer one is no print job's image.
const int64_t kMaxImageFileSize = int64_t(1) << 30;

/// The formats told apart by SniffImageFormat; kStb covers BMP, GIF, PSD and
/// binary PGM/PPM.
enum class ImageFormat { kUnknown, kJpeg, kJp2, kJ2k, kTiff, kPng, kPlainNetpbm, kStb };

/// Decoded 8-bit pixels, rows top to bottom.
struct Pixels {
  int width = 0;
  int height = 0;
  int channels = 0;   ///< 1 gray or 3 RGB
  std::string color;  ///< width * height * channels bytes
  std::string alpha;  ///< width * height bytes, or empty
};

/// An image as it goes into the PDF.
struct PdfImage {
  int width = 0;
  int height = 0;
  int components = 0;         ///< 1 gray, 3 RGB, 4 CMYK (0: left to the JPEG 2000 data)
  std::string filter;         ///< "/FlateDecode", "/DCTDecode" or "/JPXDecode"
  std::string data;           ///< encoded with filter
  std::string alpha;          ///< Flate-encoded soft mask, or empty
  bool invertedCmyk = false;  ///< CMYK samples stored inverted (Adobe)
  bool alphaInData = false;   ///< the JPEG 2000 data carries its own alpha
};

/// What pdfReadImageFormat2A reports.
struct ImageSize {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  bool passThrough = false;  ///< the file's compressed data goes into the PDF as it is
};

/// The format of a file whose first bytes are `head` (16 are enough).
ImageFormat SniffImageFormat(const std::string& head);

/// True when an image of that size may be decoded. Each side is checked
/// before they are multiplied.
bool SizeIsSane(int64_t width, int64_t height);

/// SizeIsSane with a reason: false with *error set for an image without
/// pixels or one too large.
bool CheckPixelCount(int64_t width, int64_t height, std::string* error);

/// Reads a whole image file into *data; false with *error for a file over
/// kMaxImageFileSize or one that cannot be read.
bool ReadImageFile(const std::string& path, std::string* data, std::string* error);

/// Fills *pixels from interleaved 8-bit samples, rows top to bottom:
/// `channels` colour samples a pixel (1 gray, 3 RGB), then one alpha sample
/// when alpha is set.
void StoreInterleaved(const unsigned char* samples, int width, int height, int channels, bool alpha,
                      Pixels* pixels);

/// The PDF form of decoded pixels: Flate-compressed colour, and a soft mask
/// only when some pixel is not opaque.
PdfImage ImageFromPixels(const Pixels& pixels);

}  // namespace images
