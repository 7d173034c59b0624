#include "pdf/pdf_library.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <qpdf/Buffer.hh>
#include <qpdf/Pl_Buffer.hh>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFSystemError.hh>
#include <string>
#include <vector>

// The C image libraries come after the standard headers: jpeglib.h needs
// <cstdio> first.
#include <jpeglib.h>
#include <openjpeg.h>
#include <png.h>
#include <tiffio.h>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_NO_STDIO
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#define STBI_ONLY_PNM
#define STBI_ONLY_PSD
#define STBI_MAX_DIMENSIONS (1 << 20)  // kMaxImageSide below
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

#include "config/log.h"
#include "pdf/page_copy.h"
#include "platform/platform.h"

// ---------------------------------------------------------------------------
// Images
// ---------------------------------------------------------------------------

namespace {

// Beyond this a decoded image (4 bytes a pixel while reading a TIFF) would
// take more memory than a print job should.
const int64_t kMaxImagePixels = int64_t(1) << 27;
// No side is longer, so that no product of sides, channels and sample bytes
// can overflow while an image is checked or decoded.
const int64_t kMaxImageSide = int64_t(1) << 20;
// More than 16 samples of 64 bits is no picture a page shows.
const int64_t kMaxBitsPerPixel = 1024;
// Image files are read whole; a longer one is no print job's image.
const int64_t kMaxImageFileSize = int64_t(1) << 30;

enum class ImageFormat { kUnknown, kJpeg, kJp2, kJ2k, kTiff, kPng, kPlainNetpbm, kStb };

/// Decoded 8-bit pixels, rows top to bottom.
struct Pixels {
  int width = 0;
  int height = 0;
  int channels = 0;   // 1 gray or 3 RGB
  std::string color;  // width * height * channels bytes
  std::string alpha;  // width * height bytes, or empty
};

/// An image as it goes into the PDF.
struct PdfImage {
  int width = 0;
  int height = 0;
  int components = 0;  // 1 gray, 3 RGB, 4 CMYK (0: left to the JPEG 2000 data)
  std::string filter;  // "/FlateDecode", "/DCTDecode" or "/JPXDecode"
  std::string data;    // encoded with filter
  std::string alpha;   // Flate-encoded soft mask, or empty
  bool invertedCmyk = false;
  bool alphaInData = false;
};

/// What pdfReadImageFormat2A reports.
struct ImageSize {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  bool passThrough = false;
};

bool StartsWith(const std::string& data, const char* magic, size_t n) {
  return data.size() >= n && std::memcmp(data.data(), magic, n) == 0;
}

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

/// True when an image of that size may be decoded. Each side is checked
/// before they are multiplied.
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

std::string Deflate(const std::string& raw) {
  Pl_Buffer buffer("image");
  Pl_Flate flate("image", &buffer, Pl_Flate::a_deflate);
  flate.write(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
  flate.finish();
  std::unique_ptr<Buffer> out(buffer.getBuffer());
  return std::string(reinterpret_cast<const char*>(out->getBuffer()), out->getSize());
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

// --- JPEG: only the header is read; the data goes into the PDF as it is.

struct JpegHeader {
  int width = 0;
  int height = 0;
  int components = 0;
  bool adobe = false;
};

struct JpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, manager->message);
  std::longjmp(manager->jump, 1);
}

void JpegQuiet(j_common_ptr) {}

// Only C objects live in this frame, so the longjmp passes no destructor.
// With decode set the whole image is decoded (at an eighth of its size, which
// still runs every entropy-coded byte through the decoder) so that data that
// would break in a viewer is found here.
bool ReadJpeg(const std::string& data, bool decode, JpegHeader* header, char* message) {
  jpeg_decompress_struct cinfo;
  JpegErrorManager manager;
  cinfo.err = jpeg_std_error(&manager.pub);
  manager.pub.error_exit = JpegErrorExit;
  manager.pub.output_message = JpegQuiet;
  manager.message[0] = '\0';
  if (setjmp(manager.jump)) {
    jpeg_destroy_decompress(&cinfo);
    std::snprintf(message, JMSG_LENGTH_MAX, "%s", manager.message);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<unsigned char*>(const_cast<char*>(data.data())),
               static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);
  header->width = static_cast<int>(cinfo.image_width);
  header->height = static_cast<int>(cinfo.image_height);
  header->components = cinfo.num_components;
  header->adobe = cinfo.saw_Adobe_marker;
  // A size the caller refuses is not worth decoding.
  if (!SizeIsSane(header->width, header->height)) decode = false;
  if (cinfo.data_precision != 8) {
    jpeg_destroy_decompress(&cinfo);
    std::snprintf(message, JMSG_LENGTH_MAX, "only 8-bit JPEG images are supported");
    return false;
  }
  if (decode) {
    cinfo.scale_num = 1;
    cinfo.scale_denom = 8;
    jpeg_start_decompress(&cinfo);
    JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
        cinfo.output_width * static_cast<JDIMENSION>(cinfo.output_components), 1);
    while (cinfo.output_scanline < cinfo.output_height) jpeg_read_scanlines(&cinfo, row, 1);
    jpeg_finish_decompress(&cinfo);
  }
  jpeg_destroy_decompress(&cinfo);
  return true;
}

