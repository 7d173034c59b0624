// The PDF import as the merger does it: the input is opened as the import
// file (with no password, then the empty one) and its pages are added after
// the page the document already holds; then it is opened and added once
// more, as a second job would be, and the document is written. The page
// counts must add up, a failed import must leave the pages as they were,
// what was written must read back with every page, and a failed write must
// leave no file behind.

#include "fuzz_support.h"

namespace {

// Imports the open import file before destPage and checks the counts.
// Returns the pages it added.
int Import(PDF* pdf, int destPage) {
  int before = pdfGetPageCount(pdf);
  FUZZ_CHECK(before >= 0);
  int next = pdfImportPDFFile(pdf, destPage, 1.0, 1.0);
  int after = pdfGetPageCount(pdf);
  if (next < 0) {
    FUZZ_CHECK(after == before);
    return 0;
  }
  int insertedAt = destPage <= before ? destPage : before + 1;
  FUZZ_CHECK(next >= insertedAt);
  FUZZ_CHECK(after == before + (next - insertedAt));
  return after - before;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input = fuzz::Input("input.pdf", data, size);
  std::string output = fuzz::ScratchPath("output.pdf");

  PDF* pdf = fuzz::NewPdf(output);
  // The page of an earlier job.
  FUZZ_CHECK(pdfAppend(pdf) && pdfEndPage(pdf));

  int pages = 1;
  for (int job = 0; job < 2; ++job) {
    if (pdfOpenImportFileA(pdf, input.c_str(), 0, nullptr) < 0 &&
        pdfOpenImportFileA(pdf, input.c_str(), 0, "") < 0) {
      break;
    }
    int added = Import(pdf, pdfGetPageCount(pdf) + 1);
    if (added == 0) break;
    pages += added;
  }
  FUZZ_CHECK(pdfGetPageCount(pdf) == pages);

  bool written = fuzz::Close(pdf);
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(fuzz::ScratchDir())) {
    std::string name = entry.path().filename().string();
    if (name != "input.pdf" && name != "config.ini" && name != "config.ini.lock") ++files;
  }
  FUZZ_CHECK(files == (written ? 1 : 0));
  QPDF check;
  FUZZ_CHECK(!written || fuzz::ReadBack(check, output).size() == static_cast<size_t>(pages));
  return 0;
}
