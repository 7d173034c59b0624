// The document under construction behind the PDF library layer's opaque
// handle. Only the layer's own files include this header.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <qpdf/PDFVersion.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <string>
#include <vector>

#include "pdf/output_end.h"
#include "pdf/pdf_library.h"
#include "pdf/pdf_tail.h"
#include "pdf/qpdf_document.h"

namespace metafile {
class TrueTypeFont;
}

struct PDF {
  TErrorProc errorProc = nullptr;
  const void* errorData = nullptr;
  bool topDown = false;
  uint32_t importFlags = 0;
  uint32_t metaConvFlags = 0;
  int compressionFilter = 0;
  int versionCode = 0;
  bool staticId = false;

  std::shared_ptr<QPDF> doc;
  std::string outputPath;
  // Imported files must outlive the write: qpdf copies their stream data
  // only then.
  std::vector<std::shared_ptr<QPDF>> sources;
  std::shared_ptr<QPDF> importFile;
  std::string importPath;
  PDFVersion neededVersion{1, 3};
  std::map<int, std::string> docInfo;  // kind -> UTF-8 text
  // The output's end, given by pdfAppendBehind: its pages stay where they
  // are and the new ones are written behind it as an update, unless pages
  // go in front of them (then the document is written whole).
  std::shared_ptr<PdfTail> base;
  OutputEnd* appendEnd = nullptr;
  bool baseImported = false;
  int basePages = 0;
  // Files read into memory (the output itself, which a whole write replaces).
  std::vector<std::shared_ptr<std::string>> buffers;
  // One font object per standard font, shared by every page that uses it.
  std::map<std::string, QPDFObjectHandle> standardFonts;

  bool pageOpen = false;
  bool pageImageFailed = false;  // a picture placed on the page could not be read
  QPDFObjectHandle page;
  QPDFObjectHandle xobjects;
  QPDFObjectHandle fonts;          // the page's standard fonts, by resource name
  QPDFObjectHandle graphicStates;  // the page's ExtGState dictionary
  // The page's embedded TrueType fonts, by file: the font's objects and the
  // glyphs (with their characters) the page shows so far.
  struct EmbeddedFont {
    const metafile::TrueTypeFont* font = nullptr;
    QPDFObjectHandle type0, descendant, file, toUnicode;
    std::map<uint16_t, char32_t> glyphs;
  };
  std::map<std::string, EmbeddedFont> embeddedFonts;
  std::string content;
  int imageCount = 0;
  double mediaTop = 842;  // upper edge of the media box in PDF coordinates
  double frameTop = 0;    // the media box's top in the caller's top-down values

  void NewDocument() {
    doc = QPDF::create();
    doc->setSuppressWarnings(true);
    doc->emptyPDF();
    sources.clear();
    importFile.reset();
    importPath.clear();
    neededVersion = PDFVersion(1, 3);
    docInfo.clear();
    standardFonts.clear();
    pageOpen = false;
    base.reset();
    appendEnd = nullptr;
    baseImported = false;
    basePages = 0;
    buffers.clear();
  }

  void Report(int type, int code, const std::string& message) {
    if (errorProc) errorProc(errorData, code, message.c_str(), type);
  }

  /// Reports a caught exception through the callback, typed by its kind.
  void ReportException(const std::exception& e, const std::string& context);

  void ReportWarnings(QPDF& pdf) {
    for (const QPDFExc& warning : pdf.getWarnings()) {
      Report(kPdfWarning, warning.getErrorCode(), warning.what());
    }
  }

  void ReportAllWarnings() {
    ReportWarnings(*doc);
    for (auto& source : sources) ReportWarnings(*source);
  }

  int PageCount() {
    return (baseImported ? basePages : 0) + static_cast<int>(doc->getAllPages().size());
  }

  /// A file read into memory, kept alive with the document.
  std::shared_ptr<QPDF> OpenInMemory(const std::string& path, const char* password);
  /// The output's pages go in front of the new ones after all: the
  /// document is written whole.
  void MaterializeBase();
  PdfWriteOptions WriteOptions() const;
  /// Writes the new pages behind the output's end as an update. False when
  /// nothing landed: the write failed (reported, the file cut back) or no
  /// update can be built for these pages (the end is marked refused).
  bool AppendUpdate();

  /// Writes the open page's resources and content (or drops a page that
  /// only a failed picture would have filled).
  void EndPage();

  void WriteDocInfo();
};
