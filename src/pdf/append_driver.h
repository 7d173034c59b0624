// The work behind -appendfile: convert a print job and add its pages to the
// output PDF.
#pragma once

#include <string>

struct CommandOptions;

/// Converts input to PDF and makes it the output or adds its pages after the
/// output's pages by the configured method. The converted PDF and the input
/// are deleted (DeleteTempFiles) only once the pages are safely in the
/// output. Returns 1 when the output was handled, 0 when nothing was added.
int AppendFileToPDFFile(const char* input, const char* output, CommandOptions* options);

/// Adds the pages of newPdf after those of outputPdf with the PDF merger, or
/// copies newPdf there when outputPdf does not exist. Returns 0 when newPdf
/// does not exist or the copy fails, 1 after a copy, the merger's result
/// after a merge.
int AppendPDFByMerger(const char* newPdf, const char* outputPdf, CommandOptions* options);

/// Merges a temporary copy of outputPdf and newPdf into outputPdf. Returns
/// the merger's result (non-zero is success).
int MergeIntoOutputPDF(const char* newPdf, const char* outputPdf, CommandOptions* options);

/// The lock file that every run changing or moving the output PDF holds.
std::string OutputLockPath(const std::string& outputPdf);
