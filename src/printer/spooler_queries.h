// Questions put to the print spooler by the installation: which ports exist,
// and whether the virtual printer's port and driver are already there.
#pragma once

#include <string>
#include <vector>

/// Appends the names of the spooler's ports, in its order, to ports.
/// Returns the number of entries in the list afterwards.
int GetAllPorts(std::vector<std::string>& ports);

/// 1 when a port name begins with "Quorvel" (case-sensitive), else 0.
int IsPrinterPortFound();

/// Copies into buffer (200 bytes, zeroed by the caller) the driver of the
/// first local printer whose port name begins with "Quorvel" (at most 199
/// characters). Returns buffer, left as it was when there is none.
char* GetPrinterDriver(char* buffer);

/// 1 when GetPrinterDriver finds a driver, else 0.
int IsPrinterDriverFound();

/// True when the name begins with the maker's word "Quorvel".
bool IsQuorvelName(const char* name);