bool LoadJpeg(const std::string& path, ImageSize* size, PdfImage* image, std::string* error) {
  std::string data;
  if (!ReadImageFile(path, &data, error)) return false;
  JpegHeader header;
  char message[JMSG_LENGTH_MAX];
  if (!ReadJpeg(data, image != nullptr, &header, message)) {
    *error = message;
    return false;
  }
  if (header.components != 1 && header.components != 3 && header.components != 4) {
    *error = "unsupported number of JPEG components";
    return false;
  }
  if (!CheckPixelCount(header.width, header.height, error)) return false;
  if (size) {
    size->width = header.width;
    size->height = header.height;
    size->bitsPerPixel = header.components * 8;
    size->passThrough = true;
  }
  if (image) {
    // Entropy-coded data never holds FF D9 or FF DA (an FF there is followed
    // by 00 or a restart code), so an end marker after the last scan marker
    // tells a complete file from a truncated one.
    size_t lastScan = data.rfind("\xFF\xDA");
    size_t end = data.rfind("\xFF\xD9");
    if (lastScan == std::string::npos || end == std::string::npos || end < lastScan) {
      *error = "the JPEG data is truncated";
      return false;
    }
    image->width = header.width;
    image->height = header.height;
    image->components = header.components;
    image->filter = "/DCTDecode";
    // Adobe applications write CMYK JPEGs inverted.
    image->invertedCmyk = header.components == 4 && header.adobe;
    image->data = std::move(data);
  }
  return true;
}

// --- JPEG 2000: the header is read with openjpeg; the data is passed through.

void OpjError(const char* message, void* client) {
  auto* error = static_cast<std::string*>(client);
  if (error->empty()) {
    *error = message;
    while (!error->empty() && error->back() == '\n') error->pop_back();
  }
}

void OpjQuiet(const char*, void*) {}

void AppendBigEndian(std::string* out, uint32_t value, int bytes) {
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) {
    out->push_back(static_cast<char>((value >> shift) & 0xFF));
  }
}

void AppendBox(std::string* out, const char* type, const std::string& content) {
  AppendBigEndian(out, static_cast<uint32_t>(8 + content.size()), 4);
  out->append(type, 4);
  out->append(content);
}

/// Wraps a raw JPEG 2000 codestream in the smallest JP2 file around it, which
/// PDF readers take more readily than a bare codestream.
std::string WrapCodestream(const std::string& codestream, uint32_t width, uint32_t height,
                           int components, int precision, bool isSigned) {
  std::string header;
  AppendBigEndian(&header, height, 4);
  AppendBigEndian(&header, width, 4);
  AppendBigEndian(&header, static_cast<uint32_t>(components), 2);
  header.push_back(static_cast<char>((precision - 1) | (isSigned ? 0x80 : 0)));
  header.append("\x07\x00\x00", 3);       // wavelet compression, colour space known, no IPR
  std::string colour("\x01\x00\x00", 3);  // enumerated colour space
  AppendBigEndian(&colour, components >= 4 ? 12 : components == 3 ? 16 : 17, 4);
  std::string boxes;
  AppendBox(&boxes, "ihdr", header);
  AppendBox(&boxes, "colr", colour);
  std::string file("\0\0\0\x0CjP  \r\n\x87\n", 12);
  AppendBox(&file, "ftyp", std::string("jp2 \0\0\0\0jp2 ", 12));
  AppendBox(&file, "jp2h", boxes);
  AppendBox(&file, "jp2c", codestream);
  return file;
}

bool LoadJpeg2000(const std::string& path, bool codestream, ImageSize* size, PdfImage* image,
                  std::string* error) {
  opj_stream_t* stream = opj_stream_create_default_file_stream(path.c_str(), OPJ_TRUE);
  if (!stream) {
    *error = "cannot open the file";
    return false;
  }
  opj_codec_t* codec = opj_create_decompress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
  std::string message;
  opj_set_error_handler(codec, OpjError, &message);
  opj_set_warning_handler(codec, OpjQuiet, nullptr);
  opj_set_info_handler(codec, OpjQuiet, nullptr);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  opj_image_t* header = nullptr;
  bool read = opj_setup_decoder(codec, &parameters) && opj_read_header(stream, codec, &header);
  int64_t width = 0, height = 0;
  int components = 0, bits = 0, precision = 0;
  bool alpha = false, isSigned = false, uniform = true;
  if (read && header) {
    width = static_cast<int64_t>(header->x1) - header->x0;
    height = static_cast<int64_t>(header->y1) - header->y0;
    components = static_cast<int>(header->numcomps);
    for (int i = 0; i < components; ++i) {
      bits += static_cast<int>(header->comps[i].prec);
      if (header->comps[i].alpha) alpha = true;
      if (i == 0) {
        precision = static_cast<int>(header->comps[0].prec);
        isSigned = header->comps[0].sgnd != 0;
      } else if (static_cast<int>(header->comps[i].prec) != precision ||
                 (header->comps[i].sgnd != 0) != isSigned) {
        uniform = false;
      }
    }
  }
  if (header) opj_image_destroy(header);
  opj_destroy_codec(codec);
  opj_stream_destroy(stream);
  if (!read || components == 0) {
    *error = message.empty() ? "cannot read the JPEG 2000 header" : message;
    return false;
  }
  if (!CheckPixelCount(width, height, error)) return false;
  if (size) {
    size->width = static_cast<int>(width);
    size->height = static_cast<int>(height);
    size->bitsPerPixel = bits;
    size->passThrough = true;
  }
  if (image) {
    if (!ReadImageFile(path, &image->data, error)) return false;
    if (codestream && uniform && precision >= 1 && precision <= 38) {
      image->data = WrapCodestream(image->data, static_cast<uint32_t>(width),
                                   static_cast<uint32_t>(height), components, precision, isSigned);
    }
    image->width = static_cast<int>(width);
    image->height = static_cast<int>(height);
    image->filter = "/JPXDecode";
    image->alphaInData = alpha;
  }
  return true;
}

