#include "pdf/metafile/dib.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace metafile {

namespace {

const uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3;

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

struct DibHeader {
  uint32_t headerSize = 0;
  int64_t width = 0, height = 0;
  int bitCount = 0;
  uint32_t compression = kBiRgb;
  uint32_t colorsUsed = 0;
  int paletteEntrySize = 4;
  uint32_t masks[3] = {0, 0, 0};
  size_t tableOffset = 0;  // where the colour table (or the masks) start
};

bool ReadHeader(const uint8_t* h, size_t size, DibHeader* out, std::string* error) {
  if (size < 12) {
    *error = "bitmap header is cut short";
    return false;
  }
  out->headerSize = Le32(h);
  if (out->headerSize == 12) {  // BITMAPCOREHEADER
    out->width = Le16(h + 4);
    out->height = static_cast<int16_t>(Le16(h + 6));
    out->bitCount = Le16(h + 10);
    out->paletteEntrySize = 3;
  } else if (out->headerSize >= 40 && out->headerSize <= size) {
    out->width = static_cast<int32_t>(Le32(h + 4));
    out->height = static_cast<int32_t>(Le32(h + 8));
    out->bitCount = Le16(h + 14);
    out->compression = Le32(h + 16);
    out->colorsUsed = Le32(h + 32);
  } else {
    *error = "unknown bitmap header size " + std::to_string(out->headerSize);
    return false;
  }
  out->tableOffset = out->headerSize;
  return true;
}

bool ReadMasks(const uint8_t* h, size_t size, DibHeader* d, std::string* error) {
  if (d->compression != kBiBitfields) {
    if (d->bitCount == 16) {
      d->masks[0] = 0x7C00, d->masks[1] = 0x03E0, d->masks[2] = 0x001F;
    } else {
      d->masks[0] = 0xFF0000, d->masks[1] = 0xFF00, d->masks[2] = 0xFF;
    }
    return true;
  }
  // A 40-byte header is followed by the three masks; larger ones hold them
  // at the same place.
  const size_t at = 40;
  if (at + 12 > size) {
    *error = "bitmap colour masks are missing";
    return false;
  }
  for (int i = 0; i < 3; ++i) d->masks[i] = Le32(h + at + 4 * i);
  if (d->headerSize == 40) d->tableOffset += 12;
  return true;
}

uint8_t MaskedChannel(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (!(mask & 1u)) {
    mask >>= 1;
    ++shift;
  }
  uint32_t value = (pixel >> shift) & mask;
  return static_cast<uint8_t>(value * 255 / mask);
}

std::vector<Rgb> ReadPalette(const uint8_t* h, size_t size, const DibHeader& d,
                             std::string* error) {
  uint32_t count = d.colorsUsed ? d.colorsUsed : 1u << d.bitCount;
  if (count > (1u << d.bitCount)) count = 1u << d.bitCount;
  std::vector<Rgb> palette;
  size_t need = d.tableOffset + size_t(count) * d.paletteEntrySize;
  if (need > size) {
    *error = "bitmap colour table is cut short";
    return palette;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* q = h + d.tableOffset + size_t(i) * d.paletteEntrySize;
    palette.push_back(Rgb{q[2], q[1], q[0]});
  }
  return palette;
}

Rgb PixelAt(const uint8_t* row, int64_t x, const DibHeader& d, const std::vector<Rgb>& palette) {
  switch (d.bitCount) {
    case 1:
    case 4:
    case 8: {
      int64_t bit = x * d.bitCount;
      int value = (row[bit / 8] >> (8 - d.bitCount - bit % 8)) & ((1 << d.bitCount) - 1);
      return static_cast<size_t>(value) < palette.size() ? palette[value] : Rgb{};
    }
    case 16: {
      uint32_t v = Le16(row + 2 * x);
      return Rgb{MaskedChannel(v, d.masks[0]), MaskedChannel(v, d.masks[1]),
                 MaskedChannel(v, d.masks[2])};
    }
    case 24:
      return Rgb{row[3 * x + 2], row[3 * x + 1], row[3 * x]};
    default: {
      uint32_t v = Le32(row + 4 * x);
      return Rgb{MaskedChannel(v, d.masks[0]), MaskedChannel(v, d.masks[1]),
                 MaskedChannel(v, d.masks[2])};
    }
  }
}

bool CheckFormat(const DibHeader& d, std::string* error) {
  bool known = d.bitCount == 1 || d.bitCount == 4 || d.bitCount == 8 || d.bitCount == 16 ||
               d.bitCount == 24 || d.bitCount == 32;
  if (!known) {
    *error = "unsupported bitmap depth " + std::to_string(d.bitCount);
    return false;
  }
  bool bitfields = d.compression == kBiBitfields && (d.bitCount == 16 || d.bitCount == 32);
  bool rle = (d.compression == kBiRle8 && d.bitCount == 8) ||
             (d.compression == kBiRle4 && d.bitCount == 4);
  if (d.compression != kBiRgb && !bitfields && !rle) {
    *error = "unsupported bitmap compression " + std::to_string(d.compression);
    return false;
  }
  int64_t height = d.height < 0 ? -d.height : d.height;
  if (d.width <= 0 || height <= 0 || d.width * height > kMaxDibPixels) {
    *error = "bitmap size " + std::to_string(d.width) + " x " + std::to_string(d.height) +
             " is out of range";
    return false;
  }
  return true;
}

// Moves the premultiplied alpha of 32-bit rows into image->alpha and
// takes it out of the colours; an image that is opaque all over keeps none.
void TakeAlpha(const uint8_t* bits, int64_t stride, const DibHeader& d, RasterImage* image) {
  int64_t height = image->height, width = image->width;
  std::string alpha(static_cast<size_t>(width * height), '\xff');
  bool opaque = true;
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* row = bits + (d.height < 0 ? y : height - 1 - y) * stride;
    for (int64_t x = 0; x < width; ++x) {
      uint8_t a = row[4 * x + 3];
      size_t at = static_cast<size_t>(y * width + x);
      alpha[at] = static_cast<char>(a);
      opaque = opaque && a == 255;
      for (int c = 0; c < 3 && a != 0 && a != 255; ++c) {
        auto& channel = reinterpret_cast<uint8_t&>(image->rgb[3 * at + c]);
        channel = static_cast<uint8_t>(std::min(255, channel * 255 / a));
      }
    }
  }
  if (!opaque) image->alpha = alpha;
}

