// The ways a converted job's pages go into the output: a copy when there is
// none yet, else the built-in merger or one of the two page tools, as
// AppendPDFMethod says.
#pragma once

#include <cstdint>

#include "config/settings.h"
#include "config/status.h"

class OutputEnd;

/// One way of putting a converted job's pages into the output. end is the
/// output's end as the caller read it under the lock (nullptr when there is
/// no output yet); *updated tells whether the pages were written behind it
/// as an update (else the output was written whole).
using WritePages = Status (*)(const char* converted, const char* output,
                              const JobSettings& settings, intptr_t lockHandle, OutputEnd* end,
                              bool* updated);

/// A copy when there is no output yet, else the writer of the method
/// (1 the merger, 2 pdfutil.dll, 3 pdfsdk.dll); nullptr for a method that
/// adds nothing. lockHandle, given to a writer, is the output's held lock,
/// which a page tool keeps while it runs.
WritePages ChooseWriter(bool outputExists, int method);

/// Adds the pages of newPdf after those of outputPdf with the PDF merger, or
/// copies newPdf there when outputPdf does not exist. Fails with the reason
/// when newPdf does not exist, the copy fails or the merger fails.
Status AppendPDFByMerger(const char* newPdf, const char* outputPdf, const DocumentInfo& info);

/// Adds the pages of newPdf to outputPdf, whose end was read into end: as
/// an update behind that end when TakesUpdate says so, else by a whole write
/// of the merged document. *updated tells which.
Status MergeIntoOutputPDF(const char* newPdf, const char* outputPdf, const DocumentInfo& info,
                          OutputEnd& end, bool* updated);

/// The one place that decides how the output takes new pages: true for an
/// update behind its end; false, logged with the reason, when it is written
/// whole (its end refuses an update, its name does not end in ".pdf", or it
/// cannot be written in place: an update is never written through a link or
/// into another's file).
bool TakesUpdate(const char* output, const OutputEnd& end);
