// Further printers of the virtual printer: a new port of the maker's own
// port monitor and a local printer on it with the existing printer's driver.
#pragma once

/// Adds a port through the maker's monitor and a printer of that name on it.
/// portName (100 bytes) receives the new port's name as soon as the port
/// exists, also when adding the printer fails later. Returns 1 when the
/// printer was added, else 0 (logged).
int AddNewPrinter(const char* printerName, char* portName);

/// Makes the person the installation is for (see platform::InstallingAccount)
/// the owner of the maker's port: its "User" value, the one account whose
/// jobs the port takes and that the spooler lets print to the printer on
/// it. Returns 1, else 0 with an [ERROR] line saying why (no such person,
/// the super-user, the port's key cannot be written).
int SetPortOwner(const char* portName);

/// Writes "Quorvel<n>:" into buffer (100 bytes) with the highest number of
/// the ports whose names begin with "Quorvel", 0 when there is none, and
/// returns buffer.
char* GetNewPortName(char* buffer);
