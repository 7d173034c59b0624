// The system's spooler on POSIX: printers are CUPS queues, reached through
// libcups with IPP requests by the rules of platform/posix/cups_rules;
// monitors and ports are keys of the registry store
// (platform/posix/monitor_ports).
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "platform/accounts.h"
#include "platform/names.h"
#include "platform/platform.h"
#include "platform/posix/cups_client.h"
#include "platform/posix/cups_rules.h"
#include "platform/posix/monitor_ports.h"
#include "platform/registry.h"
#include "platform/winspool.h"

namespace platform {

namespace {

using cups_client::cups;
using cups_rules::QueueName;

constexpr int kConnectTimeoutMs = 30000;
constexpr double kRequestTimeoutSeconds = 30.0;

// The scheduler's words about the last failure, for Spooler::LastErrorText.
thread_local std::string t_lastWords;

uint32_t Failed(uint32_t code, const std::string& words) {
  t_lastWords = words;
  return code;
}

struct HttpClose {
  void operator()(http_t* http) const { cups.httpClose(http); }
};
using Connection = std::unique_ptr<http_t, HttpClose>;

struct IppDelete {
  void operator()(ipp_t* ipp) const { cups.ippDelete(ipp); }
};
using Message = std::unique_ptr<ipp_t, IppDelete>;

// A file in the temporary folder for a PPD on its way to and from the
// scheduler; removed with the object.
class ScratchFile {
 public:
  ScratchFile() {
    std::string pattern = SystemTempPath() + "tarvelin-ppd-XXXXXX";
    fd_ = mkstemp(&pattern[0]);
    if (fd_ >= 0) path_ = pattern;
  }
  ~ScratchFile() {
    if (fd_ >= 0) close(fd_);
    if (!path_.empty()) unlink(path_.c_str());
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

  bool Replace(const std::string& content) {
    if (ftruncate(fd_, 0) != 0 || lseek(fd_, 0, SEEK_SET) != 0) return false;
    size_t done = 0;
    while (done < content.size()) {
      ssize_t n = write(fd_, content.data() + done, content.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

 private:
  int fd_ = -1;
  std::string path_;
};

// A failed IPP request as a Windows code: refusals for want of rights are
// access denied, the scheduler's own failures (or none reached) mean the
// spooler is not available, any other refusal is a bad parameter.
uint32_t RequestFailure(const std::string& what) {
  const ipp_status_t status = cups.cupsLastError();
  const std::string words = what + ": " + cups.cupsLastErrorString();
  switch (status) {
    case IPP_STATUS_ERROR_FORBIDDEN:
    case IPP_STATUS_ERROR_NOT_AUTHENTICATED:
    case IPP_STATUS_ERROR_NOT_AUTHORIZED:
    case IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED:
      return Failed(ERROR_SPOOLER_ACCESS_DENIED, words);
    default:
      break;
  }
  if (status >= IPP_STATUS_ERROR_INTERNAL) return Failed(RPC_S_SERVER_UNAVAILABLE, words);
  return Failed(ERROR_SPOOLER_INVALID_PARAMETER, words);
}

bool Succeeded() { return cups.cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE; }

// Asked for a password, the program has nobody to ask: it must never wait
// for an answer on a terminal.
const char* NoPassword(const char*, http_t*, const char*, const char*, void*) { return nullptr; }

uint32_t Connect(Connection* http) {
  std::string why;
  if (!cups_client::Load(&why)) return Failed(RPC_S_SERVER_UNAVAILABLE, why);
  cups.cupsSetPasswordCB2(NoPassword, nullptr);
  // libcups keeps the server it first read (CUPS_SERVER, client.conf) for
  // the rest of the thread; forgetting it follows the environment as it is
  // now, which is how tests point the program at their own scheduler.
  cups.cupsSetServer(nullptr);
  const std::string server = cups.cupsServer();
  http->reset(cups.httpConnect2(server.c_str(), cups.ippPort(), nullptr, AF_UNSPEC,
                                cups.cupsEncryption(), 1, kConnectTimeoutMs, nullptr));
  if (!*http) {
    return Failed(RPC_S_SERVER_UNAVAILABLE, "cannot reach the CUPS scheduler at " + server + ": " +
                                                cups.cupsLastErrorString());
  }
  cups.httpSetTimeout(http->get(), kRequestTimeoutSeconds, nullptr, nullptr);
  return 0;
}

std::string PrinterUri(const std::string& queue) {
  char uri[HTTP_MAX_URI];
  cups.httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof(uri), "ipp", nullptr, "localhost", 0,
                        "/printers/%s", queue.c_str());
  return uri;
}

// The resource part of PrinterUri, for plain HTTP requests.
std::string PrinterResource(const std::string& queue, const char* suffix) {
  const std::string uri = PrinterUri(queue);
  size_t path = uri.find("/printers/");
  return uri.substr(path) + suffix;
}

// A personal printer (a queue on a port of the maker's monitor) prints for
// its owner only, and CUPS must know the sender rather than trust the name
// a client gives (lp -U): the queue's requesting-user-name-allowed names
// the owner, and its operation policy "authenticated" (shipped in CUPS's own
// cupsd.conf) asks for authentication before a job is made. Local users are
// authenticated by the peer credentials of the scheduler's socket, so they
// print without a password.
const char kPersonalScheme[] = "quorvel";
const char kOwnerPolicy[] = "authenticated";
const char kConfResource[] = "/admin/conf/cupsd.conf";
// How long a scheduler may take to come back with a changed cupsd.conf.
constexpr int kReloadLimitMs = 30000;
// The policy as CUPS ships it, for a cupsd.conf that lacks it.
const char kOwnerPolicySection[] =
    "\n# Added by tarvelin for its personal printers: jobs of an authenticated user only.\n"
    "<Policy authenticated>\n"
    "  JobPrivateAccess default\n"
    "  JobPrivateValues default\n"
    "  SubscriptionPrivateAccess default\n"
    "  SubscriptionPrivateValues default\n"
    "  <Limit Create-Job Print-Job Print-URI Validate-Job>\n"
    "    AuthType Default\n"
    "    Order deny,allow\n"
    "  </Limit>\n"
    "  <Limit Send-Document Send-URI Hold-Job Release-Job Restart-Job Purge-Jobs "
    "Set-Job-Attributes Create-Job-Subscription Renew-Subscription Cancel-Subscription "
    "Get-Notifications Reprocess-Job Cancel-Current-Job Suspend-Current-Job Resume-Job "
    "Cancel-My-Jobs Close-Job CUPS-Move-Job CUPS-Get-Document>\n"
    "    AuthType Default\n"
    "    Require user @OWNER @SYSTEM\n"
    "    Order deny,allow\n"
    "  </Limit>\n"
    "  <Limit CUPS-Add-Modify-Printer CUPS-Delete-Printer CUPS-Add-Modify-Class "
    "CUPS-Delete-Class CUPS-Set-Default>\n"
    "    AuthType Default\n"
    "    Require user @SYSTEM\n"
    "    Order deny,allow\n"
    "  </Limit>\n"
    "  <Limit Pause-Printer Resume-Printer Enable-Printer Disable-Printer "
    "Pause-Printer-After-Current-Job Hold-New-Jobs Release-Held-New-Jobs Deactivate-Printer "
    "Activate-Printer Restart-Printer Shutdown-Printer Startup-Printer Promote-Job "
    "Schedule-Job-After Cancel-Jobs CUPS-Accept-Jobs CUPS-Reject-Jobs>\n"
    "    AuthType Default\n"
    "    Require user @SYSTEM\n"
    "    Order deny,allow\n"
    "  </Limit>\n"
    "  <Limit Cancel-Job CUPS-Authenticate-Job>\n"
    "    AuthType Default\n"
    "    Require user @OWNER @SYSTEM\n"
    "    Order deny,allow\n"
    "  </Limit>\n"
    "  <Limit All>\n"
    "    Order deny,allow\n"
    "  </Limit>\n"
    "</Policy>\n";

// The person a personal printer is for: who called sudo when the
// installation runs as root through sudo (as the registry store's current
// user is), else the real user. Never root, whose jobs never run.
uint32_t InstallingAccount(std::string* owner) {
  const char* caller = std::getenv("SUDO_USER");
  Account account;
  std::string why;
  if (IsSuperUser() && caller && *caller) {
    if (!LookUpAccount(caller, &account, &why)) return Failed(ERROR_SPOOLER_ACCESS_DENIED, why);
  } else {
    account = CurrentAccount();
  }
  if (account.userId == 0 || account.name.empty() || account.name[0] == '#') {
    return Failed(ERROR_SPOOLER_ACCESS_DENIED,
                  "a personal printer needs an owner other than root (\"" + account.name +
                      "\"): install it through sudo from the owner's account");
  }
  *owner = account.name;
  return 0;
}

// Records the owner as the port's User value in the machine's registry
// store, where the port's backend reads it.
uint32_t WritePortOwner(const std::string& monitor, const std::string& port,
                        const std::string& owner) {
  const std::string path =
      "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\" + monitor + "\\Ports\\" + port;
  HKEY key = nullptr;
  long status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExA(key, "User", 0, REG_SZ,
                            reinterpret_cast<const unsigned char*>(owner.c_str()),
                            static_cast<uint32_t>(owner.size() + 1));
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS) {
    return Failed(ERROR_SPOOLER_ACCESS_DENIED,
                  "the owner of the port " + port + " cannot be written to HKLM\\" + path +
                      " (registry error " + std::to_string(status) + ")");
  }
  return 0;
}

const char* Text(ipp_attribute_t* attribute) {
  const char* text = attribute ? cups.ippGetString(attribute, 0, nullptr) : nullptr;
  return text ? text : "";
}

// What CUPS tells of a queue, as read from one printer group.
struct QueueFacts {
  std::string queue, info, location, deviceUri, makeAndModel, mediaDefault;
  std::vector<std::string> mediaSupported;
  int orientationDefault = 0;
  bool offersOrientation = false;
};

const char* const kQueueAttributes[] = {"printer-name",
                                        "printer-info",
                                        "printer-location",
                                        "device-uri",
                                        "printer-make-and-model",
                                        "media-default",
                                        "media-supported",
                                        "orientation-requested-default",
                                        "orientation-requested-supported"};

void ReadFact(ipp_attribute_t* attribute, QueueFacts* facts, std::set<std::string>* seen) {
  const std::string name = cups.ippGetName(attribute);
  // A queue with a PPD lists some defaults twice (its own, then the PPD's):
  // the first is the one in force.
  if (!seen->insert(name).second) return;
  if (name == "printer-name") {
    facts->queue = Text(attribute);
  } else if (name == "printer-info") {
    facts->info = Text(attribute);
  } else if (name == "printer-location") {
    facts->location = Text(attribute);
  } else if (name == "device-uri") {
    facts->deviceUri = Text(attribute);
  } else if (name == "printer-make-and-model") {
    facts->makeAndModel = Text(attribute);
  } else if (name == "media-default") {
    facts->mediaDefault = Text(attribute);
  } else if (name == "media-supported") {
    for (int i = 0; i < cups.ippGetCount(attribute); ++i) {
      const char* media = cups.ippGetString(attribute, i, nullptr);
      if (media) facts->mediaSupported.push_back(media);
    }
  } else if (name == "orientation-requested-default") {
    if (cups.ippGetValueTag(attribute) == IPP_TAG_ENUM)
      facts->orientationDefault = cups.ippGetInteger(attribute, 0);
  } else if (name == "orientation-requested-supported") {
    facts->offersOrientation = cups.ippGetCount(attribute) > 0;
  }
}

std::vector<QueueFacts> ReadQueues(ipp_t* response) {
  std::vector<QueueFacts> queues;
  ipp_attribute_t* attribute = cups.ippFirstAttribute(response);
  while (attribute) {
    while (attribute && cups.ippGetGroupTag(attribute) != IPP_TAG_PRINTER) {
      attribute = cups.ippNextAttribute(response);
    }
    if (!attribute) break;
    QueueFacts facts;
    std::set<std::string> seen;
    for (; attribute && cups.ippGetGroupTag(attribute) == IPP_TAG_PRINTER &&
           cups.ippGetName(attribute);
         attribute = cups.ippNextAttribute(response)) {
      ReadFact(attribute, &facts, &seen);
    }
    if (!facts.queue.empty()) queues.push_back(facts);
  }
  return queues;
}

// The printer's name is the queue's description when the description maps
// to this queue (the printer was installed under that name), else the
// queue's own name, with the description as its comment.
SpoolerPrinter PrinterOf(const QueueFacts& facts) {
  SpoolerPrinter printer;
  printer.queue = facts.queue;
  std::string mapped;
  if (QueueName(facts.info, &mapped) && SameNameIgnoringCase(mapped, facts.queue)) {
    printer.name = facts.info;
  } else {
    printer.name = facts.queue;
    printer.comment = facts.info;
  }
  printer.location = facts.location;
  printer.port = cups_rules::PortOfDeviceUri(facts.deviceUri);
  printer.driver = facts.makeAndModel;
  printer.paperSize = cups_rules::PaperOfMedia(facts.mediaDefault);
  printer.orientation = cups_rules::OrientationOfRequested(facts.orientationDefault);
  for (const std::string& media : facts.mediaSupported) {
    for (int16_t code : cups_rules::PapersOfMedia(media)) {
      if (std::find(printer.paperSizes.begin(), printer.paperSizes.end(), code) ==
          printer.paperSizes.end()) {
        printer.paperSizes.push_back(code);
      }
    }
  }
  printer.fields = 0;
  if (!printer.paperSizes.empty()) printer.fields |= DM_PAPERSIZE;
  if (facts.offersOrientation) printer.fields |= DM_ORIENTATION;
  return printer;
}

// The make-and-model is matched exactly (ASCII case ignored), as Windows
// matches driver names; the scheduler's own filter on it only ranks.
uint32_t FindPpd(http_t* http, const std::string& driver, std::string* ppdName) {
  static const char* const kWanted[] = {"ppd-name", "ppd-make-and-model"};
  ipp_t* request = cups.ippNewRequest(IPP_OP_CUPS_GET_PPDS);
  cups.ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_TEXT, "ppd-make-and-model", nullptr,
                    driver.c_str());
  cups.ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2,
                     nullptr, kWanted);
  Message response(cups.cupsDoRequest(http, request, "/"));
  if (!Succeeded() && cups.cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND) {
    return RequestFailure("listing the drivers");
  }
  // One group per PPD, ended by a separator (an attribute without a name).
  std::string name;
  bool matches = false;
  for (ipp_attribute_t* attribute = cups.ippFirstAttribute(response.get());;
       attribute = cups.ippNextAttribute(response.get())) {
    const char* attributeName = attribute ? cups.ippGetName(attribute) : nullptr;
    if (!attributeName) {
      if (matches && !name.empty()) {
        *ppdName = name;
        return 0;
      }
      if (!attribute) break;
      name.clear();
      matches = false;
    } else if (!std::strcmp(attributeName, "ppd-name")) {
      name = Text(attribute);
    } else if (!std::strcmp(attributeName, "ppd-make-and-model")) {
      matches = SameNameIgnoringCase(Text(attribute), driver);
    }
  }
  return Failed(ERROR_UNKNOWN_PRINTER_DRIVER,
                "no driver (PPD) has the make and model \"" + driver + "\"");
}

// Fetches the queue's PPD into file; false when the queue has none.
bool FetchPpd(http_t* http, const std::string& queue, ScratchFile* file, std::string* ppd) {
  if (file->fd() < 0) return false;
  if (cups.cupsGetFd(http, PrinterResource(queue, ".ppd").c_str(), file->fd()) != HTTP_STATUS_OK) {
    return false;
  }
  return ReadWholeFile(file->path(), ppd);
}

class CupsSpooler : public Spooler {
 public:
  uint32_t Ports(std::vector<SpoolerPort>* ports) override {
    std::vector<SpoolerMonitor> monitors;
    return monitor_ports::ReadMonitorsAndPorts(&monitors, ports, &t_lastWords);
  }

