// mfilemon-setup.exe: installs the Multi File Port Monitor. On Linux the
// monitor is the CUPS backend mfilemon from this program's folder; it goes
// into CUPS's backend folder owned by root with mode 0700, so that CUPS
// starts it as root and it can become each port's account. The monitor's
// registry key then carries its Driver value, as on Windows, so the spooler
// layer lists the monitor.
//
//   mfilemon-setup.exe [/VERYSILENT] [/SILENT] [/SUPPRESSMSGBOXES] [/NORESTART]
//
// The switches of the Windows installer are accepted; none changes anything,
// since this program never opens a window. Messages go to standard output.
// Exit codes: 0 installed (or already installed), 1 not run as root (nothing
// is changed) or a step failed, 2 an unknown argument.

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/accounts.h"
#include "platform/platform.h"
#include "platform/registry.h"

namespace {

const int kInstalled = 0;
const int kFailed = 1;
const int kUsage = 2;

const char kMonitorKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Multi File Port Monitor";
const char kDriver[] = "mfilemon.dll";
const char kBackendName[] = "mfilemon";
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

bool IsKnownSwitch(const char* given) {
  for (const char* known : kSwitches) {
    if (SameSwitch(given, known)) return true;
  }
  return false;
}

void PrintUsage() {
  std::printf(
      "usage: mfilemon-setup.exe [/VERYSILENT] [/SILENT] [/SUPPRESSMSGBOXES] [/NORESTART]\n"
      "Installs the Multi File Port Monitor (run as root): the CUPS backend mfilemon and\n"
      "the monitor's registry key.\n");
}

// CUPS looks for backends in the backend folder below its server-bin folder,
// which CUPS_SERVERBIN names when it is set.
std::string BackendFolder() {
  const char* serverBin = std::getenv("CUPS_SERVERBIN");
  std::string folder = serverBin && *serverBin ? serverBin : kDefaultServerBin;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder + "/backend";
}

bool InstallBackend() {
  std::string source = platform::ProgramFolder() + platform::kPathSeparator + kBackendName;
  std::string folder = BackendFolder();
  std::string target = folder + "/" + kBackendName;
  if (!platform::IsPlainRegularFile(source)) {
    std::printf("mfilemon-setup.exe: the backend \"%s\" is missing.\n", source.c_str());
    return false;
  }
  if (!platform::IsDirectory(folder)) {
    std::printf(
        "mfilemon-setup.exe: CUPS's backend folder \"%s\" is missing (is CUPS installed?).\n",
        folder.c_str());
    return false;
  }
  bool changed = false;
  std::string error;
  if (!platform::InstallFileCopy(source, target, kBackendMode, &changed, &error)) {
    std::printf("mfilemon-setup.exe: cannot install the backend: %s.\n", error.c_str());
    return false;
  }
  std::printf("%s \"%s\".\n", changed ? "Installed the backend" : "The backend is already at",
              target.c_str());
  return true;
}

bool IsMonitorRegistered() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMonitorKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  uint32_t type = 0;
  char data[64] = {};
  uint32_t size = sizeof(data) - 1;
  long status = RegQueryValueExA(key, "Driver", nullptr, &type,
                                 reinterpret_cast<unsigned char*>(data), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_SZ && std::strcmp(data, kDriver) == 0;
}

bool RegisterMonitor() {
  if (IsMonitorRegistered()) {
    std::printf("The monitor is already registered.\n");
    return true;
  }
  HKEY key = nullptr;
  long status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMonitorKey, 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExA(key, "Driver", 0, REG_SZ,
                            reinterpret_cast<const unsigned char*>(kDriver), sizeof(kDriver));
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS) {
    std::printf("mfilemon-setup.exe: cannot register the monitor (registry error %ld).\n", status);
    return false;
  }
  std::printf("Registered the monitor.\n");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (!IsKnownSwitch(argv[i])) {
      PrintUsage();
      return kUsage;
    }
  }
  if (!platform::IsSuperUser()) {
    std::printf(
        "mfilemon-setup.exe: only root can install the port monitor (CUPS runs it as root only "
        "when root owns it); nothing was changed.\n");
    return kFailed;
  }
  bool ok = InstallBackend() && RegisterMonitor();
  std::fflush(stdout);
  return ok ? kInstalled : kFailed;
}
