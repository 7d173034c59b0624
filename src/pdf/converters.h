// The outside programs that do PDF work: the PostScript interpreter and the
// two PDF tools in the program's folder.
#pragma once

/// Converts a print job (PostScript, a printer file or a PDF) into a PDF with
/// the interpreter gs/gswin32.exe. Returns 1 when the interpreter succeeded
/// and the output is a readable PDF with at least one page, else 0 (and a
/// partial output is removed).
int ConvertPSToPDFFile(const char* input, const char* output);

/// Writes the pages of first then second to output with pdfsdk.dll. Returns
/// 1 when the tool succeeded and the output exists, else 0.
int PDFSDK_CombineTwoPDFs(const char* first, const char* second, const char* output);

/// Adds the pages of added after the last page of receiving (in place) with
/// pdfutil.dll; when receiving does not exist, copies added there. Returns 1
/// when the tool succeeded (or the copy was made) and receiving exists.
int AppendPDFPagesByTool(const char* added, const char* receiving);

/// True when value is one word of letters, digits, "-" or "_" (what a paper
/// size name may be on the interpreter's command line).
bool IsPaperSizeWord(const char* value);
