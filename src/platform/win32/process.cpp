// Win32 implementation of child processes: CreateProcessA with the window
// hidden, standard output and standard error joined into one anonymous pipe.
// The command line is handed to the system as it is.
#include "platform/process.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"

namespace platform {

namespace {

// The process handles of started children by process id: the record keeps
// the id, the handle that waits on the child lives here.
std::mutex g_mutex;
std::map<long, HANDLE>& ChildHandles() {
  static std::map<long, HANDLE> handles;
  return handles;
}

HANDLE ChildHandle(long pid) {
  std::lock_guard<std::mutex> guard(g_mutex);
  auto it = ChildHandles().find(pid);
  return it == ChildHandles().end() ? nullptr : it->second;
}

// Forgets the child and closes its process handle.
void ForgetChild(long pid) {
  std::lock_guard<std::mutex> guard(g_mutex);
  auto it = ChildHandles().find(pid);
  if (it == ChildHandles().end()) return;
  CloseHandle(it->second);
  ChildHandles().erase(it);
}

// The pipe handles travel in the record's int fields; a kernel handle's
// value fits in 32 bits on 64-bit Windows.
HANDLE AsHandle(int value) {
  return value < 0 ? nullptr : reinterpret_cast<HANDLE>(static_cast<intptr_t>(value));
}
int AsInt(HANDLE handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }

HANDLE OpenNul(DWORD access) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  return CreateFileA("NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                     nullptr);
}

// Starts the command line hidden with the given standard handles; exactly the
// handles in `inherit` are passed on. A console program gets a console host
// without a window, or, detached, no console at all. *error receives the
// last error on failure.
bool CreateHidden(const std::string& commandLine, HANDLE input, HANDLE output,
                  const std::vector<HANDLE>& inherit, PROCESS_INFORMATION* started, int* error,
                  bool detached = false) {
  STARTUPINFOEXA info{};
  info.StartupInfo.cb = sizeof(info);
  info.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  info.StartupInfo.wShowWindow = SW_HIDE;
  info.StartupInfo.hStdInput = input;
  info.StartupInfo.hStdOutput = output;
  info.StartupInfo.hStdError = output;
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> attributes(size);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
  bool listed = !inherit.empty() && InitializeProcThreadAttributeList(list, 1, 0, &size) &&
                UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                          const_cast<HANDLE*>(inherit.data()),
                                          inherit.size() * sizeof(HANDLE), nullptr, nullptr);
  if (listed) info.lpAttributeList = list;
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  // CREATE_NO_WINDOW: a console program started by this GUI program gets no
  // console window at all, not even one that flashes up hidden.
  DWORD flags = (detached ? DETACHED_PROCESS : CREATE_NO_WINDOW) |
                (listed ? EXTENDED_STARTUPINFO_PRESENT : 0);
  BOOL ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, inherit.empty() ? FALSE : TRUE,
                           flags, nullptr, nullptr, &info.StartupInfo, started);
  DWORD code = GetLastError();
  if (listed) DeleteProcThreadAttributeList(list);
  if (!ok) *error = static_cast<int>(code);
  return ok != 0;
}

}  // namespace

void ReleaseChildProcess(ChildProcess* child) {
  CloseChildProcess(child);
  if (child->pid <= 0) return;
  if (HANDLE process = ChildHandle(child->pid)) {
    if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT && TerminateProcess(process, 1)) {
      WaitForSingleObject(process, INFINITE);
    }
  }
  ForgetChild(child->pid);
  child->pid = -1;
}

