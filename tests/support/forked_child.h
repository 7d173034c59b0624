// Work done in a forked child of the test process: a second writer, a lock
// holder, or a call made as another account.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

/// Starts body in a child (as the account nobody, 65534, when asNobody; 125
/// when that fails); the child's exit code is body's result.
inline pid_t StartChild(const std::function<int()>& body, bool asNobody = false) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(asNobody && (setgid(65534) != 0 || setuid(65534) != 0) ? 125 : body());
  return pid;
}

/// Waits for the child; its exit code, or -1 when it did not exit.
inline int ChildExitCode(pid_t pid) {
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

/// Runs body in a child and waits for it; its exit code.
inline int InChild(const std::function<int()>& body, bool asNobody = false) {
  return ChildExitCode(StartChild(body, asNobody));
}
