// Appends one PDF to an output PDF the way an -appendfile run with the merger
// does, for timing: merge_tool NEW.pdf OUTPUT.pdf
#include <cstdio>

#include "config/command_options.h"
#include "delivery/append_driver.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: merge_tool NEW.pdf OUTPUT.pdf\n");
    return 2;
  }
  static CommandOptions options;
  snprintf(options.pdfVersion, sizeof(options.pdfVersion), "1.7");
  return AppendPDFByMerger(argv[1], argv[2], &options) ? 0 : 1;
}
