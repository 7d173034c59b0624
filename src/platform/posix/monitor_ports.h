// Port monitors and their ports on POSIX, kept as keys of the registry
// store: a monitor is a key under HKLM
// "SYSTEM\CurrentControlSet\Control\Print\Monitors" with a "Driver" value;
// its ports are the subkeys of its "Ports" key when it has one (as the
// maker's monitor keeps them), else its own subkeys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/winspool.h"

namespace platform {
namespace monitor_ports {

/// The monitors and, when ports is not null, every port of each, in the
/// store's order. Returns 0 or a spooler error code with *words saying why.
uint32_t ReadMonitorsAndPorts(std::vector<SpoolerMonitor>* monitors,
                              std::vector<SpoolerPort>* ports, std::string* words);

/// Creates a new port of the monitor without asking anyone, as a monitor
/// does for AddPortA without a window. Only the maker's monitor "Quorvel"
/// can: it names the port "Quorvel<n>:" with n above the number of every
/// port of any monitor whose name begins with "Quorvel", under the store's
/// lock, so concurrent callers get different ports. *port receives the name.
/// ERROR_UNKNOWN_PRINT_MONITOR when the monitor is not installed,
/// ERROR_NOT_SUPPORTED for a monitor that needs a window to ask for a name,
/// ERROR_SPOOLER_ACCESS_DENIED when the store cannot be changed.
uint32_t AddPort(const std::string& monitor, std::string* port, std::string* words);

}  // namespace monitor_ports
}  // namespace platform
