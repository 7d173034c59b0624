// The print spooler's run-time entry points and printer defaults.
#pragma once

/// Loads the spooler client library and its three entry points, held for
/// the rest of the run. Returns 1 when all were found, else 0.
int LoadSpoolerEntryPoints();

/// Frees the library and forgets its entry points.
void UnloadSpoolerEntryPoints();

/// The loaded "get default printer" entry point, or null.
void* GetDefaultPrinterEntryPoint();

#include <cstdint>

/// Sets the printer's default paper size (a DMPAPER code) through the
/// spooler; an empty name means the default printer. Returns 1 on success,
/// 0 on failure (logged with its reason).
int SetDefaultPaperSize(const char* printerName, int16_t paperSize);

/// Sets the printer's default orientation (1 portrait, 2 landscape); an empty
/// name means the default printer. Returns the previous orientation on
/// success, 0 on failure (logged with its reason; also when the driver
/// offers no orientation).
int SetDefaultOrientation(const char* printerName, int16_t orientation);

/// 1 when the printer can be opened for use, else 0.
int PrinterExists(const char* printerName);
