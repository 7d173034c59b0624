// tarvelin-printer: an IPP Everywhere printer (a PAPPL system) whose pages go
// into a growing PDF through the same road as -appendfile. Each printer's
// output PDF is its device URI ("tarvelin-pdf:///path/to/file.pdf"), so the
// server's state file keeps it.
#include <pappl/pappl.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/printer_app/intake.h"
#include "app/printer_app/saved_state.h"
#include "app/printer_app/status_page.h"
#include "config/log.h"
#include "config/settings.h"
#include "pdf/image/image.h"
#include "pdf/raster_pages.h"
#include "platform/platform.h"

namespace {

const char kScheme[] = "tarvelin-pdf";
const char kDriver[] = "tarvelin_pdf";

const char* const kMedia[] = {"na_letter_8.5x11in", "na_legal_8.5x14in",  "iso_a4_210x297mm",
                              "iso_a5_148x210mm",   "iso_a3_297x420mm",   "na_ledger_11x17in",
                              "jis_b5_182x257mm",   "na_executive_7x10in"};

struct Server {
  std::string stateFolder;
  std::mutex mutex;
  std::map<int, std::unique_ptr<OrderedIntake>> intakes;  ///< by printer id
};

Server* server = nullptr;
volatile std::sig_atomic_t stopRequested = 0;

// The output PDF a printer's device URI names, or "".
std::string OutputOf(pappl_printer_t* printer) {
  const char* uri = papplPrinterGetDeviceURI(printer);
  char scheme[32], user[256], host[256], resource[1024];
  int port = 0;
  if (!uri ||
      httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof(scheme), user, sizeof(user), host,
                      sizeof(host), &port, resource, sizeof(resource)) < HTTP_URI_STATUS_OK ||
      strcmp(scheme, kScheme) != 0 || resource[0] != '/') {
    return "";
  }
  return resource;
}

struct OlderJobSearch {
  int jobId;
  std::vector<int> found;
};

void CheckOlderJob(pappl_job_t* job, void* data) {
  auto* search = static_cast<OlderJobSearch*>(data);
  int id = papplJobGetID(job);
  ipp_jstate_t state = papplJobGetState(job);
  if (id < search->jobId && (state == IPP_JSTATE_PENDING || state == IPP_JSTATE_PROCESSING)) {
    search->found.push_back(id);
  }
}

// Identify-Printer: the printer has no panel; the request is logged.
void Identify(pappl_printer_t* printer, pappl_identify_actions_t, const char* message) {
  papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify-Printer: %s", message ? message : "");
}

// The printer's one supply is the room left on the output PDF's disk.
void ReportRoom(pappl_printer_t* printer, const std::string& output) {
  pappl_supply_t room = {};
  room.color = PAPPL_SUPPLY_COLOR_NO_COLOR;
  papplCopyString(room.description, "Room for the output PDF", sizeof(room.description));
  room.is_consumed = true;
  room.type = PAPPL_SUPPLY_TYPE_OTHER;
  std::error_code error;
  std::filesystem::space_info space = std::filesystem::space(platform::DirName(output), error);
  room.level =
      error || space.capacity == 0 ? -1 : static_cast<int>(space.available * 100 / space.capacity);
  papplPrinterSetSupplies(printer, 1, &room);
}

// The intake of a printer, made and started on first use.
OrderedIntake* IntakeOf(pappl_printer_t* printer, std::string* why) {
  std::lock_guard<std::mutex> hold(server->mutex);
  int id = papplPrinterGetID(printer);
  auto found = server->intakes.find(id);
  if (found != server->intakes.end()) return found->second.get();
  std::string output = OutputOf(printer);
  if (output.empty()) {
    *why = std::string("the printer's device URI \"") + papplPrinterGetDeviceURI(printer) +
           "\" names no output PDF";
    return nullptr;
  }
  std::string folder = server->stateFolder + "/intake-" + std::to_string(id);
  // Each printer has its own settings (the "Options" of config.ini) in the
  // state folder, listed with the values used as config.ini lists them.
  SettingsFile file(server->stateFolder + "/printer-" + std::to_string(id) + ".ini");
  JobSettings settings = ReadJobSettings(file);
  Status saved = file.Save();
  if (!saved) OutLog("[ERROR] The printer's settings: %s.\n", saved.reason().c_str());
  auto intake = std::make_unique<OrderedIntake>(folder, output, settings, [printer](int jobId) {
    OlderJobSearch search{jobId, {}};
    papplPrinterIterateActiveJobs(printer, CheckOlderJob, &search, 1,
                                  papplPrinterGetNumberOfActiveJobs(printer));
    return search.found;
  });
  if (!intake->Start(why)) return nullptr;
  // A killed server may not have recorded its last job ids; they are never
  // given out again.
  if (papplPrinterGetNextJobID(printer) <= intake->LastTaken()) {
    papplPrinterSetNextJobID(printer, intake->LastTaken() + 1);
  }
  ReportRoom(printer, output);
  AddStatusPage(papplPrinterGetSystem(printer), printer, intake.get(), folder);
  return (server->intakes[id] = std::move(intake)).get();
}

