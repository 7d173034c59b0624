// Metafile pages as the merger makes them: the input is written as a .emf
// file, sized through the header route and the library route, and when it
// gets a page rectangle, drawn on a page of that size and written. The
// rectangle must be at the origin and within the size limit, and what was
// written must read back with the page at exactly that size.

#include "fuzz_support.h"
#include "pdf/page_geometry.h"

namespace {

// Follows the saved graphics states of a content stream.
struct StateDepth : QPDFObjectHandle::ParserCallbacks {
  void handleObject(QPDFObjectHandle object) override {
    if (!object.isOperator()) return;
    if (object.getOperatorValue() == "q") ++depth;
    if (object.getOperatorValue() == "Q" && --depth < 0) balanced = false;
  }
  void handleEOF() override {}
  int depth = 0;
  bool balanced = true;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = fuzz::Input("input.emf", data, size);
  std::string output = fuzz::ScratchPath("output.pdf");

  PageRect frame{-1, -1, -1, -1};
  if (GetEMFFrameRect(path.c_str(), &frame)) {
    FUZZ_CHECK(frame.left == 0 && frame.top == 0 && frame.right > 0 && frame.bottom > 0);
  }
  PDF* pdf = fuzz::NewPdf(output);
  pdfSetPageCoords(pdf, 1);
  PageRect rect{-1, -1, -1, -1};
  bool sized = GetRectFromEMFFile(pdf, path.c_str(), &rect) != 0;
  bool placed = false;
  if (sized) {
    FUZZ_CHECK(rect.left == 0 && rect.top == 0);
    FUZZ_CHECK(rect.right < kMetafileSizeLimit && rect.bottom < kMetafileSizeLimit);
    if (rect.right > 0 && rect.bottom > 0) {
      FUZZ_CHECK(pdfAppend(pdf));
      FUZZ_CHECK(pdfSetBBox(pdf, 4, rect.left, rect.top, rect.right, rect.bottom));
      placed = pdfInsertMetafileA(pdf, path.c_str(), 0, 0, rect.right, rect.bottom) != 0;
      FUZZ_CHECK(pdfEndPage(pdf));
    }
  }
  FUZZ_CHECK(pdfGetPageCount(pdf) == (placed ? 1 : 0));
  FUZZ_CHECK(fuzz::Close(pdf) == placed);
  if (!placed) return 0;

  QPDF check;
  auto pages = fuzz::ReadBack(check, output);
  FUZZ_CHECK(pages.size() == 1);
  QPDFObjectHandle::Rectangle box = pages[0].getMediaBox().getArrayAsRectangle();
  FUZZ_CHECK(box.llx == 0 && box.lly == 0 && box.urx == rect.right && box.ury == rect.bottom);
  // The drawing's content parses, and saves and restores its states in pairs.
  StateDepth states;
  try {
    pages[0].parseContents(&states);
  } catch (const std::exception&) {
    fuzz::CheckFailed("the written content parses", __FILE__, __LINE__);
  }
  FUZZ_CHECK(states.balanced && states.depth == 0);
  return 0;
}
