#include "pdf/image/jpeg2000_file.h"

#include <openjpeg.h>

#include <cstdint>
#include <string>

#include "pdf/image/codec_library.h"

namespace images {
namespace {

#define TARVELIN_OPENJPEG_CALLS(X)         \
  X(opj_create_decompress)                 \
  X(opj_destroy_codec)                     \
  X(opj_image_destroy)                     \
  X(opj_read_header)                       \
  X(opj_set_default_decoder_parameters)    \
  X(opj_set_error_handler)                 \
  X(opj_set_info_handler)                  \
  X(opj_set_warning_handler)               \
  X(opj_setup_decoder)                     \
  X(opj_stream_create_default_file_stream) \
  X(opj_stream_destroy)

TARVELIN_CODEC_LIBRARY(OpenJpegCalls, libopenjp2, TARVELIN_LIBOPENJP2, TARVELIN_OPENJPEG_CALLS);

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

/// What a JPEG 2000 header tells.
struct Jpeg2000Header {
  int64_t width = 0;
  int64_t height = 0;
  int components = 0;
  int bits = 0;       // summed over the components
  int precision = 0;  // of the first component
  bool isSigned = false;
  bool uniform = true;  // all components have the first one's precision and sign
  bool alpha = false;
};

void DescribeComponents(const opj_image_t& image, Jpeg2000Header* header) {
  header->width = static_cast<int64_t>(image.x1) - image.x0;
  header->height = static_cast<int64_t>(image.y1) - image.y0;
  header->components = static_cast<int>(image.numcomps);
  for (int i = 0; i < header->components; ++i) {
    const opj_image_comp_t& component = image.comps[i];
    header->bits += static_cast<int>(component.prec);
    if (component.alpha) header->alpha = true;
    if (i == 0) {
      header->precision = static_cast<int>(component.prec);
      header->isSigned = component.sgnd != 0;
    } else if (static_cast<int>(component.prec) != header->precision ||
               (component.sgnd != 0) != header->isSigned) {
      header->uniform = false;
    }
  }
}

// The error text is openjpeg's first error message, when it sent one.
bool ReadJpeg2000Header(const std::string& path, bool codestream, Jpeg2000Header* header,
                        std::string* error) {
  const OpenJpegCalls* lib = libopenjp2.Get(error);
  if (!lib) return false;
  opj_stream_t* stream = lib->opj_stream_create_default_file_stream(path.c_str(), OPJ_TRUE);
  if (!stream) {
    *error = "cannot open the file";
    return false;
  }
  opj_codec_t* codec = lib->opj_create_decompress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
  std::string message;
  lib->opj_set_error_handler(codec, OpjError, &message);
  lib->opj_set_warning_handler(codec, OpjQuiet, nullptr);
  lib->opj_set_info_handler(codec, OpjQuiet, nullptr);
  opj_dparameters_t parameters;
  lib->opj_set_default_decoder_parameters(&parameters);
  opj_image_t* image = nullptr;
  bool read =
      lib->opj_setup_decoder(codec, &parameters) && lib->opj_read_header(stream, codec, &image);
  if (read && image) DescribeComponents(*image, header);
  if (image) lib->opj_image_destroy(image);
  lib->opj_destroy_codec(codec);
  lib->opj_stream_destroy(stream);
  if (!read || header->components == 0) {
    *error = message.empty() ? "cannot read the JPEG 2000 header" : message;
    return false;
  }
  return true;
}

}  // namespace

bool LoadJpeg2000(const std::string& path, bool codestream, ImageSize* size, PdfImage* image,
                  std::string* error) {
  Jpeg2000Header header;
  if (!ReadJpeg2000Header(path, codestream, &header, error)) return false;
  if (!CheckPixelCount(header.width, header.height, error)) return false;
  int width = static_cast<int>(header.width);
  int height = static_cast<int>(header.height);
  if (size) {
    size->width = width;
    size->height = height;
    size->bitsPerPixel = header.bits;
    size->passThrough = true;
  }
  if (image) {
    if (!ReadImageFile(path, &image->data, error)) return false;
    if (codestream && header.uniform && header.precision >= 1 && header.precision <= 38) {
      image->data =
          WrapCodestream(image->data, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                         header.components, header.precision, header.isSigned);
    }
    image->width = width;
    image->height = height;
    image->filter = "/JPXDecode";
    image->alphaInData = header.alpha;
  }
  return true;
}

}  // namespace images
