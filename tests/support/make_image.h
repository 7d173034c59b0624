// Small image files for tests, written with the image libraries themselves.
#pragma once

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

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

/// Writes a gray baseline JPEG.
inline bool WriteTestJpeg(const std::string& path, int width, int height) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  jpeg_compress_struct cinfo;
  jpeg_error_mgr error;
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = 1;
  cinfo.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> row(width, 0x99);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(file);
  return true;
}
