// Builds one PDF from an ordered list of PDF, image and metafile inputs.
#pragma once

#include <string>
#include <vector>

#include "config/settings.h"
#include "config/status.h"

/// Writes the pages of every input, in list order, to output (replacing it
/// only after a complete write). The list is taken over and left empty.
/// Succeeds when the document was written; fails (with the library's own
/// message where it gave one) for an empty list, when the library instance
/// or the output cannot be made, when a PDF input cannot be opened or
/// imported (the output then stays exactly as it was), or when the write
/// fails. Image and metafile pages that cannot be made are skipped. The
/// document information comes from info (empty texts: the defaults).
Status PDFMerger(std::vector<std::string>& inputs, const char* output, const DocumentInfo& info);

/// The PDF version code (1..7) for a version text read by ParseVersionText:
/// 1.1 gives 1 ... 1.6 gives 6; anything else (1.7, 2.0, 1.45, text that is
/// no version, nullptr) gives 7.
int PDFVersionCode(const char* version);