// Runs of palette indices (RLE8, or RLE4 with two per byte) into one index
// a pixel, rows from the top. Escapes: 0 0 ends a line, 0 1 the bitmap,
// 0 2 dx dy moves; 0 n is n pixels as they are, padded to a word. Pixels
// no run reaches keep index 0; runs past the right edge are cut.
// Where a run-length decoder writes: one index a pixel, rows from the top.
struct RleCanvas {
  int64_t width, height;
  bool four;
  std::vector<uint8_t>* indices;
  int64_t x = 0, y = 0;  // y counts rows from the bottom
  void Put(uint8_t index) {
    if (x < width && y < height) {
      (*indices)[static_cast<size_t>((height - 1 - y) * width + x)] = index;
    }
    ++x;
  }
  // n pixels as they are from bits[*at], padded to a word; false when
  // they are not all there.
  bool Absolute(const uint8_t* bits, size_t size, int n, size_t* at) {
    size_t bytes = four ? (n + 1u) / 2 : static_cast<size_t>(n);
    if (bytes > size - *at) return false;
    for (int k = 0; k < n; ++k) Put(Nibble(bits[*at + (four ? k / 2 : k)], k));
    *at += (bytes + 1) & ~size_t(1);
    return true;
  }
  // The k-th pixel of packed bytes (two a byte for RLE4).
  uint8_t Nibble(uint8_t byte, int k) const {
    if (!four) return byte;
    return static_cast<uint8_t>(k % 2 ? byte & 0xF : byte >> 4);
  }
};

// Runs of palette indices (RLE8, or RLE4 with two per byte) into one index
// a pixel, rows from the top. Escapes: 0 0 ends a line, 0 1 the bitmap,
// 0 2 dx dy moves; 0 n is n pixels as they are, padded to a word. Pixels
// no run reaches keep index 0; runs past the right edge are cut.
bool DecodeRle(const uint8_t* bits, size_t size, const DibHeader& d, std::vector<uint8_t>* indices,
               std::string* error) {
  RleCanvas c{d.width, d.height < 0 ? -d.height : d.height, d.compression == kBiRle4, indices};
  indices->assign(static_cast<size_t>(c.width * c.height), 0);
  size_t i = 0;
  while (i + 1 < size && c.y < c.height) {
    uint8_t count = bits[i], value = bits[i + 1];
    i += 2;
    if (count > 0) {
      for (int k = 0; k < count && c.x < c.width; ++k) c.Put(c.Nibble(value, k));
    } else if (value == 0) {
      c.x = 0;
      ++c.y;
    } else if (value == 1) {
      return true;
    } else if (value == 2) {
      if (i + 1 >= size) break;
      c.x += bits[i];
      c.y += bits[i + 1];
      i += 2;
    } else if (!c.Absolute(bits, size, value, &i)) {
      *error = "compressed bitmap rows are cut short";
      return false;
    }
  }
  return true;
}

