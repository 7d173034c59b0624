#include "pdf/image/stb_formats.h"

#include <cstdint>
#include <string>

#include "pdf/image/netpbm_file.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_NO_STDIO
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#define STBI_ONLY_PNM
#define STBI_ONLY_PSD
#define STBI_MAX_DIMENSIONS (1 << 20)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

static_assert(STBI_MAX_DIMENSIONS == images::kMaxImageSide,
              "stb_image refuses what the other decoders refuse");

namespace images {

bool LoadWithStb(const std::string& path, ImageSize* size, Pixels* pixels, std::string* error) {
  std::string data;
  if (!ReadImageFile(path, &data, error)) return false;
  if (data.size() > static_cast<size_t>(INT32_MAX)) {
    *error = "the file is too large";
    return false;
  }
  // stb_image reads the numbers of a PGM/PPM header into an int without a
  // bound, so they are checked first.
  if (data.size() >= 2 && data[0] == 'P' && (data[1] == '5' || data[1] == '6') &&
      !NetpbmHeaderIsSane(data, error)) {
    return false;
  }
  const auto* bytes = reinterpret_cast<const stbi_uc*>(data.data());
  int length = static_cast<int>(data.size());
  int width = 0, height = 0, components = 0;
  if (!stbi_info_from_memory(bytes, length, &width, &height, &components)) {
    *error = stbi_failure_reason() ? stbi_failure_reason() : "unknown image format";
    return false;
  }
  if (!CheckPixelCount(width, height, error)) return false;
  if (size) {
    size->width = width;
    size->height = height;
    size->bitsPerPixel = components * (stbi_is_16_bit_from_memory(bytes, length) ? 16 : 8);
  }
  if (!pixels) return true;
  stbi_uc* decoded = stbi_load_from_memory(bytes, length, &width, &height, &components, 0);
  if (!decoded) {
    *error = stbi_failure_reason() ? stbi_failure_reason() : "cannot decode the image";
    return false;
  }
  // stb_image gives gray, gray and alpha, RGB or RGBA.
  bool alpha = components == 2 || components == 4;
  StoreInterleaved(decoded, width, height, components >= 3 ? 3 : 1, alpha, pixels);
  stbi_image_free(decoded);
  return true;
}

}  // namespace images
