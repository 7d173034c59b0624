// The program's log: time-stamped entries appended to a file beside the
// program, switched by "outlog" in section "debug" of config.ini.
#pragma once

#include <string>

/// Appends one entry (time stamp prefix and the formatted text) to the log
/// when the log switch is on, in one write. An entry longer than 64 KiB is
/// cut there and ends in "... [cut N bytes]\n". The log is created readable
/// by its owner and group only and never written through a symbolic link.
void OutLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// The log file path: program folder, program name, ".log".
std::string LogFilePath();

/// Makes a helper program beside the main one (setup.exe, pdfcp.exe) write
/// the main program's log: the log is then named after programName instead
/// of the running program.
void ShareLogOf(const char* programName);
