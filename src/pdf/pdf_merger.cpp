#include "pdf/pdf_merger.h"

#include <string>

#include "config/log.h"
#include "pdf/file_kind.h"
#include "pdf/output_end.h"
#include "pdf/page_geometry.h"
#include "pdf/pdf_library.h"
#include "pdf/version_text.h"

namespace {

const char kDefaultProducer[] = "Quorvel Virtual PDFPrinter (https://www.quorvel.com)";
const char kDefaultCreator[] = "Quorvel Virtual PDFPrinter, Build: Jun 24 2019";

void SetDocumentInformation(PDF* pdf, const DocumentInfo& o) {
  pdfSetDocInfoA(pdf, 3, !o.producer.empty() ? o.producer.c_str() : kDefaultProducer);
  pdfSetDocInfoA(pdf, 1, !o.creator.empty() ? o.creator.c_str() : kDefaultCreator);
  const struct {
    int kind;
    const std::string& text;
  } optional[] = {{0, o.author}, {2, o.keywords}, {4, o.subject}, {5, o.title}};
  for (const auto& entry : optional) {
    if (!entry.text.empty()) pdfSetDocInfoA(pdf, entry.kind, entry.text.c_str());
  }
}

// Logs every message of the library and keeps the first error's text: the
// reason a failed merge gives.
int KeepFirstError(const void* data, int code, const char* message, int type) {
  std::string* first = static_cast<std::string*>(const_cast<void*>(data));
  if (!(type & kPdfWarning) && first->empty() && message) *first = message;
  return OnPDFError(data, code, message, type);
}

// Opens a new page sized to rect (media box, top-down coordinates).
void OpenPage(PDF* pdf, const PageRect& rect) {
  pdfAppend(pdf);
  pdfSetPageCoords(pdf, 1);
  pdfSetBBox(pdf, 4, rect.left, rect.top, rect.right, rect.bottom);
}

// Imports every page of a PDF input. Returns false when it cannot be opened
// or imported.
bool ImportPDF(PDF* pdf, const std::string& path) {
  if (pdfOpenImportFileA(pdf, path.c_str(), 0, nullptr) < 0 &&
      pdfOpenImportFileA(pdf, path.c_str(), 0, "") < 0) {
    OutLog("[ImportPDF] Failed to open \"%s\" file.\n", path.c_str());
    return false;
  }
  int pages = pdfGetPageCount(pdf);
  OutLog("[ImportPDF] GetPDFPageCount=%d (NextPage=%d) before import '%s' file.\n", pages,
         pages + 1, path.c_str());
  int next = pdfImportPDFFile(pdf, pages + 1, 1.0, 1.0);
  OutLog("[ImportPDF] NextPage=%d after import '%s' file.\n", next, path.c_str());
  return next > 0;
}

void AddImagePages(PDF* pdf, const std::string& path) {
  int count = pdfGetImageCountA(pdf, path.c_str());
  for (int i = 1; i <= count; ++i) {
    PageRect rect;
    if (!GetRectFromImageFile(pdf, path.c_str(), i, &rect)) continue;
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) continue;
    OpenPage(pdf, rect);
    pdfInsertImageExA(pdf, rect.left, rect.top, width, height, path.c_str(), i);
    pdfEndPage(pdf);
  }
}

// One page holding the metafile, sized by the page geometry.
void AddMetafilePage(PDF* pdf, const std::string& path) {
  OutLog("Get rectangle from EMF file...\n");
  PageRect rect;
  if (!GetRectFromEMFFile(pdf, path.c_str(), &rect)) return;
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return;
  OutLog("Append PDF page...\n");
  OpenPage(pdf, rect);
  OutLog("Draw EMF file to PDF page...\n");
  pdfInsertMetafileA(pdf, path.c_str(), rect.left, rect.top, width, height);
  OutLog("Finish EMF file on PDF page...\n");
  pdfEndPage(pdf);
  OutLog("End PDF page creation...\n");
}

