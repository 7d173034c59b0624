#include "delivery/page_writers.h"

#include <cstdio>
#include <string>
#include <vector>

#include "config/log.h"
#include "config/temp_names.h"
#include "delivery/converters.h"
#include "pdf/pdf_merger.h"
#include "platform/platform.h"

namespace {

bool HasPdfExtension(const std::string& path) {
  if (path.size() < 4) return false;
  std::string ext = path.substr(path.size() - 4);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return ext == ".pdf";
}

Status CopyFailure(const char* from, const char* to, const std::string& error) {
  OutLog("[ERROR] Could not copy \"%s\" to \"%s\": %s\n", from, to, error.c_str());
  return Status::Failure("could not copy \"" + std::string(from) + "\": " + error);
}

// Copies the output to a temporary name for the concatenation tool, which
// must not write over a file it reads.
Status CombineByTool(const char* converted, const char* output, intptr_t lockHandle) {
  char copy[platform::kMaxPathLength];
  if (!TempFileName(sizeof(copy), copy, ".pdf")) {
    return Status::Failure("no temporary name for a copy of the output");
  }
  // The copy in the shared temporary folder is for this program only.
  std::string error;
  Status result = Status::Failure("the page tool pdfsdk.dll failed");
  if (!platform::CopyFileAtomically(output, copy, 0600, &error)) {
    result = CopyFailure(output, copy, error);
  } else {
    std::string why;
    if (PDFSDK_CombineTwoPDFs(copy, converted, output, lockHandle, &why)) {
      result = Status();
    } else if (!why.empty()) {
      result = Status::Failure("pdfsdk.dll: " + why);
    }
  }
  DeleteFileLogged(copy);
  return result;
}

Status WriteByCopy(const char* converted, const char* output, const JobSettings&, intptr_t) {
  std::string error;
  bool copied = platform::CopyFileAtomically(converted, output, 0644, &error);
  OutLog("Copy from \"%s\" to \"%s\"\n", converted, output);
  return copied ? Status() : CopyFailure(converted, output, error);
}

Status WriteByMerger(const char* converted, const char* output, const JobSettings& settings,
                     intptr_t) {
  return AppendPDFByMerger(converted, output, settings.info);
}

Status WriteByPageTool(const char* converted, const char* output, const JobSettings&,
                       intptr_t lockHandle) {
  std::string why;
  if (AppendPDFPagesByTool(converted, output, lockHandle, &why)) return Status();
  return Status::Failure(why.empty() ? "the page tool pdfutil.dll failed" : "pdfutil.dll: " + why);
}

Status WriteByConcatenationTool(const char* converted, const char* output, const JobSettings&,
                                intptr_t lockHandle) {
  return CombineByTool(converted, output, lockHandle);
}

}  // namespace

// A copy when there is no output yet, else the method AppendPDFMethod names;
// nullptr for a method that adds nothing.
WritePages ChooseWriter(bool outputExists, int method) {
  if (!outputExists) return WriteByCopy;
  switch (method) {
    case 1:
      return WriteByMerger;
    case 2:
      return WriteByPageTool;
    case 3:
      return WriteByConcatenationTool;
    default:
      return nullptr;
  }
}

Status AppendPDFByMerger(const char* newPdf, const char* outputPdf, const DocumentInfo& info) {
  if (!platform::PathExists(newPdf)) {
    return Status::Failure("\"" + std::string(newPdf) + "\" does not exist");
  }
  if (platform::PathExists(outputPdf)) return MergeIntoOutputPDF(newPdf, outputPdf, info);
  std::string error;
  if (platform::CopyFileAtomically(newPdf, outputPdf, 0644, &error)) return Status();
  return CopyFailure(newPdf, outputPdf, error);
}

Status MergeIntoOutputPDF(const char* newPdf, const char* outputPdf, const DocumentInfo& info) {
  char copy[platform::kMaxPathLength] = "";
  std::string error;
  // The merger appends to the output in place when the output itself is
  // its first input; an output of another name is merged from a copy.
  if (HasPdfExtension(outputPdf)) {
    snprintf(copy, sizeof(copy), "%s", outputPdf);
  } else if (!TempFileName(sizeof(copy), copy, ".pdf")) {
    return Status::Failure("no temporary name for a copy of the output");
  } else if (!platform::CopyFileAtomically(outputPdf, copy, 0600, &error)) {
    DeleteFileLogged(copy);
    return CopyFailure(outputPdf, copy, error);
  }
  // The merger takes an input's kind from its name: a PDF under another name
  // (an output called "jobs") gets a ".pdf" name for the merge.
  std::string added = newPdf;
  char alias[platform::kMaxPathLength] = "";
  if (!HasPdfExtension(added)) {
    if (!TempFileName(sizeof(alias), alias, ".pdf") ||
        !platform::LinkOrCopyFile(newPdf, alias, &error)) {
      OutLog("[ERROR] Could not give \"%s\" a PDF name: %s\n", newPdf, error.c_str());
      if (std::string(copy) != outputPdf) DeleteFileLogged(copy);
      return Status::Failure("could not give \"" + std::string(newPdf) + "\" a PDF name: " + error);
    }
    added = alias;
  }
  std::vector<std::string> inputs{copy, added};
  OutLog("PDFMerger to \"%s\"\n", outputPdf);
  Status result = PDFMerger(inputs, outputPdf, info);
  if (std::string(copy) != outputPdf) DeleteFileLogged(copy);
  if (alias[0]) DeleteFileLogged(alias);
  return result;
}
