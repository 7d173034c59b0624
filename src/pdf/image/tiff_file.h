// TIFF files: every directory is one image, decoded to RGB(A) or gray by
// libtiff.
#pragma once

#include <string>

#include "pdf/image/image.h"

namespace images {

/// Number of images (directories) of a TIFF file. Returns false with *error
/// when it holds none or cannot be read.
bool CountTiffImages(const std::string& path, int* count, std::string* error);

/// Reads the size (size not null) and/or the pixels (pixels not null) of
/// image `index` (from 1) of a TIFF file. Returns false with *error on
/// failure.
bool LoadTiff(const std::string& path, int index, ImageSize* size, Pixels* pixels,
              std::string* error);

}  // namespace images
