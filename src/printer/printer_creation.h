// Further printers of the virtual printer: a new port of the maker's own
// port monitor and a local printer on it with the existing printer's driver.
#pragma once

/// Adds a port through the maker's monitor and a printer of that name on it.
/// portName (100 bytes) receives the new port's name as soon as the port
/// exists, also when adding the printer fails later. Returns 1 when the
/// printer was added, else 0 (logged).
int AddNewPrinter(const char* printerName, char* portName);

/// Writes "Quorvel<n>:" into buffer (100 bytes) with the highest number of
/// the ports whose names begin with "Quorvel", 0 when there is none, and
/// returns buffer.
char* GetNewPortName(char* buffer);