  uint32_t Monitors(std::vector<SpoolerMonitor>* monitors) override {
    return monitor_ports::ReadMonitorsAndPorts(monitors, nullptr, &t_lastWords);
  }

  uint32_t AddPort(const std::string& monitor, std::string* port) override {
    return monitor_ports::AddPort(monitor, port, &t_lastWords);
  }

  uint32_t Printers(std::vector<SpoolerPrinter>* printers) override {
    Connection http;
    if (uint32_t code = Connect(&http)) return code;
    std::vector<QueueFacts> queues;
    if (uint32_t code = ListQueues(http.get(), &queues)) return code;
    printers->clear();
    for (const QueueFacts& facts : queues) printers->push_back(PrinterOf(facts));
    return 0;
  }

  uint32_t FindPrinter(const std::string& name, SpoolerPrinter* printer) override {
    std::vector<SpoolerPrinter> printers;
    if (uint32_t code = Printers(&printers)) return code;
    for (const SpoolerPrinter& candidate : printers) {
      if (SameNameIgnoringCase(candidate.name, name) ||
          SameNameIgnoringCase(candidate.queue, name)) {
        *printer = candidate;
        return 0;
      }
    }
    return Failed(ERROR_INVALID_PRINTER_NAME, "no CUPS queue is named \"" + name + "\"");
  }

