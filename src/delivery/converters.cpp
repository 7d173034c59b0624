#include "delivery/converters.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "config/log.h"
#include "config/settings.h"
#include "config/temp_names.h"
#include "pdf/image/image.h"
#include "pdf/pdf_file_info.h"
#include "pdf/pdf_merger.h"
#include "pdf/picture_pages.h"
#include "platform/platform.h"
#include "process/process_runner.h"

namespace {

std::string ToolPath(const std::string& relative) {
  return platform::ProgramFolder() + platform::kPathSeparator + relative;
}

// A double quote inside a quoted path would end the quoting early and change
// what the command line means, so such a path is never passed on.
bool RefuseQuotedPaths(std::initializer_list<const char*> paths) {
  for (const char* path : paths) {
    if (strchr(path, '"')) {
      OutLog("[ERROR] \"%s\" holds a double quote and cannot be passed on a command line.\n", path);
      return true;
    }
  }
  return false;
}

// The line of a tool's output that says what went wrong: the first that
// speaks of an error, else the last one; "" for no output.
std::string ToolErrorLine(const std::string& output) {
  std::string last;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.find("rror") != std::string::npos) return line;
    if (!line.empty()) last = line;
    start = end + 1;
  }
  return last;
}

// Runs a tool's command line and logs its output. Fails with the tool's own
// error line when it did not end with exit code 0.
Status RunTool(const std::string& command, const ChildLimits& limits = ChildLimits()) {
  std::string output;
  int exitCode = -1;
  int ran = NTSystemCommand2(command.c_str(), output, &exitCode, &limits);
  if (!output.empty()) OutLog("[PipeData]\n%s\n", output.c_str());
  if (ran && exitCode != 0) OutLog("[ERROR] The command ended with exit code %d.\n", exitCode);
  if (ran && exitCode == 0) return Status();
  std::string line = ToolErrorLine(output);
  std::string code = !ran           ? "it could not be started"
                     : exitCode < 0 ? "it was stopped"
                                    : "exit code " + std::to_string(exitCode);
  return Status::Failure(line.empty() ? code : line + " (" + code + ")");
}

// A page tool keeps the output's lock for as long as it runs, so a tool that
// outlives a killed run cannot rename a stale result over a newer output.
ChildLimits ToolLimits(intptr_t lockHandle) {
  ChildLimits limits;
  limits.inheritHandle = lockHandle;
  return limits;
}

// Reads at most size bytes of a file from offset (negative: from the end).
std::string ReadPart(const char* path, long long offset, size_t size) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string();
  in.seekg(0, std::ios::end);
  long long length = static_cast<long long>(in.tellg());
  long long start = offset >= 0 ? offset : std::max(0LL, length + offset);
  in.seekg(start);
  std::string part(size, '\0');
  in.read(&part[0], static_cast<std::streamsize>(size));
  part.resize(static_cast<size_t>(in.gcount()));
  return part;
}

// The value of the first "%%Pages:" comment at a line start in text from
// `from` on: its number, -2 for "(atend)", -1 when there is none.
int PagesComment(const std::string& text, size_t from) {
  for (size_t pos = text.find("%%Pages:", from); pos != std::string::npos;
       pos = text.find("%%Pages:", pos + 1)) {
    if (pos > 0 && text[pos - 1] != '\n' && text[pos - 1] != '\r') continue;
    const char* value = text.c_str() + pos + 8;
    while (*value == ' ' || *value == '\t') ++value;
    if (strncmp(value, "(atend)", 7) == 0) return -2;
    if (*value >= '0' && *value <= '9') return atoi(value);
  }
  return -1;
}

// A name that the interpreter reads byte for byte: valid UTF-8 without
// control characters.
bool IsPlainName(const std::string& name) {
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return false;
  }
  return platform::IsValidUtf8(name);
}

