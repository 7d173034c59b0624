#include "delivery/flash_sync.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "config/log.h"
#include "config/temp_names.h"
#include "delivery/append_driver.h"
#include "delivery/page_writers.h"
#include "pdf/incremental_update.h"
#include "pdf/pdf_file_info.h"
#include "platform/platform.h"
#include "process/process_runner.h"

namespace {

// True when both paths name the same file (also when neither exists yet).
bool SameFile(const char* a, const char* b) {
  std::error_code ec1, ec2;
  auto ca = std::filesystem::weakly_canonical(a, ec1);
  auto cb = std::filesystem::weakly_canonical(b, ec2);
  if (ec1 || ec2) return strcmp(a, b) == 0;
  return ca == cb;
}

// The watcher calls the sync every second; a lasting problem is logged once
// until it changes, not once a second.
void LogOnce(const std::string& message) {
  static std::string last;
  if (message == last) return;
  last = message;
  OutLog("%s", message.c_str());
}

bool SameContent(const char* a, const char* b) {
  std::string x, y;
  return platform::ReadWholeFile(a, &x) && platform::ReadWholeFile(b, &y) && x == y;
}

}  // namespace

int GetFileSizeBytes(const char* path) {
  int64_t size = platform::FileSize(path ? path : "");
  if (size < 0 || size > 0x7FFFFFFF) return -1;
  return static_cast<int>(size);
}

int WaitUntilFileStable(const char* path) {
  int64_t size = platform::FileSize(path);
  if (size < 0) return 1;
  bool hasPrevious = false;
  int64_t previous = 0;
  int repeats = 0;
  for (;;) {
    if (size < 1) break;
    if (hasPrevious && size == previous) {
      if (++repeats >= 5) break;
    } else {
      previous = size;
      hasPrevious = true;
      repeats = 0;
    }
    platform::CurrentClock().SleepMs(1000);
    size = platform::FileSize(path);
    if (size < 0) break;
  }
  return 1;
}

namespace {

// Copies the source or appends its pages to the target's; true when the
// target then holds the target's old pages followed by the source's.
bool MovePagesToTarget(const char* source, const char* target, int sourcePages,
                       const JobSettings& settings) {
  // An append to the drive cut short (a pulled drive) is cut off first.
  bool recovered = false;
  std::string why;
  if (!RecoverInterruptedAppend(target, &recovered, &why)) {
    LogOnce("[ERROR] SyncPDFFileToFlashDrive: " + why + "; \"" + source + "\" stays.\n");
    return false;
  }
  if (!recovered && !why.empty()) OutLog("[ERROR] SyncPDFFileToFlashDrive: %s.\n", why.c_str());
  bool exists = platform::PathExists(target);
  int before = exists ? GetPDFFilePageCount(target, &why) : 0;
  if (before < 0) {
    LogOnce("[ERROR] SyncPDFFileToFlashDrive: the target \"" + std::string(target) +
            "\" cannot be read as a PDF (" + why + "); \"" + source + "\" stays.\n");
    return false;
  }
  if (!RecordSyncCommit(source, target, before, before + sourcePages)) return false;
  Status ran;
  if (!exists) {
    std::string error;
    if (!platform::CopyFileAtomically(source, target, 0644, &error)) ran = Status::Failure(error);
  } else {
    OutLog("SyncPDFFileToFlashDrive: \"%s\" to \"%s\"\n", source, target);
    ran = AppendPDFByMerger(source, target, settings.info);
  }
  int after = GetPDFFilePageCount(target);
  if (ran && after == before + sourcePages) return true;
  RecordSyncCommit(source, "", 0, 0);
  OutLog(
      "[ERROR] SyncPDFFileToFlashDrive: could not %s \"%s\" to \"%s\" (%d pages there, %d "
      "expected%s%s); it stays.\n",
      exists ? "append" : "copy", source, target, after < 0 ? 0 : after, before + sourcePages,
      ran ? "" : ": ", ran.reason().c_str());
  return false;
}

}  // namespace

int SyncPDFFileToFlashDrive(const char* source, const char* target, const JobSettings& settings) {
  if (!source || !target || !*source || !*target || !platform::PathExists(source)) return 0;
  if (SameFile(source, target)) {
    LogOnce("[ERROR] SyncPDFFileToFlashDrive: the target \"" + std::string(target) +
            "\" is the output PDF itself; nothing is synchronised.\n");
    return 0;
  }
  // A missing folder, or a mount point whose drive is not mounted (writing
  // there would put the pages under the mount point, hidden once the drive
  // is back), both mean: no drive.
  std::string folder = platform::DirName(target);
  if (!folder.empty() &&
      (!platform::IsDirectory(folder) || platform::IsUnmountedMountPoint(folder))) {
    LogOnce("[ERROR] SyncPDFFileToFlashDrive: the target folder \"" + folder +
            "\" does not exist or its drive is not mounted (no drive?); \"" + source +
            "\" stays.\n");
    return 0;
  }
  WaitUntilFileStable(source);

  // From here until the source is deleted no append run may change it;
  // without the lock nothing is touched.
  platform::FileLock lock(OutputLockPath(source), OutputLockWaitMs(settings));
  if (!lock.Held()) {
    LogOnce("[ERROR] SyncPDFFileToFlashDrive: could not lock \"" + OutputLockPath(source) +
            "\": " + lock.Error() + "; \"" + source + "\" stays.\n");
    return 0;
  }
  // A commit in the journal may name the output and this drive's copy only.
  JobSettings toThisTarget = settings;
  toThisTarget.syncTarget = target;
  if (!DeliverKeptJobs(source, toThisTarget, lock.NativeHandle())) return 0;
  if (!platform::PathExists(source)) return 0;
  int size = GetFileSizeBytes(source);
  OutLog("SyncPDFFileToFlashDrive: \"%s\" is \"%d\" bytes.\n", source, size);
  if (size < 1) return 0;
  std::string why = "no pages";
  int sourcePages = GetPDFFilePageCount(source, &why);
  if (sourcePages < 1) {
    LogOnce("[ERROR] SyncPDFFileToFlashDrive: \"" + std::string(source) +
            "\" cannot be read as a PDF (" + why + "); it stays.\n");
    return 0;
  }

  if (platform::PathExists(target)) {
    int targetSize = GetFileSizeBytes(target);
    OutLog("SyncPDFFileToFlashDrive: \"%s\" is \"%d\" bytes.\n", target, targetSize);
    // Only a byte-identical source is already there; one of the same size
    // but other content is a new job.
    if (targetSize == size && SameContent(source, target)) {
      OutLog(
          "SyncPDFFileToFlashDrive: \"%s\" has same file size to \"%s\", skip file "
          "synchronization.\n",
          source, target);
      DeleteFileLogged(source);
      return 1;
    }
  }
  if (!MovePagesToTarget(source, target, sourcePages, settings)) return 0;
  DeleteFileLogged(source);
  RecordSyncCommit(source, "", 0, 0);
  return 1;
}
