// The ways a converted job's pages go into the output: a copy when there is
// none yet, else the built-in merger or one of the two page tools, as
// AppendPDFMethod says.
#pragma once

#include <cstdint>

#include "config/settings.h"
#include "config/status.h"

/// One way of putting a converted job's pages into the output.
using WritePages = Status (*)(const char* converted, const char* output,
                              const JobSettings& settings, intptr_t lockHandle);

/// A copy when there is no output yet, else the writer of the method
/// (1 the merger, 2 pdfutil.dll, 3 pdfsdk.dll); nullptr for a method that
/// adds nothing. lockHandle, given to a writer, is the output's held lock,
/// which a page tool keeps while it runs.
WritePages ChooseWriter(bool outputExists, int method);

/// Adds the pages of newPdf after those of outputPdf with the PDF merger, or
/// copies newPdf there when outputPdf does not exist. Fails with the reason
/// when newPdf does not exist, the copy fails or the merger fails.
Status AppendPDFByMerger(const char* newPdf, const char* outputPdf, const DocumentInfo& info);

/// Merges outputPdf (in place, or a temporary copy of an output whose name
/// does not end in ".pdf") and newPdf into outputPdf.
Status MergeIntoOutputPDF(const char* newPdf, const char* outputPdf, const DocumentInfo& info);
