#include "process/autorun.h"

#include <cstdio>
#include <cstring>

#include "config/log.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "process/process_runner.h"

namespace {

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kAutoRunValue[] = "QuorvelPrinterAutoSyncFile";

}  // namespace

void RunSyncMonitorApp() {
  OutLog("Enter RunSyncMonitorApp\n");
  char command[2000];
  snprintf(command, sizeof(command), "\"%s\" -syncpdf", platform::ModuleFileName().c_str());
  OutLog("RunSyncMonitorApp: \"%s\"\n", command);
  NTSystemCommand(command, 0);
  SetAutoRunIntoRegistry(command);
  OutLog("Exit RunSyncMonitorApp\n");
}

int SetAutoRunIntoRegistry(const char* command) {
  if (!command || !*command) return 0;
  OutLog("Enter SetAutoRunIntoRegistry\n");
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) {
    OutLog("SetAutoRunIntoRegistry failed on RegOpenKeyEx\n");
    return 0;
  }
  long set =
      RegSetValueExA(key, kAutoRunValue, 0, REG_SZ, reinterpret_cast<const unsigned char*>(command),
                     static_cast<uint32_t>(strlen(command) + 1));
  RegCloseKey(key);
  if (set != ERROR_SUCCESS) {
    OutLog("SetAutoRunIntoRegistry failed on RegSetValueEx\n");
    return 0;
  }
  OutLog("Exit SetAutoRunIntoRegistry successful\n");
  return 1;
}
