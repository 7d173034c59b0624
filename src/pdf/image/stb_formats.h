// BMP, GIF (first frame), PSD (composite) and binary PGM/PPM files, decoded
// by stb_image.
#pragma once

#include <string>

#include "pdf/image/image.h"

namespace images {

/// Reads the size (size not null) and/or the pixels (pixels not null) of a
/// file in one of these formats. A PGM/PPM header is checked for sane
/// numbers before stb_image sees it. Returns false with *error on failure.
bool LoadWithStb(const std::string& path, ImageSize* size, Pixels* pixels, std::string* error);

}  // namespace images
