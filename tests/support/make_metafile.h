// Metafiles for tests: enhanced metafiles whose records libuemf's writer
// functions make (so the reader is checked against another implementation
// of the layouts), EMF+ records written by hand into comment records, and
// Windows metafiles from libuemf's WMF writer.
#pragma once

#include <gtest/gtest.h>
#include <uemf.h>
#include <uemf_utf.h>
#include <uwmf.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "support/make_image.h"
#include "support/temp_dir.h"

inline std::string FloatBytes(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  return LeBytes(bits, 4);
}

inline std::string Floats(std::initializer_list<float> values) {
  std::string out;
  for (float v : values) out += FloatBytes(v);
  return out;
}

/// An A4 page's frame, in hundredths of a millimetre.
inline const U_RECTL kA4{0, 0, 21000, 29700};

/// A BITMAPINFOHEADER (the colour table, if any, follows it).
inline std::string DibHeader(int width, int height, int bits, uint32_t compression = 0,
                             uint32_t colorsUsed = 0, uint32_t imageSize = 0) {
  return Le32s(40, static_cast<uint32_t>(width), static_cast<uint32_t>(height)) + LeBytes(1, 2) +
         LeBytes(bits, 2) + Le32s(compression, imageSize, 0, 0, colorsUsed, 0);
}

/// An enhanced metafile under construction: a header for a frame in
/// hundredths of a millimetre on a reference device of 1 pixel per 0.1 mm
/// (so a device pixel is ten frame units), records, and EOF at Bytes().
class EmfBuilder {
 public:
  /// frame: left, top, right, bottom in hundredths of a millimetre.
  explicit EmfBuilder(U_RECTL frame) {
    U_RECTL bounds{frame.left / 10, frame.top / 10, frame.right / 10, frame.bottom / 10};
    // A reference device of 2100 x 2970 pixels on 210 x 297 mm.
    Add(U_EMRHEADER_set(bounds, frame, nullptr, 0, nullptr, sizel_set(2100, 2970),
                        sizel_set(210, 297), 0));
  }
  /// Appends a record that a libuemf _set function made (and frees it).
  EmfBuilder& Add(char* record) {
    if (!record) return *this;
    uint32_t size;
    std::memcpy(&size, record + 4, 4);
    data_.append(record, size);
    std::free(record);
    ++records_;
    return *this;
  }
  /// Appends a record given as its type and body.
  EmfBuilder& Raw(uint32_t type, const std::string& body) {
    data_ += Le32s(type, 8 + body.size()) + body;
    ++records_;
    return *this;
  }
  /// Appends EMF+ records (each: type, flags, data) in one comment.
  EmfBuilder& Plus(const std::string& plusRecords) {
    std::string body = Le32s(4 + plusRecords.size(), 0x2B464D45) + plusRecords;
    while (body.size() % 4) body += '\0';
    return Raw(U_EMR_COMMENT, body);
  }
  EmfBuilder& Brush(uint32_t index, uint8_t r, uint8_t g, uint8_t b) {
    Add(U_EMRCREATEBRUSHINDIRECT_set(index, logbrush_set(U_BS_SOLID, colorref_set(r, g, b), 0)));
    return Add(U_EMRSELECTOBJECT_set(index));
  }
  EmfBuilder& Pen(uint32_t index, uint32_t style, int32_t width, uint8_t r, uint8_t g, uint8_t b) {
    Add(U_EMRCREATEPEN_set(index, logpen_set(style, point_set(width, 0), colorref_set(r, g, b))));
    return Add(U_EMRSELECTOBJECT_set(index));
  }
  EmfBuilder& Font(uint32_t index, int32_t height, const char* face, int32_t weight = 400,
                   bool italic = false) {
    uint16_t* name = U_Utf8ToUtf16le(face, 0, nullptr);
    U_LOGFONT lf = logfont_set(height, 0, 0, 0, weight, italic ? 1 : 0, 0, 0, U_ANSI_CHARSET, 0, 0,
                               0, 0, name);
    std::free(name);
    fontHeight_ = height;
    Add(U_EMREXTCREATEFONTINDIRECTW_set(index, reinterpret_cast<const char*>(&lf), nullptr));
    return Add(U_EMRSELECTOBJECT_set(index));
  }
  /// ExtTextOutW at (x, y), each advance about half the font's height, as a
  /// proportional font has.
  EmfBuilder& Text(int32_t x, int32_t y, const std::string& utf8) {
    size_t length = 0;
    uint16_t* text = U_Utf8ToUtf16le(utf8.c_str(), 0, &length);
    std::vector<uint32_t> dx(length, static_cast<uint32_t>(std::abs(fontHeight_) * 11 / 20));
    char* emrtext = emrtext_set(point_set(x, y), static_cast<U_NUM_STR>(length), 2, text, 0,
                                U_RCL_DEF, dx.data());
    Add(U_EMREXTTEXTOUTW_set(U_RCL_DEF, U_GM_COMPATIBLE, 1, 1,
                             reinterpret_cast<PU_EMRTEXT>(emrtext)));
    std::free(emrtext);
    std::free(text);
    return *this;
  }
  /// A 4 x 4 24-bit bitmap, its upper half `top`, its lower `bottom`,
  /// stretched onto the logical rectangle.
  EmfBuilder& Bitmap(U_RECTL dest, U_COLORREF top, U_COLORREF bottom) {
    const int width = 4, height = 4;
    U_BITMAPINFOHEADER bih = bitmapinfoheader_set(width, height, 1, 24, U_BI_RGB, 0, 0, 0, 0, 0);
    PU_BITMAPINFO bmi = bitmapinfo_set(bih, nullptr);
    int stride = (width * 3 + 3) / 4 * 4;
    std::string px(static_cast<size_t>(stride * height), '\0');
    for (int y = 0; y < height; ++y) {  // rows from the bottom
      U_COLORREF c = y < height / 2 ? bottom : top;
      for (int x = 0; x < width; ++x) {
        px[y * stride + 3 * x] = static_cast<char>(c.Blue);
        px[y * stride + 3 * x + 1] = static_cast<char>(c.Green);
        px[y * stride + 3 * x + 2] = static_cast<char>(c.Red);
      }
    }
    Add(U_EMRSTRETCHDIBITS_set(U_RCL_DEF, point_set(dest.left, dest.top),
                               point_set(dest.right - dest.left, dest.bottom - dest.top),
                               point_set(0, 0), point_set(width, height), U_DIB_RGB_COLORS,
                               U_SRCCOPY, bmi, static_cast<uint32_t>(px.size()), &px[0]));
    std::free(bmi);
    return *this;
  }
  /// The file: EOF appended, header sizes and counts filled in.
  std::string Bytes() const {
    std::string out = data_ + Le32s(U_EMR_EOF, 20, 0, 16, 20);
    std::string size = LeBytes(out.size(), 4), count = LeBytes(records_ + 1, 4);
    out.replace(48, 4, size);
    out.replace(52, 4, count);
    return out;
  }
  void Write(const std::string& path) const { WriteFileText(path, Bytes()); }

