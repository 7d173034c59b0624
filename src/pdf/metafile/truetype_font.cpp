#include "pdf/metafile/truetype_font.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "pdf/metafile/symbol_fonts.h"
#include "platform/platform.h"

namespace metafile {

namespace {

// Tables a PDF reader draws an embedded TrueType font with; the rest
// (kerning, layout, glyph names) only make the file larger.
const char* const kKeptTables[] = {"OS/2", "cmap", "cvt ", "fpgm", "glyf", "head",
                                   "hhea", "hmtx", "loca", "maxp", "name", "prep"};

void Put16(std::string* out, uint32_t v) {
  out->push_back(static_cast<char>(v >> 8));
  out->push_back(static_cast<char>(v));
}

void Put32(std::string* out, uint32_t v) {
  Put16(out, v >> 16);
  Put16(out, v & 0xFFFF);
}

std::string FontFile(const std::vector<std::pair<std::string, std::string>>& tables);

uint32_t CheckSum(const std::string& data, size_t at, size_t length) {
  uint32_t sum = 0;
  for (size_t i = 0; i < length; i += 4) {
    uint32_t word = 0;
    for (size_t k = 0; k < 4; ++k) {
      word = (word << 8) | (i + k < length ? static_cast<uint8_t>(data[at + i + k]) : 0);
    }
    sum += word;
  }
  return sum;
}

bool RightToLeft(char32_t ch) {
  return (ch >= 0x0590 && ch < 0x0900) || (ch >= 0xFB1D && ch < 0xFE00) ||
         (ch >= 0xFE70 && ch < 0xFF00);
}

// Glyphs in the order they stand on the line, left to right: each stretch
// of right-to-left letters (Hebrew, Arabic), with the spaces and
// punctuation between them, turned around. Digits and Latin letters keep
// their order.
ShapedText Visual(ShapedText shaped) {
  auto neutral = [](char32_t ch) { return ch < 0x80 && !std::isalnum(static_cast<int>(ch)); };
  size_t n = shaped.chars.size();
  for (size_t start = 0; start < n; ++start) {
    if (!RightToLeft(shaped.chars[start])) continue;
    size_t end = start + 1, last = start + 1;
    for (; end < n && (RightToLeft(shaped.chars[end]) || neutral(shaped.chars[end])); ++end) {
      if (RightToLeft(shaped.chars[end])) last = end + 1;
    }
    std::reverse(shaped.glyphs.begin() + start, shaped.glyphs.begin() + last);
    std::reverse(shaped.chars.begin() + start, shaped.chars.begin() + last);
    start = last - 1;
  }
  return shaped;
}

}  // namespace

uint32_t TrueTypeFont::U16(uint32_t at) const {
  if (at + 2 > data_.size()) return 0;
  return (static_cast<uint8_t>(data_[at]) << 8) | static_cast<uint8_t>(data_[at + 1]);
}

uint32_t TrueTypeFont::U32(uint32_t at) const { return (U16(at) << 16) | U16(at + 2); }

const TrueTypeFont::Table* TrueTypeFont::Find(const char* tag) const {
  auto found = tables_.find(tag);
  return found == tables_.end() ? nullptr : &found->second;
}

bool TrueTypeFont::Load(const std::string& path, std::string* error) {
  path_ = path;
  size_t slash = path.find_last_of("/\\"), dot = path.rfind('.');
  name_.clear();
  for (char ch :
       path.substr(slash + 1, dot == std::string::npos || dot < slash + 1 ? std::string::npos
                                                                          : dot - slash - 1)) {
    if (std::isalnum(static_cast<unsigned char>(ch)) || ch == '-') name_ += ch;
  }
  if (!platform::ReadWholeFile(path, &data_, error)) return false;
  uint32_t version = U32(0), count = U16(4);
  if ((version != 0x00010000 && version != 0x74727565) || 12 + 16 * count > data_.size()) {
    *error = "not a TrueType font";
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t entry = 12 + 16 * i;
    Table t{U32(entry + 8), U32(entry + 12)};
    if (uint64_t(t.offset) + t.length > data_.size()) {
      *error = "a table lies past the end of the file";
      return false;
    }
    tables_[data_.substr(entry, 4)] = t;
  }
  for (const char* tag : {"head", "hhea", "hmtx", "maxp", "loca", "glyf", "cmap"}) {
    if (!Find(tag)) {
      *error = std::string("no ") + tag + " table";
      return false;
    }
  }
  const Table &head = *Find("head"), &hhea = *Find("hhea");
  unitsPerEm_ = U16(head.offset + 18);
  longLoca_ = U16(head.offset + 50) == 1;
  glyphCount_ = U16(Find("maxp")->offset + 4);
  metricCount_ = U16(hhea.offset + 34);
  if (unitsPerEm_ < 16 || glyphCount_ == 0 || metricCount_ == 0 ||
      Find("loca")->length < (glyphCount_ + 1) * (longLoca_ ? 4u : 2u) ||
      Find("hmtx")->length < metricCount_ * 4) {
    *error = "damaged head, maxp, hhea, loca or hmtx table";
    return false;
  }
  auto scaled = [&](uint32_t at) { return static_cast<int16_t>(U16(at)) * 1000.0 / unitsPerEm_; };
  for (int i = 0; i < 4; ++i) bbox[i] = scaled(head.offset + 36 + 2 * i);
  ascent = scaled(hhea.offset + 4);
  descent = scaled(hhea.offset + 6);
  ReadCmap(*Find("cmap"));
  if (cmap_.empty()) {
    *error = "no Unicode character map";
    return false;
  }
  return true;
}

// The Unicode map: format 12 (all planes) when there is one, else format 4.
void TrueTypeFont::ReadCmap(const Table& cmap) {
  uint32_t format4 = 0, format12 = 0;
  for (uint32_t i = 0, n = U16(cmap.offset + 2); i < n; ++i) {
    uint32_t entry = cmap.offset + 4 + 8 * i, platform = U16(entry), encoding = U16(entry + 2);
    uint32_t at = cmap.offset + U32(entry + 4);
    if (platform != 0 && !(platform == 3 && (encoding == 1 || encoding == 10))) continue;
    if (U16(at) == 12) format12 = at;
    if (U16(at) == 4) format4 = at;
  }
  if (format12) {
    ReadCmap12(format12);
  } else if (format4) {
    ReadCmap4(format4);
  }
}

void TrueTypeFont::ReadCmap12(uint32_t at) {
  const size_t kMostCharacters = 1 << 17;
  for (uint32_t i = 0, n = U32(at + 12); i < n && cmap_.size() < kMostCharacters; ++i) {
    uint32_t group = at + 16 + 12 * i, first = U32(group), last = U32(group + 4);
    uint32_t glyph = U32(group + 8);
    for (uint32_t c = first; c <= last && c <= 0x10FFFF && cmap_.size() < kMostCharacters; ++c) {
      if (glyph + (c - first) < glyphCount_) cmap_[c] = static_cast<uint16_t>(glyph + c - first);
    }
  }
}

void TrueTypeFont::ReadCmap4(uint32_t at) {
  uint32_t segments = U16(at + 6) / 2;
  uint32_t ends = at + 14, starts = ends + 2 * segments + 2, deltas = starts + 2 * segments,
           offsets = deltas + 2 * segments;
  for (uint32_t s = 0; s < segments; ++s) {
    uint32_t first = U16(starts + 2 * s), last = U16(ends + 2 * s), delta = U16(deltas + 2 * s),
             rangeOffset = U16(offsets + 2 * s);
    for (uint32_t c = first; c <= last && c != 0xFFFF; ++c) {
      uint32_t glyph = rangeOffset == 0 ? c : U16(offsets + 2 * s + rangeOffset + 2 * (c - first));
      if (rangeOffset != 0 && glyph == 0) continue;
      glyph = (glyph + delta) & 0xFFFF;
      if (glyph != 0 && glyph < glyphCount_) cmap_[c] = static_cast<uint16_t>(glyph);
    }
  }
}

uint16_t TrueTypeFont::Glyph(char32_t ch) const {
  auto found = cmap_.find(ch);
  return found == cmap_.end() ? 0 : found->second;
}

double TrueTypeFont::Advance(uint16_t glyph) const {
  uint32_t index = glyph < metricCount_ ? glyph : metricCount_ - 1;
  return U16(Find("hmtx")->offset + 4 * index) * 1000.0 / unitsPerEm_;
}

bool TrueTypeFont::GlyphRange(uint16_t glyph, uint32_t* start, uint32_t* end) const {
  if (glyph >= glyphCount_) return false;
  uint32_t loca = Find("loca")->offset;
  const Table& glyf = *Find("glyf");
  *start = longLoca_ ? U32(loca + 4 * glyph) : 2 * U16(loca + 2 * glyph);
  *end = longLoca_ ? U32(loca + 4 * glyph + 4) : 2 * U16(loca + 2 * glyph + 2);
  return *start <= *end && *end <= glyf.length;
}

// The glyphs asked for, .notdef, and every part of a composite glyph
// (components may be composite themselves).
std::vector<bool> TrueTypeFont::KeptGlyphs(const std::set<uint16_t>& keep) const {
  std::vector<bool> kept(glyphCount_, false);
  std::vector<uint16_t> todo(keep.begin(), keep.end());
  todo.push_back(0);
  const uint32_t glyf = Find("glyf")->offset;
  while (!todo.empty()) {
    uint16_t g = todo.back();
    todo.pop_back();
    uint32_t start = 0, end = 0;
    if (g >= glyphCount_ || kept[g]) continue;
    kept[g] = true;
    if (!GlyphRange(g, &start, &end) || end - start < 10) continue;
    if (static_cast<int16_t>(U16(glyf + start)) >= 0) continue;  // a simple glyph
    const uint32_t kWords = 0x1, kScale = 0x8, kMore = 0x20, kXyScale = 0x40, kTwoByTwo = 0x80;
    for (uint32_t at = glyf + start + 10, flags = kMore; (flags & kMore) && at + 4 <= glyf + end;) {
      flags = U16(at);
      todo.push_back(static_cast<uint16_t>(U16(at + 2)));
      at += 4 + ((flags & kWords) ? 4 : 2) + ((flags & kScale) ? 2 : 0) +
            ((flags & kXyScale) ? 4 : 0) + ((flags & kTwoByTwo) ? 8 : 0);
    }
  }
  return kept;
}

std::string TrueTypeFont::Subset(const std::set<uint16_t>& keep) const {
  std::vector<bool> kept = KeptGlyphs(keep);
  const uint32_t glyf = Find("glyf")->offset;
  std::string glyphs, loca;
  for (uint32_t g = 0; g <= glyphCount_; ++g) {
    uint32_t start = 0, end = 0;
    if (longLoca_) {
      Put32(&loca, static_cast<uint32_t>(glyphs.size()));
    } else {
      Put16(&loca, static_cast<uint32_t>(glyphs.size() / 2));
    }
    if (g < glyphCount_ && kept[g] && GlyphRange(static_cast<uint16_t>(g), &start, &end)) {
      glyphs += data_.substr(glyf + start, end - start);
      glyphs.resize((glyphs.size() + 3) & ~size_t(3), '\0');
    }
  }

  std::vector<std::pair<std::string, std::string>> tables;
  for (const char* tag : kKeptTables) {
    const Table* t = Find(tag);
    if (!t) continue;
    std::string body = data_.substr(t->offset, t->length);
    if (body.size() >= 12 && std::string(tag) == "head") body.replace(8, 4, 4, '\0');
    tables.emplace_back(tag, std::string(tag) == "glyf"   ? glyphs
                             : std::string(tag) == "loca" ? loca
                                                          : body);
  }
  return FontFile(tables);
}

namespace {

// A TrueType file of the tables (tag, data; in tag order), its checksums
// filled in.
std::string FontFile(const std::vector<std::pair<std::string, std::string>>& tables) {
  uint32_t count = static_cast<uint32_t>(tables.size()), power = 1, log = 0;
  while (power * 2 <= count) power *= 2, ++log;
  std::string out;
  Put32(&out, 0x00010000);
  Put16(&out, count);
  Put16(&out, power * 16);
  Put16(&out, log);
  Put16(&out, count * 16 - power * 16);
  uint32_t offset = 12 + 16 * count, headAt = 0;
  for (const auto& table : tables) {
    out += table.first;
    Put32(&out, CheckSum(table.second, 0, table.second.size()));
    Put32(&out, offset);
    Put32(&out, static_cast<uint32_t>(table.second.size()));
    if (table.first == "head") headAt = offset;
    offset += (static_cast<uint32_t>(table.second.size()) + 3) & ~3u;
  }
  for (const auto& table : tables) {
    out += table.second;
    out.resize((out.size() + 3) & ~size_t(3), '\0');
  }
  uint32_t adjustment = 0xB1B0AFBA - CheckSum(out, 0, out.size());
  for (int i = 0; i < 4; ++i) out[headAt + 8 + i] = static_cast<char>(adjustment >> (24 - 8 * i));
  return out;
}

// A font family's file names: DejaVu's in Debian's folder and the Windows
// fonts folder's, for one style.
struct FontFiles {
  const char* dejaVu;   // "DejaVuSerif"
  const char* slant;    // its slanted style's word
  const char* windows;  // "times"
};

std::string DejaVuFile(const FontFiles& family, bool bold, bool slanted) {
  std::string suffix = std::string(bold ? "Bold" : "") + (slanted ? family.slant : "");
  return "/usr/share/fonts/truetype/dejavu/" + std::string(family.dejaVu) +
         (suffix.empty() ? "" : "-" + suffix) + ".ttf";
}

// arial.ttf, arialbd.ttf, ariali.ttf, arialbi.ttf.
std::string WindowsFile(const FontFiles& family, const char* windir, bool bold, bool slanted) {
  const char* style = bold ? (slanted ? "bi" : "bd") : (slanted ? "i" : "");
  return std::string(windir) + "\\Fonts\\" + family.windows + style + ".ttf";
}

// The files that may hold the family's font: the style asked for first,
// then the ones without its slant, then without its weight.
std::vector<std::string> FontCandidates(const std::string& baseFont) {
  bool mono = baseFont.compare(0, 7, "Courier") == 0, serif = baseFont.compare(0, 5, "Times") == 0;
  bool bold = baseFont.find("Bold") != std::string::npos;
  bool italic =
      baseFont.find("Oblique") != std::string::npos || baseFont.find("Italic") != std::string::npos;
  const FontFiles family = mono    ? FontFiles{"DejaVuSansMono", "Oblique", "cour"}
                           : serif ? FontFiles{"DejaVuSerif", "Italic", "times"}
                                   : FontFiles{"DejaVuSans", "Oblique", "arial"};
  const char* windir = std::getenv("WINDIR");
  std::vector<std::string> candidates;
  for (int style : {3, 1, 2, 0}) {  // bit 1: bold, bit 2: slanted
    bool boldFile = style & 1, slanted = style & 2;
    if ((boldFile && !bold) || (slanted && !italic)) continue;
    candidates.push_back(DejaVuFile(family, boldFile, slanted));
    if (windir) candidates.push_back(WindowsFile(family, windir, boldFile, slanted));
  }
  return candidates;
}

}  // namespace

const TrueTypeFont* UnicodeFontFor(const std::string& baseFont, std::string* error) {
  static std::mutex lock;
  static std::map<std::string, std::pair<std::unique_ptr<TrueTypeFont>, std::string>> loaded;
  std::lock_guard<std::mutex> hold(lock);
  auto& entry = loaded[baseFont];
  if (entry.first || !entry.second.empty()) {
    *error = entry.second;
    return entry.first.get();
  }
  std::vector<std::string> candidates = FontCandidates(baseFont);
  std::string reasons;
  for (const std::string& path : candidates) {
    if (!platform::IsRegularFile(path)) continue;
    auto font = std::make_unique<TrueTypeFont>();
    std::string why;
    if (font->Load(path, &why)) {
      entry.first = std::move(font);
      return entry.first.get();
    }
    reasons += (reasons.empty() ? "" : "; ") + path + ": " + why;
  }
  entry.second = reasons.empty() ? "no font file for it (" + candidates.front() + ")" : reasons;
  *error = entry.second;
  return nullptr;
}

namespace {

ShapedText ShapeUnicode(const FontRequest& request, const std::u16string& text) {
  ShapedText shaped;
  shaped.baseFont = ChooseStandardFont(request);
  shaped.bytes = Utf16ToWinAnsi(text);
  size_t asked = 0, questions = 0;
  for (char16_t ch : text) asked += ch == u'?';
  for (char ch : shaped.bytes) questions += ch == '?';
  if (questions == asked) {
    shaped.width = StandardTextWidth(shaped.baseFont, shaped.bytes);
    return shaped;
  }
  std::string error;
  const TrueTypeFont* font = UnicodeFontFor(shaped.baseFont, &error);
  if (!font) {
    shaped.width = StandardTextWidth(shaped.baseFont, shaped.bytes);
    shaped.lost = "text beyond Windows-1252: " + error;
    return shaped;
  }
  // Characters the family's font lacks (Hebrew in the monospaced one) may
  // be in the sans serif font of the same weight: the whole line is then
  // drawn in it.
  auto shape = [&text](const TrueTypeFont* with, ShapedText* out) {
    out->font = with;
    for (size_t i = 0; i < text.size(); ++i) {
      char32_t ch = text[i];
      if (ch >= 0xD800 && ch < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
          text[i + 1] < 0xE000) {
        ch = 0x10000 + ((ch - 0xD800) << 10) + (text[++i] - 0xDC00);
      }
      if (ch < 0x20 || ch == 0x7F || (ch >= 0xD800 && ch < 0xE000)) continue;
      uint16_t glyph = with->Glyph(ch);
      if (glyph == 0) out->lost = "characters " + with->Name() + " has no glyph for";
      out->glyphs.push_back(glyph);
      out->chars.push_back(ch);
      out->width += with->Advance(glyph);
    }
  };
  ShapedText first = shaped;
  shape(font, &first);
  if (first.lost.empty()) return Visual(first);
  bool bold = shaped.baseFont.find("Bold") != std::string::npos;
  const TrueTypeFont* sans = UnicodeFontFor(bold ? "Helvetica-Bold" : "Helvetica", &error);
  if (!sans || sans == font) return Visual(first);
  shape(sans, &shaped);
  return Visual(shaped.lost.empty() ? shaped : first);
}

}  // namespace

ShapedText ShapeText(const FontRequest& request, const std::u16string& text) {
  if (!IsSymbolFace(request.face)) return ShapeUnicode(request, text);
  std::u16string characters;
  size_t unmapped = 0;
  if (!SymbolText(request.face, text, &characters, &unmapped)) {
    ShapedText shaped;
    shaped.baseFont = ChooseStandardFont(request);
    shaped.lost = "text in the symbol font \"" + request.face + "\"";
    return shaped;
  }
  ShapedText shaped = ShapeUnicode(request, characters);
  if (unmapped > 0 && shaped.lost.empty()) {
    shaped.lost = "codes of the symbol font \"" + request.face + "\" without a Unicode character";
  }
  return shaped;
}

std::string ToUnicodeCMap(const std::map<uint16_t, char32_t>& glyphs) {
  std::string out =
      "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
      "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
      "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
      "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
  // At most 100 entries a block.
  auto it = glyphs.begin();
  while (it != glyphs.end()) {
    std::string block;
    size_t n = 0;
    for (; it != glyphs.end() && n < 100; ++it, ++n) {
      char code[32];
      char32_t ch = it->second;
      if (ch >= 0x10000) {
        std::snprintf(code, sizeof code, "<%04X> <%04X%04X>\n", it->first,
                      0xD800 + ((ch - 0x10000) >> 10), 0xDC00 + ((ch - 0x10000) & 0x3FF));
      } else {
        std::snprintf(code, sizeof code, "<%04X> <%04X>\n", it->first, static_cast<unsigned>(ch));
      }
      block += code;
    }
    out += std::to_string(n) + " beginbfchar\n" + block + "endbfchar\n";
  }
  return out + "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
}

}  // namespace metafile
