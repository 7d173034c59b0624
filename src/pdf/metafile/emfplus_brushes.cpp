// EMF+ brushes other than a plain colour: hatches and textures as tiling
// patterns, linear gradients as bands of colour across the brush's
// rectangle, path gradients as rings from the boundary to the centre.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "pdf/metafile/emfplus_player.h"

namespace metafile {

namespace {

// Bands and rings a gradient is drawn with.
const int kGradientSteps = 48;

Rgb Mix(Rgb a, Rgb b, double t) {
  auto channel = [t](uint8_t x, uint8_t y) {
    return static_cast<uint8_t>(std::lround(x + (y - x) * t));
  };
  return Rgb{channel(a.r, b.r), channel(a.g, b.g), channel(a.b, b.b)};
}

uint8_t MixAlpha(uint8_t a, uint8_t b, double t) {
  return static_cast<uint8_t>(std::lround(a + (b - a) * t));
}

// EMF+ hatch styles: 0-5 are GDI's line hatches; 6-17 are dots covering a
// share of the cell (drawn as that mixture of the colours); of the rest,
// the diagonals, verticals and horizontals by their direction, others as
// an even mixture.
int HatchLines(uint32_t style, double* share) {
  const double kShares[] = {0.05, 0.10, 0.20, 0.25, 0.30, 0.40, 0.50, 0.60, 0.70, 0.75, 0.80, 0.90};
  const int kLines[] = {2, 3, 2, 3, 2, 3, 1, 0, 1, 0, 1, 0};  // styles 18 to 29
  if (style <= 5) return static_cast<int>(style);
  if (style <= 17) {
    *share = kShares[style - 6];
    return -1;
  }
  if (style <= 29) return kLines[style - 18];
  *share = 0.5;
  return -1;
}

}  // namespace

void EmfPlusPlayer::FillWithBrush(const PagePath& path, const Brush& brush, bool evenOdd) {
  painter_->SetClip(state_.clip);
  Matrix pixelToPage =
      Matrix::Scaling(2540 / dpiX_, 2540 / dpiY_).Then(hundredthMmToPage_);  // device pixels
  switch (brush.type) {
    case 1: {
      double share = 0;
      int lines = HatchLines(brush.hatch, &share);
      if (lines < 0) {
        FillStyle f;
        f.on = true;
        f.evenOdd = evenOdd;
        f.color = brush.secondAlpha == 0 ? brush.color : Mix(brush.second, brush.color, share);
        painter_->Paint(path, f, StrokeStyle());
        return;
      }
      Rgb back = brush.second;
      painter_->PatternFill(path, evenOdd,
                            HatchCell(static_cast<uint32_t>(lines), brush.color,
                                      brush.secondAlpha ? &back : nullptr, pixelToPage));
      return;
    }
    case 2: {
      std::string name = brush.image ? ImageName(brush.image.get()) : "";
      if (name.empty()) break;
      // One image pixel a device pixel, through the brush's transform.
      double page = UnitToPixels(state_.pageUnit) * state_.pageScale;
      PatternCell cell;
      cell.width = brush.image->width;
      cell.height = brush.image->height;
      cell.placement =
          Matrix::Scaling(1 / page, 1 / page).Then(brush.transform).Then(WorldToPage());
      cell.ops = Num(cell.width) + " 0 0 " + Num(-cell.height) + " 0 " + Num(cell.height) + " cm " +
                 name + " Do\n";
      painter_->PatternFill(path, evenOdd, cell);
      return;
    }
    case 3:
    case 4: {
      std::vector<ClipPart> clip = state_.clip;
      if (!CombineClip(&clip, path.Ops(), evenOdd, ClipCombine::kIntersect)) break;
      painter_->SetClip(clip);
      if (brush.type == 4) {
        LinearGradient(path, brush);
      } else {
        PathGradient(brush);
      }
      return;
    }
    default:
      break;
  }
  FillStyle f;  // what cannot be drawn otherwise: the brush's main colour
  f.on = true;
  f.evenOdd = evenOdd;
  f.color = brush.color;
  f.alpha = brush.alpha;
  painter_->Paint(path, f, StrokeStyle());
}

// Bands across the brush's rectangle in brush space, the first and last
// reaching as far as the path does.
void EmfPlusPlayer::LinearGradient(const PagePath& path, const Brush& brush) {
  Point low, high;
  if (!path.Bounds(&low, &high) || !(std::fabs(brush.extent.x) > 0)) return;
  Matrix toPage = brush.transform.Then(WorldToPage());
  Matrix back = toPage.Inverse();
  double minX = brush.corner.x, maxX = brush.corner.x + brush.extent.x;
  if (minX > maxX) std::swap(minX, maxX);
  double x0 = minX, x1 = maxX, y0 = 0, y1 = 0;
  bool first = true;
  for (Point corner : {low, high, Point{low.x, high.y}, Point{high.x, low.y}}) {
    Point b = back.Apply(corner);
    x0 = std::min(x0, b.x), x1 = std::max(x1, b.x);
    y0 = first ? b.y : std::min(y0, b.y), y1 = first ? b.y : std::max(y1, b.y);
    first = false;
  }
  bool reversed = brush.extent.x < 0;
  FillStyle f;
  f.on = true;
  for (int i = 0; i < kGradientSteps && !painter_->Full(); ++i) {
    double from = minX + (maxX - minX) * i / kGradientSteps;
    double to = minX + (maxX - minX) * (i + 1) / kGradientSteps;
    if (i == 0) from = x0;
    if (i == kGradientSteps - 1) to = x1;
    double t = (i + 0.5) / kGradientSteps;
    f.color = Mix(brush.color, brush.second, reversed ? 1 - t : t);
    f.alpha = MixAlpha(brush.alpha, brush.secondAlpha, reversed ? 1 - t : t);
    PagePath band;
    band.MoveTo(toPage.Apply({from, y0}));
    band.LineTo(toPage.Apply({to, y0}));
    band.LineTo(toPage.Apply({to, y1}));
    band.LineTo(toPage.Apply({from, y1}));
    band.Close();
    painter_->Paint(band, f, StrokeStyle());
  }
}

// The boundary shrunk towards the centre step by step, from the
// surrounding colour to the centre's: rings that do not overlap, so that
// translucent colours are not laid over each other.
void EmfPlusPlayer::PathGradient(const Brush& brush) {
  if (brush.boundary.size() < 3) return;
  Matrix toPage = brush.transform.Then(WorldToPage());
  auto outline = [&](PagePath* path, double scale) {
    path->MoveTo(toPage.Apply({brush.center.x + (brush.boundary[0].x - brush.center.x) * scale,
                               brush.center.y + (brush.boundary[0].y - brush.center.y) * scale}));
    for (const Point& p : brush.boundary) {
      path->LineTo(toPage.Apply({brush.center.x + (p.x - brush.center.x) * scale,
                                 brush.center.y + (p.y - brush.center.y) * scale}));
    }
    path->Close();
  };
  FillStyle f;
  f.on = true;
  f.evenOdd = true;
  for (int i = 0; i < kGradientSteps && !painter_->Full(); ++i) {
    PagePath ring;
    outline(&ring, 1 - double(i) / kGradientSteps);
    if (i + 1 < kGradientSteps) outline(&ring, 1 - double(i + 1) / kGradientSteps);
    double t = double(i) / (kGradientSteps - 1);
    f.color = Mix(brush.second, brush.color, t);
    f.alpha = MixAlpha(brush.secondAlpha, brush.alpha, t);
    painter_->Paint(ring, f, StrokeStyle());
  }
}

}  // namespace metafile
