// Win32 calls the Windows tests make directly, beside the platform layer:
// the spooler's own records, the registry's own view, helper processes
// (this test binary started again with --helper), and files with names
// outside the ANSI code page. Kept apart because <windows.h> and
// <winspool.h> name the same things as the platform layer's headers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/process.h"

namespace win32test {

/// A printer driver on Wine's PostScript driver (wineps.drv) and a local
/// printer with it on the port; 0 or the error of AddPrinterDriverA or
/// AddPrinterA.
uint32_t AddPrinterWithDriver(const std::string& printer, const std::string& port,
                              const std::string& driver);
void RemovePrinterAndDriver(const std::string& printer, const std::string& driver);
/// The spooler's level-2 record of the printer as
/// "port|driver|comment|print processor|data type|attributes in hex", ""
/// when it cannot be read.
std::string PrinterRecordText(const std::string& printer);

/// Removes a key of HKEY_LOCAL_MACHINE with its subkeys.
void DeleteMachineKey(const std::string& key);

/// The command line that runs this binary as the named helper.
std::string HelperCommand(const std::vector<std::string>& words);
/// Waits at most timeoutMs for the file to exist; its contents then.
bool WaitForFile(const std::string& path, int timeoutMs, std::string* contents);
/// Ends a process that is not this process's child record, and waits.
bool EndProcess(long pid);

/// Copies a file to a name given in UTF-8 (any character, any length), with
/// the wide-character calls; the folders on the way are created.
bool CopyToWideName(const std::string& from, const std::string& utf8To);
/// The UTF-8 text in the ANSI code page; *exact false when a character had
/// to be replaced (by '?').
std::string AnsiText(const std::string& utf8, bool* exact);
/// True when a file of that UTF-8 name exists (wide-character calls).
bool WideNameExists(const std::string& utf8Name);

/// Runs the helper of argv[2] when argv[1] is "--helper"; its exit code,
/// or -1 when this is no helper run.
int RunHelper(int argc, char** argv);

}  // namespace win32test
