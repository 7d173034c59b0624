#include "pdf/append_driver.h"

#include <string>
#include <vector>

#include "app/command_options.h"
#include "config/log.h"
#include "config/settings.h"
#include "config/temp_names.h"
#include "pdf/converters.h"
#include "pdf/pdf_file_info.h"
#include "pdf/pdf_merger.h"
#include "platform/platform.h"

namespace {

const int kMaxPath = 260;

void CleanUp(int deleteTempFiles, const char* converted, const char* input) {
  if (!deleteTempFiles) return;
  DeleteFileLogged(converted);
  DeleteFileLogged(input);
}

// Copies the output to a temporary name for the concatenation tool, which
// must not write over a file it reads.
int CombineByTool(const char* converted, const char* output) {
  char copy[kMaxPath];
  if (!TempFileName(sizeof(copy), copy, ".pdf")) return 0;
  int result = 0;
  if (platform::CopyFileAtomically(output, copy)) {
    result = PDFSDK_CombineTwoPDFs(copy, converted, output);
  } else {
    OutLog("[ERROR] Could not copy \"%s\" to \"%s\".\n", output, copy);
  }
  DeleteFileLogged(copy);
  return result;
}

}  // namespace

std::string OutputLockPath(const std::string& outputPdf) { return outputPdf + ".lock"; }

int AppendFileToPDFFile(const char* input, const char* output, CommandOptions* options) {
  if (!input || !output || !*input || !*output) return 0;
  OutLog("Enter AppendFileToPDFFile \"%s\" to \"%s\"\n", input, output);
  char converted[kMaxPath];
  CountedTempFileName(sizeof(converted), converted, ".pdf");
  OutLog("CountedTempFileName: \"%s\"\n", converted);
  if (!converted[0] || !ConvertPSToPDFFile(input, converted)) {
    OutLog("Failed to convert from \"%s\" to \"%s\"\n", input, converted);
    return 0;
  }
  if (ReadSettingInt("Options", "AppendPDFDuringPrinting", 1) == 0) return 0;
  int deleteTempFiles = ReadSettingInt("Options", "DeleteTempFiles", 1);

  // From the look at the output until its write is done no other run may
  // change or move it.
  platform::FileLock lock(OutputLockPath(output));
  if (!lock.Held()) OutLog("[ERROR] Could not lock \"%s\".\n", OutputLockPath(output).c_str());

  if (!platform::PathExists(output)) {
    bool copied = platform::CopyFileAtomically(converted, output);
    OutLog("Copy from \"%s\" to \"%s\"\n", converted, output);
    if (!copied || !platform::PathExists(output)) {
      OutLog("[ERROR] Could not create \"%s\"; the job stays in \"%s\" and \"%s\".\n", output,
             converted, input);
      return 0;
    }
    CleanUp(deleteTempFiles, converted, input);
    return 1;
  }

  int method = ReadSettingInt("Options", "AppendPDFMethod", 1);
  if (method >= 1 && method <= 3) {
    int added = 0;
    if (method == 1) {
      added = AppendPDFByMerger(converted, output, options);
    } else {
      // The tools' own word is not enough: the output must hold exactly the
      // old pages and the new ones.
      int before = GetPDFFilePageCount(output);
      int extra = GetPDFFilePageCount(converted);
      added =
          method == 2 ? AppendPDFPagesByTool(converted, output) : CombineByTool(converted, output);
      if (added && (before < 0 || GetPDFFilePageCount(output) != before + extra)) added = 0;
    }
    if (added) {
      CleanUp(deleteTempFiles, converted, input);
    } else {
      OutLog(
          "[ERROR] The pages of \"%s\" did not reach \"%s\"; the job stays in \"%s\" and "
          "\"%s\".\n",
          input, output, converted, input);
    }
  }
  OutLog("Exit AppendFileToPDFFile \"%s\" to \"%s\"\n", input, output);
  return 1;
}

int AppendPDFByMerger(const char* newPdf, const char* outputPdf, CommandOptions* options) {
  if (!platform::PathExists(newPdf)) return 0;
  if (platform::PathExists(outputPdf)) return MergeIntoOutputPDF(newPdf, outputPdf, options);
  return platform::CopyFileAtomically(newPdf, outputPdf) ? 1 : 0;
}

int MergeIntoOutputPDF(const char* newPdf, const char* outputPdf, CommandOptions* options) {
  char copy[kMaxPath];
  if (!TempFileName(sizeof(copy), copy, ".pdf")) return 0;
  if (!platform::CopyFileAtomically(outputPdf, copy)) {
    OutLog("[ERROR] Could not copy \"%s\" to \"%s\".\n", outputPdf, copy);
    DeleteFileLogged(copy);
    return 0;
  }
  std::vector<std::string> inputs{copy, newPdf};
  OutLog("PDFMerger to \"%s\"\n", outputPdf);
  int result = PDFMerger(inputs, outputPdf, options);
  DeleteFileLogged(copy);
  return result;
}
