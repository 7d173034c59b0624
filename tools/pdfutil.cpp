// pdfutil.dll: appends the pages of one PDF file after the last page of
// another, in place. The added file may be an image file or a metafile
// instead, told by its extension, whose pages the merger makes. The
// receiving file is replaced only after a complete write; its document
// information and outline stay.
//
//   pdfutil.dll -i RECEIVING "-*" ADDED

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pdf/picture_pages.h"
#include "pdf/qpdf_document.h"

namespace {

void PrintUsage() {
  std::fprintf(stderr,
               "usage: pdfutil.dll -i RECEIVING.pdf -* ADDED.pdf\n"
               "Appends the pages of ADDED.pdf after the last page of RECEIVING.pdf.\n"
               "ADDED may be an image (.png, .jpg, .tif, ...) or a metafile (.emf, .wmf).\n");
}

}  // namespace

int main(int argc, char** argv) {
  bool valid = argc == 5 && std::strcmp(argv[1], "-i") == 0 && std::strcmp(argv[3], "-*") == 0 &&
               *argv[2] && *argv[4];
  if (!valid) {
    PrintUsage();
    return 2;
  }
  std::vector<std::string> messages;
  PictureAsPdf added(argv[4], &messages);
  bool ok = added.ok() && ConcatenatePdfFiles({argv[2], added.path()}, argv[2], &messages);
  for (const std::string& message : messages)
    std::fprintf(stderr, "pdfutil: %s\n", message.c_str());
  return ok ? 0 : 1;
}
