// The enhanced-metafile header, as Windows reads it with GetEnhMetaFileA
// and GetEnhMetaFileHeader.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

/// The frame of an enhanced metafile's header: the picture's rectangle in
/// hundredths of a millimetre.
struct EnhMetaFrame {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

/// Opens the file as an enhanced metafile and reads its header's frame.
/// False (with *error set when given) when the file cannot be read or is
/// no enhanced metafile: shorter than a header, a first record that is not
/// the header (type 1, signature " EMF"), or a header whose record size or
/// file size is smaller than the header or larger than the file.
bool ReadEnhMetaFileFrame(const std::string& path, EnhMetaFrame* frame,
                          std::string* error = nullptr);

}  // namespace platform