  uint32_t SetPrinterDefaults(const std::string& name, uint32_t fields, int16_t paperSize,
                              int16_t orientation) override {
    SpoolerPrinter printer;
    if (uint32_t code = FindPrinter(name, &printer)) return code;
    const char* media = (fields & DM_PAPERSIZE) ? cups_rules::MediaOfPaper(paperSize) : nullptr;
    if ((fields & DM_PAPERSIZE) &&
        (!media || std::find(printer.paperSizes.begin(), printer.paperSizes.end(), paperSize) ==
                       printer.paperSizes.end())) {
      return Failed(ERROR_SPOOLER_INVALID_PARAMETER, PaperSizeRefusal(printer, paperSize));
    }
    if ((fields & DM_ORIENTATION) && orientation != DMORIENT_PORTRAIT &&
        orientation != DMORIENT_LANDSCAPE) {
      return Failed(ERROR_SPOOLER_INVALID_PARAMETER,
                    "no orientation " + std::to_string(orientation));
    }
    if (!(fields & (DM_PAPERSIZE | DM_ORIENTATION))) return 0;
    Connection http;
    if (uint32_t code = Connect(&http)) return code;
    return WriteDefaults(http.get(), printer.queue, media,
                         (fields & DM_ORIENTATION) ? orientation : 0);
  }