// The job's user and name, as the printer's page shows them.
std::string WhoOf(pappl_job_t* job) {
  return std::string(papplJobGetUsername(job) ? papplJobGetUsername(job) : "") + ": " +
         (papplJobGetName(job) ? papplJobGetName(job) : "");
}

// Takes a job's document as it is into the printer's intake (unless it was
// taken in when the job started).
bool TakeJob(pappl_job_t* job, const char* document, const char* ext) {
  std::string why;
  if (!document) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The job has no document.");
    OutLog("[ERROR] Job %d has no document; nothing is taken in.\n", papplJobGetID(job));
    return false;
  }
  OrderedIntake* intake = IntakeOf(papplJobGetPrinter(job), &why);
  int id = papplJobGetID(job);
  if (intake && (intake->IsTaken(id) || intake->Take(id, document, ext, WhoOf(job), &why))) {
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Taken in for \"%s\".", intake->output().c_str());
    return true;
  }
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Not taken in: %s", why.c_str());
  OutLog("[ERROR] Job %d was not taken in: %s.\n", id, why.c_str());
  return false;
}

// The intake of a printer that has one already, else nullptr. It asks PAPPL
// for nothing that takes a lock, and gives up rather than wait for an intake
// being made: that holds the list while it calls PAPPL.
OrderedIntake* ExistingIntake(pappl_printer_t* printer) {
  std::unique_lock<std::mutex> hold(server->mutex, std::try_to_lock);
  if (!hold.owns_lock()) return nullptr;
  auto found = server->intakes.find(papplPrinterGetID(printer));
  return found == server->intakes.end() ? nullptr : found->second.get();
}

// The formats taken as they are, and the extension each is kept under; all
// but PDF come through FilterDocument.
const char* const kDocumentKinds[][2] = {{"application/pdf", "pdf"},
                                         {"application/postscript", "ps"},
                                         {"image/jpeg", "jpg"},
                                         {"image/png", "png"}};

// The extension a spooled document of a format is kept under, "" for a
// format that is not taken as it is.
const char* ExtensionOf(const char* format) {
  for (const auto& kind : kDocumentKinds) {
    if (format && strcmp(format, kind[0]) == 0) return kind[1];
  }
  return "";
}

// A spooled job is taken in the moment PAPPL starts it. PAPPL 1.3 may close
// the device under a starting job (the job before it closes it as it ends)
// and then report the job completed without handing it over; taken in
// here, it arrives all the same. PAPPL holds the printer's and the job's
// locks while it calls this, so nothing here asks it for one; where the
// intake is not at hand, the driver's callback takes the job as before.
void JobEvent(pappl_system_t*, pappl_printer_t* printer, pappl_job_t* job, pappl_event_t event,
              void*) {
  if (!printer || !job || !(event & (PAPPL_EVENT_JOB_STATE_CHANGED | PAPPL_EVENT_JOB_COMPLETED))) {
    return;
  }
  OrderedIntake* intake = ExistingIntake(printer);
  int id = papplJobGetID(job);
  if (!intake || intake->IsTaken(id)) return;
  ipp_jstate_t state = papplJobGetState(job);
  const char* document = papplJobGetFilename(job);
  const char* ext = ExtensionOf(papplJobGetFormat(job));
  std::string why;
  if (state == IPP_JSTATE_PROCESSING && document && *ext &&
      !intake->Take(id, document, ext, WhoOf(job), &why)) {
    OutLog("[ERROR] Job %d could not be taken in as it started: %s.\n", id, why.c_str());
  } else if (state == IPP_JSTATE_COMPLETED) {
    OutLog(
        "[ERROR] Job %d was ended by the server before it was taken in for \"%s\"; it must be "
        "printed again.\n",
        id, intake->output().c_str());
  }
}

