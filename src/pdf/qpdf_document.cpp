#include "pdf/qpdf_document.h"

#include <cstdlib>
#include <memory>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include "pdf/version_text.h"
#include "platform/platform.h"

namespace {

// qpdf copies a reference to a page that has not been copied yet as null,
// so a link to a later page would lose its target. The annotations are
// therefore taken off the source pages and copied once all pages are in.
std::vector<QPDFObjectHandle> DetachAnnotations(std::vector<QPDFPageObjectHelper>& pages) {
  std::vector<QPDFObjectHandle> annots(pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    QPDFObjectHandle page = pages[i].getObjectHandle();
    if (page.hasKey("/Annots")) {
      annots[i] = page.getKey("/Annots");
      page.removeKey("/Annots");
    }
  }
  return annots;
}

void RestoreAnnotations(std::vector<QPDFPageObjectHelper>& pages,
                        const std::vector<QPDFObjectHandle>& annots) {
  for (size_t i = 0; i < pages.size(); ++i) {
    if (annots[i].isInitialized()) pages[i].getObjectHandle().replaceKey("/Annots", annots[i]);
  }
}

// Returns the copies, in the order of `pages`.
std::vector<QPDFObjectHandle> AddPages(std::vector<QPDFPageObjectHelper>& pages, QPDF& to,
                                       int before, std::vector<QPDFObjectHandle>* added) {
  QPDFPageDocumentHelper toPages(to);
  const std::vector<QPDFObjectHandle>& target = to.getAllPages();
  bool insert = before >= 0 && static_cast<size_t>(before) < target.size();
  QPDFObjectHandle ref = insert ? target[before] : QPDFObjectHandle();
  std::vector<QPDFObjectHandle> copies;
  copies.reserve(pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    if (insert) {
      toPages.addPageAt(pages[i], true, QPDFPageObjectHelper(ref));
      copies.push_back(to.getAllPages()[before + i]);
    } else {
      toPages.addPage(pages[i], false);
      copies.push_back(to.getAllPages().back());
    }
    if (added) added->push_back(copies.back());
  }
  return copies;
}

// Form fields join the AcroForm of `to`; other annotations are copied as
// they are.
void CopyAnnotations(QPDF& from, QPDF& to, std::vector<QPDFPageObjectHelper>& pages,
                     std::vector<QPDFObjectHandle>& annots, std::vector<QPDFObjectHandle>& copies) {
  QPDFAcroFormDocumentHelper fromForms(from);
  std::unique_ptr<QPDFAcroFormDocumentHelper> toForms;
  for (size_t i = 0; i < pages.size(); ++i) {
    if (!annots[i].isInitialized() || !annots[i].isArray()) continue;
    if (fromForms.hasAcroForm()) {
      if (!toForms) toForms = std::make_unique<QPDFAcroFormDocumentHelper>(to);
      toForms->fixCopiedAnnotations(copies[i], pages[i].getObjectHandle(), fromForms);
    } else {
      QPDFObjectHandle list = annots[i];
      if (!list.isIndirect()) list = from.makeIndirectObject(list);
      copies[i].replaceKey("/Annots", to.copyForeignObject(list));
    }
  }
}

}  // namespace

int CopyAllPages(QPDF& from, QPDF& to, int before, std::vector<QPDFObjectHandle>* added) {
  std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(from).getAllPages();
  std::vector<QPDFObjectHandle> annots = DetachAnnotations(pages);
  std::vector<QPDFObjectHandle> copies;
  try {
    copies = AddPages(pages, to, before, added);
  } catch (...) {
    RestoreAnnotations(pages, annots);
    throw;
  }
  RestoreAnnotations(pages, annots);
  CopyAnnotations(from, to, pages, annots, copies);
  return static_cast<int>(copies.size());
}

PDFVersion ParsePdfVersion(const std::string& text, int extensionLevel) {
  int major = 0, minor = 0;
  if (!ParseVersionText(text, &major, &minor)) return PDFVersion(1, 3);
  return PDFVersion(major, minor, extensionLevel);
}

