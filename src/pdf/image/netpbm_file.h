// Netpbm files stb_image does not read: PBM (plain and binary) and the plain
// (text) PGM/PPM variants; and the header check for the binary PGM/PPM
// files stb_image does read.
#pragma once

#include <string>

#include "pdf/image/image.h"

namespace images {

/// True when data starts with a Netpbm header ("P", a kind digit, width,
/// height and, but for bitmaps, a largest sample value of 1 to 65535) whose
/// size passes CheckPixelCount. False with *error otherwise.
bool NetpbmHeaderIsSane(const std::string& data, std::string* error);

/// Reads the size (size not null) and/or the pixels (pixels not null) of a
/// PBM file or a plain PGM/PPM file. Returns false with *error on failure.
bool LoadPlainNetpbm(const std::string& path, ImageSize* size, Pixels* pixels, std::string* error);

}  // namespace images