// A job the server accepted shortly before it was killed may be missing from
// its state file: PAPPL then forgets it, although its document is still in
// the spool folder. Such documents are taken in here, oldest job first, and
// the printer's next job id moves past them.
void TakeForgottenJobs(pappl_printer_t* printer) {
  for (const auto& document : SpoolDocuments(server->stateFolder + "/spool")) {
    int jobId = document.first.second;
    const std::string& path = document.second;
    if (document.first.first != papplPrinterGetID(printer) || papplPrinterFindJob(printer, jobId)) {
      continue;
    }
    std::string ext = std::filesystem::path(path).extension().string().substr(1);
    if (ext == "jpeg") ext = "jpg";
    std::string why;
    OrderedIntake* intake = IntakeOf(printer, &why);
    if (!intake) continue;
    if (!intake->IsTaken(jobId) && !LooksWhole(path)) {
      OutLog("[INFO] \"%s\", cut short while it was sent, is removed from the spool.\n",
             path.c_str());
    } else if (intake->IsTaken(jobId) || intake->Take(jobId, path, ext, "", &why)) {
      OutLog("[INFO] Job %d, accepted before the server stopped, is taken in from \"%s\".\n", jobId,
             path.c_str());
      if (papplPrinterGetNextJobID(printer) <= jobId) papplPrinterSetNextJobID(printer, jobId + 1);
    } else {
      OutLog("[ERROR] Job %d in \"%s\" could not be taken in: %s.\n", jobId, path.c_str(),
             why.c_str());
      continue;
    }
    platform::DeleteFile(path);
  }
}

bool PrintFile(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  return TakeJob(job, papplJobGetFilename(job), "pdf");
}

bool FilterDocument(pappl_job_t* job, pappl_device_t*, void* ext) {
  return TakeJob(job, papplJobGetFilename(job), static_cast<const char*>(ext));
}

// A raster job (PWG or Apple raster) becomes one image page per raster page.
struct RasterJob {
  RasterPages pages;
  images::Pixels page;
  bool black = false;  ///< 1-bit black: a set bit is a black dot
};

bool RasterStartJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  papplJobSetData(job, new RasterJob);
  return true;
}

bool RasterStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
  auto* raster = static_cast<RasterJob*>(papplJobGetData(job));
  const auto& header = options->header;
  raster->black = header.cupsBitsPerPixel == 1;
  raster->page = images::Pixels();
  raster->page.width = static_cast<int>(header.cupsWidth);
  raster->page.height = static_cast<int>(header.cupsHeight);
  raster->page.channels = header.cupsBitsPerPixel == 24 ? 3 : 1;
  if (!images::SizeIsSane(raster->page.width, raster->page.height)) return false;
  raster->page.color.assign(
      static_cast<size_t>(raster->page.width) * raster->page.height * raster->page.channels,
      static_cast<char>(0xFF));
  return true;
}

bool RasterWriteLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y,
                     const unsigned char* line) {
  auto* raster = static_cast<RasterJob*>(papplJobGetData(job));
  images::Pixels& page = raster->page;
  if (y >= static_cast<unsigned>(page.height)) return true;
  size_t rowBytes = static_cast<size_t>(page.width) * page.channels;
  char* row = &page.color[y * rowBytes];
  if (!raster->black) {
    memcpy(row, line, rowBytes);
    return true;
  }
  for (int x = 0; x < page.width; ++x) {
    row[x] = (line[x / 8] & (0x80 >> (x % 8))) ? 0 : static_cast<char>(0xFF);
  }
  return true;
}

bool RasterEndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
  auto* raster = static_cast<RasterJob*>(papplJobGetData(job));
  const auto& header = options->header;
  double dpiX = header.HWResolution[0] > 0 ? header.HWResolution[0] : 300;
  double dpiY = header.HWResolution[1] > 0 ? header.HWResolution[1] : 300;
  raster->pages.AddPage(raster->page, raster->page.width * 72.0 / dpiX,
                        raster->page.height * 72.0 / dpiY);
  raster->page = images::Pixels();
  return true;
}

