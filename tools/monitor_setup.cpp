#include "monitor_setup.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/accounts.h"
#include "platform/platform.h"
#include "platform/registry.h"

namespace monitor_setup {

namespace {

const char kMonitorsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
const char kDefaultServerBin[] = "/usr/lib/cups";
// CUPS starts a backend that others may not read or run as root.
const unsigned kBackendMode = 0700;

const char* const kSwitches[] = {"/VERYSILENT", "/SILENT", "/SUPPRESSMSGBOXES", "/NORESTART"};

bool SameSwitch(const char* given, const char* known) {
  for (; *given && *known; ++given, ++known) {
    if (std::toupper(static_cast<unsigned char>(*given)) != *known) return false;
  }
  return *given == *known;
}

// CUPS looks for backends in the backend folder below its server-bin folder,
// which CUPS_SERVERBIN names when it is set.
std::string BackendFolder() {
  const char* serverBin = std::getenv("CUPS_SERVERBIN");
  std::string folder = serverBin && *serverBin ? serverBin : kDefaultServerBin;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder + "/backend";
}

bool HasDriver(const std::string& path, const std::string& driver) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  uint32_t type = 0;
  std::vector<char> data(driver.size() + 2, '\0');
  uint32_t size = static_cast<uint32_t>(data.size() - 1);
  long status = RegQueryValueExA(key, "Driver", nullptr, &type,
                                 reinterpret_cast<unsigned char*>(data.data()), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_SZ && driver == data.data();
}

}  // namespace

bool IsInstallerSwitch(const char* argument) {
  for (const char* known : kSwitches) {
    if (SameSwitch(argument, known)) return true;
  }
  return false;
}

bool InstallBackend(const std::string& backend, std::string* report) {
  std::string source = platform::ProgramFolder() + platform::kPathSeparator + backend;
  std::string folder = BackendFolder();
  std::string target = folder + "/" + backend;
  if (!platform::IsPlainRegularFile(source)) {
    *report += "The backend \"" + source + "\" is missing.\n";
    return false;
  }
  if (!platform::IsDirectory(folder)) {
    *report += "CUPS's backend folder \"" + folder + "\" is missing (is CUPS installed?).\n";
    return false;
  }
  bool changed = false;
  std::string error;
  if (!platform::InstallFileCopy(source, target, kBackendMode, &changed, &error)) {
    *report += "Cannot install the backend: " + error + ".\n";
    return false;
  }
  *report += std::string(changed ? "Installed the backend" : "The backend is already at") + " \"" +
             target + "\".\n";
  return true;
}

bool RegisterMonitor(const std::string& monitor, const std::string& driver, std::string* report) {
  std::string path = std::string(kMonitorsKey) + "\\" + monitor;
  if (HasDriver(path, driver)) {
    *report += "The monitor \"" + monitor + "\" is already registered.\n";
    return true;
  }
  HKEY key = nullptr;
  long status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExA(key, "Driver", 0, REG_SZ,
                            reinterpret_cast<const unsigned char*>(driver.c_str()),
                            static_cast<uint32_t>(driver.size() + 1));
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS) {
    *report += "Cannot register the monitor \"" + monitor + "\" (registry error " +
               std::to_string(status) + ").\n";
    return false;
  }
  *report += "Registered the monitor \"" + monitor + "\".\n";
  return true;
}

}  // namespace monitor_setup
