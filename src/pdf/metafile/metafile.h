// Enhanced (EMF, EMF+) and Windows (WMF) metafiles: their size, and their
// drawing as PDF page content. The format is told by the file's contents.
#pragma once

#include <cstddef>
#include <string>

#include "pdf/metafile/gdi_player.h"
#include "pdf/metafile/pdf_painter.h"

namespace metafile {

/// Largest metafile read, and largest page content one may produce.
const size_t kMaxMetafileBytes = size_t(256) << 20;
const size_t kMaxContentBytes = size_t(32) << 20;

/// The picture's size in points: an enhanced metafile by its bounds (in
/// device units of its reference device), a Windows metafile by its
/// placeable header, else by its window extent and map mode. False with
/// *error set when the file is neither or states no usable size.
bool MeasureMetafile(const std::string& bytes, double* width, double* height, std::string* error);

/// A drawing as page content, and what was left out of it.
struct MetafileDrawing {
  std::string content;  ///< PDF operators, balanced q/Q
  DrawReport report;
};

/// Draws the metafile so that its picture (an enhanced metafile's frame,
/// a Windows metafile's window) fills the page rectangle with lower-left
/// corner (left, bottom). Resources go to canvas. False with *error set
/// when the file is no metafile; a damaged record stops the drawing with
/// *error set but the content drawn so far is kept (and true returned, the
/// problem in drawing->report).
bool DrawMetafile(const std::string& bytes, double left, double bottom, double width, double height,
                  MetafileCanvas* canvas, MetafileDrawing* drawing, std::string* error);

/// Draws as DrawMetafile does, onto a painter the caller finishes.
bool PaintMetafile(const std::string& bytes, double left, double bottom, double width,
                   double height, PdfPainter* painter, DrawReport* report, std::string* error);

/// The rectangle a metafile embedded as an image covers in that image's
/// pixels: an enhanced metafile's frame (else its bounds) in pixels of its
/// reference device, a Windows metafile's placeable box (else its window)
/// in its logical units. False with *error set when it has no usable size.
bool MetafileImageBox(const std::string& bytes, Point* origin, Point* extent, std::string* error);

}  // namespace metafile
