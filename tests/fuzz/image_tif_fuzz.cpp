// Image pages from a .tif file: TIFF, every directory an image (decoded by libtiff).
#include <cstdint>

#include "image_pages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz::FuzzImagePages(data, size, ".tif");
}
