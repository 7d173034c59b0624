// TrueType fonts for text the standard fonts cannot show (beyond
// Windows-1252): reading a font file's character map and widths, and
// cutting it down to the glyphs a page shows for embedding.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "pdf/metafile/standard_fonts.h"

namespace metafile {

class TrueTypeFont {
 public:
  /// Reads and checks the file; false with *error set when it is not a
  /// TrueType font this can use.
  bool Load(const std::string& path, std::string* error);
  /// A name for the font (the file's name without folder and extension).
  const std::string& Name() const { return name_; }
  const std::string& Path() const { return path_; }
  /// The glyph of a character, 0 (.notdef) when the font has none.
  uint16_t Glyph(char32_t ch) const;
  /// A glyph's advance width in thousandths of the font size.
  double Advance(uint16_t glyph) const;
  /// Scaled to thousandths: the box around every glyph, ascent, descent.
  double bbox[4] = {0, 0, 0, 0};
  double ascent = 0, descent = 0;
  /// The font file with every glyph not in `keep` emptied (.notdef and
  /// the parts of kept composite glyphs are kept too), glyph ids unchanged,
  /// and only the tables a PDF reader draws with.
  std::string Subset(const std::set<uint16_t>& keep) const;

 private:
  struct Table {
    uint32_t offset = 0, length = 0;
  };
  const Table* Find(const char* tag) const;
  uint32_t U16(uint32_t at) const;
  uint32_t U32(uint32_t at) const;
  bool GlyphRange(uint16_t glyph, uint32_t* start, uint32_t* end) const;
  void ReadCmap(const Table& cmap);
  void ReadCmap12(uint32_t at);
  void ReadCmap4(uint32_t at);
  /// Which glyphs a subset of `keep` holds.
  std::vector<bool> KeptGlyphs(const std::set<uint16_t>& keep) const;

  std::string path_, name_, data_;
  std::map<std::string, Table> tables_;
  std::unordered_map<char32_t, uint16_t> cmap_;
  uint32_t unitsPerEm_ = 1000, glyphCount_ = 0, metricCount_ = 0;
  bool longLoca_ = false;
};

/// The TrueType font that draws the family of a standard font (serif for
/// Times, monospaced for Courier, sans serif otherwise; bold when the
/// standard font is), read once from the first candidate file that is
/// there. nullptr with *error set when none can be read.
const TrueTypeFont* UnicodeFontFor(const std::string& baseFont, std::string* error);

/// Text as a font shows it: WinAnsi bytes of the standard font when every
/// character has a code there, else the glyphs of the family's TrueType
/// font. Control characters are left out. Text in a symbol font is shaped
/// as the Unicode characters its codes stand for.
struct ShapedText {
  std::string baseFont;
  std::string bytes;
  const TrueTypeFont* font = nullptr;  ///< set: glyphs of this font
  std::vector<uint16_t> glyphs;
  std::u32string chars;  ///< the character each glyph shows
  double width = 0;      ///< thousandths of the font size
  /// Why characters could not be shown (drawn as '?' or .notdef); empty
  /// when all were.
  std::string lost;
};
ShapedText ShapeText(const FontRequest& request, const std::u16string& text);

/// A ToUnicode CMap that maps two-byte glyph ids to their characters.
std::string ToUnicodeCMap(const std::map<uint16_t, char32_t>& glyphs);

}  // namespace metafile
