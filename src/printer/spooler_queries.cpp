#include "printer/spooler_queries.h"

#include <cstring>
#include <vector>

#include "config/log.h"
#include "platform/names.h"
#include "platform/winspool.h"

namespace {

// The two-call protocol of the enumerations: the size first, then the
// records. Returns false (and no records) when the first call does not ask
// for a buffer or the second one fails.
template <typename Enumerate>
bool EnumerateAll(Enumerate enumerate, std::vector<unsigned char>* buffer, uint32_t* count) {
  uint32_t needed = 0;
  *count = 0;
  if (enumerate(nullptr, 0, &needed, count) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return false;
  }
  buffer->assign(needed, 0);
  return enumerate(buffer->data(), needed, &needed, count) && *count > 0;
}

}  // namespace

bool IsQuorvelName(const char* name) {
  return name && strncmp(name, platform::kMakerPortWord, sizeof(platform::kMakerPortWord) - 1) == 0;
}

int GetAllPorts(std::vector<std::string>& ports) {
  std::vector<unsigned char> buffer;
  uint32_t count = 0;
  auto enumerate = [](unsigned char* data, uint32_t size, uint32_t* needed, uint32_t* returned) {
    return EnumPortsA(nullptr, 2, data, size, needed, returned) != 0;
  };
  if (EnumerateAll(enumerate, &buffer, &count)) {
    const auto* info = reinterpret_cast<const PORT_INFO_2A*>(buffer.data());
    for (uint32_t i = 0; i < count; ++i)
      ports.push_back(info[i].pPortName ? info[i].pPortName : "");
  }
  return static_cast<int>(ports.size());
}

int IsPrinterPortFound() {
  std::vector<std::string> ports;
  GetAllPorts(ports);
  for (const std::string& port : ports) {
    if (IsQuorvelName(port.c_str())) {
      OutLog("OK, found printer port.\n");
      return 1;
    }
  }
  return 0;
}

char* GetPrinterDriver(char* buffer) {
  std::vector<unsigned char> records;
  uint32_t count = 0;
  auto enumerate = [](unsigned char* data, uint32_t size, uint32_t* needed, uint32_t* returned) {
    return EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, data, size, needed, returned) != 0;
  };
  if (!EnumerateAll(enumerate, &records, &count)) return buffer;
  const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(records.data());
  for (uint32_t i = 0; i < count; ++i) {
    if (!IsQuorvelName(info[i].pPortName)) continue;
    const char* driver = info[i].pDriverName ? info[i].pDriverName : "";
    strncpy(buffer, driver, 199);
    buffer[199] = '\0';
    OutLog("OK, found Printer Driver '%s'.\n", buffer);
    break;
  }
  return buffer;
}

int IsPrinterDriverFound() {
  char driver[200] = {};
  GetPrinterDriver(driver);
  return driver[0] != '\0' ? 1 : 0;
}
