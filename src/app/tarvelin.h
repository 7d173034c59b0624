// The program's entry point: one run, one job.
#pragma once

struct CommandOptions;
struct OptionEntry;

/// Runs the program with the process's arguments (argv is rewritten by the
/// option parser). Returns the exit code: 0 when a job ran or there was
/// nothing to do, -1 after the usage, -2 without the spooler library, -3
/// when a printer default is to be set without a printer name.
int TarvelinMain(int argc, char** argv);

/// Fills table (19 rows, the last the terminator) over the fields of options.
void BuildOptionTable(CommandOptions* options, OptionEntry* table);

/// The loop of the sync instance: once a second, looks up the target and
/// source settings and runs one sync cycle. Runs for the given number of cycles, or
/// for ever when it is negative.
void RunSyncLoop(int cycles);
