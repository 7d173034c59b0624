// What owning a child means on every platform: destroying or replacing a
// ChildProcess releases the child it holds (ReleaseChildProcess, per
// platform); moving hands it over.
#include "platform/process.h"

namespace platform {

ChildProcess::~ChildProcess() { ReleaseChildProcess(this); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid(other.pid), outputFd(other.outputFd), writeFd(other.writeFd) {
  other.pid = -1;
  other.outputFd = -1;
  other.writeFd = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this == &other) return *this;
  ReleaseChildProcess(this);
  pid = other.pid;
  outputFd = other.outputFd;
  writeFd = other.writeFd;
  other.pid = -1;
  other.outputFd = -1;
  other.writeFd = -1;
  return *this;
}

}  // namespace platform
