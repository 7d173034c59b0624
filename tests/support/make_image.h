// Small image files for tests: written with the image libraries themselves
// where they write the format, by hand where the format is a few fixed fields.
#pragma once

#include <jpeglib.h>
#include <openjpeg.h>
#include <png.h>
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

/// Writes an RGB TIFF with one directory (image) per size, each a flat colour,
/// in little-endian ("II") or big-endian ("MM") byte order.
inline bool WriteTestTiff(const std::string& path, const std::vector<std::pair<int, int>>& sizes,
                          bool bigEndian = false) {
  TIFF* tiff = TIFFOpen(path.c_str(), bigEndian ? "wb" : "wl");
  if (!tiff) return false;
  for (const auto& size : sizes) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, size.first);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, size.second);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
    std::vector<unsigned char> row(static_cast<size_t>(size.first) * 3, 0x80);
    for (int y = 0; y < size.second; ++y) TIFFWriteScanline(tiff, row.data(), y, 0);
    TIFFWriteDirectory(tiff);
  }
  TIFFClose(tiff);
  return true;
}

/// Writes an RGBA PNG whose pixels all have the given alpha.
inline bool WriteTestPng(const std::string& path, int width, int height, unsigned char alpha) {
  png_image image;
  std::memset(&image, 0, sizeof(image));
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGBA;
  std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 4, 0x40);
  for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = alpha;
  return png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr) != 0;
}

/// Writes a baseline JPEG whose every pixel has the given samples (one per
/// component of the colour space).
inline bool WriteFlatJpeg(const std::string& path, int width, int height, J_COLOR_SPACE space,
                          const std::vector<unsigned char>& pixel) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  jpeg_compress_struct cinfo;
  jpeg_error_mgr error;
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = static_cast<int>(pixel.size());
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> row;
  for (int x = 0; x < width; ++x) row.insert(row.end(), pixel.begin(), pixel.end());
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(file);
  return true;
}

/// An 8-bit RGB colour.
struct TestRgb {
  unsigned char r, g, b;
};

/// Writes a losslessly compressed RGB JPEG 2000 image, the upper half of its
/// rows `top`, the rest `bottom`: a JP2 file, or a bare codestream.
inline bool WriteTestJpeg2000(const std::string& path, int width, int height, TestRgb top,
                              TestRgb bottom, bool codestream) {
  opj_image_cmptparm_t parts[3];
  std::memset(parts, 0, sizeof(parts));
  for (opj_image_cmptparm_t& part : parts) {
    part.dx = part.dy = 1;
    part.w = static_cast<OPJ_UINT32>(width);
    part.h = static_cast<OPJ_UINT32>(height);
    part.prec = 8;
  }
  opj_image_t* image = opj_image_create(3, parts, OPJ_CLRSPC_SRGB);
  if (!image) return false;
  image->x1 = static_cast<OPJ_UINT32>(width);
  image->y1 = static_cast<OPJ_UINT32>(height);
  for (int i = 0; i < width * height; ++i) {
    const TestRgb& c = i / width < height / 2 ? top : bottom;
    image->comps[0].data[i] = c.r;
    image->comps[1].data[i] = c.g;
    image->comps[2].data[i] = c.b;
  }
  opj_cparameters_t parameters;
  opj_set_default_encoder_parameters(&parameters);
  parameters.numresolution = 1;  // more levels need a larger image
  opj_codec_t* codec = opj_create_compress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
  opj_stream_t* stream = opj_stream_create_default_file_stream(path.c_str(), OPJ_FALSE);
  bool ok = stream && opj_setup_encoder(codec, &parameters, image) &&
            opj_start_compress(codec, image, stream) && opj_encode(codec, stream) &&
            opj_end_compress(codec, stream);
  if (stream) opj_stream_destroy(stream);
  opj_destroy_codec(codec);
  opj_image_destroy(image);
  return ok;
}

