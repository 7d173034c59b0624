// The PDF library layer: one document under construction per instance,
// written with qpdf. Callers see only these free functions and an opaque
// handle; no exception leaves this layer. Problems are reported through the
// installed error callback (and image problems also through the log).
//
// Results: page counts and page numbers are negative on failure; image
// counts are 0; pdfOpenImportFileA gives 0 for success and a negative value
// for failure; all other calls give non-zero for success and 0 for failure.
#pragma once

#include <cstdint>
#include <memory>

/// A document under construction (opaque).
struct PDF;
class OutputEnd;

/// The error callback: data as given to pdfSetOnErrorProc, a code (qpdf's
/// error code, or 0), the message, and the type flags below. Its result is
/// ignored.
typedef int (*TErrorProc)(const void* data, int errCode, const char* errMessage, int errType);

/// Error type flags passed to the callback.
const int kPdfWarning = 0x02000000;      ///< recovered problem (qpdf warning)
const int kPdfSyntaxError = 0x04000000;  ///< damaged or malformed PDF
const int kPdfValueError = 0x08000000;   ///< bad argument or unusable value
const int kPdfFontError = 0x10000000;    ///< TrueType font problem (not used)
const int kPdfFatalError = 0x20000000;   ///< anything else that stopped a call
const int kPdfFileError = 0x40000000;    ///< file cannot be opened, written or renamed

/// The callback the merger installs: writes one log line chosen by the first
/// type flag set ("Warning: %s\n", "Syntax error!: %s\n", ...). Returns 0.
int OnPDFError(const void* data, int errCode, const char* errMessage, int errType);

/// A new instance holding an empty document, or nullptr.
PDF* pdfNewPDF();
/// Frees the instance. Without a successful pdfCloseFile nothing is written:
/// the output file stays as it was and no temporary file is left.
void pdfDeletePDF(PDF* pdf);
/// Calls pdfDeletePDF, for owners of an instance.
struct PDFDeleter {
  void operator()(PDF* pdf) const { pdfDeletePDF(pdf); }
};
/// An instance that is freed when its owner goes out of scope.
using PDFInstance = std::unique_ptr<PDF, PDFDeleter>;

/// Installs the error callback (nullptr: problems are not reported).
int pdfSetOnErrorProc(PDF* pdf, const void* data, TErrorProc proc);

/// Names the output file. Returns 0 when a file cannot be created in the
/// output's folder (checked now by creating and removing a temporary file) or
/// the path names a folder.
int pdfCreateNewPDFA(PDF* pdf, const char* outPDF);
/// Finishes an open page and writes the document to a temporary file beside
/// the output, renamed over the output only after a complete write. Returns
/// non-zero on success. On failure (also when the document has no page) it
/// returns 0 and the output is exactly as before. Afterwards the instance
/// holds a new empty document and no output name.
int pdfCloseFile(PDF* pdf);

/// Stored only: an import always takes whole pages with their content,
/// resources, boxes, rotation, annotations and links.
int pdfSetImportFlags(PDF* pdf, uint32_t flags);
/// 0: PDF's bottom-up coordinates; 1: top-down, y measured downwards from the
/// top of the page's media box. Applies to pdfSetBBox and pdfInsertImageExA.
int pdfSetPageCoords(PDF* pdf, int coords);
/// Sets a document information entry: 0 Author, 1 Creator, 2 Keywords,
/// 3 Producer, 4 Subject, 5 Title. The text is in the system's code page
/// (platform::AnsiToUtf8: UTF-8 on POSIX, where text that is not valid UTF-8
/// is read as Windows-1252). Returns 0 for an unknown kind.
int pdfSetDocInfoA(PDF* pdf, int kind, const char* value);
/// Stored only: metafiles are always drawn as vector content.
int pdfSetMetaConvFlags(PDF* pdf, uint32_t flags);
/// Codes 1..7 make the output PDF 1.1..1.7, raised to the highest version of
/// any imported file and to what inserted images need (soft masks 1.4,
/// JPEG 2000 1.5). Without a call the output is at least 1.3. Returns 0 for
/// other codes.
int pdfSetPDFVersion(PDF* pdf, int version);
/// Stored only: new streams are always compressed with Flate, and JPEG and
/// JPEG 2000 images keep their own compression.
int pdfSetCompressionFilter(PDF* pdf, int filter);

