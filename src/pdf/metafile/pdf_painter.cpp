#include "pdf/metafile/pdf_painter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace metafile {

std::string Num(double value) {
  if (!std::isfinite(value)) value = 0;
  // Coordinates past this are far off any page; PDF readers limit reals too.
  const double kLimit = 1e7;
  if (value > kLimit) value = kLimit;
  if (value < -kLimit) value = -kLimit;
  char buffer[48];
  std::snprintf(buffer, sizeof(buffer), "%.4f", value);
  char* end = buffer + std::strlen(buffer);
  while (end[-1] == '0') *--end = '\0';
  if (end[-1] == '.') *--end = '\0';
  if (std::strcmp(buffer, "-0") == 0) return "0";
  return buffer;
}

Matrix Matrix::Then(const Matrix& n) const {
  return {a * n.a + b * n.c, a * n.b + b * n.d,       c * n.a + d * n.c,
          c * n.b + d * n.d, e * n.a + f * n.c + n.e, e * n.b + f * n.d + n.f};
}

Matrix Matrix::Inverse() const {
  double det = a * d - b * c;
  if (std::fabs(det) < 1e-12 || !std::isfinite(det)) return Matrix();
  return {d / det, -b / det, -c / det, a / det, (c * f - d * e) / det, (b * e - a * f) / det};
}

double Matrix::Scale() const {
  double det = std::fabs(a * d - b * c);
  return std::isfinite(det) ? std::sqrt(det) : 0;
}

namespace {

std::string Pt(Point p) { return Num(p.x) + " " + Num(p.y); }

std::string Color(Rgb c, const char* op) {
  return Num(c.r / 255.0) + " " + Num(c.g / 255.0) + " " + Num(c.b / 255.0) + " " + op + "\n";
}

// A PDF literal string: the delimiters and the backslash escaped, bytes
// outside printable ASCII written in octal.
std::string Literal(const std::string& bytes) {
  std::string out = "(";
  for (unsigned char ch : bytes) {
    if (ch == '(' || ch == ')' || ch == '\\') {
      out += '\\';
      out += static_cast<char>(ch);
    } else if (ch < 32 || ch > 126) {
      char octal[8];
      std::snprintf(octal, sizeof(octal), "\\%03o", ch);
      out += octal;
    } else {
      out += static_cast<char>(ch);
    }
  }
  return out + ")";
}

}  // namespace

void PagePath::Grow(Point p) {
  if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;
  if (!hasBounds_) {
    low_ = high_ = p;
    hasBounds_ = true;
    return;
  }
  low_ = {std::min(low_.x, p.x), std::min(low_.y, p.y)};
  high_ = {std::max(high_.x, p.x), std::max(high_.y, p.y)};
}

bool PagePath::Bounds(Point* low, Point* high) const {
  *low = low_;
  *high = high_;
  return hasBounds_;
}

void PagePath::MoveTo(Point p) {
  Grow(p);
  ops_ += Pt(p) + " m\n";
  hasCurrent_ = true;
}

void PagePath::LineTo(Point p) {
  if (!hasCurrent_) return MoveTo(p);
  Grow(p);
  ops_ += Pt(p) + " l\n";
}

void PagePath::CurveTo(Point c1, Point c2, Point p) {
  if (!hasCurrent_) MoveTo(c1);
  Grow(c1);
  Grow(c2);
  Grow(p);
  ops_ += Pt(c1) + " " + Pt(c2) + " " + Pt(p) + " c\n";
}

void PagePath::Close() {
  if (hasCurrent_) ops_ += "h\n";
}

void PagePath::Append(const PagePath& other) {
  ops_ += other.ops_;
  hasCurrent_ = hasCurrent_ || other.hasCurrent_;
  if (other.hasBounds_) {
    Grow(other.low_);
    Grow(other.high_);
  }
}