  uint32_t DefaultPrinter(std::string* name) override {
    Connection http;
    if (uint32_t code = Connect(&http)) return code;
    // The user's default (lpoptions, LPDEST, PRINTER) before the
    // scheduler's, as Windows keeps a default per user.
    cups_dest_t* dest = cups.cupsGetNamedDest(http.get(), nullptr, nullptr);
    if (!dest) {
      const ipp_status_t status = cups.cupsLastError();
      if (status == IPP_STATUS_ERROR_NOT_FOUND || Succeeded()) {
        return Failed(ERROR_SPOOLER_FILE_NOT_FOUND, "there is no default printer");
      }
      return RequestFailure("asking for the default printer");
    }
    const std::string queue = dest->name;
    cups.cupsFreeDests(1, dest);
    SpoolerPrinter printer;
    if (FindPrinter(queue, &printer) != 0) {
      return Failed(ERROR_SPOOLER_FILE_NOT_FOUND, "the default printer " + queue + " is gone");
    }
    *name = printer.name;
    return 0;
  }

  // CUPS reads changed queues at once; there is no service to restart.
  uint32_t RestartService() override { return 0; }

  uint32_t DeletePrinter(const std::string& name) override {
    SpoolerPrinter printer;
    if (uint32_t code = FindPrinter(name, &printer)) return code;
    Connection http;
    if (uint32_t code = Connect(&http)) return code;
    ipp_t* request = cups.ippNewRequest(IPP_OP_CUPS_DELETE_PRINTER);
    cups.ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                      PrinterUri(printer.queue).c_str());
    Message response(cups.cupsDoRequest(http.get(), request, "/admin/"));
    if (cups.cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND) {
      return Failed(ERROR_INVALID_PRINTER_NAME, "the queue " + printer.queue + " is gone");
    }
    if (!Succeeded()) return RequestFailure("deleting the queue " + printer.queue);
    return 0;
  }

