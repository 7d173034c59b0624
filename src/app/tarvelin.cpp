#include "app/tarvelin.h"

#include <cstring>
#include <string>
#include <vector>

#include "app/options.h"
#include "config/command_options.h"
#include "config/log.h"
#include "config/maker.h"
#include "config/path_macros.h"
#include "config/settings.h"
#include "delivery/append_driver.h"
#include "delivery/flash_sync.h"
#include "platform/platform.h"
#include "printer/installation.h"
#include "printer/printer_defaults.h"

namespace {

const char kBuildDate[] = "Jun 24 2019";
const int kTableRows = 19;

void ShowUsage(const OptionEntry* table, const std::string& programFile) {
  const char* tilde = "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~\n";
  OutLog("%s", tilde);
  OutLog("%s\n", kMakerCompanyName);
  OutLog("%s\n", kMakerWebAddress);
  OutLog("%s\n", kMakerSupportMail);
  OutLog("Build: %s\n", kBuildDate);
  OutLog("%s", tilde);
  PrintUsage("tarvelin", " ", table);
  const char* name = programFile.c_str();
  OutLog("Example:\n");
  OutLog(
      "  %s -printer \"Nexo Printer\" -outfolder \"C:\\test\" -runexe "
      "\"C:\\windows\\system32\\notepad.exe\" -paper 1\n",
      name);
  OutLog(
      "  %s -addprinter -printer \"Printer2\" -outfolder \"C:\\test\" -runexe "
      "\"C:\\windows\\system32\\notepad.exe\" -paper 1\n",
      name);
  OutLog("  %s -printer \"Nexo Printer\" -orient2 1\n", name);
  OutLog("  %s -printer \"Nexo Printer\" -orient2 2\n", name);
  OutLog("  %s -printer \"Nexo Printer\" -paper2 1\n", name);
  OutLog("  %s -printer \"Nexo Printer\" -paper2 9\n", name);
  OutLog(
      "  %s -install-ostalgrove-printer -printer \"Quorvel Printer\" -addport QuorvelPort "
      "-monitorname \"Multi File Port Monitor\"\n",
      name);
  OutLog("  %s -appendfile D:\\in.pdf\n", name);
  OutLog("  %s -appendfile D:\\in.ps\n", name);
  OutLog("  %s -appendfile D:\\in.prn\n", name);
  OutLog("  %s -install-nexo-printer\n", name);
  OutLog("  %s -install-ostalgrove-printer\n", name);
}

// Reads a path setting that must fit a buffer of the given size and expands
// its macros; a longer value gives "" (a cut path would name another file).
std::string ReadExpandedPath(SettingsFile& file, const char* key, int size) {
  std::string value;
  if (!ReadSettingWhole(file, key, size, &value)) return std::string();
  return ExpandPathMacros(value);
}

// True when the option whose buffer is `field` had its value cut.
bool WasCut(const std::vector<const OptionEntry*>& cut, const void* field) {
  for (const OptionEntry* entry : cut) {
    if (entry->target == field) return true;
  }
  return false;
}

// The job's settings are read once here, written back once, and handed down.
void RunAppendJob(const char* job) {
  SettingsFile& file = ProgramSettings();
  JobSettings settings = ReadJobSettings(file);
  std::string output = ReadExpandedPath(file, "OutputPDFFile", 2000);
  file.Save();
  if (output.empty()) return;
  AppendFileToPDFFile(job, output.c_str(), settings);
}

// A print job and the sync never talk to the spooler: they do not pay for
// loading its library (on POSIX libcups, a third of what starting costs), nor
// fail for want of it.
bool UsesSpooler(const CommandOptions& o) {
  bool changesPrinters = o.paper2 != 0 || o.orient2 != 0 || o.installOstalgrovePrinter ||
                         o.installQuorvelPrinter || o.installNexoPrinter;
  return changesPrinters || (o.appendFile[0] == '\0' && !o.syncPdf);
}

}  // namespace

// The sync instance: the settings are looked up every second (the file is
// read again only when it changed), so a change takes effect without a
// restart.
void RunSyncLoop(int cycles) {
  SettingsFile& file = ProgramSettings();
  for (int cycle = 0; cycles < 0 || cycle < cycles; ++cycle) {
    std::string target = ReadExpandedPath(file, "SyncPDFFileToFlashDrive", 500);
    std::string source = target.empty() ? "" : ReadExpandedPath(file, "OutputPDFFile", 500);
    JobSettings settings = source.empty() ? JobSettings() : ReadJobSettings(file);
    file.Save();
    if (!source.empty()) SyncPDFFileToFlashDrive(source.c_str(), target.c_str(), settings);
    platform::CurrentClock().SleepMs(1000);
  }
}

