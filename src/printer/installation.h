// Installing the virtual printer: its port monitor, the monitor's and the
// port's settings, and the printer itself with the first driver that works.
#pragma once

#include <string>
#include <vector>

struct CommandOptions;

/// Installs the virtual printer (-install-quorvel-printer and
/// -install-ostalgrove-printer). Empty printer, port and monitor names are
/// filled from the settings. Returns 1 when the printer exists afterwards.
int InstallVirtualPrinter(CommandOptions* options);

/// Appends the pieces of text between the delimiters to list; a delimiter
/// at the very end gives no empty last piece, an empty text one empty piece.
void SplitString(const std::string& text, const std::string& delimiter,
                 std::vector<std::string>& list);
