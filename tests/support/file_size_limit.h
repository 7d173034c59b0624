// Runs code in a child process whose files may not grow past a limit
// (RLIMIT_FSIZE), so that a write fails half-way as on a full disk.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "support/forked_child.h"

/// Runs run in a forked child with files limited to maxBytes, where a write
/// past the limit fails with EFBIG ("File too large") instead of killing
/// the child, and returns the text run returned there ("<child failed>"
/// when the child could not run it).
inline std::string RunWithFileSizeLimit(rlim_t maxBytes, const std::function<std::string()>& run) {
  int fds[2];
  if (pipe(fds) != 0) return "<child failed>";
  pid_t pid = StartChild([&] {
    close(fds[0]);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {maxBytes, maxBytes};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 1;
    std::string seen = run();
    return write(fds[1], seen.data(), seen.size()) == static_cast<ssize_t>(seen.size()) ? 0 : 1;
  });
  close(fds[1]);
  std::string seen;
  char buf[4096];
  for (ssize_t n; pid > 0 && (n = read(fds[0], buf, sizeof(buf))) > 0;)
    seen.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  return ChildExitCode(pid) == 0 ? seen : "<child failed>";
}
