// POSIX reader of the enhanced-metafile header: the fields Windows checks
// when it opens the file, read from the file itself.
#include "platform/metafile_header.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/platform.h"

namespace platform {

namespace {

// The header record up to its description fields (ENHMETAHEADER without
// the later extensions): what every enhanced metafile has.
const size_t kHeaderSize = 88;
const uint32_t kHeaderType = 1;
const uint32_t kSignature = 0x464D4520;  // " EMF"

uint32_t Le32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

}  // namespace

bool ReadEnhMetaFileFrame(const std::string& path, EnhMetaFrame* frame, std::string* error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(error, ErrorText(errno));
  struct stat info {};
  unsigned char h[kHeaderSize];
  ssize_t got = -1;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) got = pread(fd, h, sizeof(h), 0);
  int readError = errno;
  close(fd);
  if (got < 0) return Fail(error, S_ISREG(info.st_mode) ? ErrorText(readError) : "not a file");
  if (static_cast<size_t>(got) < kHeaderSize) return Fail(error, "shorter than a metafile header");
  uint64_t fileSize = static_cast<uint64_t>(info.st_size);
  uint32_t type = Le32(h), recordSize = Le32(h + 4), signature = Le32(h + 40);
  uint32_t totalSize = Le32(h + 48);
  if (type != kHeaderType || signature != kSignature) {
    return Fail(error, "not an enhanced metafile");
  }
  if (recordSize < kHeaderSize || recordSize % 4 != 0 || recordSize > fileSize ||
      totalSize < recordSize || totalSize > fileSize) {
    return Fail(error, "the header's sizes do not match the file");
  }
  frame->left = static_cast<int32_t>(Le32(h + 24));
  frame->top = static_cast<int32_t>(Le32(h + 28));
  frame->right = static_cast<int32_t>(Le32(h + 32));
  frame->bottom = static_cast<int32_t>(Le32(h + 36));
  return true;
}

}  // namespace platform
