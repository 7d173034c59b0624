// <windows.h> for the Win32 implementations, without the macros that would
// rename the platform layer's own functions (DeleteFile, ReplaceFile), and
// the one way to turn a failed call into its text.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#undef DeleteFile
#undef ReplaceFile

#include <string>

namespace platform {
namespace win32 {

/// The system's text for the calling thread's last error (GetLastError).
std::string LastErrorText();

/// Puts LastErrorText into *error (when given) and returns false, so that a
/// failure reads `return Fail(error);`.
inline bool Fail(std::string* error) {
  if (error) *error = LastErrorText();
  return false;
}

/// Hands one step of a file update to the recorder that
/// SetFileEventRecorderForTesting installed ("fsync PATH", "rename FROM TO").
void RecordFileEvent(const char* step, const std::string& path, const std::string& to = "");

}  // namespace win32
}  // namespace platform