void BuildOptionTable(CommandOptions* o, OptionEntry* t) {
  const char* printHelp = "Print usage information";
  const char* paperHelp = "Set default Paper Size (A4, Letter)";
  const OptionEntry rows[kTableRows] = {
      {"-printer", kOptionString, o->printerName, 1024, "Set name of the printer"},
      {"-outfolder", kOptionString, o->outFolder, 1024, "Set name of output folder"},
      {"-runexe", kOptionString, o->runExe, 1024, "Set name of .exe to launch"},
      {"-paper", kOptionInteger, &o->paper, 0, paperHelp},
      {"-paper2", kOptionInteger, &o->paper2, 0, paperHelp},
      {"-orient2", kOptionInteger, &o->orient2, 0, "Set default Orientation (0 or 1)"},
      {"-install-nexo-printer", kOptionFlag, &o->installNexoPrinter, 0,
       "Set options for Nexo Printer"},
      {"-install-ostalgrove-printer", kOptionFlag, &o->installOstalgrovePrinter, 0,
       "Set options for Ostal Printer"},
      {"-install-quorvel-printer", kOptionFlag, &o->installQuorvelPrinter, 0,
       "Set options for Quorvel Printer"},
      {"-addprinter", kOptionFlag, &o->addPrinter, 0, "Add a new printer"},
      {"-portname", kOptionString, o->portName, 200, ""},
      {"-monitorname", kOptionString, o->monitorName, 200, ""},
      {"-appendfile", kOptionString, o->appendFile, 1024, ""},
      {"-syncpdf", kOptionFlag, &o->syncPdf, 0, ""},
      {"-h", kOptionFlag, &o->help, 0, printHelp},
      {"-help", kOptionFlag, &o->help, 0, printHelp},
      {"--help", kOptionFlag, &o->help, 0, printHelp},
      {"-?", kOptionFlag, &o->help, 0, printHelp},
      {nullptr, 0, nullptr, 0, nullptr},
  };
  for (int i = 0; i < kTableRows; ++i) t[i] = rows[i];
}

int TarvelinMain(int argc, char** argv) {
  std::string commandLine;
  for (int i = 0; i < argc; ++i) commandLine += std::string("\"") + argv[i] + "\" ";
  OutLog("[CMD] %s\n", commandLine.c_str());

  std::string programFile = platform::BaseName(platform::ModuleFileName());

  static CommandOptions options;
  memset(&options, 0, sizeof(options));
  OptionEntry table[kTableRows];
  BuildOptionTable(&options, table);

  int originalCount = argc;
  std::vector<const OptionEntry*> cut;
  int parsed = ParseOptions(table, &argc, argv, &cut);
  if (!parsed || originalCount < 2 || argc > 3 || options.help) {
    ShowUsage(table, programFile);
    return -1;
  }

  // Every run lists the document information in the settings file.
  ReadDocumentInfo(ProgramSettings());
  ProgramSettings().Save();

  if (UsesSpooler(options) && !LoadSpoolerEntryPoints()) {
    OutLog("Can't load Spool library.\n");
    return -2;
  }

  if (options.paper2 != 0 || options.orient2 != 0) {
    if (options.printerName[0] == '\0') {
      OutLog("Please input correct printer name.\n");
      return -3;
    }
    if (options.paper2 != 0) {
      SetDefaultPaperSize(options.printerName, static_cast<int16_t>(options.paper2 & 0xFFFF));
    } else {
      SetDefaultOrientation(options.printerName, static_cast<int16_t>(options.orient2 & 0xFFFF));
    }
    return 0;
  }
  if (options.installOstalgrovePrinter || options.installQuorvelPrinter) {
    InstallVirtualPrinter(&options);
    return 0;
  }
  if (options.appendFile[0] != '\0') {
    if (WasCut(cut, options.appendFile)) {
      OutLog("[ERROR] The -appendfile value is longer than %d bytes; the job is not touched.\n",
             static_cast<int>(sizeof(options.appendFile)) - 1);
      return 0;
    }
    RunAppendJob(options.appendFile);
    return 0;
  }
  if (options.syncPdf) RunSyncLoop(-1);
  if (options.installNexoPrinter) InstallOrAddPrinter(&options);
  return 0;
}
