// The objects of EMF+ files: brushes, pens, paths, fonts and string
// formats, kept by their object id for the drawing records.
#include <upmf.h>

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

void EmfPlusPlayer::Object(uint16_t flags, const uint8_t* data, size_t size) {
  RecordReader r(data, size);
  uint8_t id = flags & 0xFF;
  uint32_t kind = (flags >> 8) & 0x7F;
  if (flags & 0x8000) {  // an object continued over several records
    report_->Skip("EMF+ object larger than one record");
    return;
  }
  switch (kind) {
    case 1: {  // brush: version, type; a solid colour has type 0
      brushes_[id] = r.Value<uint32_t>(4, 1) == 0 ? ArgbBrush(r.Value<uint32_t>(8)) : Brush();
      if (!brushes_[id].solid) report_->Skip("EMF+ brush other than a solid colour");
      break;
    }
    case 2:
      PenObject(id, data, size);
      break;
    case 3:
      PathObject(id, data, size);
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
  uint64_t brushAt = 20 + optional;
  if (r.Value<uint32_t>(brushAt + 4, 1) == 0) {
    pen.brush = ArgbBrush(r.Value<uint32_t>(brushAt + 8));
  } else {
    pen.brush = ArgbBrush(0xFF000000);
    report_->Skip("EMF+ pen brush other than a solid colour");
  }
  pens_[id] = pen;
}

void EmfPlusPlayer::PathObject(uint8_t id, const uint8_t* data, size_t size) {
  RecordReader r(data, size);
  uint32_t count = r.Value<uint32_t>(4);
  uint16_t pathFlags = r.Value<uint16_t>(8);
  Path path;
  const uint16_t kRunLengthTypes = 0x1000;
  if ((pathFlags & (kRelativeFlag | kRunLengthTypes)) ||
      !ReadPoints(r, 12, count, pathFlags & kInt16Flag, &path.points)) {
    report_->Skip("EMF+ path not drawn");
    return;
  }
  uint64_t typesAt = 12 + uint64_t(count) * (pathFlags & kInt16Flag ? 4 : 8);
  if (!r.Has(typesAt, count)) {
    report_->Skip("EMF+ path not drawn");
    return;
  }
  path.types.assign(data + typesAt, data + typesAt + count);
  paths_[id] = std::move(path);
}

}  // namespace metafile
