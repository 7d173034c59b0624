// pdfsdk.dll: writes the pages of two PDF files, one after the other, to a
// third. The output is replaced only after a complete write.
//
//   pdfsdk.dll FIRST SECOND cat output OUT dont_ask

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pdf/qpdf_document.h"

namespace {

void PrintUsage() {
  std::fprintf(stderr,
               "usage: pdfsdk.dll FIRST.pdf SECOND.pdf cat output OUT.pdf [dont_ask]\n"
               "Writes the pages of FIRST.pdf followed by those of SECOND.pdf to OUT.pdf.\n");
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
  bool ok = ConcatenatePdfFiles({argv[1], argv[2]}, argv[5], &messages);
  for (const std::string& message : messages) std::fprintf(stderr, "pdfsdk: %s\n", message.c_str());
  return ok ? 0 : 1;
}
