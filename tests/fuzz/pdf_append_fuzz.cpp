// Appending a page to an existing output as an append run does: an update
// behind its end, or the whole file as the first import when the end cannot
// be built on; then a page is added and the document closed. An output qpdf
// reads without a complaint must read back with every page it had and the
// new one (a damaged one must only not crash anything); one not written must
// be exactly as it was, with no record of an append left beside it.

#include "fuzz_support.h"
#include "pdf/incremental_update.h"
#include "pdf/output_end.h"
#include "pdf/pdf_library.h"

namespace {

// Pages by qpdf's own walk of the tree; -1 when it cannot read the file or
// had to repair it to do so.
long Pages(const std::string& path) {
  try {
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    pdf.processFile(path.c_str());
    long pages = static_cast<long>(QPDFPageDocumentHelper(pdf).getAllPages().size());
    return pdf.anyWarnings() ? -1 : pages;
  } catch (const std::exception&) {
    return -1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string output = fuzz::Input("output.pdf", data, size);
  const std::string before = fuzz::Content(output);
  const long pagesBefore = Pages(output);

  PDF* pdf = fuzz::NewPdf(output);
  int pages = -1;
  OutputEnd end;
  if (end.Read(output) && pdfAppendBehind(pdf, &end)) {
    pages = end.pages();
  } else if (pdfOpenImportFileA(pdf, output.c_str(), 0, nullptr) >= 0) {
    int next = pdfImportPDFFile(pdf, 1, 1.0, 1.0);
    if (next > 0) pages = next - 1;
  }
  if (pages < 0) {
    pdfDeletePDF(pdf);
    FUZZ_CHECK(fuzz::Content(output) == before);
    return 0;
  }
  FUZZ_CHECK(pdfGetPageCount(pdf) == pages);
  FUZZ_CHECK(pdfAppend(pdf) && pdfEndPage(pdf));
  bool written = fuzz::Close(pdf);
  FUZZ_CHECK(!std::filesystem::exists(AppendRecordPath(output)));
  FUZZ_CHECK(written || fuzz::Content(output) == before);
  if (written && pagesBefore >= 0) FUZZ_CHECK(Pages(output) == pagesBefore + 1);
  return 0;
}
