// Starting outside programs as hidden child processes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

/// Starts the command line as a hidden child process; the program is its first
/// word (quote a path with blanks). With wait non-zero, waits for the child
/// and returns its exit code; with wait 0 returns 0 at once and the child runs
/// on by itself. Returns -1 for a null command, a command of 2048 bytes or
/// more (refused, logged), a program that cannot be started, or a failed wait.
int NTSystemCommand(const char* command, int wait);

/// Bounds for a child started by NTSystemCommand2.
struct ChildLimits {
  int timeoutSeconds = -1;  ///< the child is ended after this long (-1: no limit)
  /// Output kept; the rest is counted and dropped, so a child that prints
  /// in a loop cannot grow the program.
  size_t outputLimit = 256 * 1024;
  intptr_t inheritHandle = -1;  ///< a held lock the child keeps while it runs
  /// Work of the caller's that overlaps the child: called once, right after
  /// the child started (the pipe holds what the child writes meanwhile).
  std::function<void()> whileRunning;
};

/// Starts the command line as a hidden child process with its standard output
/// and standard error joined into one pipe, and appends what the child writes
/// to output until the child has ended (each chunk up to its first zero byte).
/// Returns 0 when the child cannot be started, non-zero once it has ended and
/// the pipe is closed. exitCode, when given, receives the child's exit code,
/// or -1 when it did not start, its end was not seen, or it was ended for
/// running past limits->timeoutSeconds (logged).
int NTSystemCommand2(const char* command, std::string& output, int* exitCode = nullptr,
                     const ChildLimits* limits = nullptr);
