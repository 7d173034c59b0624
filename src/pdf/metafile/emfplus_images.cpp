// The pictures of EMF+ files: image objects (bitmaps of raw pixels, a
// compressed PNG, JPEG, GIF, BMP or TIFF file, or a metafile drawn into a
// form) and the records that draw them, and Clear.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "pdf/metafile/dib.h"
#include "pdf/metafile/emfplus_player.h"
#include "pdf/metafile/metafile.h"
#include "pdf/metafile/record_reader.h"

namespace metafile {

namespace {

const uint16_t kInt16Flag = 0x4000;     // C: coordinates are 16-bit integers
const uint16_t kRelativeFlag = 0x0800;  // P: points are relative (not drawn)

// Pixel formats: bits per pixel in bits 8-15, flags above.
const uint32_t kIndexed = 0x00010000, kPremultiplied = 0x00080000;
const uint32_t kRgb565 = 0x00021006, kArgb1555 = 0x00061007, kGray16 = 0x00101004,
               kArgb32 = 0x0026200A;

uint8_t Scale5(uint32_t v) { return static_cast<uint8_t>((v & 31) * 255 / 31); }

struct PixelSource {
  const RecordReader* r;
  uint64_t rows;
  uint64_t stride;
  uint32_t format;
  int bits;
  std::vector<uint32_t> palette;  // ARGB
};

// One pixel as ARGB.
uint32_t ArgbAt(const PixelSource& s, int64_t x, int64_t y) {
  const RecordReader& r = *s.r;
  uint64_t row = s.rows + uint64_t(y) * s.stride;
  if (s.format & kIndexed) {
    uint64_t bit = uint64_t(x) * s.bits;
    uint8_t byte = r.Value<uint8_t>(row + bit / 8);
    uint32_t index = (byte >> (8 - s.bits - bit % 8)) & ((1u << s.bits) - 1);
    return index < s.palette.size() ? s.palette[index] : 0xFF000000u;
  }
  switch (s.bits) {
    case 16: {
      uint32_t v = r.Value<uint16_t>(row + 2 * x);
      if (s.format == kRgb565) {
        return 0xFF000000u | uint32_t(Scale5(v >> 11)) << 16 |
               uint32_t((v >> 5 & 63) * 255 / 63) << 8 | Scale5(v);
      }
      if (s.format == kGray16) {
        uint32_t g = v >> 8;
        return 0xFF000000u | g << 16 | g << 8 | g;
      }
      uint32_t alpha = s.format == kArgb1555 && !(v & 0x8000) ? 0 : 0xFF000000u;
      return alpha | uint32_t(Scale5(v >> 10)) << 16 | uint32_t(Scale5(v >> 5)) << 8 | Scale5(v);
    }
    case 24:
      return 0xFF000000u | uint32_t(r.Value<uint8_t>(row + 3 * x + 2)) << 16 |
             uint32_t(r.Value<uint8_t>(row + 3 * x + 1)) << 8 | r.Value<uint8_t>(row + 3 * x);
    default: {
      uint32_t v = r.Value<uint32_t>(row + 4 * x);
      if (s.format == kArgb32 || (s.format & kPremultiplied)) return v;
      return 0xFF000000u | v;
    }
  }
}

bool CheckPixelFormat(uint32_t format, int bits, std::string* why) {
  bool indexed = (format & kIndexed) && (bits == 1 || bits == 4 || bits == 8);
  if (indexed || bits == 16 || bits == 24 || bits == 32) return true;
  *why = "pixel format " + std::to_string(format) + " not drawn";
  return false;
}

// width, height, stride, pixel format, then ([palette] pixels, top row first).
bool ReadPixels(const RecordReader& r, uint64_t at, RasterImage* image, std::string* why) {
  int64_t width = r.Value<int32_t>(at), height = r.Value<int32_t>(at + 4);
  int64_t stride = r.Value<int32_t>(at + 8);
  uint32_t format = r.Value<uint32_t>(at + 12);
  int bits = (format >> 8) & 0xFF;
  if (width <= 0 || height <= 0 || width * height > kMaxDibPixels) {
    *why = "bitmap size " + std::to_string(width) + " x " + std::to_string(height) +
           " is out of range";
    return false;
  }
  if (!CheckPixelFormat(format, bits, why)) return false;
  PixelSource s{&r, at + 20, uint64_t(stride), format, bits, {}};
  if (format & kIndexed) {  // palette: flags, count, ARGB entries
    uint32_t count = r.Value<uint32_t>(s.rows + 4);
    if (count > 256 || !r.Has(s.rows + 8, uint64_t(count) * 4)) {
      *why = "bitmap palette is cut short";
      return false;
    }
    for (uint32_t i = 0; i < count; ++i) s.palette.push_back(r.Value<uint32_t>(s.rows + 8 + 4 * i));
    s.rows += 8 + uint64_t(count) * 4;
  }
  if (stride < (width * bits + 7) / 8 || !r.Has(s.rows, uint64_t(stride) * uint64_t(height))) {
    *why = "bitmap rows are cut short";
    return false;
  }
  image->width = static_cast<int>(width);
  image->height = static_cast<int>(height);
  image->rgb.assign(static_cast<size_t>(width * height * 3), '\0');
  std::string alpha(static_cast<size_t>(width * height), '\xff');
  bool opaque = true;
  for (int64_t y = 0; y < height; ++y) {
    for (int64_t x = 0; x < width; ++x) {
      uint32_t argb = ArgbAt(s, x, y);
      auto at8 = static_cast<size_t>(y * width + x);
      uint32_t a = argb >> 24;
      for (int c = 0; c < 3; ++c) {
        uint32_t v = (argb >> (16 - 8 * c)) & 0xFF;
        if ((format & kPremultiplied) && a != 0 && a != 255) v = std::min(255u, v * 255 / a);
        image->rgb[3 * at8 + c] = static_cast<char>(v);
      }
      alpha[at8] = static_cast<char>(a);
      opaque = opaque && a == 255;
    }
  }
  if (!opaque) image->alpha = alpha;
  return true;
}

// A metafile image: its type (1 WMF, 2 placeable WMF, 3 EMF, 4 EMF+ only,
// 5 EMF+ dual), its size, its bytes.
bool ReadMetafileImage(const RecordReader& r, uint64_t at, EmfPlusPlayer::ImageObject* image,
                       std::string* why) {
  uint32_t type = r.Value<uint32_t>(at), size = r.Value<uint32_t>(at + 4);
  if (type < 1 || type > 5) {
    *why = "metafile image of type " + std::to_string(type) + " not drawn";
    return false;
  }
  if (!r.Has(at + 8, size)) {
    *why = "metafile image is cut short";
    return false;
  }
  image->metafile.assign(reinterpret_cast<const char*>(r.data()) + at + 8, size);
  std::string error;
  if (!MetafileImageBox(image->metafile, &image->origin, &image->extent, &error)) {
    *why = "metafile image not drawn: " + error;
    return false;
  }
  // Whole pixels for a texture brush's cell.
  const double kLargest = 1 << 20;
  image->width = static_cast<int>(std::clamp(std::round(image->extent.x), 1.0, kLargest));
  image->height = static_cast<int>(std::clamp(std::round(image->extent.y), 1.0, kLargest));
  return true;
}

}  // namespace

// version, type (1 bitmap, 2 metafile), then for a bitmap: width, height,
// stride, pixel format, type (0 pixels, 1 compressed), the data.
bool ReadPlusImage(const RecordReader& r, uint64_t at, EmfPlusPlayer::ImageObject* image,
                   std::string* why) {
  uint32_t type = r.Value<uint32_t>(at + 4);
  if (type == 2) return ReadMetafileImage(r, at + 8, image, why);
  if (type != 1) {
    *why = "unknown image type";
    return false;
  }
  uint64_t bitmap = at + 8;
  if (!r.Has(bitmap, 20)) {
    *why = "bitmap header is cut short";
    return false;
  }
  if (r.Value<uint32_t>(bitmap + 16) == 1) {
    uint64_t data = bitmap + 20;
    image->file.assign(reinterpret_cast<const char*>(r.data()) + data, r.size() - data);
    return true;
  }
  if (!ReadPixels(r, bitmap, &image->raster, why)) return false;
  image->width = image->raster.width;
  image->height = image->raster.height;
  return true;
}

std::string EmfPlusPlayer::ImageName(ImageObject* image) {
  if (image->failed) return "";
  if (image->resource.empty()) {
    std::string why;
    if (!image->metafile.empty()) {
      image->resource = MetafileForm(*image);
    } else if (image->file.empty()) {
      image->resource = painter_->ImageName(image->raster);
    } else {
      image->resource = painter_->Picture(image->file, &image->width, &image->height, &why);
    }
    if (image->resource.empty()) {
      image->failed = true;
      if (!why.empty()) report_->Problem("EMF+ picture not drawn: " + why);
    }
  }
  return image->resource;
}

// Metafiles drawn inside each other at most this deep; deeper ones (a file
// that holds itself through others) are left out.
const int kMaxNesting = 4;

std::string EmfPlusPlayer::MetafileForm(const ImageObject& image) {
  if (painter_->Depth() >= kMaxNesting) {
    report_->Skip("EMF+ metafile image nested more than " + std::to_string(kMaxNesting) + " deep");
    return "";
  }
  // The form's longer side is 1000 units whatever the picture's size, so
  // its coordinates keep their precision.
  double scale = 1000 / std::max(image.extent.x, image.extent.y);
  double width = image.extent.x * scale, height = image.extent.y * scale;
  PdfPainter inner = painter_->Inner();
  DrawReport nested;
  std::string error;
  bool drawn = PaintMetafile(image.metafile, 0, 0, width, height, &inner, &nested, &error);
  // What the embedded file leaves out is counted with this file's.
  for (const auto& entry : nested.notDrawn) report_->notDrawn[entry.first] += entry.second;
  for (const std::string& problem : nested.problems) report_->Problem("embedded: " + problem);
  if (!drawn) {
    report_->Skip("EMF+ metafile image not drawn: " + error);
    return "";
  }
  return painter_->Form(inner.Finish(), width, height);
}

// [DrawImage] image attributes, source unit, source rectangle (floats),
// destination rectangle; [DrawImagePoints] the same up to the source, then
// a count of 3 and the destination's upper-left, upper-right and lower-left
// corners.
void EmfPlusPlayer::DrawImage(uint16_t flags, const uint8_t* data, size_t size, bool points) {
  // An image not drawn lets the plain records after this comment, which
  // carry the same drawing, draw instead.
  auto notDrawn = [this](const char* what) {
    fallback_ = true;
    if (what) report_->Skip(what);
  };
  RecordReader r(data, size);
  auto found = images_.find(flags & 0xFF);
  if (found == images_.end()) return notDrawn("EMF+ image not defined");
  std::vector<Point> src, dest;
  bool int16 = flags & kInt16Flag;
  if (!ReadPoints(r, 8, 2, false, &src)) return notDrawn("EMF+ image record (damaged)");
  if (points) {
    if ((flags & kRelativeFlag) || r.Value<uint32_t>(24) != 3 ||
        !ReadPoints(r, 28, 3, int16, &dest)) {
      return notDrawn("EMF+ image points not drawn");
    }
  } else {
    std::vector<Point> rect;
    if (!ReadPoints(r, 24, 2, int16, &rect)) return notDrawn("EMF+ image record (damaged)");
    dest = {rect[0], {rect[0].x + rect[1].x, rect[0].y}, {rect[0].x, rect[0].y + rect[1].y}};
  }
  std::string name = ImageName(found->second.get());
  const ImageObject& image = *found->second;
  // The image's pixels: a bitmap's from (0, 0), a metafile's picture box.
  Point o = image.origin, e = image.extent;
  if (image.metafile.empty()) e = {double(image.width), double(image.height)};
  if (name.empty() || !(e.x > 0) || !(e.y > 0)) return notDrawn(nullptr);
  // Source pixels (u, v) to world: the source rectangle onto the corners.
  double sw = src[1].x, sh = src[1].y;
  if (!(sw > 0) || !(sh > 0)) sw = e.x, sh = e.y, src[0] = o;
  Matrix world = WorldToPage();
  auto map = [&](double u, double v) {
    double s = (u - src[0].x) / sw, t = (v - src[0].y) / sh;
    return world.Apply({dest[0].x + s * (dest[1].x - dest[0].x) + t * (dest[2].x - dest[0].x),
                        dest[0].y + s * (dest[1].y - dest[0].y) + t * (dest[2].y - dest[0].y)});
  };
  Point origin = map(o.x, o.y + e.y), right = map(o.x + e.x, o.y + e.y), up = map(o.x, o.y);
  Matrix unit{right.x - origin.x, right.y - origin.y, up.x - origin.x,
              up.y - origin.y,    origin.x,           origin.y};
  std::vector<ClipPart> clip = state_.clip;
  bool whole = src[0].x <= o.x && src[0].y <= o.y && src[0].x + sw >= o.x + e.x &&
               src[0].y + sh >= o.y + e.y;
  if (!whole) {  // only the source rectangle shows
    PagePath frame;
    frame.MoveTo(world.Apply(dest[0]));
    frame.LineTo(world.Apply(dest[1]));
    frame.LineTo(
        world.Apply({dest[1].x + dest[2].x - dest[0].x, dest[1].y + dest[2].y - dest[0].y}));
    frame.LineTo(world.Apply(dest[2]));
    frame.Close();
    CombineClip(&clip, frame.Ops(), false, ClipCombine::kIntersect);
  }
  painter_->SetClip(clip);
  painter_->Place(name, unit);
}

void EmfPlusPlayer::Clear(const uint8_t* data, size_t size) {
  Brush brush = ArgbBrush(RecordReader(data, size).Value<uint32_t>(0));
  if (brush.alpha == 0 || area_.Empty()) return;
  PaintPath(area_, &brush, nullptr, false);
}

}  // namespace metafile
