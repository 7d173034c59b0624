// A PDF made of raster pages: each page shows one picture over its whole
// sheet, as a printer's raster page does. The printer application turns PWG
// and Apple raster documents into their pages with it.
#pragma once

#include <memory>
#include <string>

#include "config/status.h"
#include "pdf/image/image.h"

class RasterPages {
 public:
  RasterPages();
  ~RasterPages();
  RasterPages(const RasterPages&) = delete;
  RasterPages& operator=(const RasterPages&) = delete;

  /// Adds a page of widthPt x heightPt points whose whole sheet shows pixels.
  void AddPage(const images::Pixels& pixels, double widthPt, double heightPt);
  int PageCount() const { return pages_; }
  /// Writes the pages to path (replaced only after a complete write).
  Status Write(const std::string& path);

 private:
  struct Document;
  std::unique_ptr<Document> document_;
  int pages_ = 0;
};