// --- TIFF: every directory is one image.

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

class TiffReader {
 public:
  explicit TiffReader(const std::string& path) {
    // Some messages are still sent to the process-wide handlers, which
    // would print to stderr.
    static bool silenced = [] {
      TIFFSetErrorHandler(nullptr);
      TIFFSetWarningHandler(nullptr);
      return true;
    }();
    (void)silenced;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, TiffError, &error_);
    TIFFOpenOptionsSetWarningHandlerExtR(options, TiffQuiet, nullptr);
    tiff_ = TIFFOpenExt(path.c_str(), "r", options);
    TIFFOpenOptionsFree(options);
    if (!tiff_ && error_.empty()) error_ = "cannot open the TIFF file";
  }
  ~TiffReader() {
    if (tiff_) TIFFClose(tiff_);
  }
  TiffReader(const TiffReader&) = delete;
  TiffReader& operator=(const TiffReader&) = delete;

  const std::string& error() const { return error_; }

  int Count() { return tiff_ ? static_cast<int>(TIFFNumberOfDirectories(tiff_)) : 0; }

  bool Select(int index, uint32_t* width, uint32_t* height) {
    if (!tiff_) return false;
    if (index < 1 || !TIFFSetDirectory(tiff_, static_cast<tdir_t>(index - 1))) {
      if (error_.empty()) error_ = "no image " + std::to_string(index) + " in the TIFF file";
      return false;
    }
    if (!TIFFGetField(tiff_, TIFFTAG_IMAGEWIDTH, width) ||
        !TIFFGetField(tiff_, TIFFTAG_IMAGELENGTH, height)) {
      if (error_.empty()) error_ = "the TIFF image has no size";
      return false;
    }
    return CheckPixelCount(*width, *height, &error_);
  }

  bool Size(int index, ImageSize* size) {
    uint32_t width = 0, height = 0;
    if (!Select(index, &width, &height)) return false;
    uint16_t bits = 1, samples = 1;
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_SAMPLESPERPIXEL, &samples);
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
    char message[1024] = "";
    if (!TIFFRGBAImageOK(tiff_, message)) {
      if (error_.empty()) error_ = message;
      return false;
    }
    std::vector<uint32_t> raster(static_cast<size_t>(width) * height);
    if (!TIFFReadRGBAImageOriented(tiff_, width, height, raster.data(), ORIENTATION_TOPLEFT, 1)) {
      if (error_.empty()) error_ = "cannot decode the TIFF image";
      return false;
    }
    uint16_t photometric = PHOTOMETRIC_RGB, samples = 1, extraCount = 0;
    uint16_t* extraTypes = nullptr;
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
    bool gray = (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) &&
                samples - extraCount <= 1;
    bool alpha =
        extraCount > 0 && extraTypes &&
        (extraTypes[0] == EXTRASAMPLE_ASSOCALPHA || extraTypes[0] == EXTRASAMPLE_UNASSALPHA);
    pixels->width = static_cast<int>(width);
    pixels->height = static_cast<int>(height);
    pixels->channels = gray ? 1 : 3;
    pixels->color.resize(raster.size() * pixels->channels);
    if (alpha) pixels->alpha.resize(raster.size());
    char* out = &pixels->color[0];
    for (size_t i = 0; i < raster.size(); ++i) {
      uint32_t abgr = raster[i];
      unsigned a = TIFFGetA(abgr);
      unsigned rgb[3] = {TIFFGetR(abgr), TIFFGetG(abgr), TIFFGetB(abgr)};
      // libtiff hands out premultiplied colour; a soft mask wants it plain.
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
    return true;
  }

 private:
  TIFF* tiff_ = nullptr;
  std::string error_;
};

// --- PNG through libpng's simplified API, which keeps its longjmp inside.

bool LoadPng(const std::string& path, ImageSize* size, Pixels* pixels, std::string* error) {
  png_image png;
  std::memset(&png, 0, sizeof(png));
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) {
    *error = png.message;
    return false;
  }
  bool color = (png.format & PNG_FORMAT_FLAG_COLOR) != 0;
  bool alpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  if (!CheckPixelCount(png.width, png.height, error)) {
    png_image_free(&png);
    return false;
  }
  if (size) {
    size->width = static_cast<int>(png.width);
    size->height = static_cast<int>(png.height);
    size->bitsPerPixel =
        PNG_IMAGE_SAMPLE_CHANNELS(png.format) * ((png.format & PNG_FORMAT_FLAG_LINEAR) ? 16 : 8);
  }
  if (!pixels) {
    png_image_free(&png);
    return true;
  }
  png.format = color ? (alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB)
                     : (alpha ? PNG_FORMAT_GA : PNG_FORMAT_GRAY);
  int channels = color ? 3 : 1;
  int step = channels + (alpha ? 1 : 0);
  size_t count = static_cast<size_t>(png.width) * png.height;
  // Sized here rather than by PNG_IMAGE_SIZE, which counts in 32 bits.
  std::vector<unsigned char> buffer(count * step);
  if (!png_image_finish_read(&png, nullptr, buffer.data(), 0, nullptr)) {
    *error = png.message;
    return false;
  }
  pixels->width = static_cast<int>(png.width);
  pixels->height = static_cast<int>(png.height);
  pixels->channels = channels;
  pixels->color.resize(count * channels);
  if (alpha) pixels->alpha.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* in = &buffer[i * step];
    std::memcpy(&pixels->color[i * channels], in, channels);
    if (alpha) pixels->alpha[i] = static_cast<char>(in[channels]);
  }
  return true;
}

