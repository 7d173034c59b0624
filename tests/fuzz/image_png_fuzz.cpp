// Image pages from a .png file: PNG (decoded by libpng).
#include <cstdint>

#include "image_pages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz::FuzzImagePages(data, size, ".png");
}
