// JPEG 2000 files: the header is read with openjpeg; the data goes into the
// PDF as it is (JPXDecode).
#pragma once

#include <string>

#include "pdf/image/image.h"

namespace images {

/// Reads the size of a JP2 file or, with codestream set, a bare JPEG 2000
/// codestream (size not null) and/or its PDF form (image not null: the file's
/// bytes; a codestream whose components share one precision and sign is
/// wrapped in the smallest JP2 file around it). Returns false with *error on
/// failure.
bool LoadJpeg2000(const std::string& path, bool codestream, ImageSize* size, PdfImage* image,
                  std::string* error);

}  // namespace images