 private:
  std::string data_;
  uint32_t records_ = 0;
  int32_t fontHeight_ = 100;
};

/// One EMF+ record: type, flags, data.
inline std::string PlusRecord(uint16_t type, uint16_t flags, const std::string& data) {
  return LeBytes(type, 2) + LeBytes(flags, 2) + Le32s(12 + data.size(), data.size()) + data;
}

/// The version field of EMF+ records and objects.
inline const std::string kPlusVersion = LeBytes(0xDBC01002, 4);

/// The EMF+ header record, for a reference device of `dpi` pixels per inch.
inline std::string PlusHeader(int dpi = 96) {
  return PlusRecord(0x4001, 0, kPlusVersion + Le32s(0, dpi, dpi));
}

/// A Windows metafile: a placeable header for a box in units per inch (or
/// none), the standard header, records from libuemf's WMF writer.
class WmfBuilder {
 public:
  /// With inch > 0: a placeable header for (0, 0, width, height) at that
  /// many units per inch; else none.
  WmfBuilder(float width, float height, unsigned inch) {
    U_PAIRF* size = inch ? U_PAIRF_set(width / inch, height / inch) : nullptr;
    char* header = U_WMRHEADER_set(size, inch);
    data_.append(header, inch ? 40 : 18);
    std::free(header);
    std::free(size);
  }
  WmfBuilder& Add(char* record) {
    if (!record) return *this;
    uint32_t words;
    std::memcpy(&words, record, 4);
    data_.append(record, words * 2);
    std::free(record);
    return *this;
  }
  std::string Bytes() const {
    char* eof = U_WMREOF_set();
    std::string out = data_ + std::string(eof, 6);
    std::free(eof);
    return out;
  }
  void Write(const std::string& path) const { WriteFileText(path, Bytes()); }

 private:
  std::string data_;
};