// --- BMP, GIF (first frame), PSD (composite) and binary PGM/PPM through stb_image.

bool NetpbmHeaderIsSane(const std::string& data, std::string* error);

bool LoadWithStb(const std::string& path, ImageSize* size, Pixels* pixels, std::string* error) {
  std::string data;
  if (!ReadImageFile(path, &data, error)) return false;
  if (data.size() > static_cast<size_t>(INT32_MAX)) {
    *error = "the file is too large";
    return false;
  }
  // stb_image reads the numbers of a PGM/PPM header into an int without a
  // bound, so they are checked first.
  if (data.size() >= 2 && data[0] == 'P' && (data[1] == '5' || data[1] == '6') &&
      !NetpbmHeaderIsSane(data, error)) {
    return false;
  }
  const auto* bytes = reinterpret_cast<const stbi_uc*>(data.data());
  int length = static_cast<int>(data.size());
  int width = 0, height = 0, components = 0;
  if (!stbi_info_from_memory(bytes, length, &width, &height, &components)) {
    *error = stbi_failure_reason() ? stbi_failure_reason() : "unknown image format";
    return false;
  }
  if (!CheckPixelCount(width, height, error)) return false;
  if (size) {
    size->width = width;
    size->height = height;
    size->bitsPerPixel = components * (stbi_is_16_bit_from_memory(bytes, length) ? 16 : 8);
  }
  if (!pixels) return true;
  stbi_uc* decoded = stbi_load_from_memory(bytes, length, &width, &height, &components, 0);
  if (!decoded) {
    *error = stbi_failure_reason() ? stbi_failure_reason() : "cannot decode the image";
    return false;
  }
  bool alpha = components == 2 || components == 4;
  int channels = components >= 3 ? 3 : 1;
  size_t count = static_cast<size_t>(width) * height;
  pixels->width = width;
  pixels->height = height;
  pixels->channels = channels;
  pixels->color.resize(count * channels);
  if (alpha) pixels->alpha.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const stbi_uc* in = decoded + i * components;
    std::memcpy(&pixels->color[i * channels], in, channels);
    if (alpha) pixels->alpha[i] = static_cast<char>(in[channels]);
  }
  stbi_image_free(decoded);
  return true;
}

// --- PBM and the plain (text) PGM/PPM variants, which stb_image does not read.

class NetpbmParser {
 public:
  explicit NetpbmParser(const std::string& data) : data_(data) {}

  /// Reads the header ("P" and a kind digit, width, height and, but for
  /// bitmaps, the largest sample value) and checks the size.
  bool ReadHeader(uint32_t* width, uint32_t* height, uint32_t* maxValue, std::string* error) {
    char kind = data_.size() >= 2 ? data_[1] : '\0';
    pos_ = 2;
    bool bitmap = kind == '1' || kind == '4';
    *maxValue = 1;
    if (!Number(width) || !Number(height) || (!bitmap && !Number(maxValue)) || *maxValue == 0 ||
        *maxValue > 65535) {
      *error = "bad netpbm header";
      return false;
    }
    return CheckPixelCount(*width, *height, error);
  }

  bool Read(ImageSize* size, Pixels* pixels, std::string* error) {
    uint32_t width = 0, height = 0, maxValue = 1;
    if (!ReadHeader(&width, &height, &maxValue, error)) return false;
    char kind = data_[1];
    bool bitmap = kind == '1' || kind == '4';
    int channels = kind == '3' ? 3 : 1;
    if (size) {
      size->width = static_cast<int>(width);
      size->height = static_cast<int>(height);
      size->bitsPerPixel = bitmap ? 1 : channels * (maxValue > 255 ? 16 : 8);
    }
    if (!pixels) return true;
    pixels->width = static_cast<int>(width);
    pixels->height = static_cast<int>(height);
    pixels->channels = channels;
    std::string& out = pixels->color;
    out.resize(static_cast<size_t>(width) * height * channels);
    if (kind == '4') {
      size_t rowBytes = (width + 7) / 8;
      ++pos_;  // the single blank after the height
      if (data_.size() < pos_ || data_.size() - pos_ < rowBytes * height) {
        *error = "the bitmap data is truncated";
        return false;
      }
      for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
          unsigned char byte = static_cast<unsigned char>(data_[pos_ + y * rowBytes + x / 8]);
          out[static_cast<size_t>(y) * width + x] = (byte & (0x80 >> (x % 8))) ? 0 : '\xFF';
        }
      }
      return true;
    }
    for (char& sample : out) {
      uint32_t value = 0;
      if (kind == '1') {
        SkipBlanks();
        if (pos_ >= data_.size() || (data_[pos_] != '0' && data_[pos_] != '1')) {
          *error = "the bitmap data is truncated";
          return false;
        }
        sample = data_[pos_++] == '1' ? 0 : '\xFF';
        continue;
      }
      if (!Number(&value) || value > maxValue) {
        *error = "the image data is truncated or bad";
        return false;
      }
      sample = static_cast<char>((value * 255 + maxValue / 2) / maxValue);
    }
    return true;
  }

 private:
  void SkipBlanks() {
    while (pos_ < data_.size()) {
      char c = data_[pos_];
      if (c == '#') {
        while (pos_ < data_.size() && data_[pos_] != '\n' && data_[pos_] != '\r') ++pos_;
      } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
        ++pos_;
      } else {
        return;
      }
    }
  }

  bool Number(uint32_t* value) {
    SkipBlanks();
    size_t start = pos_;
    uint64_t n = 0;
    while (pos_ < data_.size() && data_[pos_] >= '0' && data_[pos_] <= '9') {
      n = n * 10 + static_cast<uint64_t>(data_[pos_++] - '0');
      if (n > 0xFFFFFFFFu) return false;
    }
    *value = static_cast<uint32_t>(n);
    return pos_ > start;
  }

  const std::string& data_;
  size_t pos_ = 0;
};

