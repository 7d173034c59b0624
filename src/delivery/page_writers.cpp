#include "delivery/page_writers.h"

#include <cstdio>
#include <string>
#include <vector>

#include "config/log.h"
#include "config/temp_names.h"
#include "delivery/converters.h"
#include "pdf/output_end.h"
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

Status WriteByCopy(const char* converted, const char* output, const JobSettings&, intptr_t,
                   OutputEnd* end, bool*) {
  if (end) end->Close();
  std::string error;
  bool copied = platform::CopyFileAtomically(converted, output, 0644, &error);
  OutLog("Copy from \"%s\" to \"%s\"\n", converted, output);
  return copied ? Status() : CopyFailure(converted, output, error);
}

Status WriteByMerger(const char* converted, const char* output, const JobSettings& settings,
                     intptr_t, OutputEnd* end, bool* updated) {
  if (!platform::PathExists(converted)) {
    return Status::Failure("\"" + std::string(converted) + "\" does not exist");
  }
  return MergeIntoOutputPDF(converted, output, settings.info, *end, updated);
}

Status WriteByPageTool(const char* converted, const char* output, const JobSettings&,
                       intptr_t lockHandle, OutputEnd* end, bool*) {
  if (end) end->Close();
  std::string why;
  if (AppendPDFPagesByTool(converted, output, lockHandle, &why)) return Status();
  return Status::Failure(why.empty() ? "the page tool pdfutil.dll failed" : "pdfutil.dll: " + why);
}

Status WriteByConcatenationTool(const char* converted, const char* output, const JobSettings&,
                                intptr_t lockHandle, OutputEnd* end, bool*) {
  if (end) end->Close();
  return CombineByTool(converted, output, lockHandle);
}

// Merges the output (in place, or a temporary copy of an output whose name
// does not end in ".pdf") and the new pages (under a PDF name) into a whole
// new output.
Status MergeWhole(const std::string& added, const char* outputPdf, const DocumentInfo& info) {
  char copy[platform::kMaxPathLength] = "";
  std::string error;
  if (HasPdfExtension(outputPdf)) {
    snprintf(copy, sizeof(copy), "%s", outputPdf);
  } else if (!TempFileName(sizeof(copy), copy, ".pdf")) {
    return Status::Failure("no temporary name for a copy of the output");
  } else if (!platform::CopyFileAtomically(outputPdf, copy, 0600, &error)) {
    DeleteFileLogged(copy);
    return CopyFailure(outputPdf, copy, error);
  }
  std::vector<std::string> inputs{copy, added};
  OutLog("PDFMerger to \"%s\"\n", outputPdf);
  Status result = PDFMerger(inputs, outputPdf, info);
  if (std::string(copy) != outputPdf) DeleteFileLogged(copy);
  return result;
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
  if (platform::PathExists(outputPdf)) {
    OutputEnd end;
    end.Read(outputPdf);  // an end that cannot be read is written whole
    bool updated = false;
    return MergeIntoOutputPDF(newPdf, outputPdf, info, end, &updated);
  }
  std::string error;
  if (platform::CopyFileAtomically(newPdf, outputPdf, 0644, &error)) return Status();
  return CopyFailure(newPdf, outputPdf, error);
}

bool TakesUpdate(const char* output, const OutputEnd& end) {
  std::string why = end.updateRefused();
  if (why.empty() && !HasPdfExtension(output)) {
    why = "its name does not end in \".pdf\"; it is merged from a copy";
  } else if (why.empty() && !platform::CanWriteInPlace(output)) {
    why = "it is a link, or this run may replace it but not write to it";
  }
  if (why.empty()) return true;
  OutLog("[INFO] \"%s\" is written whole: %s.\n", output, why.c_str());
  return false;
}

Status MergeIntoOutputPDF(const char* newPdf, const char* outputPdf, const DocumentInfo& info,
                          OutputEnd& end, bool* updated) {
  *updated = false;
  std::string error;
  // The merger takes an input's kind from its name: a PDF under another name
  // (an output called "jobs") gets a ".pdf" name for the merge.
  std::string added = newPdf;
  char alias[platform::kMaxPathLength] = "";
  if (!HasPdfExtension(added)) {
    if (!TempFileName(sizeof(alias), alias, ".pdf") ||
        !platform::LinkOrCopyFile(newPdf, alias, &error)) {
      OutLog("[ERROR] Could not give \"%s\" a PDF name: %s\n", newPdf, error.c_str());
      return Status::Failure("could not give \"" + std::string(newPdf) + "\" a PDF name: " + error);
    }
    added = alias;
  }
  Status result = Status::Failure("not written");
  // An update the new pages themselves rule out (the merger marks the end
  // refused and writes nothing) is decided again: the output is then
  // written whole.
  bool whole = true;
  while (TakesUpdate(outputPdf, end)) {
    std::vector<std::string> inputs{added};
    OutLog("PDFMerger to \"%s\", behind its end\n", outputPdf);
    result = PDFMerger(inputs, outputPdf, info, &end);
    *updated = result.ok();
    if (result || end.updateRefused().empty()) {
      whole = false;
      break;
    }
  }
  if (whole) {
    end.Close();
    result = MergeWhole(added, outputPdf, info);
  }
  if (alias[0]) DeleteFileLogged(alias);
  return result;
}
