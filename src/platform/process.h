// Child processes: started hidden, never through a shell.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

/// Splits a command line into words by the Windows command-line rules:
/// blanks and tabs separate words; double quotes group; 2n backslashes before
/// a quote give n backslashes and the quote groups; 2n+1 give n backslashes
/// and a literal quote; other backslashes are literal; inside quotes two
/// quotes in a row give one literal quote (the C runtime since 2008). The
/// first word, the program, is taken as CreateProcess takes it: it ends at a
/// blank outside quotes, quotes only group, backslashes are literal.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

/// The command line that SplitCommandLine splits into exactly these words,
/// so that a program can be started with an argument vector of its own
/// (blanks, quotes and backslashes in a word stay in that word; no character
/// means anything to a shell, as none is involved). Arguments are quoted only
/// where they need it. False when there is no such line: no words, an empty
/// program, a program with a double quote (the program word cannot carry
/// one), or a word with a zero byte.
bool JoinCommandLine(const std::vector<std::string>& words, std::string* commandLine);

/// A started child process, owning its pipe ends and the child itself: when
/// destroyed, it closes the pipe ends it still holds and reaps a child that
/// was not waited for, first ending it (SIGKILL / TerminateProcess) if it
/// still runs, so no descriptor, zombie or stray child is left behind. A
/// program that must outlive its starter is started by StartDetachedProcess.
/// Movable (the moved-from object then holds nothing), not copyable.
struct ChildProcess {
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(ChildProcess&& other) noexcept;
  /// Releases what this object holds, as the destructor does, then takes
  /// over other's child.
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  long pid = -1;      ///< the running child, or -1 (none started, or reaped)
  int outputFd = -1;  ///< read end of the joined stdout/stderr pipe, or -1
  int writeFd = -1;   ///< the parent's copy of the pipe's write end, or -1
};

/// Closes the pipe ends the object still holds and, when its child still
/// runs, ends it (SIGKILL / TerminateProcess) and reaps it: what destroying
/// a ChildProcess does.
void ReleaseChildProcess(ChildProcess* child);

/// Starts the command line hidden, with standard input empty. With capture,
/// standard output and standard error of the child both go to one pipe whose
/// read end is child->outputFd; without, both are discarded. A handle given
/// as inheritHandle (a held lock file) stays open in the child, so what it
/// holds outlives a parent that dies first; no other handle is inherited.
/// A child that *child held before is released first, as by its destructor.
/// Returns false with *error set to the platform's error code when the
/// program cannot be started.
bool StartChildProcess(const std::string& commandLine, bool capture, ChildProcess* child,
                       int* error, intptr_t inheritHandle = -1);

/// Starts the command line hidden and detached: the caller never waits for
/// it, and no zombie is left behind when it ends. Returns false with *error
/// set when it cannot be started.
bool StartDetachedProcess(const std::string& commandLine, int* error);

/// Bytes waiting in the child's output pipe (PeekNamedPipe): >0 data waiting,
/// 0 none, -1 the peek failed.
int PeekChildOutput(const ChildProcess& child);
/// Blocks at most timeoutMs until output is waiting or the child has ended,
/// whichever comes first (where the platform cannot wait on both: a sleep).
void WaitChildActivity(const ChildProcess& child, int timeoutMs);
/// Reads at most max bytes of waiting output. Returns the count, or -1.
int ReadChildOutput(const ChildProcess& child, char* buffer, int max);
/// Waits for the child to end, at most timeoutMs (-1 without limit).
/// Returns 1 when it has ended (*exitCode set), 0 when it still runs, -1 on failure.
int WaitChildProcess(ChildProcess* child, int timeoutMs, int* exitCode);
/// Ends the child at once (SIGKILL / TerminateProcess); it must still be
/// waited for. Returns false when it could not be signalled.
bool KillChildProcess(const ChildProcess& child);
/// True while a process of that id exists (a zombie counts as ended where
/// the platform tells).
bool IsProcessRunning(long pid);
/// Milliseconds of a steady clock, for bounding waits on children.
int64_t MonotonicMs();
/// Closes the pipe ends the parent holds. Returns true when all closes succeeded.
bool CloseChildProcess(ChildProcess* child);

}  // namespace platform
