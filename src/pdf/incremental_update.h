// Appending pages to an existing PDF as an incremental update: only the new
// objects and the few changed ones (the pages-tree nodes on the way to the
// new pages, the document information, the catalog when the version rises)
// are written behind the file's end, with a cross-reference section of the
// file's own kind and a trailer pointing back at the previous one. The cost
// follows the job, not the output. Only code of the PDF layer includes this
// header; no exception leaves its functions.
#pragma once

#include <map>
#include <qpdf/PDFVersion.hh>
#include <qpdf/QPDF.hh>
#include <string>

class PdfTail;

/// What an update writes besides the pages.
struct IncrementalUpdate {
  /// Document information entries ("/Producer", ...) as UTF-8, merged over
  /// the file's own.
  std::map<std::string, std::string> info;
  PDFVersion version{1, 3};  ///< the version the document must have at least
  bool staticId = false;     ///< fixed second /ID part, for tests
};

/// "" when the file's own end lets an update build on it, else why it is
/// written whole instead: it has had too many updates, or its updates grew
/// to over a third of it.
std::string UpdateRefusal(PdfTail& base);

/// The result of AppendIncrementally.
enum class IncrementalResult {
  kAppended,     ///< the pages are in the file
  kNotPossible,  ///< nothing was written; the whole document must be rewritten
  kFailed,       ///< writing failed; the file was cut back to what it was
};

/// Appends the pages of `pages` (a document holding only the new pages) to
/// the file `base` was opened on, which must not have changed since. First a
/// record of the file's length is made durable beside it, so that an update
/// cut short (a crash, a pulled drive) is cut back by
/// RecoverInterruptedAppend; the record is removed once the update is on
/// the disk. *why says why an update was not possible or failed.
IncrementalResult AppendIncrementally(PdfTail& base, QPDF& pages, const IncrementalUpdate& update,
                                      std::string* why);

/// When an update of the file was cut short, cuts the file back to its
/// length before that update and removes the record. A record that is not
/// this program's own (another account's, a link, open to others) or whose
/// length is no earlier end of the file (a complete PDF up to there) never
/// cuts: it is set aside, the file is left as it is and *why says so while
/// true is returned. Returns false (with *why) when a record exists and the
/// file could not be cut back; *recovered tells whether the file was cut.
bool RecoverInterruptedAppend(const std::string& path, bool* recovered, std::string* why);

/// The record's path beside a file.
std::string AppendRecordPath(const std::string& path);