bool NetpbmHeaderIsSane(const std::string& data, std::string* error) {
  uint32_t width = 0, height = 0, maxValue = 0;
  return NetpbmParser(data).ReadHeader(&width, &height, &maxValue, error);
}

bool LoadPlainNetpbm(const std::string& path, ImageSize* size, Pixels* pixels, std::string* error) {
  std::string data;
  if (!ReadImageFile(path, &data, error)) return false;
  return NetpbmParser(data).Read(size, pixels, error);
}

// --- Dispatch by the file's contents (not its name).

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

bool CountImages(const std::string& path, int* count, std::string* error) {
  ImageFormat format;
  if (!ImageFileFormat(path, &format, error)) return false;
  if (format == ImageFormat::kTiff) {
    TiffReader tiff(path);
    *count = tiff.Count();
    if (*count <= 0) *error = tiff.error().empty() ? "the TIFF file holds no image" : tiff.error();
    return *count > 0;
  }
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

/// Reads the size (size not null) and/or the PDF form (image not null) of
/// image `index` of a file.
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
    case ImageFormat::kTiff: {
      TiffReader tiff(path);
      ok = (!size || tiff.Size(index, size)) && (!wanted || tiff.Read(index, wanted));
      if (!ok) *error = tiff.error().empty() ? "cannot read the TIFF image" : tiff.error();
      if (size) size->passThrough = false;
      break;
    }
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

// --- PDF helpers

std::string FormatNumber(double value) {
  char buffer[64];
  if (value == std::floor(value) && std::fabs(value) < 1e15) {
    std::snprintf(buffer, sizeof(buffer), "%.0f", value);
  } else {
    std::snprintf(buffer, sizeof(buffer), "%.4f", value);
    char* end = buffer + std::strlen(buffer);
    while (end[-1] == '0') *--end = '\0';
    if (end[-1] == '.') end[-1] = '\0';
  }
  return std::string(buffer);
}

QPDFObjectHandle NumberObject(double value) {
  if (value == std::floor(value) && std::fabs(value) < 1e15) {
    return QPDFObjectHandle::newInteger(static_cast<long long>(value));
  }
  return QPDFObjectHandle::newReal(FormatNumber(value));
}

QPDFObjectHandle ImageStream(QPDF& doc, const std::string& data, const std::string& filter,
                             int width, int height, const char* colorSpace) {
  QPDFObjectHandle stream = QPDFObjectHandle::newStream(&doc);
  stream.replaceStreamData(data, QPDFObjectHandle::newName(filter), QPDFObjectHandle::newNull());
  QPDFObjectHandle dict = stream.getDict();
  dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
  dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
  dict.replaceKey("/Width", QPDFObjectHandle::newInteger(width));
  dict.replaceKey("/Height", QPDFObjectHandle::newInteger(height));
  if (colorSpace) {
    dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(colorSpace));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
  }
  return stream;
}

const char* ColorSpaceName(int components) {
  switch (components) {
    case 1:
      return "/DeviceGray";
    case 3:
      return "/DeviceRGB";
    case 4:
      return "/DeviceCMYK";
    default:
      return nullptr;
  }
}

const char* const kDocInfoKeys[] = {"/Author",   "/Creator", "/Keywords",
                                    "/Producer", "/Subject", "/Title"};
const char* const kBoxKeys[] = {"/ArtBox", "/BleedBox", "/CropBox", "/TrimBox", "/MediaBox"};

}  // namespace

// ---------------------------------------------------------------------------
// The document
// ---------------------------------------------------------------------------

struct PDF {
  TErrorProc errorProc = nullptr;
  const void* errorData = nullptr;
  bool topDown = false;
  uint32_t importFlags = 0;
  uint32_t metaConvFlags = 0;
  int compressionFilter = 0;
  int versionCode = 0;
  bool staticId = false;

  std::shared_ptr<QPDF> doc;
  std::string outputPath;
  // Imported files must outlive the write: qpdf copies their stream data
  // only then.
  std::vector<std::shared_ptr<QPDF>> sources;
  std::shared_ptr<QPDF> importFile;
  std::string importPath;
  PDFVersion neededVersion{1, 3};
  std::map<int, std::string> docInfo;  // kind -> UTF-8 text

  bool pageOpen = false;
  bool pageImageFailed = false;
  QPDFObjectHandle page;
  QPDFObjectHandle xobjects;
  std::string content;
  int imageCount = 0;
  double mediaTop = 842;  // upper edge of the media box in PDF coordinates
  double frameTop = 0;    // the media box's top in the caller's top-down values

