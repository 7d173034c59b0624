#include "printer/port_monitor.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/log.h"
#include "config/path_macros.h"
#include "config/registry.h"
#include "config/settings.h"
#include "config/temp_names.h"
#include "platform/names.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "platform/winspool.h"
#include "process/process_runner.h"

const char kMonitorsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";

namespace {

const char kProgram[] = "tarvelin";

const char* OrNull(const char* text) { return text ? text : "NULL"; }

void ReportKeyNotOpened(const std::string& path) {
  OutLog(
      "Failed to open '%s', please use administrator privilege to run this application "
      "again.\n",
      path.c_str());
}

std::string BesideProgram(const char* name) {
  return platform::ProgramFolder() + platform::kPathSeparator + name;
}

}  // namespace

int GetAllMonitors(const char* monitorName) {
  if (!monitorName || !*monitorName) return 0;
  uint32_t needed = 0, count = 0;
  if (!EnumMonitorsA(nullptr, 2, nullptr, 0, &needed, &count) &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    OutLog("[ERROR] The spooler did not list its monitors: %s\n",
           platform::LastSpoolerErrorText().c_str());
    return 0;
  }
  std::vector<unsigned char> buffer(needed, 0);
  OutLog("%s:%d -- GetAllMonitors()\n", kProgram, 1070);
  if (!EnumMonitorsA(nullptr, 2, buffer.data(), needed, &needed, &count)) {
    OutLog("%s:%d -- GetAllMonitors() fail\n", kProgram, 1073);
    OutLog("[ERROR] The spooler did not list its monitors: %s\n",
           platform::LastSpoolerErrorText().c_str());
    return 0;
  }
  OutLog("%s:%d -- GetAllMonitors() OK, returned = %d\n", kProgram, 1077, static_cast<int>(count));
  const auto* monitors = reinterpret_cast<const MONITOR_INFO_2A*>(buffer.data());
  for (uint32_t i = 0; i < count; ++i) {
    const MONITOR_INFO_2A& m = monitors[i];
    int index = static_cast<int>(i);
    OutLog("%s:%d(mi[%d].pName = %s)\n", kProgram, 1080, index, OrNull(m.pName));
    OutLog("%s:%d(mi[%d].pEnvironment = %s)\n", kProgram, 1081, index, OrNull(m.pEnvironment));
    OutLog("%s:%d(mi[%d].pDLLName = %s)\n", kProgram, 1082, index, OrNull(m.pDLLName));
    if (m.pName && platform::SameNameIgnoringCase(m.pName, monitorName)) {
      OutLog("Found monitor ('%s') successful.\n", monitorName);
      return 1;
    }
  }
  return 0;
}

int InstallMonitor(const char* monitorName) {
  if (!monitorName || !*monitorName) return 0;
  if (GetAllMonitors(monitorName)) {
    OutLog("Monitor ('%s') is already installed before.\n", monitorName);
    return 1;
  }
  std::string setup = BesideProgram("mfilemon-setup.exe");
  if (!platform::PathExists(setup)) {
    OutLog("\"%s\" is not exist.\n", setup.c_str());
    return 0;
  }
  char command[4000];
  snprintf(command, sizeof(command), "\"%s\" /VERYSILENT", setup.c_str());
  OutLog("[CMD] %s\n", command);
  std::string output;
  NTSystemCommand2(command, output);
  if (!output.empty()) OutLog("[PipeData]\n%s\n", output.c_str());
  if (!GetAllMonitors(monitorName)) return 0;
  OutLog("Monitor ('%s') has been installed successful.\n", monitorName);
  return 1;
}

int ConfigureMonitorPort(const char* monitorName, const char* portName) {
  std::string monitorKey = std::string(kMonitorsKey) + "\\" + monitorName;
  {
    CRegistry monitor(CRegistry::kCreateKey);
    if (!monitor.Open(monitorKey.c_str(), HKEY_LOCAL_MACHINE, KEY_QUERY_VALUE | KEY_SET_VALUE)) {
      ReportKeyNotOpened(monitorKey);
      return 0;
    }
    monitor["Driver"] = "mfilemon.dll";
    monitor["LogLevel"] = 3;
  }
  char outputPath[platform::kMaxPathLength];
  MyGetTempPath(sizeof(outputPath), outputPath);

  std::string portKey = monitorKey + "\\" + portName;
  CRegistry port(CRegistry::kCreateKey);
  if (!port.Open(portKey.c_str(), HKEY_LOCAL_MACHINE, KEY_QUERY_VALUE | KEY_SET_VALUE)) {
    ReportKeyNotOpened(portKey);
    return 0;
  }
  char extension[platform::kMaxPathLength];
  ReadSettingString("Options", "TempFileExt", ".ps", extension, sizeof(extension));
  char command[4000];
  snprintf(command, sizeof(command), "\"%s\" -appendfile \"%%f\"",
           platform::ModuleFileName().c_str());
  port["Domain"] = ".";
  port["ExecPath"] = "";
  port["FilePattern"] = std::string("QuorvelFile%i") + extension;
  port["HideProcess"] = 1;
  port["OutputPath"] = outputPath;
  port["Overwrite"] = 0;
  port["PipeData"] = 0;
  port["User"] = "";
  port["UserCommand"] = command;
  port["WaitTermination"] = 1;
  port["WaitTimeout"] = 300;
  return 1;
}

long SetPortCommand(const char* portName) {
  const std::string port = portName ? portName : "";
  char path[platform::kMaxPathLength + 64];
  snprintf(path, sizeof(path),
           "System\\CurrentControlSet\\control\\Print\\Monitors\\Quorvel\\Ports\\%s", port.c_str());
  HKEY key = nullptr;
  long status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key);
  if (status != ERROR_SUCCESS) {
    OutLog("[ERROR] The port key \"%s\" cannot be opened: %s\n", path,
           platform::SpoolerErrorText(static_cast<uint32_t>(status)).c_str());
    return status;
  }
  const std::string command = BesideProgram("pdfcp.exe");
  const struct {
    const char* name;
    const std::string& text;
  } values[] = {{"Command", command}, {"Arguments", port}};
  for (const auto& value : values) {
    status = RegSetValueExA(key, value.name, 0, REG_SZ,
                            reinterpret_cast<const unsigned char*>(value.text.c_str()),
                            static_cast<uint32_t>(value.text.size() + 1));
    if (status != ERROR_SUCCESS) {
      OutLog("[ERROR] The value \"%s\" of the port key \"%s\" cannot be written: %s\n", value.name,
             path, platform::SpoolerErrorText(static_cast<uint32_t>(status)).c_str());
      RegCloseKey(key);
      return status;
    }
  }
  return RegCloseKey(key);
}
