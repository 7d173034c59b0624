#include "printer/spooler_queries.h"

#include <cstring>
#include <vector>

#include "config/log.h"
#include "config/status.h"
#include "platform/names.h"
#include "platform/winspool.h"

namespace {

// The two-call protocol of the enumerations: the size first, then the
// records. A failure leaves no records and carries the spooler's reason.
template <typename Enumerate>
Status EnumerateAll(Enumerate enumerate, std::vector<unsigned char>* buffer, uint32_t* count) {
  uint32_t needed = 0;
  *count = 0;
  if (enumerate(nullptr, 0, &needed, count)) return Status();  // nothing to list
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return Status::Failure(platform::LastSpoolerErrorText());
  }
  buffer->assign(needed, 0);
  if (!enumerate(buffer->data(), needed, &needed, count)) {
    *count = 0;
    return Status::Failure(platform::LastSpoolerErrorText());
  }
  return Status();
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
  Status listed = EnumerateAll(enumerate, &buffer, &count);
  if (!listed) OutLog("[ERROR] The spooler did not list its ports: %s\n", listed.reason().c_str());
  const auto* info = reinterpret_cast<const PORT_INFO_2A*>(buffer.data());
  for (uint32_t i = 0; i < count; ++i) ports.push_back(info[i].pPortName ? info[i].pPortName : "");
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
  Status listed = EnumerateAll(enumerate, &records, &count);
  if (!listed) {
    OutLog("[ERROR] The spooler did not list its printers: %s\n", listed.reason().c_str());
    return buffer;
  }
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