bool StaticPdfIdRequested() {
  const char* value = std::getenv("TARVELIN_STATIC_PDF_ID");
  return value && *value && std::string(value) != "0";
}

void WritePdfAtomically(QPDF& pdf, const std::string& path, const PdfWriteOptions& options) {
  // Others may write in the output's folder: the temporary file is one this
  // run creates, never a planted file or link.
  platform::NewFile file;
  std::string error;
  if (!file.CreateBeside(path, 0644, &error)) throw PdfFileError(error);
  try {
    QPDFWriter writer(pdf);
    writer.setOutputFile(file.path().c_str(), file.stream(), false);
    writer.setPreserveEncryption(false);
    writer.setCompressStreams(true);
    // Generalized decoding recompresses LZW and the like but never touches
    // JPEG data, which a full decode would blow up.
    writer.setDecodeLevel(qpdf_dl_generalized);
    writer.setObjectStreamMode(qpdf_o_preserve);
    std::string version;
    int extension = 0;
    options.version.getVersion(version, extension);
    if (options.forceVersion) {
      writer.forcePDFVersion(version, extension);
    } else if (options.version.getMajor() > 0) {
      writer.setMinimumPDFVersion(options.version);
    }
    writer.setStaticID(options.staticId);
    writer.write();
  } catch (...) {
    file.Discard();
    throw;
  }
  // On the disk before the rename, so a power cut cannot leave an empty output.
  if (!file.SyncAndClose(&error)) {
    file.Discard();
    throw PdfFileError(error);
  }
  if (!platform::ReplaceFile(file.path(), path)) {
    std::string temp = file.path();
    file.Discard();
    throw PdfFileError("cannot rename \"" + temp + "\" to \"" + path + "\"");
  }
}

bool ConcatenatePdfFiles(const std::vector<std::string>& inputs, const std::string& output,
                         std::vector<std::string>* messages) {
  if (inputs.empty()) {
    messages->push_back("no input file");
    return false;
  }
  std::vector<std::shared_ptr<QPDF>> docs;
  // The output may be one of the inputs: that one is read into memory, so
  // that no open file is in the way when the new output is renamed over it
  // (Windows refuses to replace a file that is open).
  std::vector<std::shared_ptr<std::string>> contents;
  bool ok = true;
  for (const std::string& path : inputs) {
    auto doc = QPDF::create();
    doc->setSuppressWarnings(true);
    docs.push_back(doc);
    try {
      if (platform::IsSameFile(path, output)) {
        auto content = std::make_shared<std::string>();
        std::string error;
        if (!platform::ReadWholeFile(path, content.get(), &error)) throw PdfFileError(error);
        doc->processMemoryFile(path.c_str(), content->data(), content->size());
        contents.push_back(content);
      } else {
        doc->processFile(path.c_str());
      }
    } catch (const std::exception& e) {
      messages->push_back("cannot read \"" + path + "\": " + e.what());
      ok = false;
      break;
    }
  }
  if (ok) {
    try {
      PdfWriteOptions options;
      options.version = ParsePdfVersion(docs[0]->getPDFVersion(), docs[0]->getExtensionLevel());
      for (size_t i = 1; i < docs.size(); ++i) {
        CopyAllPages(*docs[i], *docs[0], -1, nullptr);
        options.version.updateIfGreater(
            ParsePdfVersion(docs[i]->getPDFVersion(), docs[i]->getExtensionLevel()));
      }
      options.staticId = StaticPdfIdRequested();
      WritePdfAtomically(*docs[0], output, options);
    } catch (const std::exception& e) {
      messages->push_back("cannot write \"" + output + "\": " + e.what());
      ok = false;
    }
  }
  for (auto& doc : docs) {
    for (const QPDFExc& warning : doc->getWarnings())
      messages->push_back(std::string("warning: ") + warning.what());
  }
  return ok;
}
