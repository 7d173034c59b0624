// Image pages from a Netpbm file: the plain P1-P4 forms by the project's own
// parser, binary P5/P6 by stb_image. The file is named by its kind (.pbm,
// .pgm, .ppm; .pnm for anything else), as a Netpbm tool would name it.
#include <cstdint>

#include "image_pages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* extension = ".pnm";
  if (size >= 2 && data[0] == 'P') {
    switch (data[1]) {
      case '1':
      case '4':
        extension = ".pbm";
        break;
      case '2':
      case '5':
        extension = ".pgm";
        break;
      case '3':
      case '6':
        extension = ".ppm";
        break;
      default:
        break;
    }
  }
  return fuzz::FuzzImagePages(data, size, extension);
}
