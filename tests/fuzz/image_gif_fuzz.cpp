// Image pages from a .gif file: GIF, its first frame (decoded by stb_image).
#include <cstdint>

#include "image_pages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz::FuzzImagePages(data, size, ".gif");
}