/// `value` as `bytes` bytes, little-endian (LeBytes) or big-endian (BeBytes);
/// zeros past its eighth.
inline std::string LeBytes(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(i < 8 ? (value >> (8 * i)) & 0xFF : 0);
  return out;
}
inline std::string BeBytes(uint64_t value, int bytes) {
  std::string out = LeBytes(value, bytes);
  return std::string(out.rbegin(), out.rend());
}
/// Values of 32 bits each, little-endian, one after the other.
template <typename... T>
std::string Le32s(T... values) {
  return (LeBytes(static_cast<uint64_t>(values), 4) + ...);
}

// The hand-written images below are 2 x 2 pixels: the upper row `top`, the
// lower row `bottom`.

/// A 24-bit BMP: rows bottom-up, each padded to 4 bytes.
inline std::string TestBmp(TestRgb top, TestRgb bottom) {
  std::string bmp = "BM";
  // File size, reserved, offset of the pixels; the info header's size,
  // width, height, planes, bits per pixel, compression (none), size of the
  // pixels, pixels per metre across and down, colours used and important.
  bmp +=
      Le32s(70, 0, 54, 40, 2, 2) + LeBytes(1, 2) + LeBytes(24, 2) + Le32s(0, 16, 2835, 2835, 0, 0);
  for (const TestRgb& c : {bottom, top}) {
    for (int x = 0; x < 2; ++x) {
      bmp += {static_cast<char>(c.b), static_cast<char>(c.g), static_cast<char>(c.r)};
    }
    bmp.append(2, '\0');
  }
  return bmp;
}

/// A GIF with a four-colour table (0 top, 1 bottom). Its LZW codes are all
/// literals, with a clear code before each row so that the code width stays
/// at three bits.
inline std::string TestGif(TestRgb top, TestRgb bottom) {
  std::string gif = "GIF89a";
  // Width, height; a global table of 4 colours, background 0, square pixels.
  gif += LeBytes(2, 2) + LeBytes(2, 2) + LeBytes(0x81, 1) + LeBytes(0, 1) + LeBytes(0, 1);
  for (const TestRgb& c : {top, bottom, TestRgb{0, 0, 0}, TestRgb{0, 0, 0}}) {
    gif += {static_cast<char>(c.r), static_cast<char>(c.g), static_cast<char>(c.b)};
  }
  // The image: left, top, width, height, no local colour table.
  gif += LeBytes(0x2C, 1) + LeBytes(0, 2) + LeBytes(0, 2) + LeBytes(2, 2) + LeBytes(2, 2) +
         LeBytes(0, 1);
  const unsigned codes[] = {4, 0, 0, 4, 1, 1, 5};  // clear, top row, clear, bottom row, end
  std::string data;
  unsigned bits = 0, count = 0;
  for (unsigned code : codes) {
    bits |= code << count;
    for (count += 3; count >= 8; count -= 8, bits >>= 8) data.push_back(static_cast<char>(bits));
  }
  if (count > 0) data.push_back(static_cast<char>(bits));
  gif += '\x02';  // smallest code size
  gif += static_cast<char>(data.size());
  gif += data;
  gif += {'\0', '\x3B'};  // end of the image data, end of the file
  return gif;
}

/// An RGB PSD with no layers: only the composite image, planar and raw.
inline std::string TestPsd(TestRgb top, TestRgb bottom) {
  std::string psd = "8BPS";
  // Version, 6 reserved bytes, channels, height, width, bits per channel,
  // colour mode (RGB), three empty sections, compression (none).
  psd += BeBytes(1, 2) + BeBytes(0, 6) + BeBytes(3, 2) + BeBytes(2, 4) + BeBytes(2, 4) +
         BeBytes(8, 2) + BeBytes(3, 2) + BeBytes(0, 4) + BeBytes(0, 4) + BeBytes(0, 4) +
         BeBytes(0, 2);
  for (int channel = 0; channel < 3; ++channel) {
    for (const TestRgb& c : {top, bottom}) {
      unsigned char value = channel == 0 ? c.r : channel == 1 ? c.g : c.b;
      psd.append(2, static_cast<char>(value));
    }
  }
  return psd;
}
