#include "platform/posix/monitor_ports.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <set>

#include "platform/names.h"
#include "platform/posix/cups_rules.h"
#include "platform/posix/registry_store.h"
#include "platform/registry.h"

namespace platform {
namespace monitor_ports {

namespace {

constexpr char kMonitorsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
constexpr char kPortDescription[] = "Local port";
constexpr char kPortsKey[] = "Ports";

std::string MonitorKey(const std::string& monitor) {
  return std::string(kMonitorsKey) + "\\" + monitor;
}

std::string OperatingEnvironment() {
  struct utsname names;
  if (uname(&names) != 0) return "POSIX";
  return std::string(names.sysname) + " " + names.machine;
}

std::string RegistryText(const regedit4::Value* value) {
  if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return std::string();
  return value->data.substr(0, value->data.find('\0'));
}

// The names of the keys right below path, in the store's order, each once.
std::vector<std::string> SubkeyNames(const regedit4::Hive& hive, const std::string& path) {
  std::vector<std::string> names;
  std::set<std::string> folded;
  regedit4::ForEachKeyBelow(hive, path, [&](const std::string& below) {
    std::string name = below.substr(path.size() + 1);
    name = name.substr(0, name.find('\\'));
    if (folded.insert(FoldNameCase(name)).second) names.push_back(name);
  });
  return names;
}

// The key that holds the monitor's ports.
std::string PortsKey(const regedit4::Hive& hive, const std::string& monitor) {
  std::string ports = MonitorKey(monitor) + "\\" + kPortsKey;
  return regedit4::FirstKeyAtOrBelow(hive, ports) ? ports : MonitorKey(monitor);
}

void ListMonitors(regedit4::Hive* hive, std::vector<SpoolerMonitor>* monitors,
                  std::vector<SpoolerPort>* ports) {
  monitors->clear();
  if (ports) ports->clear();
  const std::string environment = OperatingEnvironment();
  for (const std::string& monitor : SubkeyNames(*hive, kMonitorsKey)) {
    regedit4::Key* key = regedit4::FindKey(hive, MonitorKey(monitor));
    std::string dll = RegistryText(regedit4::FindValue(key, "Driver"));
    if (dll.empty()) continue;
    monitors->push_back(SpoolerMonitor{monitor, environment, dll});
    if (!ports) continue;
    for (const std::string& port : SubkeyNames(*hive, PortsKey(*hive, monitor))) {
      ports->push_back(SpoolerPort{port, monitor, kPortDescription});
    }
  }
}

// Chooses and creates the new port in the hive as it is under the lock.
uint32_t CreatePort(regedit4::Hive* hive, const std::string& monitor, std::string* port,
                    std::string* words) {
  std::vector<SpoolerMonitor> monitors;
  std::vector<SpoolerPort> ports;
  ListMonitors(hive, &monitors, &ports);
  const SpoolerMonitor* found = nullptr;
  for (const SpoolerMonitor& candidate : monitors) {
    if (SameNameIgnoringCase(candidate.name, monitor)) found = &candidate;
  }
  if (!found) {
    *words = "the port monitor \"" + monitor + "\" is not installed";
    return ERROR_UNKNOWN_PRINT_MONITOR;
  }
  const char* scheme = cups_rules::BackendOfMonitor(found->name);
  if (!scheme || std::string(scheme) != "quorvel") {
    *words = "the port monitor \"" + found->name + "\" asks for a port name in a window";
    return ERROR_NOT_SUPPORTED;
  }
  const size_t wordLength = sizeof(kMakerPortWord) - 1;
  int highest = 0;
  for (const SpoolerPort& existing : ports) {
    if (existing.name.compare(0, wordLength, kMakerPortWord) != 0) continue;
    highest = std::max(highest, NumberAfterWord(existing.name, wordLength));
  }
  if (highest == INT_MAX) {
    *words = "the port numbers of \"" + found->name + "\" are used up";
    return ERROR_NOT_SUPPORTED;
  }
  *port = std::string(kMakerPortWord) + std::to_string(highest + 1) + ":";
  regedit4::AppendKey(hive, MonitorKey(found->name) + "\\" + kPortsKey + "\\" + *port);
  return 0;
}

}  // namespace

uint32_t ReadMonitorsAndPorts(std::vector<SpoolerMonitor>* monitors,
                              std::vector<SpoolerPort>* ports, std::string* words) {
  const std::string file = registry_store::HiveFile(registry_store::kLocalMachine);
  regedit4::Hive hive;
  if (!registry_store::ReadHive(file, registry_store::kLocalMachine, &hive)) {
    *words = "the registry store " + file + " cannot be read";
    return ERROR_SPOOLER_ACCESS_DENIED;
  }
  ListMonitors(&hive, monitors, ports);
  return 0;
}

uint32_t AddPort(const std::string& monitor, std::string* port, std::string* words) {
  const std::string file = registry_store::HiveFile(registry_store::kLocalMachine);
  uint32_t code = 0;
  long status = registry_store::ModifyHive(file, registry_store::kLocalMachine,
                                           [&](regedit4::Hive* hive, bool* changed) {
                                             code = CreatePort(hive, monitor, port, words);
                                             *changed = code == 0;
                                             return code == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
                                           });
  if (code != 0) return code;
  if (status != ERROR_SUCCESS) {
    *words = "the registry store " + file + " cannot be changed";
    return ERROR_SPOOLER_ACCESS_DENIED;
  }
  return 0;
}

}  // namespace monitor_ports
}  // namespace platform
