// The objects of EMF+ files: brushes, pens, paths, fonts and string
// formats, kept by their object id for the drawing records.
#include <upmf.h>

#include <algorithm>

#include "pdf/metafile/emfplus_player.h"
#include "pdf/metafile/record_reader.h"

namespace metafile {

namespace {

const uint16_t kInt16Flag = 0x4000;     // C: coordinates are 16-bit integers
const uint16_t kRelativeFlag = 0x0800;  // P: points are relative (not drawn)

// Bytes of the optional pen data that stand between the pen's width and
// its brush, by the pen data flags.
bool OptionalPenDataSize(const RecordReader& r, uint64_t at, uint32_t flags, uint64_t* size) {
  uint64_t used = 0;
  if (flags & 0x01) used += 24;  // transform
  for (uint32_t bit : {0x02u, 0x04u, 0x08u, 0x10u, 0x20u, 0x40u, 0x80u}) {
    if (flags & bit) used += 4;
  }
  if (flags & 0x100) {  // dash pattern: count, then that many floats
    uint32_t n = r.Value<uint32_t>(at + used, UINT32_MAX);
    if (n > r.size()) return false;
    used += 4 + uint64_t(n) * 4;
  }
  if (flags & 0x200) used += 4;
  for (uint32_t bit : {0x400u, 0x800u, 0x1000u}) {  // compound line, custom caps
    if (!(flags & bit)) continue;
    uint32_t n = r.Value<uint32_t>(at + used, UINT32_MAX);
    if (n > r.size()) return false;
    used += 4 + uint64_t(n) * (bit == 0x400u ? 4 : 1);
  }
  *size = used;
  return r.Has(at, used);
}

}  // namespace

// An object too large for one record comes in parts, each with the flag
// 0x8000 and the whole object's size first; the parts are gathered until
// that size is reached (a last part without the flag ends it too).
void EmfPlusPlayer::Object(uint16_t flags, const uint8_t* data, size_t size) {
  const uint16_t kContinued = 0x8000;
  const uint32_t kMaxObject = 64u << 20;
  RecordReader r(data, size);
  bool same = pending_.active && (pending_.flags & 0x7FFF) == (flags & 0x7FFF);
  if (!(flags & kContinued) && !same) {
    pending_ = Pending();
    WholeObject(flags, data, size);
    return;
  }
  if (!same) {
    pending_ = Pending();
    pending_.total = r.Value<uint32_t>(0);
    if (pending_.total > kMaxObject || size < 4) {
      report_->Skip("EMF+ continued object larger than 64 MiB");
      return;
    }
    pending_.active = true;
    pending_.flags = flags;
  }
  size_t skip = (flags & kContinued) && size >= 4 ? 4 : 0;
  size_t room = pending_.total - std::min<size_t>(pending_.total, pending_.data.size());
  pending_.data.append(reinterpret_cast<const char*>(data) + skip, std::min(room, size - skip));
  if (pending_.data.size() >= pending_.total || !(flags & kContinued)) {
    Pending whole = std::move(pending_);
    pending_ = Pending();
    WholeObject(whole.flags & 0x7FFF, reinterpret_cast<const uint8_t*>(whole.data.data()),
                whole.data.size());
  }
}

EmfPlusPlayer::Brush EmfPlusPlayer::ReadBrush(const RecordReader& r, uint64_t at) {
  // version, type, then the type's data.
  uint32_t type = r.Value<uint32_t>(at + 4, 99);
  uint64_t d = at + 8;
  Brush brush;
  switch (type) {
    case 0:
      return ArgbBrush(r.Value<uint32_t>(d));
    case 1:  // hatch: style, fore colour, back colour
      brush = ArgbBrush(r.Value<uint32_t>(d + 4));
      brush.hatch = r.Value<uint32_t>(d);
      brush.second = ArgbBrush(r.Value<uint32_t>(d + 8)).color;
      brush.secondAlpha = static_cast<uint8_t>(r.Value<uint32_t>(d + 8) >> 24);
      break;
    case 2: {  // texture: flags, wrap mode, [transform], image
      uint32_t flags = r.Value<uint32_t>(d);
      uint64_t imageAt = d + 8;
      if (flags & 0x02) {
        float v[6] = {1, 0, 0, 1, 0, 0};
        for (int i = 0; i < 6; ++i) r.Get(imageAt + 4 * i, &v[i]);
        brush.transform = Matrix{v[0], v[1], v[2], v[3], v[4], v[5]};
        imageAt += 24;
      }
      brush.image = std::make_shared<ImageObject>();
      std::string why;
      if (!ReadPlusImage(r, imageAt, brush.image.get(), &why)) {
        report_->Skip("EMF+ texture brush: " + why);
        brush.image.reset();
      }
      brush.color = Rgb{128, 128, 128};
      break;
    }
    case 3:
      ReadPathGradient(r, d, &brush);
      break;
    case 4: {  // linear: flags, wrap, rectangle, start, end, two reserved, [transform]
      uint32_t flags = r.Value<uint32_t>(d);
      brush = ArgbBrush(r.Value<uint32_t>(d + 24));
      std::vector<Point> rect;
      ReadPoints(r, d + 8, 2, false, &rect);
      if (rect.size() == 2) brush.corner = rect[0], brush.extent = rect[1];
      uint32_t end = r.Value<uint32_t>(d + 28);
      brush.second = ArgbBrush(end).color;
      brush.secondAlpha = static_cast<uint8_t>(end >> 24);
      if (flags & 0x02) {
        float v[6] = {1, 0, 0, 1, 0, 0};
        for (int i = 0; i < 6; ++i) r.Get(d + 40 + 4 * i, &v[i]);
        brush.transform = Matrix{v[0], v[1], v[2], v[3], v[4], v[5]};
      }
      if (flags & 0x1C) report_->Skip("EMF+ gradient blend (drawn from end to end)");
      break;
    }
    default:
      report_->Skip("EMF+ brush of type " + std::to_string(type));
      return Brush();
  }
  brush.solid = true;
  brush.type = type;
  return brush;
}

void EmfPlusPlayer::WholeObject(uint16_t flags, const uint8_t* data, size_t size) {
  RecordReader r(data, size);
  uint8_t id = flags & 0xFF;
  uint32_t kind = (flags >> 8) & 0x7F;
  switch (kind) {
    case 1:
      brushes_[id] = ReadBrush(r, 0);
      break;
    case 5: {
      auto image = std::make_shared<ImageObject>();
      std::string why;
      if (!ReadPlusImage(r, 0, image.get(), &why)) {
        report_->Skip("EMF+ image: " + why);
        image->failed = true;
      }
      images_[id] = image;
      break;
    }
    case 8:  // image attributes: wrap modes and colour keys, left out
      break;
    case 2:
      PenObject(id, data, size);
      break;
    case 3:
      PathObject(id, data, size);
      break;
    case 4:  // region: kept as it is, its coordinates are read when it is used
      regions_[id].assign(reinterpret_cast<const char*>(data), size);
      break;
    case 6: {  // font: version, em size, unit, style, reserved, length, name
      Font font;
      font.emSize = r.Value<float>(4, 12);
      font.unit = r.Value<uint32_t>(8);
      int32_t style = r.Value<int32_t>(12);
      font.request.weight = style & 1 ? 700 : 400;
      font.request.italic = style & 2;
      font.underline = style & 4;
      font.strikeOut = style & 8;
      std::u16string name;
      r.Utf16(24, r.Value<uint32_t>(20), &name);
      for (char16_t ch : name) font.request.face += ch < 0x80 ? static_cast<char>(ch) : '?';
      fonts_[id] = font;
      break;
    }
    case 7: {  // string format: version, flags, language, alignment, line alignment
      Format format;
      format.flags = r.Value<uint32_t>(4);
      format.align = r.Value<uint32_t>(12);
      format.lineAlign = r.Value<uint32_t>(16);
      formats_[id] = format;
      break;
    }
    default:
      report_->Skip("EMF+ object of type " + std::to_string(kind));
      break;
  }
}

// flags, wrap mode, centre colour, centre, surrounding colours, then the
// boundary: a path object (flag 0x01) or points; [transform].
void EmfPlusPlayer::ReadPathGradient(const RecordReader& r, uint64_t d, Brush* brush) {
  uint32_t flags = r.Value<uint32_t>(d);
  *brush = ArgbBrush(r.Value<uint32_t>(d + 8));
  brush->center = {r.Value<float>(d + 12), r.Value<float>(d + 16)};
  uint32_t colors = r.Value<uint32_t>(d + 20);
  if (colors == 0 || !r.Has(d + 24, uint64_t(colors) * 4)) return;
  // Several surrounding colours are drawn as their mean.
  double sum[4] = {0, 0, 0, 0};
  for (uint32_t i = 0; i < colors; ++i) {
    uint32_t argb = r.Value<uint32_t>(d + 24 + 4 * uint64_t(i));
    for (int c = 0; c < 4; ++c) sum[c] += (argb >> (8 * c)) & 0xFF;
  }
  brush->second = Rgb{static_cast<uint8_t>(sum[2] / colors), static_cast<uint8_t>(sum[1] / colors),
                      static_cast<uint8_t>(sum[0] / colors)};
  brush->secondAlpha = static_cast<uint8_t>(sum[3] / colors);
  uint64_t at = d + 24 + uint64_t(colors) * 4;
  uint64_t next = 0;
  if (flags & 0x01) {  // size, then version, count, flags, points
    uint32_t pathSize = r.Value<uint32_t>(at);
    uint32_t count = r.Value<uint32_t>(at + 8);
    uint16_t pathFlags = r.Value<uint16_t>(at + 12);
    if ((pathFlags & kRelativeFlag) ||
        !ReadPoints(r, at + 16, count, pathFlags & kInt16Flag, &brush->boundary)) {
      brush->boundary.clear();
    }
    next = at + 4 + uint64_t(pathSize);
  } else {
    uint32_t count = r.Value<uint32_t>(at);
    if (!ReadPoints(r, at + 4, count, false, &brush->boundary)) brush->boundary.clear();
    next = at + 4 + uint64_t(count) * 8;
  }
  if (flags & 0x02) {
    float v[6] = {1, 0, 0, 1, 0, 0};
    for (int i = 0; i < 6; ++i) r.Get(next + 4 * i, &v[i]);
    brush->transform = Matrix{v[0], v[1], v[2], v[3], v[4], v[5]};
  }
}

void EmfPlusPlayer::PenObject(uint8_t id, const uint8_t* data, size_t size) {
  // version, type, then the pen data: flags, unit, width, optional data,
  // and the pen's brush object (version, type, colour).
  RecordReader r(data, size);
  Pen pen;
  uint32_t penFlags = r.Value<uint32_t>(8);
  pen.unit = r.Value<uint32_t>(12);
  pen.width = r.Value<float>(16, 1);
  uint64_t optional = 0;
  if (!OptionalPenDataSize(r, 20, penFlags, &optional)) {
    report_->Skip("EMF+ pen with damaged data");
    return;
  }
  // A pen of a gradient or hatch draws in its main colour.
  pen.brush = ReadBrush(r, 20 + optional);
  if (!pen.brush.solid) pen.brush = ArgbBrush(0xFF000000);
  pens_[id] = pen;
}

bool EmfPlusPlayer::ReadPath(const RecordReader& r, uint64_t at, Path* out) {
  // version, count, flags, then the points and one type byte each
  uint32_t count = r.Value<uint32_t>(at + 4);
  uint16_t pathFlags = r.Value<uint16_t>(at + 8);
  const uint16_t kRunLengthTypes = 0x1000;
  if ((pathFlags & (kRelativeFlag | kRunLengthTypes)) ||
      !ReadPoints(r, at + 12, count, pathFlags & kInt16Flag, &out->points)) {
    return false;
  }
  uint64_t typesAt = at + 12 + uint64_t(count) * (pathFlags & kInt16Flag ? 4 : 8);
  if (!r.Has(typesAt, count)) return false;
  out->types.assign(r.data() + typesAt, r.data() + typesAt + count);
  return true;
}

void EmfPlusPlayer::PathObject(uint8_t id, const uint8_t* data, size_t size) {
  Path path;
  if (!ReadPath(RecordReader(data, size), 0, &path)) {
    report_->Skip("EMF+ path not drawn");
    return;
  }
  paths_[id] = std::move(path);
}

}  // namespace metafile
