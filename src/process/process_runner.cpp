#include "process/process_runner.h"

#include <cstring>
#include <string>

#include "config/log.h"
#include "platform/platform.h"
#include "platform/process.h"

namespace {

const size_t kCommandBufferSize = 2048;
const int kReadBufferSize = 8192;
const int kPollIntervalMs = 100;

// What one NTSystemCommand2 call collects, within its cap.
struct Collector {
  std::string& output;
  size_t limit;
  size_t dropped = 0;

  // Reads one chunk of at most kReadBufferSize - 1 bytes, so the terminating
  // zero always fits, and keeps it up to its first zero byte.
  bool ReadChunk(const platform::ChildProcess& child, char* buffer, int* count) {
    int n = platform::ReadChildOutput(child, buffer, kReadBufferSize - 1);
    // The parent holds the write end, so a read of nothing means a broken pipe.
    if (n <= 0) return false;
    buffer[n] = '\0';
    platform::DebugOutput(buffer);
    platform::DebugOutput("\n");
    size_t length = strlen(buffer);
    size_t room = output.size() < limit ? limit - output.size() : 0;
    output.append(buffer, length < room ? length : room);
    if (length > room) dropped += length - room;
    *count = n;
    return true;
  }
};

// Why the collection of a child's output stopped.
enum class CollectionEnd { kChildEnded, kTimedOut, kBroken };

// Collects the child's output until it ends, its time is up, or the pipe or
// the wait fails. Waiting data is always read before the child's end is
// tested.
CollectionEnd Collect(platform::ChildProcess* child, Collector* collector, char* buffer,
                      int timeoutSeconds, int* exitCode) {
  const int64_t deadline =
      timeoutSeconds < 0 ? -1 : platform::MonotonicMs() + timeoutSeconds * 1000LL;
  int count = 0;
  for (;;) {
    if (deadline >= 0 && platform::MonotonicMs() >= deadline) return CollectionEnd::kTimedOut;
    int waiting = platform::PeekChildOutput(*child);
    if (waiting < 0) return CollectionEnd::kBroken;
    if (waiting > 0) {
      if (!collector->ReadChunk(*child, buffer, &count)) return CollectionEnd::kBroken;
      continue;
    }
    // A failed wait ends the collection too, or a lost child would be
    // polled for ever.
    int state = platform::WaitChildProcess(child, 0, exitCode);
    if (state != 0) return state == 1 ? CollectionEnd::kChildEnded : CollectionEnd::kBroken;
    platform::WaitChildActivity(*child, kPollIntervalMs);
  }
}

}  // namespace

int NTSystemCommand(const char* command, int wait) {
  if (!command) return -1;
  OutLog("[NTSystemCommand]: %s\n", command);
  // A cut command line would run something other than what was asked for.
  size_t length = strlen(command);
  if (length >= kCommandBufferSize) {
    OutLog("[ERROR] NTSystemCommand() command of %d bytes exceeds %d bytes, not started.\n",
           static_cast<int>(length + 1), static_cast<int>(kCommandBufferSize));
    return -1;
  }
  int error = 0;
  if (!wait) return platform::StartDetachedProcess(command, &error) ? 0 : -1;

  platform::ChildProcess child;
  if (!platform::StartChildProcess(command, false, &child, &error)) return -1;
  int exitCode = 0;
  int state = platform::WaitChildProcess(&child, -1, &exitCode);
  platform::CloseChildProcess(&child);
  return state == 1 ? exitCode : -1;
}

int NTSystemCommand2(const char* command, std::string& output, int* exitCode,
                     const ChildLimits* limits) {
  const ChildLimits defaults;
  if (!limits) limits = &defaults;
  int localExitCode = -1;
  if (!exitCode) exitCode = &localExitCode;
  *exitCode = -1;
  if (!command) return 0;
  char buffer[kReadBufferSize] = {};
  OutLog("[NTSystemCommand2]: %s\n", command);
  platform::DebugOutput(command);
  platform::DebugOutput("\n");

  platform::ChildProcess child;
  int error = 0;
  if (!platform::StartChildProcess(command, true, &child, &error, limits->inheritHandle)) {
    OutLog("[ERROR] NTSystemCommand2() failed, return %d.\n", error);
    return 0;
  }

  if (limits->whileRunning) limits->whileRunning();
  Collector collector{output, limits->outputLimit};
  CollectionEnd end = Collect(&child, &collector, buffer, limits->timeoutSeconds, exitCode);
  bool timedOut = end == CollectionEnd::kTimedOut;
  bool ended = end == CollectionEnd::kChildEnded;
  int count = 0;

  if (timedOut) {
    OutLog("[ERROR] NTSystemCommand2() ended the command after %d seconds: %s\n",
           limits->timeoutSeconds, command);
    platform::KillChildProcess(child);
    int ignored = 0;
    platform::WaitChildProcess(&child, -1, &ignored);
    *exitCode = -1;
  } else if (ended) {
    // The child may have written its last bytes between the empty peek and
    // its end. Only what is waiting now is taken, so a grandchild that keeps
    // the pipe open and writes on cannot hold the runner here.
    int left = platform::PeekChildOutput(child);
    while (left > 0 && collector.ReadChunk(child, buffer, &count)) left -= count;
  } else {
    // Collection stopped early: reap the child if it has already ended.
    int ignored = 0;
    platform::WaitChildProcess(&child, 0, &ignored);
  }
  if (collector.dropped > 0) {
    output += "\n[" + std::to_string(collector.dropped) + " more bytes of output dropped]";
  }
  return platform::CloseChildProcess(&child) ? 1 : 0;
}