  uint32_t InstallPrinter(const std::string& name, const std::string& port,
                          const std::string& driver) override {
    std::string queue;
    if (!QueueName(name, &queue)) {
      return Failed(ERROR_INVALID_PRINTER_NAME,
                    "\"" + name +
                        "\" cannot name a CUPS queue (empty, over 127 bytes or not "
                        "UTF-8)");
    }
    std::string deviceUri, monitor;
    if (uint32_t code = DeviceOfPort(port, &deviceUri, &monitor)) return code;
    const bool personal = deviceUri.rfind(std::string(kPersonalScheme) + ":", 0) == 0;
    Connection http;
    if (uint32_t code = Connect(&http)) return code;
    std::vector<QueueFacts> queues;
    if (uint32_t code = ListQueues(http.get(), &queues)) return code;
    for (const QueueFacts& facts : queues) {
      const SpoolerPrinter existing = PrinterOf(facts);
      if (SameNameIgnoringCase(existing.queue, queue) ||
          SameNameIgnoringCase(existing.name, name)) {
        return Failed(ERROR_PRINTER_ALREADY_EXISTS,
                      "the CUPS queue " + existing.queue + " is there already");
      }
    }
    std::string ppdName;
    if (uint32_t code = FindPpd(http.get(), driver, &ppdName)) return code;
    if (!personal) return AddQueue(http.get(), queue, name, deviceUri, ppdName, true);
    // A personal queue is made closed and opened once it is its owner's, so
    // that nobody else's job gets in meanwhile; CUPS checks the device first.
    if (uint32_t code = AddQueue(http.get(), queue, name, deviceUri, ppdName, false)) return code;
    std::string owner;
    uint32_t code = InstallingAccount(&owner);
    if (code == 0) code = WritePortOwner(monitor, port, owner);
    if (code == 0) code = GiveQueueToOwner(&http, queue, owner);
    if (code != 0) {
      const std::string words = t_lastWords;
      if (http || Connect(&http) == 0) RemoveQueue(http.get(), queue);
      t_lastWords = words;
    }
    return code;
  }

