// Helpers for qpdf documents, shared by the PDF library layer and the PDF
// tools: copying pages between documents, writing a document atomically,
// concatenating files, reading a version text and the fixed-/ID switch. Only
// code of the PDF layer and the tools includes this header; the functions
// that throw are never called from above that layer.
#pragma once

#include <qpdf/PDFVersion.hh>
#include <qpdf/QPDF.hh>
#include <stdexcept>
#include <string>
#include <vector>

/// A file could not be created, written or renamed.
class PdfFileError : public std::runtime_error {
 public:
  explicit PdfFileError(const std::string& what) : std::runtime_error(what) {}
};

/// Copies every page of `from` into `to`, before the page at index `before`
/// (from 0) or at the end when `before` is not an index of a page of `to`.
/// Pages keep content, resources, boxes, rotation and annotations; links
/// between copied pages stay valid and form fields join the AcroForm of `to`.
/// The new page objects are added to *added when it is not null. Returns the
/// number of pages copied. `from` must stay alive until `to` is written.
/// Throws qpdf's exceptions.
int CopyAllPages(QPDF& from, QPDF& to, int before, std::vector<QPDFObjectHandle>* added);

/// How WritePdfAtomically writes.
struct PdfWriteOptions {
  PDFVersion version;         ///< minimum version (or the forced one)
  bool forceVersion = false;  ///< write exactly `version` in the header
  bool staticId = false;      ///< fixed /ID for byte-stable output
};

/// Parses a header version such as "1.7" (what QPDF::getPDFVersion gives) by
/// ParseVersionText. Unreadable text gives 1.3.
PDFVersion ParsePdfVersion(const std::string& text, int extensionLevel);

/// True when the environment asks for a fixed /ID (TARVELIN_STATIC_PDF_ID set,
/// not empty and not "0").
bool StaticPdfIdRequested();

/// Writes `pdf` unencrypted, streams compressed (Flate; JPEG data is never
/// decoded), without new object streams, to a new temporary file beside
/// `path` (platform::NewFile::CreateBeside: the old output's permissions,
/// 0644 for a new one), forces it to the disk and renames it over `path`. On
/// failure the temporary file is removed, `path` is untouched, and the qpdf
/// exception or a PdfFileError is thrown.
void WritePdfAtomically(QPDF& pdf, const std::string& path, const PdfWriteOptions& options);

/// Writes the pages of `inputs`, in order, to `output`, which may be one of
/// the inputs. The first input's document is the base: its document
/// information, outline and other document-level parts stay. Encrypted inputs
/// open with an empty user password; the output is not encrypted. Returns
/// false when an input cannot be read or the output cannot be written, with
/// one message per problem (and qpdf's warnings) added to *messages.
bool ConcatenatePdfFiles(const std::vector<std::string>& inputs, const std::string& output,
                         std::vector<std::string>* messages);
