// Starting outside programs as hidden child processes.
#pragma once

#include <string>

/// Starts the command line as a hidden child process; the program is its first
/// word (quote a path with blanks). With wait non-zero, waits for the child
/// and returns its exit code; with wait 0 returns 0 at once and the child runs
/// on by itself. Returns -1 for a null command, a command of 2048 bytes or
/// more (refused, logged), a program that cannot be started, or a failed wait.
int NTSystemCommand(const char* command, int wait);

/// Starts the command line as a hidden child process with its standard output
/// and standard error joined into one pipe, and appends what the child writes
/// to output until the child has ended (each chunk up to its first zero byte).
/// Returns 0 when the child cannot be started, non-zero once it has ended and
/// the pipe is closed. exitCode, when given, receives the child's exit code,
/// or -1 when it did not start or its end was not seen.
int NTSystemCommand2(const char* command, std::string& output, int* exitCode = nullptr);
