#include "pdf/image/jpeg_file.h"

#include <csetjmp>
#include <cstdio>
#include <string>

// jpeglib.h needs <cstdio> first.
#include <jpeglib.h>

namespace images {
namespace {

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

}  // namespace

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

}  // namespace images
