#include "pdf/pdf_file_info.h"

#include <exception>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

int GetPDFFilePageCount(const char* path) {
  if (!path || !*path) return -1;
  try {
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    pdf.processFile(path);
    return static_cast<int>(pdf.getAllPages().size());
  } catch (const std::exception&) {
    return -1;
  }
}
