// What the CUPS backends of this project (the port monitors mfilemon and
// quorvel) share: CUPS's exit codes and message lines, the port of a device
// URI, the device list, registry values, the job's input, and running a
// command with its output relayed to CUPS's log.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/registry.h"

namespace cups_backend {

// The exit codes of cups/backend.h.
constexpr int kBackendOk = 0;      // CUPS_BACKEND_OK
constexpr int kBackendFailed = 1;  // CUPS_BACKEND_FAILED
constexpr int kBackendStop = 4;    // CUPS_BACKEND_STOP: CUPS keeps the job
constexpr int kBackendCancel = 5;  // CUPS_BACKEND_CANCEL: CUPS drops the job, the queue runs on

/// Writes one message line for CUPS ("PREFIX: text"), line breaks in text
/// turned into blanks.
void Say(const char* prefix, const std::string& text);

/// Says why as an ERROR line and returns kBackendStop.
int KeepJob(const std::string& why);

/// Says why as an ERROR line and returns kBackendCancel: for a job that must
/// never run, whose keeping would stop the queue for everybody.
int CancelJob(const std::string& why);

/// A port is one registry key name: never empty, no backslash, no control
/// character.
bool IsValidPortName(const std::string& port);

/// The port of a device URI "scheme:/PORT" (or "scheme://PORT", the scheme in
/// any letter case), CUPS's %XX escapes undone. False when the URI is of
/// another scheme, has a broken escape or names no valid port.
bool PortFromUri(const std::string& scheme, const std::string& uri, std::string* port);

/// The port of the job: that of the device URI in DEVICE_URI, else in argv0
/// (CUPS names a backend by its URI). False with *error set when the URI
/// names no port of the scheme.
bool JobPort(const std::string& scheme, const char* argv0, std::string* port, std::string* error);

/// Prints a CUPS device line "file URI "Unknown" "<description> PORT"" for
/// every sub key of the HKLM key that is a valid port name. Returns the
/// backend's exit code (kBackendFailed when standard output fails).
int ListPortKeys(const char* scheme, const std::string& portsKey, const std::string& description);

/// A REG_SZ or REG_EXPAND_SZ value without its terminator; false when it is
/// missing or of another type.
bool QueryText(HKEY key, const char* name, std::string* text);

/// A REG_DWORD value, or a REG_SZ of decimal digits as some setup tools write
/// numbers; false when it is missing or neither.
bool QueryNumber(HKEY key, const char* name, uint32_t* number);

/// The job comes from the file CUPS names (argv[6]), else from standard
/// input. nullptr with *error set when the file cannot be opened.
std::FILE* OpenJobInput(int argc, char** argv, std::string* error);

/// Copies the whole input into output (the file jobPath, for the message).
/// False with *error set when reading or writing fails.
bool CopyJob(std::FILE* input, std::FILE* output, const std::string& jobPath, std::string* error);

/// How a command that was started ended.
struct CommandEnd {
  bool timedOut = false;  ///< it ran past the bound and was ended
  bool awaited = false;   ///< its end was seen (exitCode is valid)
  int exitCode = -1;
};

/// Starts the command line hidden, passes its output to CUPS's log as DEBUG
/// lines (at most 64 KiB; the rest is counted) and waits at most
/// timeoutSeconds for its end, ending it when it runs longer. False with
/// *startError set (a platform error code) when it cannot be started.
bool RunCommandRelayed(const std::string& commandLine, uint32_t timeoutSeconds, CommandEnd* end,
                       int* startError);

/// Tells CUPS how the command (named so in the lines) ended that got the
/// job file jobPath: an ERROR line when it was ended after timeoutSeconds,
/// could not be awaited or failed, else an INFO line.
void ReportCommandEnd(const std::string& name, const CommandEnd& end, uint32_t timeoutSeconds,
                      const std::string& jobPath);

}  // namespace cups_backend
