// Image pages from a .jpg file: JPEG (header read and a reduced decode; the data passes through).
#include <cstdint>

#include "image_pages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz::FuzzImagePages(data, size, ".jpg");
}
