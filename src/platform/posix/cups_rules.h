// The rules by which the CUPS spooler maps the Windows view of printers,
// ports and device modes onto CUPS queues, apart from the calls to the
// scheduler so that they can be tested alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

/// A Windows paper code (DMPAPER_*) and the PWG 5101.1 self-describing
/// media name of its sheet, the form of CUPS's "media-default" and
/// "media-supported".
struct PaperMedia {
  int16_t code;
  const char* media;
};
/// One row a code, in code order, for every code whose sheet has a PWG
/// name. Codes for the same sheet share a name (Letter, Letter Small and
/// Note); codes for a sheet turned on its side (the rotated and transverse
/// ones) and sheets PWG does not name (Tabloid Extra) have no row.
extern const PaperMedia kPaperMedia[];
extern const size_t kPaperMediaCount;

/// The first code of the table with that media name; 0 for any other name.
int16_t PaperOfMedia(const std::string& media);
/// Every code of the table with that media name, in code order.
std::vector<int16_t> PapersOfMedia(const std::string& media);
/// The media name of a code, or nullptr when the table has none for it.
const char* MediaOfPaper(int16_t paper);
/// The keyword of the PPD's first "*PageSize" option whose sheet CUPS names
/// media (the names libcups gives PPD sizes); "" when the PPD offers none.
std::string PpdPageSizeOfMedia(const std::string& ppd, const std::string& media);

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
