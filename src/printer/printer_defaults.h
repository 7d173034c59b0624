// The print spooler's run-time entry points and printer defaults.
#pragma once

/// Loads the spooler client library and its three entry points, held for
/// the rest of the run. Returns 1 when all were found, else 0.
int LoadSpoolerEntryPoints();

/// Frees the library and forgets its entry points.
void UnloadSpoolerEntryPoints();

/// The loaded "get default printer" entry point, or null.
void* GetDefaultPrinterEntryPoint();