  std::string LastErrorText() override { return t_lastWords; }

  std::string PaperSizeRefusal(const SpoolerPrinter& printer, int16_t paperSize) override {
    const std::string code = "paper size " + std::to_string(paperSize);
    const char* media = cups_rules::MediaOfPaper(paperSize);
    if (!media) return code + " has no PWG media name, so no CUPS queue can take it";
    return "the CUPS queue " + printer.queue + " does not offer " + code + " (" + media +
           ") in its media-supported";
  }

 private:
  uint32_t DeviceOfPort(const std::string& port, std::string* deviceUri, std::string* monitor) {
    std::vector<SpoolerPort> ports;
    if (uint32_t code = Ports(&ports)) return code;
    for (const SpoolerPort& candidate : ports) {
      if (!SameNameIgnoringCase(candidate.name, port)) continue;
      const char* scheme = cups_rules::BackendOfMonitor(candidate.monitor);
      if (!scheme) {
        return Failed(ERROR_UNKNOWN_PORT, "the port " + port + "'s monitor \"" + candidate.monitor +
                                              "\" has no CUPS backend");
      }
      *deviceUri = cups_rules::DeviceUriOfPort(scheme, candidate.name);
      *monitor = candidate.monitor;
      return 0;
    }
    return Failed(ERROR_UNKNOWN_PORT, "no port monitor has a port named \"" + port + "\"");
  }

  static uint32_t ListQueues(http_t* http, std::vector<QueueFacts>* queues) {
    ipp_t* request = cups.ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
    cups.ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                       sizeof(kQueueAttributes) / sizeof(kQueueAttributes[0]), nullptr,
                       kQueueAttributes);
    Message response(cups.cupsDoRequest(http, request, "/"));
    queues->clear();
    if (cups.cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND) return 0;
    if (!Succeeded()) return RequestFailure("listing the CUPS queues");
    *queues = ReadQueues(response.get());
    return 0;
  }