bool RasterEndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  std::unique_ptr<RasterJob> raster(static_cast<RasterJob*>(papplJobGetData(job)));
  papplJobSetData(job, nullptr);
  std::string temp;
  std::string why;
  if (!platform::CreateUniqueTempFile(server->stateFolder, "raster", &temp, &why)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "No room for the raster pages: %s", why.c_str());
    return false;
  }
  Status written = raster->pages.Write(temp);
  bool taken = written && TakeJob(job, temp.c_str(), "pdf");
  if (!written) papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", written.reason().c_str());
  platform::DeleteFile(temp);
  return taken;
}

bool DriverSetup(pappl_system_t*, const char*, const char*, const char*,
                 pappl_pr_driver_data_t* data, ipp_t** attributes, void*) {
  // What IPP Everywhere asks for beyond PAPPL's own attributes.
  static const char* const kOverrides[] = {"document-number", "pages"};
  *attributes = ippNew();
  ippAddBoolean(*attributes, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  ippAddStrings(*attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "overrides-supported", 2, nullptr,
                kOverrides);
  ippAddString(*attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default",
               nullptr, "auto");
  ippAddString(*attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported",
               nullptr, "auto");
  data->identify_cb = Identify;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->has_supplies = true;
  data->duplex = PAPPL_DUPLEX_NORMAL;
  data->printfile_cb = PrintFile;
  data->rstartjob_cb = RasterStartJob;
  data->rstartpage_cb = RasterStartPage;
  data->rwriteline_cb = RasterWriteLine;
  data->rendpage_cb = RasterEndPage;
  data->rendjob_cb = RasterEndJob;
  data->format = "application/pdf";
  papplCopyString(data->make_and_model, "tarvelin PDF", sizeof(data->make_and_model));
  data->ppm = 60;
  data->ppm_color = 60;
  data->kind = PAPPL_KIND_DOCUMENT;
  data->orient_default = IPP_ORIENT_PORTRAIT;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->color_supported =
      PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME;
  data->color_default = PAPPL_COLOR_MODE_AUTO;
  data->raster_types =
      PAPPL_PWG_RASTER_TYPE_BLACK_1 | PAPPL_PWG_RASTER_TYPE_SGRAY_8 | PAPPL_PWG_RASTER_TYPE_SRGB_8;
  data->num_resolution = 2;
  data->x_resolution[0] = data->y_resolution[0] = 150;
  data->x_resolution[1] = data->y_resolution[1] = 300;
  data->x_default = data->y_default = 300;
  data->sides_supported = PAPPL_SIDES_ONE_SIDED;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->borderless = true;
  data->num_media = static_cast<int>(sizeof(kMedia) / sizeof(kMedia[0]));
  for (int i = 0; i < data->num_media; ++i) data->media[i] = kMedia[i];
  data->num_source = 1;
  data->source[0] = "auto";
  data->num_type = 1;
  data->type[0] = "stationery";
  pwg_media_t* media = pwgMediaForPWG(kMedia[0]);
  pappl_media_col_t& ready = data->media_ready[0];
  papplCopyString(ready.size_name, kMedia[0], sizeof(ready.size_name));
  papplCopyString(ready.source, "auto", sizeof(ready.source));
  papplCopyString(ready.type, "stationery", sizeof(ready.type));
  ready.size_width = media->width;
  ready.size_length = media->length;
  data->media_default = ready;
  return true;
}

// The output device does nothing: the pages go into the PDF on their own road.
bool DeviceOpen(pappl_device_t*, const char*, const char*) { return true; }
void DeviceClose(pappl_device_t*) {}
ssize_t DeviceRead(pappl_device_t*, void*, size_t) { return 0; }
ssize_t DeviceWrite(pappl_device_t*, const void*, size_t bytes) {
  return static_cast<ssize_t>(bytes);
}
pappl_preason_t DeviceStatus(pappl_device_t*) { return PAPPL_PREASON_NONE; }
bool DeviceList(pappl_device_cb_t, void*, pappl_deverror_cb_t, void*) { return false; }

// PAPPL writes its state file in place; a kill in the middle would leave it
// cut, and the jobs after the cut forgotten. It is written beside and
// renamed over the old one instead.
bool SaveState(pappl_system_t* system, void*) {
  std::string state = server->stateFolder + "/state", temp = state + ".new", why;
  if (!papplSystemSaveState(system, temp.c_str()) || !platform::SyncFileToDisk(temp, &why) ||
      !platform::ReplaceFile(temp, state, &why)) {
    OutLog("[ERROR] The server's state \"%s\" could not be saved%s%s.\n", state.c_str(),
           why.empty() ? "" : ": ", why.c_str());
    return false;
  }
  return true;
}

// Mends, before PAPPL reads it, what a killed server left in its state.
void RepairStateFile(const std::string& stateFolder) {
  std::string stateFile = stateFolder + "/state", text, why;
  if (!platform::ReadWholeFile(stateFile, &text)) return;
  std::string repaired = RepairSavedState(text, SpoolDocuments(stateFolder + "/spool"));
  if (repaired != text && !platform::WriteFileAtomically(stateFile, repaired, &why)) {
    OutLog("[ERROR] \"%s\" could not be written: %s.\n", stateFile.c_str(), why.c_str());
  }
}

struct Options {
  int port = 8631;
  std::string state, name = "tarvelin";
  std::vector<std::pair<std::string, std::string>> printers;  ///< name, output PDF
  bool network = false;    ///< listen on every address, with TLS and PAM logins
  std::string printGroup;  ///< who may print when on the network
};

int Usage() {
  fprintf(stderr,
          "Usage: tarvelin-printer server --output FILE.pdf [--name PRINTER] [--port N]\n"
          "         [--state DIR] [--printer NAME=FILE.pdf ...]\n"
          "         [--network --print-group GROUP]\n");
  return 2;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  if (argc < 2 || strcmp(argv[1], "server") != 0) return false;
  std::string output;
  for (int i = 2; i < argc; ++i) {
    std::string key = argv[i];
    if (key == "--network") {
      options->network = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    std::string value = argv[++i];
    size_t equals = value.find('=');
    if (key == "--port") {
      options->port = atoi(value.c_str());
    } else if (key == "--output") {
      output = value;
    } else if (key == "--state") {
      options->state = value;
    } else if (key == "--name") {
      options->name = value;
    } else if (key == "--print-group") {
      options->printGroup = value;
    } else if (key == "--printer" && equals != std::string::npos && equals > 0) {
      options->printers.emplace_back(value.substr(0, equals), value.substr(equals + 1));
    } else {
      return false;
    }
  }
  if (!output.empty()) options->printers.emplace(options->printers.begin(), options->name, output);
  // On the network only authenticated members of a group print.
  if (options->network && options->printGroup.empty()) return false;
  return options->port > 0 && options->port < 65536;
}

std::string Absolute(const std::string& path) {
  return !path.empty() && path[0] != '/' ? platform::CurrentFolder() + "/" + path : path;
}

// The PAPPL system: loopback without TLS, or on the network with TLS only
// (PAPPL's own self-signed certificate) and logins checked by PAM; the
// driver and the filters that take documents as they are.
pappl_system_t* MakeSystem(const Options& options) {
  papplDeviceAddScheme(kScheme, PAPPL_DEVTYPE_CUSTOM_LOCAL, DeviceList, DeviceOpen, DeviceClose,
                       DeviceRead, DeviceWrite, DeviceStatus, nullptr);
  int flags = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE;
  if (!options.network) flags |= PAPPL_SOPTIONS_NO_TLS;
  pappl_system_t* system = papplSystemCreate(
      static_cast<pappl_soptions_t>(flags), "tarvelin", options.port, "_print,_universal",
      (options.state + "/spool").c_str(), (options.state + "/server.log").c_str(),
      PAPPL_LOGLEVEL_INFO, options.network ? "login" : nullptr, options.network);
  if (!system) return nullptr;
  papplSystemAddListeners(system, options.network ? nullptr : "localhost");
  // PAPPL's page footer reads this text; without one it crashes.
  papplSystemSetFooterHTML(system, "tarvelin-printer: every job appended to one PDF");
  static pappl_pr_driver_t drivers[] = {
      {kDriver, "tarvelin PDF", "MFG:tarvelin;MDL:PDF;", nullptr}};
  papplSystemSetPrinterDrivers(system, 1, drivers, nullptr, nullptr, DriverSetup, nullptr);
  for (const auto& kind : kDocumentKinds) {
    if (strcmp(kind[1], "pdf") != 0) {
      papplSystemAddMIMEFilter(system, kind[0], "application/pdf", FilterDocument,
                               const_cast<char*>(kind[1]));
    }
  }
  RepairStateFile(options.state);
  papplSystemLoadState(system, (options.state + "/state").c_str());
  return system;
}

// Makes the printers asked for that the state does not have yet; one that
// exists keeps the output it has. False when one cannot be made.
bool MakeWantedPrinters(pappl_system_t* system, const Options& options) {
  for (const auto& wanted : options.printers) {
    pappl_printer_t* printer =
        papplSystemFindPrinter(system, ("/ipp/print/" + wanted.first).c_str(), 0, nullptr);
    std::string output = Absolute(wanted.second);
    if (printer && OutputOf(printer) != output) {
      fprintf(stderr, "tarvelin-printer: the printer \"%s\" keeps its output \"%s\"\n",
              wanted.first.c_str(), OutputOf(printer).c_str());
    }
    if (printer) continue;
    char uri[1024];
    httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof(uri), kScheme, nullptr, "", 0, output.c_str());
    printer =
        papplPrinterCreate(system, 0, wanted.first.c_str(), kDriver, "MFG:tarvelin;MDL:PDF;", uri);
    if (!printer) {
      fprintf(stderr, "tarvelin-printer: the printer \"%s\" cannot be made\n",
              wanted.first.c_str());
      return false;
    }
    if (papplSystemGetDefaultPrinterID(system) == 0) {
      papplSystemSetDefaultPrinterID(system, papplPrinterGetID(printer));
    }
  }
  return true;
}

// Starts each printer's intake, with the jobs a stopped server left. (The
// printers are listed first: a printer's page cannot be added while they are
// iterated.) False when there is no printer.
bool StartPrinters(pappl_system_t* system, const Options& options) {
  std::vector<pappl_printer_t*> printers;
  papplSystemIteratePrinters(
      system,
      [](pappl_printer_t* each, void* list) {
        static_cast<std::vector<pappl_printer_t*>*>(list)->push_back(each);
      },
      &printers);
  for (pappl_printer_t* each : printers) {
    if (options.network) papplPrinterSetPrintGroup(each, options.printGroup.c_str());
    std::string error;
    if (!IntakeOf(each, &error)) {
      fprintf(stderr, "tarvelin-printer: %s\n", error.c_str());
    } else {
      TakeForgottenJobs(each);
    }
  }
  return !printers.empty();
}

// Runs the server until SIGTERM or SIGINT, which end it cleanly: the flag is
// looked at by the server's own loop, where shutting down is safe.
void Run(pappl_system_t* system) {
  // PAPPL puts the jobs a killed server had spooled back in the queue but
  // starts none of them; a printer that is resumed looks at its queue.
  papplSystemAddTimerCallback(
      system, time(nullptr) + 1, 0,
      [](pappl_system_t* running, void*) {
        papplSystemIteratePrinters(
            running, [](pappl_printer_t* each, void*) { papplPrinterResume(each); }, nullptr);
        return false;
      },
      nullptr);
  std::signal(SIGTERM, [](int) { stopRequested = 1; });
  std::signal(SIGINT, [](int) { stopRequested = 1; });
  papplSystemAddTimerCallback(
      system, time(nullptr), 1,
      [](pappl_system_t* running, void*) {
        if (stopRequested) papplSystemShutdown(running);
        return !stopRequested;
      },
      nullptr);
  papplSystemRun(system);
  // The deliveries end before the printers they ask about go away.
  server->intakes.clear();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return Usage();
  if (options.state.empty()) {
    const char* home = getenv("HOME");
    options.state = std::string(home ? home : ".") + "/.local/share/tarvelin-printer";
  }
  options.state = Absolute(options.state);
  std::string why;
  if (!platform::CreateFolders(options.state, &why) ||
      !platform::EnsurePrivateFolder(options.state, &why)) {
    fprintf(stderr, "tarvelin-printer: the state folder \"%s\" cannot be used: %s\n",
            options.state.c_str(), why.c_str());
    return 1;
  }
  Server state;
  state.stateFolder = options.state;
  server = &state;
  pappl_system_t* system = MakeSystem(options);
  if (!system) {
    fprintf(stderr, "tarvelin-printer: the server cannot be made\n");
    return 1;
  }
  int status = 0;
  if (!MakeWantedPrinters(system, options)) {
    status = 1;
  } else if (!StartPrinters(system, options)) {
    fprintf(stderr, "tarvelin-printer: no printer yet: give its --output FILE.pdf\n");
    status = 2;
  } else {
    papplSystemSetSaveCallback(system, SaveState, nullptr);
    papplSystemSetEventCallback(system, JobEvent, nullptr);
    Run(system);
  }
  server->intakes.clear();
  papplSystemDelete(system);
  return status;
}
