// PNG files, decoded to 8-bit gray or RGB with an alpha channel when the file
// has one, through libpng's simplified API (which keeps its longjmp inside).
#pragma once

#include <string>

#include "pdf/image/image.h"

namespace images {

/// Reads the size (size not null) and/or the pixels (pixels not null) of a
/// PNG file. Returns false with *error on failure.
bool LoadPng(const std::string& path, ImageSize* size, Pixels* pixels, std::string* error);

}  // namespace images