  void NewDocument() {
    doc = QPDF::create();
    doc->setSuppressWarnings(true);
    doc->emptyPDF();
    sources.clear();
    importFile.reset();
    importPath.clear();
    neededVersion = PDFVersion(1, 3);
    docInfo.clear();
    pageOpen = false;
  }

  void Report(int type, int code, const std::string& message) {
    if (errorProc) errorProc(errorData, code, message.c_str(), type);
  }

  void ReportException(const std::exception& e, const std::string& context) {
    int type = kPdfFatalError;
    int code = 0;
    if (const auto* qpdfError = dynamic_cast<const QPDFExc*>(&e)) {
      code = qpdfError->getErrorCode();
      switch (qpdfError->getErrorCode()) {
        case qpdf_e_damaged_pdf:
        case qpdf_e_pages:
          type = kPdfSyntaxError;
          break;
        case qpdf_e_system:
        case qpdf_e_password:
          type = kPdfFileError;
          break;
        case qpdf_e_object:
        case qpdf_e_json:
          type = kPdfValueError;
          break;
        default:
          break;
      }
    } else if (const auto* systemError = dynamic_cast<const QPDFSystemError*>(&e)) {
      code = systemError->getErrno();
      type = kPdfFileError;
    } else if (dynamic_cast<const PdfFileError*>(&e)) {
      type = kPdfFileError;
    }
    Report(type, code, context + e.what());
  }

  void ReportWarnings(QPDF& pdf) {
    for (const QPDFExc& warning : pdf.getWarnings()) {
      Report(kPdfWarning, warning.getErrorCode(), warning.what());
    }
  }

  void ReportAllWarnings() {
    ReportWarnings(*doc);
    for (auto& source : sources) ReportWarnings(*source);
  }

  int PageCount() { return static_cast<int>(doc->getAllPages().size()); }

  void EndPage() {
    if (!pageOpen) return;
    pageOpen = false;
    // A page whose only image could not be read would be an empty page
    // that the source never had.
    if (pageImageFailed && content.empty()) {
      QPDFPageDocumentHelper(*doc).removePage(QPDFPageObjectHelper(page));
      return;
    }
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", QPDFObjectHandle::newStream(doc.get(), content));
  }

  void WriteDocInfo() {
    if (docInfo.empty()) return;
    QPDFObjectHandle trailer = doc->getTrailer();
    QPDFObjectHandle info = trailer.getKey("/Info");
    if (!info.isDictionary()) {
      info = doc->makeIndirectObject(QPDFObjectHandle::newDictionary());
      trailer.replaceKey("/Info", info);
    }
    for (const auto& entry : docInfo) {
      info.replaceKey(kDocInfoKeys[entry.first], QPDFObjectHandle::newUnicodeString(entry.second));
    }
  }
};

int OnPDFError(const void*, int, const char* errMessage, int errType) {
  const char* message = errMessage ? errMessage : "";
  if (errType & kPdfWarning) {
    OutLog("Warning: %s\n", message);
  } else if (errType & kPdfSyntaxError) {
    OutLog("Syntax error!: %s\n", message);
  } else if (errType & kPdfValueError) {
    OutLog("Value error: %s\n", message);
  } else if (errType & kPdfFontError) {
    OutLog("TrueType font error!: %s\n", message);
  } else if (errType & kPdfFileError) {
    OutLog("File error: %s\n", message);
  } else if (errType & kPdfFatalError) {
    OutLog("Fatal error: %s\n", message);
  } else {
    OutLog("%s\n", message);
  }
  return 0;
}

PDF* pdfNewPDF() {
  try {
    auto pdf = std::make_unique<PDF>();
    pdf->NewDocument();
    return pdf.release();
  } catch (const std::exception&) {
    return nullptr;
  }
}

void pdfDeletePDF(PDF* pdf) { delete pdf; }

int pdfSetOnErrorProc(PDF* pdf, const void* data, TErrorProc proc) {
  if (!pdf) return 0;
  pdf->errorData = data;
  pdf->errorProc = proc;
  return 1;
}

int pdfCreateNewPDFA(PDF* pdf, const char* outPDF) {
  if (!pdf) return 0;
  if (!outPDF || !*outPDF) {
    pdf->Report(kPdfValueError, 0, "no output file name");
    return 0;
  }
  std::string path = outPDF;
  if (platform::IsDirectory(path)) {
    pdf->Report(kPdfFileError, 0, "\"" + path + "\" is a folder");
    return 0;
  }
  // The document is written beside the output and renamed over it, so that
  // is where a file must be creatable.
  platform::NewFile probe;
  std::string error;
  if (!probe.CreateBeside(path, 0600, &error)) {
    pdf->Report(kPdfFileError, 0,
                "cannot create a file in the folder of \"" + path + "\": " + error);
    return 0;
  }
  probe.Discard();
  pdf->outputPath = path;
  return 1;
}

int pdfCloseFile(PDF* pdf) {
  if (!pdf) return 0;
  if (pdf->outputPath.empty()) {
    pdf->Report(kPdfValueError, 0, "no output file was created");
    return 0;
  }
  try {
    pdf->EndPage();
    if (pdf->PageCount() == 0) {
      pdf->Report(kPdfValueError, 0,
                  "the document has no page; \"" + pdf->outputPath + "\" is not written");
      return 0;
    }
    pdf->WriteDocInfo();
    PdfWriteOptions options;
    options.version = pdf->neededVersion;
    if (pdf->versionCode > 0) {
      options.version = PDFVersion(1, pdf->versionCode);
      options.version.updateIfGreater(pdf->neededVersion);
      options.forceVersion = true;
    }
    options.staticId = pdf->staticId || StaticPdfIdRequested();
    WritePdfAtomically(*pdf->doc, pdf->outputPath, options);
  } catch (const std::exception& e) {
    pdf->ReportAllWarnings();
    pdf->ReportException(e, "cannot write \"" + pdf->outputPath + "\": ");
    return 0;
  }
  pdf->ReportAllWarnings();
  pdf->outputPath.clear();
  pdf->NewDocument();
  return 1;
}