// The job as the interpreter must see it: an absolute path, so that a name
// beginning with "-" can never be read as a switch, and a plain one: a name
// that is not valid UTF-8 is handed over as a link (or copy) with a plain
// name, which *alias receives for removal afterwards.
bool JobPathForInterpreter(const char* input, std::string* path, std::string* alias) {
  *path = input;
  if (!path->empty() && !platform::IsPathSeparator((*path)[0]) &&
      !(path->size() > 1 && (*path)[1] == ':')) {
    *path = platform::CurrentFolder() + platform::kPathSeparator + *path;
  }
  if (IsPlainName(*path)) return true;
  char name[platform::kMaxPathLength];
  if (!TempFileName(sizeof(name), name, ".ps")) return false;
  std::string error;
  if (!platform::LinkOrCopyFile(*path, name, &error)) {
    OutLog("[ERROR] Could not link \"%s\" to \"%s\": %s\n", input, name, error.c_str());
    return false;
  }
  OutLog("[INFO] \"%s\" is converted through \"%s\".\n", input, name);
  *path = *alias = name;
  return true;
}

}  // namespace

bool IsPaperSizeWord(const char* value) {
  if (!value || !*value) return false;
  for (const char* p = value; *p; ++p) {
    char c = *p;
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

int AnnouncedPageCount(const char* path) {
  const size_t kPart = 65536;
  std::string head = ReadPart(path, 0, kPart);
  size_t start = head.find("%!PS-Adobe-");
  if (start == std::string::npos || start > 1024) return 0;  // not a structured job
  std::string tail = ReadPart(path, -static_cast<long long>(kPart), kPart);
  if (tail.find("%%EOF") == std::string::npos) return -1;
  // The header's count, before "%%EndComments"; an embedded document's own
  // comments further on do not count.
  size_t end = head.find("%%EndComments");
  int pages = PagesComment(end == std::string::npos ? head : head.substr(0, end), 0);
  if (pages != -2) return pages < 0 ? 0 : pages;
  size_t trailer = tail.rfind("%%Trailer");
  int atEnd = trailer == std::string::npos ? -1 : PagesComment(tail, trailer);
  return atEnd < 0 ? -1 : atEnd;
}

namespace {

// Says in *machineFault (when given) why the output's folder, not the job,
// made the conversion fail. Called before a partial output is removed: that
// is when the disk is as full as it was for the interpreter.
void NoteMachineFault(const char* output, std::string* machineFault) {
  if (!machineFault) return;
  std::string folder = platform::DirName(output);
  if (folder.empty()) folder = ".";
  std::string why;
  if (!platform::HasRoomFor(folder, kRoomForConversion, &why)) {
    *machineFault = "\"" + folder + "\" cannot take the converted PDF now: " + why;
  }
}

// What the interpreter left in output, checked: a partial PDF of a damaged
// job must never be taken for the job (it is removed), and as the
// interpreter renders the pages before a cut and reports success, a
// structured job must also give exactly the pages it announces.
Status CheckConvertedPDF(const char* input, const char* output, const Status& ran,
                         std::string* machineFault) {
  std::string failed = "Ghostscript could not convert \"" + std::string(input) + "\"";
  if (!platform::PathExists(output)) {
    OutLog("\"%s\" is not exist.\n", output);
    NoteMachineFault(output, machineFault);
    return Status::Failure(failed + ": " + (ran ? "it wrote no PDF" : ran.reason()));
  }
  int pages = GetPDFFilePageCount(output);
  int announced = AnnouncedPageCount(input);
  bool cutShort = announced < 0 || (announced > 0 && pages != announced);
  if (ran && pages >= 1 && !cutShort) return Status();
  std::string why = !ran ? ran.reason() : "no page could be read";
  if (cutShort) {
    why = "it announces " + (announced < 0 ? std::string("more") : std::to_string(announced)) +
          " pages; " + std::to_string(pages < 0 ? 0 : pages) + " were converted";
    OutLog("[ERROR] \"%s\" %s.\n", input, why.c_str());
  }
  OutLog("[ERROR] Ghostscript could not convert \"%s\" (%d pages readable); \"%s\" removed.\n",
         input, pages < 0 ? 0 : pages, output);
  NoteMachineFault(output, machineFault);
  platform::DeleteFile(output);
  return Status::Failure(failed + ": " + why);
}

}  // namespace

Status ConvertPSToPDFFile(const char* input, const char* output, const JobSettings& settings,
                          std::string* machineFault, const std::function<void()>& meanwhile) {
  OutLog("Enter ConvertPSToPDFFile function.\n");
  if (!input || !output || !platform::PathExists(input)) {
    return Status::Failure(std::string("\"") + (input ? input : "") + "\" does not exist");
  }
  // A link or a device as job could hand the interpreter (and through its
  // messages, the log) any file the program can read.
  if (!platform::IsPlainRegularFile(input)) {
    OutLog("[ERROR] \"%s\" is not a regular file; it is not converted.\n", input);
    return Status::Failure(std::string("\"") + input + "\" is not a regular file");
  }
  std::string gs = ToolPath(std::string("gs") + platform::kPathSeparator + "gswin32.exe");
  if (!platform::PathExists(gs)) {
    OutLog("\"%s\" is not exist.\n", gs.c_str());
    return Status::Failure("Ghostscript is missing: \"" + gs + "\" does not exist");
  }
  std::string paper = settings.pdfPaperSize;
  if (!paper.empty() && !IsPaperSizeWord(paper.c_str())) {
    OutLog("[ERROR] PDFPaperSize \"%s\" is not a paper size name; converting without it.\n",
           paper.c_str());
    paper.clear();
  }
  if (RefuseQuotedPaths({gs.c_str(), input, output})) {
    return Status::Failure("a path holds a double quote");
  }
  std::string job, alias;
  if (!JobPathForInterpreter(input, &job, &alias)) {
    return Status::Failure("the job's name cannot be handed to Ghostscript");
  }

  std::string command = "\"" + gs + "\" -q -dBATCH -dSAFER -dNOPAUSE";
  if (!paper.empty()) command += " -sPAPERSIZE=" + paper + " -dFIXEDMEDIA -dPDFFitPage";
  command += " -sDEVICE=pdfwrite -dAutoRotatePages=/PageByPage -sOutputFile=\"";
  command += output;
  command += "\" -f \"";
  command += job;
  command += "\" -c quit";
  OutLog("[CMD] %s\n", command.c_str());
  ChildLimits limits;
  limits.timeoutSeconds = settings.ghostscriptTimeLimit > 0 ? settings.ghostscriptTimeLimit : 600;
  limits.whileRunning = meanwhile;
  // What the interpreter creates (also after this run was killed) is
  // readable by this account only: a converted job is a private document.
  unsigned mask = platform::SetFileCreationMask(077);
  Status ran = RunTool(command, limits);
  platform::SetFileCreationMask(mask);
  if (!alias.empty()) DeleteFileLogged(alias.c_str());

  Status checked = CheckConvertedPDF(input, output, ran, machineFault);
  if (!checked) return checked;
  OutLog("Exit ConvertPSToPDFFile function.\n");
  return Status();
}

int PDFSDK_CombineTwoPDFs(const char* first, const char* second, const char* output,
                          intptr_t lockHandle, std::string* why) {
  if (!first || !second || !output || !platform::PathExists(first) ||
      !platform::PathExists(second)) {
    return 0;
  }
  OutLog("Enter PDFSDK_CombineTwoPDFs function.\n");
  std::string tool = ToolPath("pdfsdk.dll");
  if (!platform::PathExists(tool)) {
    OutLog("\"%s\" is not exist.\n", tool.c_str());
    return 0;
  }
  if (RefuseQuotedPaths({tool.c_str(), first, second, output})) return 0;
  std::string command = "\"" + tool + "\" \"" + first + "\" \"" + second + "\" cat output \"" +
                        output + "\" dont_ask";
  if (command.size() >= 2048) {
    OutLog("[ERROR] The command for \"%s\" is longer than 2047 bytes.\n", output);
    return 0;
  }
  OutLog("[CMD] %s\n", command.c_str());
  Status ran = RunTool(command, ToolLimits(lockHandle));
  if (!ran && why) *why = ran.reason();
  bool succeeded = ran.ok();
  if (!platform::PathExists(output)) {
    OutLog("\"%s\" is not exist.\n", output);
    return 0;
  }
  if (!succeeded) return 0;
  OutLog("Exit PDFSDK_CombineTwoPDFs function.\n");
  return 1;
}

int AppendPDFPagesByTool(const char* added, const char* receiving, intptr_t lockHandle,
                         std::string* why) {
  if (!added || !receiving || !*added || !*receiving) return 0;
  if (!platform::PathExists(receiving)) {
    OutLog("[ERROR] Sorry, I can't locate existing \"%s\" file, I will copy \"%s\" to \"%s\"\n",
           receiving, added, receiving);
    std::string error;
    if (platform::CopyFileAtomically(added, receiving, 0644, &error)) return 1;
    OutLog("[ERROR] Could not copy \"%s\" to \"%s\": %s\n", added, receiving, error.c_str());
    return 0;
  }
  std::string tool = ToolPath("pdfutil.dll");
  if (RefuseQuotedPaths({tool.c_str(), receiving, added})) return 0;
  std::string command = "\"" + tool + "\" -i \"" + receiving + "\" \"-*\" \"" + added + "\"";
  if (command.size() >= 4096) {
    OutLog("[ERROR] The command for \"%s\" is longer than 4095 bytes.\n", receiving);
    return 0;
  }
  OutLog("[Append After Last Page Option], Output PDF filename is: \"%s\"\n", receiving);
  OutLog("[CMD] \"%s\"\n", command.c_str());
  Status ran = RunTool(command, ToolLimits(lockHandle));
  if (!ran && why) *why = ran.reason();
  bool succeeded = ran.ok();
  return succeeded && platform::PathExists(receiving) ? 1 : 0;
}

namespace {

Status ConvertDocument(const char* input, const char* output, const JobSettings& settings,
                       std::string* machineFault, const std::function<void()>& meanwhile) {
  if (!settings.documentsAsTheyAre)
    return ConvertPSToPDFFile(input, output, settings, machineFault, meanwhile);
  if (!platform::IsPlainRegularFile(input)) {
    return Status::Failure(std::string("\"") + input + "\" is not a regular file");
  }
  char bytes[16] = {};
  std::ifstream file(input, std::ios::binary);
  file.read(bytes, sizeof(bytes));
  std::string head(bytes, static_cast<size_t>(file.gcount()));
  images::ImageFormat format = images::SniffImageFormat(head);
  if (head.compare(0, 5, "%PDF-") == 0) {
    std::string why;
    if (GetPDFFilePageCount(input, &why) < 1) {
      return Status::Failure(std::string("\"") + input + "\" is not a readable PDF: " + why);
    }
    std::string error;
    if (platform::CopyFileAtomically(input, output, 0600, &error)) return Status();
    NoteMachineFault(output, machineFault);
    return Status::Failure(std::string("\"") + input + "\" could not be copied: " + error);
  }
  if ((format == images::ImageFormat::kJpeg || format == images::ImageFormat::kPng) &&
      IsPictureFile(input)) {
    std::vector<std::string> inputs{input};
    Status made = PDFMerger(inputs, output, settings.info);
    if (made && GetPDFFilePageCount(output) >= 1) return made;
    NoteMachineFault(output, machineFault);
    platform::DeleteFile(output);
    if (!made) return made;
    return Status::Failure(std::string("no page could be made of \"") + input + "\"");
  }
  return ConvertPSToPDFFile(input, output, settings, machineFault, meanwhile);
}

}  // namespace

Status ConvertDocumentToPDF(const char* input, const char* output, const JobSettings& settings,
                            std::string* machineFault, const std::function<void()>& meanwhile) {
  bool done = false;
  std::function<void()> once = [&] {
    if (!done && meanwhile) meanwhile();
    done = true;
  };
  Status converted = ConvertDocument(input, output, settings, machineFault, once);
  once();
  return converted;
}