void AppendEllipseArc(PagePath* path, const Matrix& m, Point c, double rx, double ry, double start,
                      double sweep, bool moveFirst) {
  const double kTurn = 2 * 3.14159265358979323846;
  if (!std::isfinite(start) || !std::isfinite(sweep)) return;
  sweep = std::clamp(sweep, -kTurn, kTurn);
  int parts = std::max(1, static_cast<int>(std::ceil(std::fabs(sweep) / (kTurn / 4) - 1e-9)));
  double step = sweep / parts;
  double k = 4.0 / 3.0 * std::tan(step / 4);
  auto at = [&](double t) { return Point{c.x + rx * std::cos(t), c.y + ry * std::sin(t)}; };
  if (moveFirst) {
    path->MoveTo(m.Apply(at(start)));
  } else {
    path->LineTo(m.Apply(at(start)));
  }
  for (int i = 0; i < parts; ++i) {
    double t0 = start + i * step, t1 = t0 + step;
    Point p0 = at(t0), p3 = at(t1);
    Point c1{p0.x - k * rx * std::sin(t0), p0.y + k * ry * std::cos(t0)};
    Point c2{p3.x + k * rx * std::sin(t1), p3.y - k * ry * std::cos(t1)};
    path->CurveTo(m.Apply(c1), m.Apply(c2), m.Apply(p3));
  }
}

bool CombineClip(std::vector<ClipPart>* clip, const std::string& ops, bool evenOdd,
                 ClipCombine how) {
  // Far outside any page: what "everything" is for an excluded area.
  const std::string kEverything =
      "-1000000 -1000000 m\n1000000 -1000000 l\n1000000 1000000 l\n-1000000 1000000 l\nh\n";
  switch (how) {
    case ClipCombine::kReplace:
      clip->clear();
      clip->emplace_back(ops, evenOdd);
      return true;
    case ClipCombine::kIntersect:
      if (clip->size() >= kMaxClipParts) return false;
      clip->emplace_back(ops, evenOdd);
      return true;
    case ClipCombine::kExclude:
      if (clip->size() >= kMaxClipParts) return false;
      clip->emplace_back(kEverything + ops, true);
      return true;
    case ClipCombine::kUnion:
      if (clip->empty()) return true;  // everything already
      if (clip->size() > 1 || clip->front().evenOdd || evenOdd) return false;
      *clip = {ClipPart(*clip->front().pathOps + ops, false)};
      return true;
    case ClipCombine::kXor:
    default: {
      if (clip->size() > 1) return false;
      std::string old = clip->empty() ? kEverything : *clip->front().pathOps;
      *clip = {ClipPart(old + ops, true)};
      return true;
    }
  }
}

PdfPainter::PdfPainter(MetafileCanvas* canvas, size_t limitBytes, int depth)
    : canvas_(canvas), limit_(limitBytes), depth_(depth) {}

PdfPainter PdfPainter::Inner() const {
  size_t used = content_.size() + formBytes_;
  return PdfPainter(canvas_, used < limit_ ? limit_ - used : 0, depth_ + 1);
}

std::string PdfPainter::Form(const std::string& content, double width, double height) {
  formBytes_ += content.size();
  if (content.empty() || Full() || !(width > 0) || !(height > 0)) return "";
  return canvas_->FormResource(content, width, height);
}

std::string PdfPainter::Opacity(uint8_t fillAlpha, uint8_t strokeAlpha) {
  if (fillAlpha == 255 && strokeAlpha == 255) return "";
  return canvas_->GraphicStateResource(fillAlpha / 255.0, strokeAlpha / 255.0, "Normal") + " gs\n";
}

void PdfPainter::Emit(const std::string& ops) {
  if (!Full()) content_ += ops;
}

// PDF can only narrow a clip inside a saved state, so a changed clip closes
// the group of the old one and opens a group for the new one.
void PdfPainter::ApplyClip() {
  if (clipOpen_ && wantedClip_ == activeClip_) return;
  if (!clipOpen_ && wantedClip_.empty()) return;
  if (clipOpen_) Emit("Q\n");
  clipOpen_ = false;
  activeClip_ = wantedClip_;
  if (wantedClip_.empty()) return;
  std::string ops = "q\n";
  for (const ClipPart& part : wantedClip_) {
    ops += *part.pathOps + (part.evenOdd ? "W* n\n" : "W n\n");
  }
  Emit(ops);
  clipOpen_ = true;
}

