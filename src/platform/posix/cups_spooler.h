// The rules by which the CUPS spooler maps the Windows view of printers,
// ports and device modes onto CUPS queues, apart from the calls to the
// scheduler so that they can be tested alone.
#pragma once

#include <cstdint>
#include <string>

namespace platform {
namespace cups_rules {

/// The CUPS queue name for a printer name: every byte CUPS or its tools
/// refuse or read otherwise in a queue name (blank and control characters,
/// DEL, '/', '\\', '#', '?', '\'', '"', and '@', which lp and lpadmin read as
/// "queue@server") becomes '_'; UTF-8 characters are kept, as cupsd takes
/// them. False for a name that cannot be a queue: empty, longer than 127
/// bytes (CUPS's limit), or not valid UTF-8 (the system code page on POSIX).
bool QueueName(const std::string& printerName, std::string* queue);

/// The CUPS backend (device URI scheme) of a port monitor: "mfilemon" for the
/// "Multi File Port Monitor", "quorvel" for the maker's monitor "Quorvel"
/// (letter case ignored); nullptr for any other monitor, which has no
/// backend here.
const char* BackendOfMonitor(const std::string& monitor);

/// The device URI of a port: "<scheme>:/<port>", the port's bytes outside
/// letters, digits and "-._~" percent-encoded (RFC 3986).
std::string DeviceUriOfPort(const std::string& scheme, const std::string& port);

/// The port of a device URI: for a backend's URI as DeviceUriOfPort makes
/// it, the decoded path without its leading '/'; for any other device (a
/// network printer, "socket://host:9100"), the whole URI.
std::string PortOfDeviceUri(const std::string& deviceUri);

/// DMPAPER_* of a PWG media name (the form of CUPS's "media-default"):
/// na_letter_8.5x11in 1, na_legal_8.5x14in 5, na_executive_7.25x10.5in 7,
/// iso_a3_297x420mm 8, iso_a4_210x297mm 9, iso_a5_148x210mm 11; 0 for any
/// other size.
int16_t PaperOfMedia(const std::string& media);
/// The PWG media name of a DMPAPER_* code in the table above, or nullptr.
const char* MediaOfPaper(int16_t paper);
/// The PPD PageSize keyword of a DMPAPER_* code in the table above
/// ("Letter", "Legal", "Executive", "A3", "A4", "A5"), or nullptr.
const char* PpdPageSizeOfPaper(int16_t paper);

/// DMORIENT_* of an "orientation-requested" value: 4 and 5 (landscape,
/// reverse landscape) give DMORIENT_LANDSCAPE, anything else (3, 6, none:
/// CUPS prints portrait without one) DMORIENT_PORTRAIT.
int16_t OrientationOfRequested(int requested);

/// The PPD text with PageSize keyword as its default paper: the values of
/// the *DefaultPageSize, *DefaultPageRegion, *DefaultImageableArea and
/// *DefaultPaperDimension lines become keyword, every other byte is kept.
/// False (and *ppd unchanged) when the PPD offers no such PageSize.
bool SetPpdDefaultPageSize(std::string* ppd, const std::string& keyword);

}  // namespace cups_rules
}  // namespace platform
