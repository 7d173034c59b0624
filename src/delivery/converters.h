// The outside programs that do PDF work: the PostScript interpreter and the
// two PDF tools in the program's folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "config/settings.h"
#include "config/status.h"

/// Converts a print job (PostScript, a printer file or a PDF; a regular file,
/// not a link) into a PDF with the interpreter gs/gswin32.exe, which gets at
/// most the settings' GhostscriptTimeLimit seconds and their PDFPaperSize.
/// Succeeds when the interpreter succeeded and the output is a readable PDF
/// with the pages a structured PostScript job announces (at least one);
/// otherwise fails with the reason (Ghostscript's own error line where it
/// gave one) and a partial output is removed. When the output's folder had
/// no room left or could not be written at the failure, *machineFault (when
/// given) says so: the machine failed, not the job. The interpreter creates
/// its files readable by their owner only. meanwhile, when given, runs
/// while the interpreter converts.
Status ConvertPSToPDFFile(const char* input, const char* output, const JobSettings& settings,
                          std::string* machineFault,
                          const std::function<void()>& meanwhile = nullptr);

/// The conversion of a job's document to a PDF: Ghostscript's
/// (ConvertPSToPDFFile), unless the settings take documents as they are and
/// the document is a PDF (checked to be readable and copied) or a JPEG or
/// PNG image (made into image pages). Results as for ConvertPSToPDFFile.
/// meanwhile, when given, runs once: while Ghostscript converts, or after
/// the conversion when none ran.
Status ConvertDocumentToPDF(const char* input, const char* output, const JobSettings& settings,
                            std::string* machineFault,
                            const std::function<void()>& meanwhile = nullptr);

/// Room a conversion needs at the least: a failed one with less than this
/// left in its folder failed for the machine, not for the job.
constexpr int64_t kRoomForConversion = 1 << 20;

/// Writes the pages of first then second to output with pdfsdk.dll. Returns
/// 1 when the tool succeeded and the output exists, else 0. lockHandle, when
/// not -1, is the output's held lock, which the tool keeps while it runs.
/// A failure of the tool itself puts its own error line into *why (when
/// given).
int PDFSDK_CombineTwoPDFs(const char* first, const char* second, const char* output,
                          intptr_t lockHandle = -1, std::string* why = nullptr);

/// Adds the pages of added after the last page of receiving (in place) with
/// pdfutil.dll; when receiving does not exist, copies added there. Returns 1
/// when the tool succeeded (or the copy was made) and receiving exists.
/// lockHandle as for PDFSDK_CombineTwoPDFs.
/// lockHandle and why as for PDFSDK_CombineTwoPDFs.
int AppendPDFPagesByTool(const char* added, const char* receiving, intptr_t lockHandle = -1,
                         std::string* why = nullptr);

/// The page count that a structured PostScript job announces in its
/// "%%Pages:" comment (the trailer's when the header says "(atend)"); 0 for a
/// job without structure comments; -1 for a structured job that is cut off
/// (no "%%EOF", or "(atend)" without a count in the trailer).
int AnnouncedPageCount(const char* path);

/// True when value is one word of letters, digits, "-" or "_" (what a paper
/// size name may be on the interpreter's command line).
bool IsPaperSizeWord(const char* value);
