// Win32 reader of the enhanced-metafile header: GDI opens the file
// (GetEnhMetaFileA) and hands its header over (GetEnhMetaFileHeader).
//
// GDI refuses a file that is shorter than a header or whose first record is
// not the header (type 1, signature " EMF"). How it treats header sizes that
// do not fit the file differs between versions, so those are checked here
// against the file's size as the POSIX reader checks them; the contract is
// the same on both, only the texts of the errors differ where GDI gives no
// reason.
#include "platform/metafile_header.h"

#include <string>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"

namespace platform {

namespace {

// The header record up to its description fields: what every enhanced
// metafile has.
const UINT kHeaderSize = 88;

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

}  // namespace

bool ReadEnhMetaFileFrame(const std::string& path, EnhMetaFrame* frame, std::string* error) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    return win32::Fail(error);
  }
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
    return Fail(error, "not a file");
  }
  uint64_t fileSize = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  if (fileSize < kHeaderSize) return Fail(error, "shorter than a metafile header");
  HENHMETAFILE metafile = GetEnhMetaFileA(path.c_str());
  if (!metafile) return Fail(error, "not an enhanced metafile");
  ENHMETAHEADER header{};
  UINT got = GetEnhMetaFileHeader(metafile, sizeof(header), &header);
  DeleteEnhMetaFile(metafile);
  if (got < kHeaderSize) return Fail(error, "not an enhanced metafile");
  if (header.iType != EMR_HEADER || header.dSignature != ENHMETA_SIGNATURE) {
    return Fail(error, "not an enhanced metafile");
  }
  if (header.nSize < kHeaderSize || header.nSize % 4 != 0 || header.nSize > fileSize ||
      header.nBytes < header.nSize || header.nBytes > fileSize) {
    return Fail(error, "the header's sizes do not match the file");
  }
  frame->left = header.rclFrame.left;
  frame->top = header.rclFrame.top;
  frame->right = header.rclFrame.right;
  frame->bottom = header.rclFrame.bottom;
  return true;
}

}  // namespace platform