bool DecodeRleDib(const uint8_t* bits, size_t bitsSize, const DibHeader& d,
                  const std::vector<Rgb>& palette, RasterImage* image, std::string* error) {
  std::vector<uint8_t> indices;
  if (!DecodeRle(bits, bitsSize, d, &indices, error)) return false;
  image->width = static_cast<int>(d.width);
  image->height = static_cast<int>(d.height < 0 ? -d.height : d.height);
  image->rgb.assign(indices.size() * 3, '\0');
  image->alpha.clear();
  for (size_t p = 0; p < indices.size(); ++p) {
    Rgb c = indices[p] < palette.size() ? palette[indices[p]] : Rgb{};
    image->rgb[3 * p] = static_cast<char>(c.r);
    image->rgb[3 * p + 1] = static_cast<char>(c.g);
    image->rgb[3 * p + 2] = static_cast<char>(c.b);
  }
  return true;
}

}  // namespace

uint32_t DibCompression(const uint8_t* header, size_t headerSize) {
  DibHeader d;
  std::string ignored;
  return ReadHeader(header, headerSize, &d, &ignored) ? d.compression : kBiRgb;
}

bool DecodeDib(const uint8_t* header, size_t headerSize, const uint8_t* bits, size_t bitsSize,
               RasterImage* image, std::string* error, bool premultipliedAlpha) {
  DibHeader d;
  if (!ReadHeader(header, headerSize, &d, error) || !CheckFormat(d, error)) return false;
  std::vector<Rgb> palette;
  if (d.bitCount <= 8) {
    palette = ReadPalette(header, headerSize, d, error);
    if (palette.empty()) return false;
  } else if (!ReadMasks(header, headerSize, &d, error)) {
    return false;
  }
  if (d.compression == kBiRle8 || d.compression == kBiRle4) {
    return DecodeRleDib(bits, bitsSize, d, palette, image, error);
  }
  int64_t height = d.height < 0 ? -d.height : d.height;
  int64_t stride = ((d.width * d.bitCount + 31) / 32) * 4;
  if (stride * height > static_cast<int64_t>(bitsSize)) {
    *error = "bitmap rows are cut short";
    return false;
  }
  image->width = static_cast<int>(d.width);
  image->height = static_cast<int>(height);
  image->rgb.assign(static_cast<size_t>(d.width * height * 3), '\0');
  image->alpha.clear();
  for (int64_t y = 0; y < height; ++y) {
    // Rows are stored from the bottom unless the height is negative.
    int64_t source = d.height < 0 ? y : height - 1 - y;
    const uint8_t* row = bits + source * stride;
    char* out = &image->rgb[static_cast<size_t>(y * d.width * 3)];
    for (int64_t x = 0; x < d.width; ++x) {
      Rgb c = PixelAt(row, x, d, palette);
      out[3 * x] = static_cast<char>(c.r);
      out[3 * x + 1] = static_cast<char>(c.g);
      out[3 * x + 2] = static_cast<char>(c.b);
    }
  }
  if (premultipliedAlpha && d.bitCount == 32) TakeAlpha(bits, stride, d, image);
  return true;
}

bool DecodePackedDib(const uint8_t* dib, size_t size, RasterImage* image, std::string* error) {
  DibHeader d;
  if (!ReadHeader(dib, size, &d, error) || !CheckFormat(d, error)) return false;
  size_t tableBytes = 0;
  if (d.bitCount <= 8) {
    uint32_t count = d.colorsUsed ? d.colorsUsed : 1u << d.bitCount;
    if (count > (1u << d.bitCount)) count = 1u << d.bitCount;
    tableBytes = size_t(count) * d.paletteEntrySize;
  } else if (d.compression == kBiBitfields && d.headerSize == 40) {
    tableBytes = 12;
  }
  size_t rowsAt = d.headerSize + tableBytes;
  if (rowsAt > size) {
    *error = "bitmap colour table is cut short";
    return false;
  }
  return DecodeDib(dib, rowsAt, dib + rowsAt, size - rowsAt, image, error);
}

}  // namespace metafile
