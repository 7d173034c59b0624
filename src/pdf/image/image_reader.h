// Reading any supported image file into the form a PDF image takes: the
// format is told by the file's first bytes and its decoder called.
// Failures come back as false with a reason in *error.
#pragma once

#include <string>

#include "pdf/image/image.h"

namespace images {

/// Number of images in the file (TIFF directories; 1 for other formats),
/// told by its contents, not its name. Only headers are read.
bool CountImages(const std::string& path, int* count, std::string* error);

/// Reads the size (size not null) and/or the PDF form (image not null) of
/// image `index` (from 1) of a file. Formats other than TIFF hold image 1
/// only.
bool ReadImage(const std::string& path, int index, ImageSize* size, PdfImage* image,
               std::string* error);

}  // namespace images
