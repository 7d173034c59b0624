// Whether a folder can take more data: free space and a probe written and
// forced to the disk, the same on every platform.
#include <cstdio>

#include "platform/platform.h"

namespace platform {

bool HasRoomFor(const std::string& folder, int64_t bytes, std::string* why) {
  int64_t available = AvailableDiskBytes(folder, why);
  if (available < 0) return false;
  if (available < bytes) {
    *why = ErrorText(kNoSpaceError);
    return false;
  }
  NewFile probe;
  std::string dir = folder.empty() ? std::string(".") : folder;
  if (!probe.CreateBeside(dir + kPathSeparator + ".tarvelin-probe", 0600, why)) return false;
  static const char kBlock[4096] = {};
  fwrite(kBlock, 1, sizeof(kBlock), probe.stream());  // a failure shows when it is forced out
  bool ok = probe.SyncAndClose(why);
  DeleteFile(probe.path());
  return ok;
}

}  // namespace platform
