// pdfsdk.dll: writes the pages of two PDF files, one after the other, to a
// third. The second may be an image file or a metafile instead, told by its
// extension, whose pages the merger makes. The output is replaced only
// after a complete write.
//
//   pdfsdk.dll FIRST SECOND cat output OUT dont_ask

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pdf/picture_pages.h"
#include "pdf/qpdf_document.h"

namespace {

void PrintUsage() {
  std::fprintf(stderr,
               "usage: pdfsdk.dll FIRST.pdf SECOND.pdf cat output OUT.pdf [dont_ask]\n"
               "Writes the pages of FIRST.pdf followed by those of SECOND.pdf to OUT.pdf.\n"
               "SECOND may be an image (.png, .jpg, .tif, ...) or a metafile (.emf, .wmf).\n");
}

}  // namespace

int main(int argc, char** argv) {
  bool valid = (argc == 6 || (argc == 7 && std::strcmp(argv[6], "dont_ask") == 0)) &&
               std::strcmp(argv[3], "cat") == 0 && std::strcmp(argv[4], "output") == 0 &&
               *argv[1] && *argv[2] && *argv[5];
  if (!valid) {
    PrintUsage();
    return 2;
  }
  std::vector<std::string> messages;
  PictureAsPdf second(argv[2], &messages);
  bool ok = second.ok() && ConcatenatePdfFiles({argv[1], second.path()}, argv[5], &messages);
  for (const std::string& message : messages) std::fprintf(stderr, "pdfsdk: %s\n", message.c_str());
  return ok ? 0 : 1;
}
