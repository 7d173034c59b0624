#include "pdf/metafile/metafile.h"

#include <cmath>
#include <cstdint>

#include "pdf/metafile/emf_player.h"
#include "pdf/metafile/wmf_player.h"

namespace metafile {

namespace {

const uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

// A rectangle (left, top, right, bottom) of one space onto the page
// rectangle, y turned upwards.
Matrix RectToPage(double l, double t, double r, double b, double left, double bottom, double width,
                  double height) {
  double sx = width / (r - l), sy = height / (b - t);
  return Matrix::Translate(-l, -t)
      .Then(Matrix::Scaling(sx, -sy))
      .Then(Matrix::Translate(left, bottom + height));
}

bool Usable(double value) { return std::isfinite(value) && value > 0; }

}  // namespace

bool MeasureMetafile(const std::string& bytes, double* width, double* height, std::string* error) {
  EmfHeader emf;
  std::string emfError;
  if (ReadEmfHeader(Bytes(bytes), bytes.size(), &emf, &emfError)) {
    const int32_t* b = emf.bounds;
    *width = (double(b[2]) - b[0]) * emf.HundredthMmPerPixel(0) / 2540 * 72;
    *height = (double(b[3]) - b[1]) * emf.HundredthMmPerPixel(1) / 2540 * 72;
    if (Usable(*width) && Usable(*height)) return true;
    *error = "the enhanced metafile's bounds are empty";
    return false;
  }
  // A file that begins as an enhanced metafile is one, with that problem.
  if (bytes.size() >= 44 && bytes.compare(0, 4, std::string("\1\0\0\0", 4)) == 0 &&
      bytes.compare(40, 4, " EMF") == 0) {
    *error = emfError;
    return false;
  }
  WmfLayout wmf;
  if (ReadWmfLayout(Bytes(bytes), bytes.size(), &wmf, error)) {
    *width = wmf.widthPoints;
    *height = wmf.heightPoints;
    if (Usable(*width) && Usable(*height)) return true;
    *error = "the Windows metafile's size is empty";
  }
  return false;
}

bool DrawMetafile(const std::string& bytes, double left, double bottom, double width, double height,
                  MetafileCanvas* canvas, MetafileDrawing* drawing, std::string* error) {
  PdfPainter painter(canvas, kMaxContentBytes);
  std::string problem;
  EmfHeader emf;
  WmfLayout wmf;
  if (ReadEmfHeader(Bytes(bytes), bytes.size(), &emf, error)) {
    // The frame is the picture; without a usable one the bounds are.
    double l = emf.frame[0], t = emf.frame[1], r = emf.frame[2], b = emf.frame[3];
    if (!(r > l && b > t)) {
      l = emf.bounds[0] * emf.HundredthMmPerPixel(0),
      r = emf.bounds[2] * emf.HundredthMmPerPixel(0);
      t = emf.bounds[1] * emf.HundredthMmPerPixel(1),
      b = emf.bounds[3] * emf.HundredthMmPerPixel(1);
    }
    if (!(r > l && b > t)) {
      *error = "the enhanced metafile has neither a frame nor bounds";
      return false;
    }
    Matrix toPage = RectToPage(l, t, r, b, left, bottom, width, height);
    if (!PlayEmf(Bytes(bytes), bytes.size(), emf, toPage, &painter, &drawing->report, &problem)) {
      drawing->report.Problem(problem);
    }
  } else if (ReadWmfLayout(Bytes(bytes), bytes.size(), &wmf, error)) {
    Matrix unit = RectToPage(0, 0, 1, 1, left, bottom, width, height);
    if (!PlayWmf(Bytes(bytes), bytes.size(), wmf, unit, &painter, &drawing->report, &problem)) {
      drawing->report.Problem(problem);
    }
  } else {
    *error = "the file is neither an enhanced nor a Windows metafile";
    return false;
  }
  drawing->content = painter.Finish();
  return true;
}

}  // namespace metafile
