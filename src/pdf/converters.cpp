#include "pdf/converters.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "config/log.h"
#include "config/settings.h"
#include "pdf/pdf_file_info.h"
#include "pdf/process_runner.h"
#include "platform/platform.h"

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

// Runs a tool's command line, logs its output and tells whether it ended
// with exit code 0.
bool RunTool(const std::string& command) {
  std::string output;
  int exitCode = -1;
  int ran = NTSystemCommand2(command.c_str(), output, &exitCode);
  if (!output.empty()) OutLog("[PipeData]\n%s\n", output.c_str());
  if (ran && exitCode != 0) OutLog("[ERROR] The command ended with exit code %d.\n", exitCode);
  return ran && exitCode == 0;
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

// The interpreter renders the pages of a cut-off job that came before the
// cut and reports success, so a conforming PostScript job is also checked
// against its own structure comments: it must reach "%%EOF", and it must
// give at least the pages its "%%Pages:" comment announces.
bool PostScriptJobIsComplete(const char* path, int pagesConverted) {
  const size_t kPart = 65536;
  std::string head = ReadPart(path, 0, kPart);
  size_t start = head.find("%!PS-Adobe-");
  if (start == std::string::npos || start > 1024) return true;  // not a conforming job
  std::string tail = ReadPart(path, -static_cast<long long>(kPart), kPart);
  if (tail.find("%%EOF") == std::string::npos) return false;
  for (const std::string* part : {&head, &tail}) {
    for (size_t pos = part->find("%%Pages:"); pos != std::string::npos;
         pos = part->find("%%Pages:", pos + 1)) {
      const char* digits = part->c_str() + pos + 8;
      while (*digits == ' ' || *digits == '\t') ++digits;
      if (*digits >= '0' && *digits <= '9' && atoi(digits) > pagesConverted) return false;
    }
  }
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

int ConvertPSToPDFFile(const char* input, const char* output) {
  OutLog("Enter ConvertPSToPDFFile function.\n");
  if (!input || !output || !platform::PathExists(input)) return 0;
  std::string gs = ToolPath(std::string("gs") + platform::kPathSeparator + "gswin32.exe");
  if (!platform::PathExists(gs)) {
    OutLog("\"%s\" is not exist.\n", gs.c_str());
    return 0;
  }
  std::string paper = ReadSettingText("Options", "PDFPaperSize", "");
  if (!paper.empty() && !IsPaperSizeWord(paper.c_str())) {
    OutLog("[ERROR] PDFPaperSize \"%s\" is not a paper size name; converting without it.\n",
           paper.c_str());
    paper.clear();
  }
  if (RefuseQuotedPaths({gs.c_str(), input, output})) return 0;

  std::string command = "\"" + gs + "\" -q -dBATCH -dSAFER -dNOPAUSE";
  if (!paper.empty()) command += " -sPAPERSIZE=" + paper + " -dFIXEDMEDIA -dPDFFitPage";
  command += " -sDEVICE=pdfwrite -dAutoRotatePages=/PageByPage -sOutputFile=\"";
  command += output;
  command += "\" -f \"";
  command += input;
  command += "\" -c quit";
  OutLog("[CMD] %s\n", command.c_str());
  bool succeeded = RunTool(command);

  if (!platform::PathExists(output)) {
    OutLog("\"%s\" is not exist.\n", output);
    return 0;
  }
  // The interpreter leaves a partial PDF behind when the job is damaged; such
  // a file must never be taken for the job.
  int pages = GetPDFFilePageCount(output);
  if (!succeeded || pages < 1 || !PostScriptJobIsComplete(input, pages)) {
    OutLog("[ERROR] Ghostscript could not convert \"%s\" (%d pages readable); \"%s\" removed.\n",
           input, pages < 0 ? 0 : pages, output);
    platform::DeleteFile(output);
    return 0;
  }
  OutLog("Exit ConvertPSToPDFFile function.\n");
  return 1;
}

int PDFSDK_CombineTwoPDFs(const char* first, const char* second, const char* output) {
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
  bool succeeded = RunTool(command);
  if (!platform::PathExists(output)) {
    OutLog("\"%s\" is not exist.\n", output);
    return 0;
  }
  if (!succeeded) return 0;
  OutLog("Exit PDFSDK_CombineTwoPDFs function.\n");
  return 1;
}

int AppendPDFPagesByTool(const char* added, const char* receiving) {
  if (!added || !receiving || !*added || !*receiving) return 0;
  if (!platform::PathExists(receiving)) {
    OutLog("[ERROR] Sorry, I can't locate existing \"%s\" file, I will copy \"%s\" to \"%s\"\n",
           receiving, added, receiving);
    return platform::CopyFileAtomically(added, receiving) ? 1 : 0;
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
  bool succeeded = RunTool(command);
  return succeeded && platform::PathExists(receiving) ? 1 : 0;
}
