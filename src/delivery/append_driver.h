// The work behind -appendfile: convert a print job and add its pages to the
// output PDF.
#pragma once

#include <cstdint>
#include <string>

#include "config/settings.h"
#include "config/status.h"

/// Converts input to PDF and makes it the output or adds its pages after the
/// output's pages by the configured method. The converted PDF and the input
/// are deleted (DeleteTempFiles) only once the pages are safely in the
/// output. Jobs kept by earlier runs are delivered first, oldest first; a job
/// that cannot be delivered now is kept in the output's journal for a later
/// run. Returns 1 when the output was handled, 0 when nothing was added.
int AppendFileToPDFFile(const char* input, const char* output, const JobSettings& settings);

/// The lock file that every run changing or moving the output PDF holds.
std::string OutputLockPath(const std::string& outputPdf);

/// How long a run waits for the output's lock (setting LockWaitLimit, in
/// seconds; 120 by default), in milliseconds.
int OutputLockWaitMs(const JobSettings& settings);

/// With the output's lock held (lockHandle): finishes a commit that a dead
/// run left behind, then delivers the jobs kept in the output's journal that
/// were not tried within the last minute, oldest first. The settings' sync
/// target is the drive's copy, the only file besides the output that a
/// commit in the journal may name. Returns 0 when the journal cannot be
/// written.
int DeliverKeptJobs(const char* output, const JobSettings& settings, intptr_t lockHandle);

/// With the output's lock held: records in the output's journal that its
/// pages are on their way into target (before pages there, after once they
/// have landed), so that a sync that dies after the target's write but
/// before the output's deletion is finished by the next run (DeliverKeptJobs
/// finishes it) instead of copying the pages twice. An empty target clears
/// the record. False, logged, when the journal cannot be used or written.
bool RecordSyncCommit(const char* source, const std::string& target, int before, int after);