int pdfSetImportFlags(PDF* pdf, uint32_t flags) {
  if (!pdf) return 0;
  pdf->importFlags = flags;
  return 1;
}

int pdfSetPageCoords(PDF* pdf, int coords) {
  if (!pdf || (coords != 0 && coords != 1)) return 0;
  pdf->topDown = coords == 1;
  return 1;
}

int pdfSetDocInfoA(PDF* pdf, int kind, const char* value) {
  if (!pdf) return 0;
  if (kind < 0 || kind > 5) {
    pdf->Report(kPdfValueError, 0, "unknown document information kind " + std::to_string(kind));
    return 0;
  }
  pdf->docInfo[kind] = platform::AnsiToUtf8(value ? value : "");
  return 1;
}

int pdfSetMetaConvFlags(PDF* pdf, uint32_t flags) {
  if (!pdf) return 0;
  pdf->metaConvFlags = flags;
  return 1;
}

int pdfSetPDFVersion(PDF* pdf, int version) {
  if (!pdf) return 0;
  if (version < 1 || version > 7) {
    pdf->Report(kPdfValueError, 0, "unknown PDF version code " + std::to_string(version));
    return 0;
  }
  pdf->versionCode = version;
  return 1;
}

int pdfSetCompressionFilter(PDF* pdf, int filter) {
  if (!pdf) return 0;
  pdf->compressionFilter = filter;
  return 1;
}

int pdfOpenImportFileA(PDF* pdf, const char* path, int, const char* password) {
  if (!pdf) return -1;
  if (!path || !*path) {
    pdf->Report(kPdfValueError, 0, "no import file name");
    return -1;
  }
  pdf->importFile.reset();
  pdf->importPath.clear();
  std::shared_ptr<QPDF> source;
  try {
    source = QPDF::create();
    source->setSuppressWarnings(true);
    source->processFile(path, password && *password ? password : nullptr);
  } catch (const std::exception& e) {
    if (source) pdf->ReportWarnings(*source);
    pdf->ReportException(e, "cannot open \"" + std::string(path) + "\": ");
    return -2;
  }
  pdf->ReportWarnings(*source);
  pdf->importFile = source;
  pdf->importPath = path;
  return 0;
}

int pdfGetPageCount(PDF* pdf) {
  if (!pdf) return -1;
  try {
    return pdf->PageCount();
  } catch (const std::exception& e) {
    pdf->ReportException(e, "cannot count pages: ");
    return -2;
  }
}

int pdfImportPDFFile(PDF* pdf, int destPage, double, double) {
  if (!pdf) return -1;
  if (!pdf->importFile) {
    pdf->Report(kPdfValueError, 0, "no import file is open");
    return -1;
  }
  std::vector<QPDFObjectHandle> added;
  try {
    pdf->EndPage();
    int count = pdf->PageCount();
    int before = destPage >= 1 && destPage <= count ? destPage - 1 : -1;
    int copied = CopyAllPages(*pdf->importFile, *pdf->doc, before, &added);
    pdf->ReportWarnings(*pdf->importFile);
    pdf->neededVersion.updateIfGreater(
        ParsePdfVersion(pdf->importFile->getPDFVersion(), pdf->importFile->getExtensionLevel()));
    pdf->sources.push_back(pdf->importFile);
    return (before >= 0 ? destPage : count + 1) + copied;
  } catch (const std::exception& e) {
    pdf->ReportWarnings(*pdf->importFile);
    pdf->ReportException(e, "cannot import \"" + pdf->importPath + "\": ");
  }
  try {
    QPDFPageDocumentHelper pages(*pdf->doc);
    for (auto& page : added) pages.removePage(QPDFPageObjectHelper(page));
  } catch (const std::exception& e) {
    pdf->ReportException(e, "cannot remove the pages of a failed import: ");
  }
  return -2;
}

int pdfAppend(PDF* pdf) {
  if (!pdf) return 0;
  try {
    pdf->EndPage();
    QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    page.replaceKey("/MediaBox",
                    QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(0, 0, 595, 842)));
    page = pdf->doc->makeIndirectObject(page);
    QPDFPageDocumentHelper(*pdf->doc).addPage(QPDFPageObjectHelper(page), false);
    pdf->page = page;
    pdf->xobjects = QPDFObjectHandle::newDictionary();
    pdf->content.clear();
    pdf->imageCount = 0;
    pdf->mediaTop = 842;
    pdf->frameTop = 0;
    pdf->pageOpen = true;
    pdf->pageImageFailed = false;
    return 1;
  } catch (const std::exception& e) {
    pdf->ReportException(e, "cannot add a page: ");
    return 0;
  }
}

