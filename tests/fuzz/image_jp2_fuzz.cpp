// Image pages from a .jp2 file: JPEG 2000, as a JP2 file or a bare codestream (header read with
// openjpeg).
#include <cstdint>

#include "image_pages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz::FuzzImagePages(data, size, ".jp2");
}
