#include "pdf/process_runner.h"

#include <cstring>

#include "config/log.h"
#include "platform/platform.h"
#include "platform/process.h"

namespace {

const size_t kCommandBufferSize = 2048;
const int kReadBufferSize = 8192;
const int kPollIntervalMs = 100;

// Reads one chunk of at most kReadBufferSize - 1 bytes, so the terminating
// zero always fits, and keeps it up to its first zero byte.
bool ReadChunk(const platform::ChildProcess& child, char* buffer, std::string& output, int* count) {
  int n = platform::ReadChildOutput(child, buffer, kReadBufferSize - 1);
  // The parent holds the write end, so a read of nothing means a broken pipe.
  if (n <= 0) return false;
  buffer[n] = '\0';
  platform::DebugOutput(buffer);
  platform::DebugOutput("\n");
  output.append(buffer, strlen(buffer));
  *count = n;
  return true;
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

int NTSystemCommand2(const char* command, std::string& output, int* exitCode) {
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
  if (!platform::StartChildProcess(command, true, &child, &error)) {
    OutLog("[ERROR] NTSystemCommand2() failed, return %d.\n", error);
    return 0;
  }

  // Waiting data is always read before the child's end is tested.
  bool ended = false;
  int count = 0;
  for (;;) {
    int waiting = platform::PeekChildOutput(child);
    if (waiting < 0) break;
    if (waiting > 0) {
      if (!ReadChunk(child, buffer, output, &count)) break;
      continue;
    }
    int state = platform::WaitChildProcess(&child, 0, exitCode);
    // A failed wait ends the collection too, or a lost child would be
    // polled for ever.
    if (state != 0) {
      ended = state == 1;
      break;
    }
    platform::WaitChildActivity(child, kPollIntervalMs);
  }

  if (ended) {
    // The child may have written its last bytes between the empty peek and
    // its end. Only what is waiting now is taken, so a grandchild that keeps
    // the pipe open and writes on cannot hold the runner here.
    int left = platform::PeekChildOutput(child);
    while (left > 0 && ReadChunk(child, buffer, output, &count)) left -= count;
  } else {
    // Collection stopped early: reap the child if it has already ended.
    int ignored = 0;
    platform::WaitChildProcess(&child, 0, &ignored);
  }
  return platform::CloseChildProcess(&child) ? 1 : 0;
}