int pdfSetBBox(PDF* pdf, int box, double left, double top, double right, double bottom) {
  if (!pdf) return 0;
  if (!pdf->pageOpen) {
    pdf->Report(kPdfValueError, 0, "no page is open");
    return 0;
  }
  if (box < 0 || box > 4) {
    pdf->Report(kPdfValueError, 0, "unknown page box " + std::to_string(box));
    return 0;
  }
  double llx = std::min(left, right), urx = std::max(left, right);
  double high = std::max(top, bottom), low = std::min(top, bottom);
  double lly = low, ury = high;
  if (pdf->topDown && box == 4) {
    lly = 0;
    ury = high - low;
    pdf->frameTop = low;
  } else if (pdf->topDown) {
    lly = pdf->mediaTop - (high - pdf->frameTop);
    ury = pdf->mediaTop - (low - pdf->frameTop);
  }
  if (box == 4) pdf->mediaTop = ury;
  try {
    QPDFObjectHandle rect = QPDFObjectHandle::newArray();
    for (double v : {llx, lly, urx, ury}) rect.appendItem(NumberObject(v));
    pdf->page.replaceKey(kBoxKeys[box], rect);
    return 1;
  } catch (const std::exception& e) {
    pdf->ReportException(e, "cannot set a page box: ");
    return 0;
  }
}

int pdfInsertImageExA(PDF* pdf, double x, double y, double width, double height, const char* path,
                      int image) {
  if (!pdf) return 0;
  if (!pdf->pageOpen) {
    pdf->Report(kPdfValueError, 0, "no page is open");
    return 0;
  }
  std::string file = path ? path : "";
  PdfImage picture;
  std::string error;
  bool read = false;
  try {
    read = ReadImage(file, image, nullptr, &picture, &error);
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (!read) {
    pdf->pageImageFailed = true;
    OutLog("[ERROR] Cannot read image %d of \"%s\": %s\n", image, file.c_str(), error.c_str());
    return 0;
  }
  if (width <= 0 && height <= 0) {
    width = picture.width;
    height = picture.height;
  } else if (width <= 0) {
    width = height * picture.width / picture.height;
  } else if (height <= 0) {
    height = width * picture.height / picture.width;
  }
  try {
    QPDF& doc = *pdf->doc;
    const char* colorSpace =
        picture.filter == "/JPXDecode" ? nullptr : ColorSpaceName(picture.components);
    QPDFObjectHandle stream =
        ImageStream(doc, picture.data, picture.filter, picture.width, picture.height, colorSpace);
    QPDFObjectHandle dict = stream.getDict();
    if (picture.invertedCmyk) {
      QPDFObjectHandle decode = QPDFObjectHandle::newArray();
      for (int i = 0; i < 4; ++i) {
        decode.appendItem(QPDFObjectHandle::newInteger(1));
        decode.appendItem(QPDFObjectHandle::newInteger(0));
      }
      dict.replaceKey("/Decode", decode);
    }
    if (!picture.alpha.empty()) {
      dict.replaceKey("/SMask", ImageStream(doc, picture.alpha, "/FlateDecode", picture.width,
                                            picture.height, "/DeviceGray"));
      pdf->neededVersion.updateIfGreater(PDFVersion(1, 4));
    }
    if (picture.filter == "/JPXDecode") {
      if (picture.alphaInData) dict.replaceKey("/SMaskInData", QPDFObjectHandle::newInteger(1));
      pdf->neededVersion.updateIfGreater(PDFVersion(1, 5));
    }
    std::string name = "/Im" + std::to_string(pdf->imageCount++);
    pdf->xobjects.replaceKey(name, stream);
    double pdfY = pdf->topDown ? pdf->mediaTop - (y - pdf->frameTop) - height : y;
    pdf->content += "q " + FormatNumber(width) + " 0 0 " + FormatNumber(height) + " " +
                    FormatNumber(x) + " " + FormatNumber(pdfY) + " cm " + name + " Do Q\n";
    return 1;
  } catch (const std::exception& e) {
    pdf->pageImageFailed = true;
    pdf->ReportException(e,
                         "cannot place image " + std::to_string(image) + " of \"" + file + "\": ");
    return 0;
  }
}

int pdfEndPage(PDF* pdf) {
  if (!pdf) return 0;
  if (!pdf->pageOpen) {
    pdf->Report(kPdfValueError, 0, "no page is open");
    return 0;
  }
  try {
    pdf->EndPage();
    return 1;
  } catch (const std::exception& e) {
    pdf->ReportException(e, "cannot finish the page: ");
    return 0;
  }
}

int pdfGetImageCountA(PDF*, const char* path) {
  std::string file = path ? path : "";
  std::string error;
  int count = 0;
  bool ok = false;
  try {
    ok = CountImages(file, &count, &error);
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (!ok) {
    OutLog("[ERROR] Cannot read image file \"%s\": %s\n", file.c_str(), error.c_str());
    return 0;
  }
  return count;
}

int pdfReadImageFormat2A(PDF*, const char* path, int image, int* width, int* height,
                         int* bitsPerPixel, int* compressionHint) {
  std::string file = path ? path : "";
  ImageSize size;
  std::string error;
  bool ok = false;
  try {
    ok = ReadImage(file, image, &size, nullptr, &error);
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (!ok) {
    OutLog("[ERROR] Cannot read image %d of \"%s\": %s\n", image, file.c_str(), error.c_str());
    return 0;
  }
  if (width) *width = size.width;
  if (height) *height = size.height;
  if (bitsPerPixel) *bitsPerPixel = size.bitsPerPixel;
  if (compressionHint) *compressionHint = size.passThrough ? 0 : 1;
  return 1;
}

void pdfSetStaticIdForTesting(PDF* pdf, bool staticId) {
  if (pdf) pdf->staticId = staticId;
}