  // The queue starts stopped and refusing jobs in CUPS unless told
  // otherwise, so an open queue asks for both with the queue itself.
  static uint32_t AddQueue(http_t* http, const std::string& queue, const std::string& name,
                           const std::string& deviceUri, const std::string& ppdName, bool open) {
    ipp_t* request = cups.ippNewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER);
    cups.ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                      PrinterUri(queue).c_str());
    cups.ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr,
                      deviceUri.c_str());
    cups.ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_NAME, "ppd-name", nullptr, ppdName.c_str());
    cups.ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-info", nullptr,
                      name.c_str());
    cups.ippAddBoolean(request, IPP_TAG_PRINTER, "printer-is-accepting-jobs", open ? 1 : 0);
    cups.ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state",
                       open ? IPP_PSTATE_IDLE : IPP_PSTATE_STOPPED);
    Message response(cups.cupsDoRequest(http, request, "/admin/"));
    // cupsd answers "not possible" when it has no backend for the device's
    // scheme (or cannot use the device otherwise): the port cannot be used.
    if (cups.cupsLastError() == IPP_STATUS_ERROR_NOT_POSSIBLE) {
      return Failed(ERROR_UNKNOWN_PORT,
                    "CUPS refused the device " + deviceUri + ": " + cups.cupsLastErrorString());
    }
    if (!Succeeded()) return RequestFailure("creating the CUPS queue " + queue);
    return 0;
  }

  static void RemoveQueue(http_t* http, const std::string& queue) {
    ipp_t* request = cups.ippNewRequest(IPP_OP_CUPS_DELETE_PRINTER);
    cups.ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                      PrinterUri(queue).c_str());
    Message response(cups.cupsDoRequest(http, request, "/admin/"));
  }

  // The operation policies the scheduler knows, as a queue lists them.
  static uint32_t OfferedPolicies(http_t* http, const std::string& queue,
                                  std::set<std::string>* policies) {
    static const char* const kWanted[] = {"printer-op-policy-supported"};
    ipp_t* request = cups.ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    cups.ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                      PrinterUri(queue).c_str());
    cups.ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 1,
                       nullptr, kWanted);
    Message response(cups.cupsDoRequest(http, request, "/"));
    if (!Succeeded()) return RequestFailure("asking the queue " + queue + " for its policies");
    policies->clear();
    ipp_attribute_t* offered =
        cups.ippFindAttribute(response.get(), "printer-op-policy-supported", IPP_TAG_NAME);
    for (int i = 0; offered && i < cups.ippGetCount(offered); ++i) {
      const char* policy = cups.ippGetString(offered, i, nullptr);
      if (policy) policies->insert(policy);
    }
    return 0;
  }

  // Adds the owner's policy to the scheduler's cupsd.conf, once: the file
  // goes to the scheduler as CUPS's own administration tools send it, and
  // the scheduler reloads itself. Waits (bounded) until it offers the policy.
  static uint32_t AddOwnerPolicy(Connection* http, const std::string& queue) {
    ScratchFile file;
    std::string conf;
    if (file.fd() < 0) return Failed(ERROR_SPOOLER_ACCESS_DENIED, "no scratch file for cupsd.conf");
    http_status_t got = cups.cupsGetFd(http->get(), kConfResource, file.fd());
    if (got != HTTP_STATUS_OK || !ReadWholeFile(file.path(), &conf)) {
      return Failed(ERROR_SPOOLER_ACCESS_DENIED,
                    std::string("cannot read the scheduler's cupsd.conf: ") + cups.httpStatus(got) +
                        " " + cups.cupsLastErrorString());
    }
    const std::string section = std::string("<Policy ") + kOwnerPolicy + ">";
    if (conf.find(section) == std::string::npos) {
      if (!conf.empty() && conf.back() != '\n') conf += '\n';
      conf += kOwnerPolicySection;
      if (!file.Replace(conf) || lseek(file.fd(), 0, SEEK_SET) != 0) {
        return Failed(ERROR_SPOOLER_ACCESS_DENIED,
                      "cannot write the scratch copy of cupsd.conf: " + ErrorText(errno));
      }
      http_status_t put = cups.cupsPutFd(http->get(), kConfResource, file.fd());
      if (put != HTTP_STATUS_CREATED && put != HTTP_STATUS_OK) {
        return Failed(ERROR_SPOOLER_ACCESS_DENIED,
                      std::string("the scheduler refused the changed cupsd.conf: ") +
                          cups.httpStatus(put) + " " + cups.cupsLastErrorString());
      }
      ReportDiagnostic(std::string("[INFO] Added the operation policy \"") + kOwnerPolicy +
                       "\" to the CUPS scheduler's cupsd.conf\n");
    }
    std::set<std::string> policies;
    for (int waited = 0; waited <= kReloadLimitMs; waited += 250) {
      SleepMilliseconds(250);
      http->reset();
      if (Connect(http) == 0 && OfferedPolicies(http->get(), queue, &policies) == 0 &&
          policies.count(kOwnerPolicy)) {
        return 0;
      }
    }
    return Failed(RPC_S_SERVER_UNAVAILABLE,
                  std::string("the scheduler did not offer the policy \"") + kOwnerPolicy +
                      "\" within 30 s: " + t_lastWords);
  }

  // Lets only the owner print to the queue, as CUPS authenticates the
  // owner, then opens it.
  static uint32_t GiveQueueToOwner(Connection* http, const std::string& queue,
                                   const std::string& owner) {
    std::set<std::string> policies;
    if (uint32_t code = OfferedPolicies(http->get(), queue, &policies)) return code;
    if (!policies.count(kOwnerPolicy)) {
      if (uint32_t code = AddOwnerPolicy(http, queue)) return code;
    }
    ipp_t* request = cups.ippNewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER);
    cups.ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                      PrinterUri(queue).c_str());
    cups.ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_NAME, "requesting-user-name-allowed",
                      nullptr, owner.c_str());
    cups.ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-op-policy", nullptr,
                      kOwnerPolicy);
    cups.ippAddBoolean(request, IPP_TAG_PRINTER, "printer-is-accepting-jobs", 1);
    cups.ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", IPP_PSTATE_IDLE);
    Message response(cups.cupsDoRequest(http->get(), request, "/admin/"));
    if (!Succeeded()) return RequestFailure("giving the CUPS queue " + queue + " to " + owner);
    return 0;
  }

  // media-default is what CUPS applies to jobs that name no size; the PPD's
  // default is what its filters and `lpoptions -l` show, so both are set.
  // orientation is 0 to leave it alone.
  static uint32_t WriteDefaults(http_t* http, const std::string& queue, const char* media,
                                int16_t orientation) {
    ipp_t* request = cups.ippNewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER);
    cups.ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                      PrinterUri(queue).c_str());
    if (media)
      cups.ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "media-default", nullptr, media);
    if (orientation) {
      cups.ippAddInteger(
          request, IPP_TAG_PRINTER, IPP_TAG_ENUM, "orientation-requested-default",
          orientation == DMORIENT_LANDSCAPE ? IPP_ORIENT_LANDSCAPE : IPP_ORIENT_PORTRAIT);
    }
    ScratchFile file;
    std::string ppd;
    bool withPpd = false;
    if (media && FetchPpd(http, queue, &file, &ppd)) {
      const std::string keyword = cups_rules::PpdPageSizeOfMedia(ppd, media);
      withPpd =
          !keyword.empty() && cups_rules::SetPpdDefaultPageSize(&ppd, keyword) && file.Replace(ppd);
    }
    Message response(withPpd ? cups.cupsDoFileRequest(http, request, "/admin/", file.path().c_str())
                             : cups.cupsDoRequest(http, request, "/admin/"));
    if (!Succeeded()) return RequestFailure("setting the defaults of the CUPS queue " + queue);
    return 0;
  }
};

}  // namespace

Spooler& SystemSpooler() {
  static CupsSpooler spooler;
  return spooler;
}

}  // namespace platform
