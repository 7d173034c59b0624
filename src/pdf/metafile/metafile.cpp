#include "pdf/metafile/metafile.h"

#include <algorithm>
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

namespace {

// The rectangle (left, top, right, bottom) an enhanced metafile's picture
// covers in hundredths of a millimetre: its frame, or without a usable one
// its bounds.
bool EmfPicture(const EmfHeader& emf, double* rect) {
  const int32_t* f = emf.frame;
  if (f[2] > f[0] && f[3] > f[1]) {
    for (int i = 0; i < 4; ++i) rect[i] = f[i];
    return true;
  }
  for (int i = 0; i < 4; ++i) rect[i] = emf.bounds[i] * emf.HundredthMmPerPixel(i % 2);
  return rect[2] > rect[0] && rect[3] > rect[1];
}

}  // namespace

bool DrawMetafile(const std::string& bytes, double left, double bottom, double width, double height,
                  MetafileCanvas* canvas, MetafileDrawing* drawing, std::string* error) {
  PdfPainter painter(canvas, kMaxContentBytes);
  if (!PaintMetafile(bytes, left, bottom, width, height, &painter, &drawing->report, error)) {
    return false;
  }
  drawing->content = painter.Finish();
  return true;
}

bool PaintMetafile(const std::string& bytes, double left, double bottom, double width,
                   double height, PdfPainter* painter, DrawReport* report, std::string* error) {
  std::string problem;
  EmfHeader emf;
  WmfLayout wmf;
  if (ReadEmfHeader(Bytes(bytes), bytes.size(), &emf, error)) {
    double p[4];
    if (!EmfPicture(emf, p)) {
      *error = "the enhanced metafile has neither a frame nor bounds";
      return false;
    }
    Matrix toPage = RectToPage(p[0], p[1], p[2], p[3], left, bottom, width, height);
    if (!PlayEmf(Bytes(bytes), bytes.size(), emf, toPage, painter, report, &problem)) {
      report->Problem(problem);
    }
  } else if (ReadWmfLayout(Bytes(bytes), bytes.size(), &wmf, error)) {
    Matrix unit = RectToPage(0, 0, 1, 1, left, bottom, width, height);
    if (!PlayWmf(Bytes(bytes), bytes.size(), wmf, unit, painter, report, &problem)) {
      report->Problem(problem);
    }
  } else {
    *error = "the file is neither an enhanced nor a Windows metafile";
    return false;
  }
  return true;
}

bool MetafileImageBox(const std::string& bytes, Point* origin, Point* extent, std::string* error) {
  EmfHeader emf;
  WmfLayout wmf;
  double p[4] = {0, 0, 0, 0};
  if (ReadEmfHeader(Bytes(bytes), bytes.size(), &emf, error)) {
    if (EmfPicture(emf, p)) {
      for (int i = 0; i < 4; ++i) p[i] /= emf.HundredthMmPerPixel(i % 2);
    }
  } else if (ReadWmfLayout(Bytes(bytes), bytes.size(), &wmf, error)) {
    const double* w = wmf.window;
    if (wmf.placeable) {
      p[0] = wmf.box[0], p[1] = wmf.box[1], p[2] = wmf.box[2], p[3] = wmf.box[3];
    } else {
      p[0] = std::min(w[0], w[0] + w[2]), p[2] = std::max(w[0], w[0] + w[2]);
      p[1] = std::min(w[1], w[1] + w[3]), p[3] = std::max(w[1], w[1] + w[3]);
    }
  } else {
    *error = "neither an enhanced nor a Windows metafile";
    return false;
  }
  *origin = {p[0], p[1]};
  *extent = {p[2] - p[0], p[3] - p[1]};
  if (Usable(extent->x) && Usable(extent->y)) return true;
  *error = "its picture's size is empty";
  return false;
}

}  // namespace metafile
