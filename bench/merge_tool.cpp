// Appends one PDF to an output PDF the way an -appendfile run with the merger
// does, for timing: merge_tool NEW.pdf OUTPUT.pdf
#include <cstdio>

#include "delivery/page_writers.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: merge_tool NEW.pdf OUTPUT.pdf\n");
    return 2;
  }
  DocumentInfo info;
  info.pdfVersion = "1.7";
  Status merged = AppendPDFByMerger(argv[1], argv[2], info);
  if (!merged) fprintf(stderr, "merge_tool: %s\n", merged.reason().c_str());
  return merged ? 0 : 1;
}
