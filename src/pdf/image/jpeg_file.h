// JPEG files: the header is read and the data checked by decoding it; the
// file itself goes into the PDF (DCTDecode).
#pragma once

#include <string>

#include "pdf/image/image.h"

namespace images {

/// Reads the size of a JPEG file (size not null) and/or its PDF form (image
/// not null: the whole file, after a decode at an eighth of its size found
/// no error and an end marker follows the last scan). CMYK with an Adobe
/// marker is marked invertedCmyk. Only 8-bit data with 1, 3 or 4 components
/// is taken. Returns false with *error on failure.
bool LoadJpeg(const std::string& path, ImageSize* size, PdfImage* image, std::string* error);

}  // namespace images
