// Pages made from pictures: an image file or a metafile turned into a PDF
// of its own by the merger, for the PDF tools that take one as an input.
#pragma once

#include <string>
#include <vector>

/// True when the path's extension names an image file or a metafile (.emf,
/// .wmf), which the merger turns into pages; false for PDF and others.
bool IsPictureFile(const std::string& path);

/// Writes the pages the merger makes of one image or metafile to a PDF at
/// output (replaced only after a complete write). False, with a message
/// added to *messages, when no page could be made; the reason is in the log.
bool WritePicturePages(const std::string& input, const std::string& output,
                       std::vector<std::string>* messages);

/// A temporary PDF holding an input's pages, when the input is a picture;
/// removed when the object goes. path() is the input itself otherwise.
class PictureAsPdf {
 public:
  /// Converts a picture input; ok() tells whether that worked.
  PictureAsPdf(const std::string& input, std::vector<std::string>* messages);
  ~PictureAsPdf();
  PictureAsPdf(const PictureAsPdf&) = delete;
  PictureAsPdf& operator=(const PictureAsPdf&) = delete;
  bool ok() const { return ok_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string temporary_;
  bool ok_ = true;
};
