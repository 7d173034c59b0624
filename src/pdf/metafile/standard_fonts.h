// The PDF standard fonts that stand in for a metafile's font requests, the
// WinAnsi encoding of the text, and the fonts' advance widths.
#pragma once

#include <cstdint>
#include <string>

namespace metafile {

/// What a metafile asks for: a face name (UTF-8), weight (400 normal, 700
/// bold), italic, and the LOGFONT pitch-and-family byte.
struct FontRequest {
  std::string face;
  int weight = 400;
  bool italic = false;
  uint8_t pitchAndFamily = 0;
};

/// The standard font for a request: the Courier family for fixed-pitch and
/// typewriter faces, Times for serif faces, Helvetica otherwise, in the
/// bold and italic variant asked for ("Times-BoldItalic").
std::string ChooseStandardFont(const FontRequest& request);

/// UTF-16 text as WinAnsi (Windows-1252) bytes; characters without a code
/// there become '?', control characters are left out.
std::string Utf16ToWinAnsi(const std::u16string& text);

/// The advance width of WinAnsi text in the standard font, in thousandths
/// of the font size.
double StandardTextWidth(const std::string& baseFont, const std::string& bytes);

}  // namespace metafile
