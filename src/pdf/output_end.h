// The end of an existing output PDF, read once before pages are added to it:
// its length, its last cross-reference section and trailer, its pages, and
// whether an incremental update can be written behind it. The merger builds
// its update on what was read here, and the file's new end is checked
// against it after the write.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "config/status.h"

class PdfTail;

class OutputEnd {
 public:
  OutputEnd();
  ~OutputEnd();
  OutputEnd(const OutputEnd&) = delete;
  OutputEnd& operator=(const OutputEnd&) = delete;

  /// Reads the end of the PDF at path. An end that no update can build on
  /// (encrypted, linearized, damaged, a pages tree that miscounts, too many
  /// updates) says why in updateRefused(), and its pages are then counted by
  /// parsing the whole file. Fails, with qpdf's message, only when the file
  /// cannot be read as a PDF at all.
  Status Read(const std::string& path);

  const std::string& path() const { return path_; }
  int pages() const { return pages_; }
  int64_t length() const { return length_; }
  /// "" when an update can be written behind this end, else why not.
  const std::string& updateRefused() const { return refused_; }
  /// Marks the end as one no update builds on, for a reason found later
  /// (one that the new pages bring).
  void RefuseUpdate(const std::string& why) { refused_ = why.empty() ? "no reason given" : why; }

  /// After an update was written behind this end: the file's new end must
  /// follow right behind it, chain back to its cross-reference section and
  /// hold `pages` pages, its last branch counted right. Anything else is cut
  /// off again, back to this end, and the failure says what was found.
  Status CheckUpdate(int pages) const;

  /// Lets go of the file (no update builds on this end any more): a writer
  /// that replaces the output must not find it held open, which Windows
  /// refuses.
  void Close() {
    tail_.reset();
    if (refused_.empty()) refused_ = "the output is written whole";
  }

  /// For the PDF layer: the reader of the end, or nullptr when an update is
  /// refused.
  std::shared_ptr<PdfTail> tail() const { return tail_; }

 private:
  std::string path_;
  std::shared_ptr<PdfTail> tail_;
  int pages_ = -1;
  int64_t length_ = -1;
  std::string refused_ = "it was not read";
};
