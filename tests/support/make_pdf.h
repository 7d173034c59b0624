// Small PDF files for tests, made with qpdf, and a reader for what tests
// check: the text on each page.
#pragma once

#include <functional>
#include <memory>
#include <qpdf/Pl_Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <string>
#include <vector>

struct TestPdfOptions {
  std::string version = "1.4";
  bool encrypt = false;  ///< empty user password, owner password "owner"
  /// Called before the write, e.g. to add a /Rotate or an annotation.
  std::function<void(QPDF&)> edit;
};

/// Writes a PDF with one 200 x 300 page per text, each page showing its text.
inline void MakeTextPdf(const std::string& path, const std::vector<std::string>& texts,
                        const TestPdfOptions& options = TestPdfOptions()) {
  QPDF pdf;
  pdf.emptyPDF();
  QPDFObjectHandle font = pdf.makeIndirectObject(
      QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"));
  QPDFPageDocumentHelper pages(pdf);
  for (const std::string& text : texts) {
    QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 200 300] >>");
    QPDFObjectHandle resources = QPDFObjectHandle::parse("<< /Font << >> >>");
    resources.getKey("/Font").replaceKey("/F1", font);
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", QPDFObjectHandle::newStream(
                                     &pdf, "BT /F1 12 Tf 20 150 Td (" + text + ") Tj ET\n"));
    pages.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
  }
  if (options.edit) options.edit(pdf);
  QPDFWriter writer(pdf, path.c_str());
  writer.setMinimumPDFVersion(options.version);
  if (options.encrypt) {
    writer.setR4EncryptionParametersInsecure("", "owner", true, true, true, true, true, true,
                                             qpdf_r3p_full, true, true);
  }
  writer.setStaticID(true);
  writer.write();
}

/// The content of a page's content stream(s), decoded.
inline std::string PageContent(QPDFPageObjectHelper page) {
  Pl_Buffer buffer("content");
  page.pipeContents(&buffer);
  std::unique_ptr<Buffer> data(buffer.getBuffer());
  return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
}

/// The texts shown on each page of a PDF (the strings of its content
/// streams, joined), page by page.
inline std::vector<std::string> PageTexts(const std::string& path) {
  QPDF pdf;
  pdf.setSuppressWarnings(true);
  pdf.processFile(path.c_str());
  std::vector<std::string> result;
  for (auto& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
    std::string content = PageContent(page);
    std::string text;
    for (size_t open = content.find('('); open != std::string::npos;
         open = content.find('(', open + 1)) {
      size_t close = content.find(')', open);
      if (close == std::string::npos) break;
      text += content.substr(open + 1, close - open - 1);
      open = close;
    }
    result.push_back(text);
  }
  return result;
}