/// Starts the document with the pages of the output (named by
/// pdfCreateNewPDFA) whose end was read into `end`, which an update can
/// build on: pdfCloseFile then writes only the new pages, behind that end.
/// When no update can be built for them after all, pdfCloseFile writes
/// nothing, returns 0 and marks the end refused (OutputEnd::updateRefused).
/// Pages put in front of the output's own make the document written whole.
/// The end must outlive the document. Returns 0 for an end no update builds
/// on, another file, or a document that already has pages.
int pdfAppendBehind(PDF* pdf, OutputEnd* end);
/// Opens a PDF as the import file, replacing an earlier one. pwdType is
/// ignored; password nullptr or "" tries the empty user password. Returns 0
/// on success, negative on failure (reported through the callback).
int pdfOpenImportFileA(PDF* pdf, const char* path, int pwdType, const char* password);
/// Number of pages the document holds so far (negative on failure).
int pdfGetPageCount(PDF* pdf);
/// Inserts all pages of the import file before page destPage (from 1), or at
/// the end when destPage is past the last page. Returns the next free page
/// number after them (destPage + pages). On failure returns a negative
/// number, reports through the callback and leaves the document's pages as
/// they were. Scale factors other than 1.0 are ignored.
int pdfImportPDFFile(PDF* pdf, int destPage, double scaleX, double scaleY);

/// Opens a new page (A4 media box until pdfSetBBox) at the end of the
/// document, finishing an open one first.
int pdfAppend(PDF* pdf);
/// Sets a box of the open page: 0 art, 1 bleed, 2 crop, 3 trim, 4 media. In
/// top-down coordinates the media box becomes [left 0 right bottom-top] and
/// the other boxes are measured from its top.
int pdfSetBBox(PDF* pdf, int box, double left, double top, double right, double bottom);
/// Places image `image` (from 1) of the file on the open page so that it
/// fills the rectangle at (x, y) (its top-left corner in top-down
/// coordinates, bottom-left otherwise) of the given size; a width or height
/// of 0 takes the image's pixel size (keeping its aspect when one is given).
/// Returns 0 and logs "[ERROR] ..." when the image cannot be read; a page
/// that is left without content for that reason is dropped by pdfEndPage.
int pdfInsertImageExA(PDF* pdf, double x, double y, double width, double height, const char* path,
                      int image);
/// Finishes the open page (or drops it, see pdfInsertImageExA).
int pdfEndPage(PDF* pdf);

/// Number of images in an image file (TIFF directories; 1 for other
/// formats), 0 (logged) when the file cannot be read as an image. The format
/// is told by the file's contents, not its name. Only headers are read here,
/// so a damaged image may still fail later in pdfInsertImageExA.
int pdfGetImageCountA(PDF* pdf, const char* path);
/// Size in pixels and bits per pixel of image `image` (from 1) of the file.
/// *compressionHint is 1 when the image is decoded and stored with Flate, 0
/// when its own compressed data goes into the PDF (JPEG, JPEG 2000).
/// Returns 0 on failure (logged).
int pdfReadImageFormat2A(PDF* pdf, const char* path, int image, int* width, int* height,
                         int* bitsPerPixel, int* compressionHint);

/// A rectangle of four 32-bit integers: left, top, right, bottom.
struct PdfRectL {
  int32_t left, top, right, bottom;
};

/// The size in points of an enhanced metafile (by its bounds and reference
/// device), or of a Windows metafile (by its placeable header, else by its
/// window extent and map mode), as (0, 0, width, height) rounded to whole
/// points. The format is told by the contents. Returns 0 (reported through
/// the callback) when the file cannot be read or states no usable size.
int pdfGetLogMetafileSizeA(PDF* pdf, const char* path, PdfRectL* rect);
/// Draws an enhanced (with its EMF+ records) or Windows metafile on the open
/// page as vector content filling the rectangle at (x, y) (top-left corner
/// in top-down coordinates, bottom-left otherwise) of the given size. Text
/// becomes text in a standard font. Records that are not drawn are logged
/// in one "[INFO] ..." line per file. Returns 0 and logs "[ERROR] ..." when
/// the file cannot be read or is no metafile; a page left without content
/// for that reason is dropped by pdfEndPage.
int pdfInsertMetafileA(PDF* pdf, const char* path, double x, double y, double width, double height);

/// For tests: a fixed document /ID so that equal input gives equal bytes.
/// The environment variable TARVELIN_STATIC_PDF_ID (non-empty, not "0") has
/// the same effect for every instance.
void pdfSetStaticIdForTesting(PDF* pdf, bool staticId);
