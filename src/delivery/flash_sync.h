// Moving the output PDF onto a removable drive.
#pragma once

#include "config/settings.h"

/// One cycle of the sync: once the source has stopped growing, copies it to
/// the target or appends its pages to the target's, then deletes the source.
/// The source is deleted only when its pages are safely in the target.
/// Returns 1 when the source was handled (and deleted), 0 otherwise.
int SyncPDFFileToFlashDrive(const char* source, const char* target, const JobSettings& settings);

/// Blocks until the file's size has been the same over five one-second
/// polls, or the file is gone or empty. Always returns 1.
int WaitUntilFileStable(const char* path);

/// The file's size as a signed 32-bit number; -1 when it cannot be read or
/// is 2 GiB or more.
int GetFileSizeBytes(const char* path);
