// Image pages as the merger makes them, one target per format (the build
// makes image_<format>_fuzz with FUZZ_IMAGE_FORMAT set): the input is written
// as an image file of that extension, its images are counted and measured, a
// page of each image's size is opened and the image placed on it, and the
// document is written. What was written must read back with one page per
// placed image, each as large as its image. A Netpbm input is named by its
// kind (.pbm, .pgm, .ppm; .pnm for anything else), as a Netpbm tool names it.
#include <utility>

#include "fuzz_support.h"
#include "pdf/page_geometry.h"
#include "pdf/pdf_library.h"

namespace {

// More pages only repeat the same work (a TIFF can hold thousands).
const int kMaxImagePages = 16;
// A few header bytes can announce 2^27 pixels, which the readers accept:
// decoding and compressing that many takes seconds under the sanitizers, so
// larger images are only measured, not placed.
const int64_t kMaxPlacedPixels = int64_t(1) << 22;

int FuzzImagePages(const uint8_t* data, size_t size, const char* extension) {
  FUZZ_CHECK(IsImageFileExt(extension));
  std::string path = fuzz::Input(std::string("input") + extension, data, size);
  std::string output = fuzz::ScratchPath("output.pdf");

  PDF* pdf = fuzz::NewPdf(output);
  pdfSetPageCoords(pdf, 1);

  int count = pdfGetImageCountA(pdf, path.c_str());
  FUZZ_CHECK(count >= 0);
  std::vector<std::pair<int, int>> placed;  // page sizes, in page order
  for (int i = 1; i <= count && i <= kMaxImagePages; ++i) {
    int width = 0, height = 0, bits = 0, hint = -1;
    int read = pdfReadImageFormat2A(pdf, path.c_str(), i, &width, &height, &bits, &hint);
    PageRect rect;
    FUZZ_CHECK((GetRectFromImageFile(pdf, path.c_str(), i, &rect) != 0) == (read != 0));
    if (!read) continue;
    FUZZ_CHECK(width > 0 && height > 0 && bits > 0 && (hint == 0 || hint == 1));
    FUZZ_CHECK(rect.left == 0 && rect.top == 0 && rect.right == width && rect.bottom == height);
    if (int64_t(width) * height > kMaxPlacedPixels) continue;
    FUZZ_CHECK(pdfAppend(pdf));
    FUZZ_CHECK(pdfSetBBox(pdf, 4, rect.left, rect.top, rect.right, rect.bottom));
    bool inserted = pdfInsertImageExA(pdf, rect.left, rect.top, width, height, path.c_str(), i);
    FUZZ_CHECK(pdfEndPage(pdf));
    if (inserted) placed.emplace_back(width, height);
  }
  FUZZ_CHECK(pdfGetPageCount(pdf) == static_cast<int>(placed.size()));

  // A document without pages is not written; one with pages is.
  FUZZ_CHECK(fuzz::Close(pdf) == !placed.empty());
  FUZZ_CHECK(platform::PathExists(output) == !placed.empty());
  if (placed.empty()) return 0;

  QPDF check;
  std::vector<QPDFPageObjectHelper> pages = fuzz::ReadBack(check, output);
  FUZZ_CHECK(pages.size() == placed.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    QPDFObjectHandle::Rectangle box = pages[i].getMediaBox().getArrayAsRectangle();
    FUZZ_CHECK(box.llx == 0 && box.lly == 0);
    FUZZ_CHECK(box.urx == placed[i].first && box.ury == placed[i].second);
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string extension = "." FUZZ_IMAGE_FORMAT;
  if (extension == ".pnm" && size >= 2 && data[0] == 'P' && data[1] >= '1' && data[1] <= '6') {
    extension = std::string(".p") + "bgp"[(data[1] - '1') % 3] + "m";
  }
  return FuzzImagePages(data, size, extension.c_str());
}