bool StartChildProcess(const std::string& commandLine, bool capture, ChildProcess* child,
                       int* error, intptr_t inheritHandle) {
  ReleaseChildProcess(child);
  int localError = 0;
  if (!error) error = &localError;
  HANDLE input = OpenNul(GENERIC_READ);
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  bool piped = capture ? CreatePipe(&readEnd, &writeEnd, &inheritable, 0) != 0
                       : (writeEnd = OpenNul(GENERIC_WRITE)) != INVALID_HANDLE_VALUE;
  if (input == INVALID_HANDLE_VALUE || !piped) {
    *error = static_cast<int>(GetLastError());
    if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
    if (readEnd) CloseHandle(readEnd);
    if (writeEnd && writeEnd != INVALID_HANDLE_VALUE) CloseHandle(writeEnd);
    return false;
  }
  // The parent's read end stays with the parent.
  if (readEnd) SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  std::vector<HANDLE> inherit = {input, writeEnd};
  HANDLE held = inheritHandle == -1 ? nullptr : reinterpret_cast<HANDLE>(inheritHandle);
  if (held) {
    SetHandleInformation(held, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    inherit.push_back(held);
  }
  PROCESS_INFORMATION started{};
  // A child that holds a lock gets no console: Wine starts the console host
  // of a windowless console as a child of the program, with the program's
  // inheritable handles (the lock among them), and a host whose program was
  // killed can stay behind, holding the lock for good.
  bool ok = CreateHidden(commandLine, input, writeEnd, inherit, &started, error, held != nullptr);
  if (held) SetHandleInformation(held, HANDLE_FLAG_INHERIT, 0);
  CloseHandle(input);
  if (!ok) {
    if (readEnd) CloseHandle(readEnd);
    CloseHandle(writeEnd);
    return false;
  }
  CloseHandle(started.hThread);
  {
    std::lock_guard<std::mutex> guard(g_mutex);
    ChildHandles()[static_cast<long>(started.dwProcessId)] = started.hProcess;
  }
  child->pid = static_cast<long>(started.dwProcessId);
  if (capture) {
    child->outputFd = AsInt(readEnd);
    child->writeFd = AsInt(writeEnd);
  } else {
    CloseHandle(writeEnd);
  }
  return true;
}

bool StartDetachedProcess(const std::string& commandLine, int* error) {
  int localError = 0;
  if (!error) error = &localError;
  HANDLE input = OpenNul(GENERIC_READ);
  HANDLE output = OpenNul(GENERIC_WRITE);
  PROCESS_INFORMATION started{};
  bool ok = input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE &&
            CreateHidden(commandLine, input, output, {input, output}, &started, error);
  if (!ok && *error == 0) *error = static_cast<int>(GetLastError());
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  if (!ok) return false;
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return true;
}

int PeekChildOutput(const ChildProcess& child) {
  if (child.outputFd < 0) return -1;
  DWORD waiting = 0;
  if (!PeekNamedPipe(AsHandle(child.outputFd), nullptr, 0, nullptr, &waiting, nullptr)) return -1;
  return waiting > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(waiting);
}

// An anonymous pipe cannot be waited on: the child's handle is waited on in
// short steps, with a peek at the pipe between them.
void WaitChildActivity(const ChildProcess& child, int timeoutMs) {
  HANDLE process = child.pid > 0 ? ChildHandle(child.pid) : nullptr;
  const int kStepMs = 10;
  int64_t deadline = MonotonicMs() + (timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    if (child.outputFd >= 0 && PeekChildOutput(child) != 0) return;
    int64_t left = deadline - MonotonicMs();
    if (left <= 0) return;
    DWORD step = static_cast<DWORD>(left < kStepMs ? left : kStepMs);
    if (process) {
      if (WaitForSingleObject(process, step) == WAIT_OBJECT_0) return;
    } else {
      Sleep(step);
    }
  }
}

int ReadChildOutput(const ChildProcess& child, char* buffer, int max) {
  if (child.outputFd < 0 || max < 0) return -1;
  DWORD n = 0;
  if (!ReadFile(AsHandle(child.outputFd), buffer, static_cast<DWORD>(max), &n, nullptr)) return -1;
  return static_cast<int>(n);
}

int WaitChildProcess(ChildProcess* child, int timeoutMs, int* exitCode) {
  if (!child || child->pid <= 0) return -1;
  HANDLE process = ChildHandle(child->pid);
  if (!process) return -1;
  DWORD r = WaitForSingleObject(process, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
  if (r == WAIT_TIMEOUT) return 0;
  DWORD code = 0;
  if (r != WAIT_OBJECT_0 || !GetExitCodeProcess(process, &code)) return -1;
  if (exitCode) *exitCode = static_cast<int>(code);
  ForgetChild(child->pid);
  child->pid = -1;
  return 1;
}

bool KillChildProcess(const ChildProcess& child) {
  HANDLE process = child.pid > 0 ? ChildHandle(child.pid) : nullptr;
  return process && TerminateProcess(process, 1);
}

bool IsProcessRunning(long pid) {
  if (pid <= 0) return false;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
  bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

int64_t MonotonicMs() { return static_cast<int64_t>(GetTickCount64()); }

bool CloseChildProcess(ChildProcess* child) {
  if (!child) return false;
  bool ok = true;
  if (child->outputFd >= 0 && !CloseHandle(AsHandle(child->outputFd))) ok = false;
  if (child->writeFd >= 0 && !CloseHandle(AsHandle(child->writeFd))) ok = false;
  child->outputFd = -1;
  child->writeFd = -1;
  return ok;
}

}  // namespace platform