void PdfPainter::Paint(const PagePath& path, const FillStyle& fill, const StrokeStyle& stroke) {
  if (path.Empty() || (!fill.on && !stroke.on) || Full()) return;
  ApplyClip();
  std::string ops = "q\n";
  ops += Opacity(fill.on ? fill.alpha : 255, stroke.on ? stroke.alpha : 255);
  if (fill.on) ops += Color(fill.color, "rg");
  if (stroke.on) {
    ops += Color(stroke.color, "RG");
    ops += Num(stroke.width) + " w " + std::to_string(stroke.cap) + " J " +
           std::to_string(stroke.join) + " j " + Num(std::max(1.0, stroke.miterLimit)) + " M\n";
    if (!stroke.dash.empty()) {
      ops += "[";
      for (double d : stroke.dash) ops += Num(d) + " ";
      ops += "] 0 d\n";
    }
  }
  ops += path.Ops();
  if (fill.on && stroke.on) {
    ops += fill.evenOdd ? "B*\n" : "B\n";
  } else if (fill.on) {
    ops += fill.evenOdd ? "f*\n" : "f\n";
  } else {
    ops += "S\n";
  }
  Emit(ops + "Q\n");
}

void PdfPainter::Text(const TextRun& run) {
  if ((run.font ? run.glyphs.empty() : run.bytes.empty()) || run.size <= 0 || Full()) return;
  ApplyClip();
  std::string font = run.font ? canvas_->EmbeddedFontResource(*run.font, run.glyphs, run.chars)
                              : canvas_->FontResource(run.baseFont);
  std::string shown = Literal(run.bytes);
  if (run.font) {
    shown = "<";
    char hex[8];
    for (uint16_t glyph : run.glyphs) {
      std::snprintf(hex, sizeof hex, "%04X", glyph);
      shown += hex;
    }
    shown += ">";
  }
  const Matrix& m = run.placement;
  std::string ops = "BT\n" + Opacity(run.alpha, run.alpha) + Color(run.color, "rg") + font + " " +
                    Num(run.size) + " Tf\n";
  if (std::fabs(run.horizontalScale - 100) > 0.01) ops += Num(run.horizontalScale) + " Tz\n";
  ops += Num(m.a) + " " + Num(m.b) + " " + Num(m.c) + " " + Num(m.d) + " " + Num(m.e) + " " +
         Num(m.f) + " Tm\n" + shown + " Tj\nET\n";
  Emit(ops);
}

void PdfPainter::Image(const RasterImage& image, const Matrix& u) { Place(ImageName(image), u); }

std::string PdfPainter::ImageName(const RasterImage& image) {
  if (image.width <= 0 || image.height <= 0 || Full()) return "";
  return canvas_->ImageResource(image);
}

std::string PdfPainter::Picture(const std::string& file, int* width, int* height,
                                std::string* error) {
  if (Full()) {
    *error = "the page is full";
    return "";
  }
  return canvas_->PictureResource(file, width, height, error);
}

void PdfPainter::Invert(const PagePath& path) {
  if (path.Empty() || Full()) return;
  ApplyClip();
  Emit("q " + canvas_->GraphicStateResource(1, 1, "Difference") + " gs 1 g\n" + path.Ops() +
       "f\nQ\n");
}

void PdfPainter::PatternFill(const PagePath& path, bool evenOdd, const PatternCell& cell) {
  if (path.Empty() || Full() || !(cell.width > 0) || !(cell.height > 0)) return;
  ApplyClip();
  std::string name = canvas_->PatternFillResource(path.Ops(), evenOdd, cell);
  if (!name.empty()) Emit("q " + name + " Do Q\n");
}

void PdfPainter::Place(const std::string& name, const Matrix& u, uint8_t alpha) {
  if (name.empty() || Full()) return;
  ApplyClip();
  Emit("q " + Opacity(alpha, alpha) + Num(u.a) + " " + Num(u.b) + " " + Num(u.c) + " " + Num(u.d) +
       " " + Num(u.e) + " " + Num(u.f) + " cm " + name + " Do Q\n");
}

std::string PdfPainter::Finish() {
  if (clipOpen_) content_ += "Q\n";
  clipOpen_ = false;
  activeClip_.clear();
  return content_;
}

}  // namespace metafile
