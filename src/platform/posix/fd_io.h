// Whole reads and writes on file descriptors, retried after signals.
#pragma once

#include <errno.h>
#include <unistd.h>

#include <cstddef>

namespace platform {

/// Reads exactly size bytes. False on error or an early end of file.
inline bool ReadAll(int fd, void* data, size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    ssize_t n = read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

/// Writes exactly size bytes. False on error, with errno telling why.
inline bool WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;  // nothing written and no error: errno would be stale
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace platform
