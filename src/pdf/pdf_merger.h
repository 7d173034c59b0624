// Builds one PDF from an ordered list of PDF, image and metafile inputs.
#pragma once

#include <string>
#include <vector>

#include "config/settings.h"
#include "config/status.h"

class OutputEnd;

/// Writes the pages of every input, in list order, to output (replacing it
/// only after a complete write). The list is taken over and left empty.
/// Succeeds when the document was written; fails (with the library's own
/// message where it gave one) for an empty list, when the library instance
/// or the output cannot be made, when a PDF input cannot be opened or
/// imported (the output then stays exactly as it was), or when the write
/// fails. Image and metafile pages that cannot be made are skipped. The
/// document information comes from info (empty texts: the defaults).
///
/// With appendTo (the output's end, which an update can build on), the
/// output's own pages come first and stay where they are: only the inputs'
/// pages are written, behind that end. When no update can be built for them
/// after all, nothing is written and appendTo says why (updateRefused).
Status PDFMerger(std::vector<std::string>& inputs, const char* output, const DocumentInfo& info,
                 OutputEnd* appendTo = nullptr);

/// The PDF version code (1..7) for a version text read by ParseVersionText:
/// 1.1 gives 1 ... 1.6 gives 6; anything else (1.7, 2.0, 1.45, text that is
/// no version, nullptr) gives 7.
int PDFVersionCode(const char* version);
