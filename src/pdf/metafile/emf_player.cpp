#include "pdf/metafile/emf_player.h"

#include <uemf.h>
#include <uemf_safe.h>

#include <cmath>
#include <cstddef>
#include <memory>

#include "pdf/metafile/dib.h"
#include "pdf/metafile/emf_player_impl.h"
#include "pdf/metafile/record_reader.h"

namespace metafile {

namespace {

const uint32_t kEmfPlusSignature = 0x2B464D45;  // "EMF+"

std::u16string FaceName(const uint16_t* name) {
  std::u16string face;
  for (int i = 0; i < U_LF_FACESIZE && name[i]; ++i) face += static_cast<char16_t>(name[i]);
  return face;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (char16_t ch : text) {
    if (ch < 0x80) {
      out += static_cast<char>(ch);
    } else if (ch < 0x800) {
      out += static_cast<char>(0xC0 | ch >> 6);
      out += static_cast<char>(0x80 | (ch & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | ch >> 12);
      out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (ch & 0x3F));
    }
  }
  return out;
}

GdiFont FontFromLogFont(const U_LOGFONT& lf) {
  GdiFont font;
  font.height = lf.lfHeight;
  font.escapement = lf.lfEscapement;
  font.underline = lf.lfUnderline != 0;
  font.strikeOut = lf.lfStrikeOut != 0;
  font.request.face = Utf16ToUtf8(FaceName(lf.lfFaceName));
  font.request.weight = lf.lfWeight;
  font.request.italic = lf.lfItalic != 0;
  font.request.pitchAndFamily = lf.lfPitchAndFamily;
  return font;
}

}  // namespace

std::string EmfRecordName(uint32_t type) {
  if (type >= U_EMR_MIN && type <= U_EMR_MAX) return U_emr_names(type);
  return "U_EMR_" + std::to_string(type);
}

Matrix EmfPlayer::PageToDevice() const {
  double sx = 1, sy = 1;
  // Millimetres per logical unit of the fixed map modes.
  const double kUnits[] = {0, 0, 0.1, 0.01, 0.254, 0.0254, 25.4 / 1440};
  int mode = dc_.mapMode;
  if (mode >= 2 && mode <= 6) {
    sx = kUnits[mode] * 100 / header_.HundredthMmPerPixel(0);
    sy = -kUnits[mode] * 100 / header_.HundredthMmPerPixel(1);
  } else if (mode == 7 || mode == 8) {
    sx = dc_.windowExt.x != 0 ? dc_.viewportExt.x / dc_.windowExt.x : 1;
    sy = dc_.windowExt.y != 0 ? dc_.viewportExt.y / dc_.windowExt.y : 1;
    if (mode == 7) {  // MM_ISOTROPIC: one scale, the smaller, keeping signs
      double s = std::min(std::fabs(sx), std::fabs(sy));
      sx = std::copysign(s, sx);
      sy = std::copysign(s, sy);
    }
  }
  return Matrix::Translate(-dc_.windowOrg.x, -dc_.windowOrg.y)
      .Then(Matrix::Scaling(sx, sy))
      .Then(Matrix::Translate(dc_.viewportOrg.x, dc_.viewportOrg.y));
}

bool EmfPlayer::Play(const uint8_t* data, size_t size, std::string* error) {
  size_t offset = 0;
  while (offset + 8 <= size) {
    RecordReader head(data + offset, size - offset);
    uint32_t type = head.Value<uint32_t>(0), length = head.Value<uint32_t>(4);
    if (length < 8 || length % 4 != 0 || length > size - offset) {
      *error = "record " + EmfRecordName(type) + " at byte " + std::to_string(offset) +
               " has a size of " + std::to_string(length) + " that does not fit in the file";
      return false;
    }
    RecordReader record(data + offset, length);
    offset += length;
    if (type == U_EMR_EOF) break;
    if (type == U_EMR_COMMENT) {
      Comment(record);
      continue;
    }
    // Once the file draws with EMF+, its GDI records are the fallback for
    // other readers, except right after an EMF+ GetDC record or an EMF+
    // image this could not draw.
    if (plus_.Active() && !plus_.GdiAllowed()) continue;
    // libuemf's check wants a rectangle in these text records even when
    // their options say there is none; they are read with bounds here.
    bool ownCheck =
        type == U_EMR_SMALLTEXTOUT || type == U_EMR_POLYTEXTOUTA || type == U_EMR_POLYTEXTOUTW;
    bool checked = type >= U_EMR_MIN && type <= U_EMR_MAX &&
                   (ownCheck || U_emf_record_safe(reinterpret_cast<const char*>(record.data())));
    if (!checked) {
      report()->Skip(EmfRecordName(type) + " (damaged)");
      continue;
    }
    Record(type, record);
    if (painter()->Full()) {
      *error = "the drawing is larger than the limit for one page";
      return false;
    }
  }
  return true;
}

void EmfPlayer::Record(uint32_t type, const RecordReader& r) {
  if (StateRecord(type, r) || MappingRecord(type, r) || ObjectRecord(type, r) ||
      ShapeRecord(type, r) || PathRecord(type, r) || BitmapRecord(type, r)) {
    return;
  }
  switch (type) {
    case U_EMR_HEADER:
    // Records that change nothing a PDF page shows.
    case U_EMR_SETMAPPERFLAGS:
    case U_EMR_SETROP2:
    case U_EMR_SETSTRETCHBLTMODE:
    case U_EMR_SETBRUSHORGEX:
    case U_EMR_SETCOLORADJUSTMENT:
    case U_EMR_SETICMMODE:
    case U_EMR_SELECTPALETTE:
    case U_EMR_CREATEPALETTE:
    case U_EMR_SETPALETTEENTRIES:
    case U_EMR_RESIZEPALETTE:
    case U_EMR_REALIZEPALETTE:
    case U_EMR_SETMETARGN:
    case U_EMR_FLATTENPATH:
    case U_EMR_SETLAYOUT:
    case U_EMR_SETCOLORSPACE:
    case U_EMR_CREATECOLORSPACE:
    case U_EMR_CREATECOLORSPACEW:
    case U_EMR_DELETECOLORSPACE:
    case U_EMR_SETICMPROFILEA:
    case U_EMR_SETICMPROFILEW:
    case U_EMR_COLORCORRECTPALETTE:
    case U_EMR_SETTEXTJUSTIFICATION:
      break;
    case U_EMR_EXTTEXTOUTA:
    case U_EMR_EXTTEXTOUTW:
      Text(r, 8 + 16 + 12, type == U_EMR_EXTTEXTOUTW);
      break;
    case U_EMR_POLYTEXTOUTA:
    case U_EMR_POLYTEXTOUTW:
      PolyText(r, type == U_EMR_POLYTEXTOUTW);
      break;
    case U_EMR_SMALLTEXTOUT:
      SmallText(r);
      break;
    default:
      report()->Skip(EmfRecordName(type));
      break;
  }
}

bool EmfPlayer::StateRecord(uint32_t type, const RecordReader& r) {
  uint32_t value = r.Value<uint32_t>(8);
  U_COLORREF color{};
  r.Get(8, &color);
  switch (type) {
    case U_EMR_SETBKMODE:
      dc_.bkMode = static_cast<int>(value);
      return true;
    case U_EMR_SETPOLYFILLMODE:
      dc_.polyFillMode = static_cast<int>(value);
      return true;
    case U_EMR_SETTEXTALIGN:
      dc_.textAlign = value;
      return true;
    case U_EMR_SETTEXTCOLOR:
      dc_.textColor = ToRgb(color);
      return true;
    case U_EMR_SETBKCOLOR:
      dc_.bkColor = ToRgb(color);
      return true;
    case U_EMR_SETARCDIRECTION:
      dc_.clockwise = value == 2;  // AD_CLOCKWISE
      return true;
    case U_EMR_SETMITERLIMIT:
      dc_.miterLimit = value;
      return true;
    case U_EMR_SAVEDC:
      SaveDC();
      return true;
    case U_EMR_RESTOREDC:
      RestoreDC(static_cast<int32_t>(value));
      return true;
    case U_EMR_MOVETOEX:
      MoveTo({double(r.Value<int32_t>(8)), double(r.Value<int32_t>(12))});
      return true;
    default:
      return false;
  }
}

bool EmfPlayer::MappingRecord(uint32_t type, const RecordReader& r) {
  Point p{double(r.Value<int32_t>(8)), double(r.Value<int32_t>(12))};
  switch (type) {
    case U_EMR_SETMAPMODE:
      dc_.mapMode = r.Value<int32_t>(8);
      return true;
    case U_EMR_SETWINDOWEXTEX:
      dc_.windowExt = p;
      return true;
    case U_EMR_SETWINDOWORGEX:
      dc_.windowOrg = p;
      return true;
    case U_EMR_SETVIEWPORTEXTEX:
      dc_.viewportExt = p;
      return true;
    case U_EMR_SETVIEWPORTORGEX:
      dc_.viewportOrg = p;
      return true;
    case U_EMR_SCALEVIEWPORTEXTEX:
    case U_EMR_SCALEWINDOWEXTEX: {
      int32_t v[4] = {r.Value<int32_t>(8), r.Value<int32_t>(12), r.Value<int32_t>(16),
                      r.Value<int32_t>(20)};
      if (v[1] == 0 || v[3] == 0) return true;
      Point& ext = type == U_EMR_SCALEWINDOWEXTEX ? dc_.windowExt : dc_.viewportExt;
      ext = {ext.x * v[0] / v[1], ext.y * v[2] / v[3]};
      return true;
    }
    case U_EMR_SETWORLDTRANSFORM: {
      U_XFORM x{};
      r.Get(8, &x);
      dc_.world = Matrix{x.eM11, x.eM12, x.eM21, x.eM22, x.eDx, x.eDy};
      return true;
    }
    case U_EMR_MODIFYWORLDTRANSFORM:
      ModifyWorld(r);
      return true;
    default:
      return false;
  }
}

void EmfPlayer::ModifyWorld(const RecordReader& r) {
  U_XFORM x{};
  r.Get(8, &x);
  Matrix m{x.eM11, x.eM12, x.eM21, x.eM22, x.eDx, x.eDy};
  switch (r.Value<uint32_t>(8 + sizeof(U_XFORM))) {
    case U_MWT_IDENTITY:
      dc_.world = Matrix();
      break;
    case U_MWT_LEFTMULTIPLY:
      dc_.world = m.Then(dc_.world);
      break;
    case U_MWT_RIGHTMULTIPLY:
      dc_.world = dc_.world.Then(m);
      break;
    case 4:  // MWT_SET
      dc_.world = m;
      break;
    default:
      break;
  }
}

bool EmfPlayer::ObjectRecord(uint32_t type, const RecordReader& r) {
  uint32_t index = r.Value<uint32_t>(8);
  GdiObject object;
  switch (type) {
    case U_EMR_SELECTOBJECT:
      SelectObject(index);
      return true;
    case U_EMR_DELETEOBJECT:
      DeleteObject(index);
      return true;
    case U_EMR_CREATEPEN: {
      U_LOGPEN pen{};
      r.Get(12, &pen);
      object.kind = GdiObject::kPen;
      object.pen.style = pen.lopnStyle;
      object.pen.width = std::abs(pen.lopnWidth.x);
      object.pen.cosmetic = pen.lopnWidth.x == 0;
      object.pen.color = ToRgb(pen.lopnColor);
      StoreObject(index, object);
      return true;
    }
    case U_EMR_EXTCREATEPEN:
      ExtCreatePen(r);
      return true;
    case U_EMR_CREATEBRUSHINDIRECT: {
      U_LOGBRUSH brush{};
      r.Get(12, &brush);
      object.kind = GdiObject::kBrush;
      object.brush.style = brush.lbStyle;
      object.brush.color = ToRgb(brush.lbColor);
      object.brush.hatch = brush.lbHatch;
      StoreObject(index, object);
      return true;
    }
    case U_EMR_CREATEMONOBRUSH:
    case U_EMR_CREATEDIBPATTERNBRUSHPT:
      PatternBrush(r);
      return true;
    case U_EMR_EXTCREATEFONTINDIRECTW: {
      U_LOGFONT lf{};
      if (!r.Has(12, sizeof(U_LOGFONT))) return true;
      r.Get(12, &lf);
      object.kind = GdiObject::kFont;
      object.font = FontFromLogFont(lf);
      StoreObject(index, object);
      return true;
    }
    default:
      return false;
  }
}

void EmfPlayer::PatternBrush(const RecordReader& r) {
  // ihBrush, iUsage, offBmi, cbBmi, offBits, cbBits.
  GdiObject object;
  object.kind = GdiObject::kBrush;
  object.brush.style = 3;  // BS_PATTERN
  uint32_t offBmi = r.Value<uint32_t>(16), cbBmi = r.Value<uint32_t>(20);
  uint32_t offBits = r.Value<uint32_t>(24), cbBits = r.Value<uint32_t>(28);
  auto image = std::make_shared<RasterImage>();
  std::string why;
  if (cbBmi > 0 && r.Has(offBmi, cbBmi) && r.Has(offBits, cbBits) &&
      DecodeDib(r.data() + offBmi, cbBmi, r.data() + offBits, cbBits, image.get(), &why)) {
    object.brush.pattern = image;
  } else {
    report()->Skip("pattern brush bitmap not read" + (why.empty() ? "" : ": " + why));
  }
  StoreObject(r.Value<uint32_t>(8), object);
}

void EmfPlayer::ExtCreatePen(const RecordReader& r) {
  // ihPen, offBmi, cbBmi, offBits, cbBits, then the EXTLOGPEN.
  const size_t at = 8 + 5 * 4;
  GdiObject object;
  object.kind = GdiObject::kPen;
  uint32_t style = r.Value<uint32_t>(at);
  object.pen.style = style;
  object.pen.width = r.Value<uint32_t>(at + 4);
  object.pen.cosmetic = (style & U_PS_GEOMETRIC) == 0;
  U_COLORREF color{};
  r.Get(at + 12, &color);
  object.pen.color = ToRgb(color);
  if (r.Value<uint32_t>(at + 8) == U_BS_NULL) object.pen.style = (style & ~0xFu) | U_PS_NULL;
  StoreObject(r.Value<uint32_t>(8), object);
}

void EmfPlayer::Comment(const RecordReader& r) {
  uint32_t cbData = r.Value<uint32_t>(8);
  if (cbData < 4 || !r.Has(12, cbData) || r.Value<uint32_t>(12) != kEmfPlusSignature) return;
  plus_.Play(r.data() + 16, cbData - 4);
}

double EmfHeader::HundredthMmPerPixel(int axis) const {
  if (devicePixels[axis] > 0 && deviceMillimetres[axis] > 0) {
    return 100.0 * deviceMillimetres[axis] / devicePixels[axis];
  }
  return 2540.0 / 96;
}

bool ReadEmfHeader(const uint8_t* data, size_t size, EmfHeader* header, std::string* error) {
  RecordReader r(data, size);
  U_EMRHEADER h{};
  const size_t kMinimum = offsetof(U_EMRHEADER, cbPixelFormat);
  if (!r.Has(0, kMinimum)) {
    *error = "the file is too short for an enhanced-metafile header";
    return false;
  }
  std::memcpy(&h, data, kMinimum);
  if (h.emr.iType != U_EMR_HEADER || h.dSignature != U_ENHMETA_SIGNATURE) {
    *error = "the file is not an enhanced metafile";
    return false;
  }
  if (h.emr.nSize < kMinimum || h.emr.nSize > size) {
    *error = "the header record claims " + std::to_string(h.emr.nSize) + " bytes, the file holds " +
             std::to_string(size);
    return false;
  }
  const U_RECTL* rects[] = {&h.rclBounds, &h.rclFrame};
  int32_t* outs[] = {header->bounds, header->frame};
  for (int i = 0; i < 2; ++i) {
    outs[i][0] = rects[i]->left, outs[i][1] = rects[i]->top;
    outs[i][2] = rects[i]->right, outs[i][3] = rects[i]->bottom;
  }
  header->devicePixels[0] = h.szlDevice.cx, header->devicePixels[1] = h.szlDevice.cy;
  header->deviceMillimetres[0] = h.szlMillimeters.cx;
  header->deviceMillimetres[1] = h.szlMillimeters.cy;
  return true;
}

bool PlayEmf(const uint8_t* data, size_t size, const EmfHeader& header,
             const Matrix& hundredthMmToPage, PdfPainter* painter, DrawReport* report,
             std::string* error) {
  // The player is large (its own DC and the EMF+ state): keep it off the stack.
  auto player = std::make_unique<EmfPlayer>(header, hundredthMmToPage, painter, report);
  return player->Play(data, size, error);
}

}  // namespace metafile