// Adds the pages of every input in list order. False, with *why, when a
// PDF input cannot be imported: it would be missing from the output, and
// the first one is the earlier output itself, so writing without it would
// lose every page printed before.
bool AddInputs(PDF* pdf, const std::vector<std::string>& list, const std::string& firstError,
               std::string* why) {
  int n = 0;
  for (const std::string& path : list) {
    OutLog("PDFMerger, Page #%d, %s\n", ++n, path.c_str());
    std::string ext = FileExtension(path);
    if (ExtensionIs(ext.c_str(), ".pdf")) {
      if (!ImportPDF(pdf, path)) {
        *why = "\"" + path + "\" cannot be read" + (firstError.empty() ? "" : ": " + firstError);
        return false;
      }
    } else if (IsImageFileExt(ext.c_str())) {
      AddImagePages(pdf, path);
    } else if (ExtensionIs(ext.c_str(), ".emf") || ExtensionIs(ext.c_str(), ".wmf")) {
      AddMetafilePage(pdf, path);
    }
  }
  return true;
}

}  // namespace

int PDFVersionCode(const char* version) {
  int major = 0, minor = 0;
  bool read = ParseVersionText(version ? version : "", &major, &minor);
  return read && major == 1 && minor >= 1 && minor <= 6 ? minor : 7;
}

Status PDFMerger(std::vector<std::string>& inputs, const char* output, const DocumentInfo& info,
                 OutputEnd* appendTo) {
  std::vector<std::string> list;
  list.swap(inputs);
  if (list.empty()) return Status::Failure("nothing to merge");

  OutLog("Loading PDFMerger functions...\n");
  PDFInstance instance(pdfNewPDF());
  if (!instance) return Status::Failure("the PDF library could not start");
  PDF* pdf = instance.get();
  OutLog("PDFMerger 1111\n");
  std::string firstError;
  pdfSetOnErrorProc(pdf, &firstError, KeepFirstError);
  if (!pdfCreateNewPDFA(pdf, output)) {
    return Status::Failure(firstError.empty() ? "cannot create \"" + std::string(output) + "\""
                                              : firstError);
  }
  OutLog("PDFMerger 1112\n");
  pdfSetImportFlags(pdf, 0x8FFFFFFE);
  pdfSetPageCoords(pdf, 1);
  SetDocumentInformation(pdf, info);
  pdfSetMetaConvFlags(pdf, 0);
  OutLog("PDFMerger 1113\n");
  if (!info.pdfVersion.empty()) pdfSetPDFVersion(pdf, PDFVersionCode(info.pdfVersion.c_str()));
  pdfSetCompressionFilter(pdf, 0);
  if (appendTo && !pdfAppendBehind(pdf, appendTo)) return Status::Failure(firstError);
  OutLog("Combining PDF files into PDF file...\n");

  std::string why;
  bool complete = AddInputs(pdf, list, firstError, &why);
  OutLog("We will insert bookmarks to PDF file...\n");
  int written = 0;
  if (complete && pdfGetPageCount(pdf) == 0) {
    // Every input said why it gave no page; there is nothing to write.
    OutLog("PDFMerger made no page.\n");
    why = "no input gave a page";
  } else if (complete) {
    OutLog("We will close PDF file...\n");
    written = pdfCloseFile(pdf);
    if (!written && appendTo && !appendTo->updateRefused().empty()) {
      why = "no update can be written: " + appendTo->updateRefused();
    } else if (!written) {
      OutLog("[ERROR] PDFMerger could not write \"%s\".\n", output);
      why =
          firstError.empty() ? "\"" + std::string(output) + "\" could not be written" : firstError;
    }
  } else {
    OutLog("[ERROR] PDFMerger left \"%s\" unchanged: an input could not be imported.\n", output);
  }
  OutLog("We will delete PDF instance...\n");
  instance.reset();
  OutLog("Exit PDFMerger function.\n");
  return written ? Status() : Status::Failure(why);
}
