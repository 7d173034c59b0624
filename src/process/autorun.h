// The sync instance's start and its auto-run entry: the installation starts
// it, and both the installation and the delivery may name it.
#pragma once

/// Starts the sync instance ("<program>" -syncpdf) without waiting and
/// enters it in the auto-run list.
void RunSyncMonitorApp();

/// Stores the command as the auto-run value "QuorvelPrinterAutoSyncFile".
/// Returns 1 on success, 0 on failure.
int SetAutoRunIntoRegistry(const char* command);
