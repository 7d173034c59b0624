#include "pdf/metafile/standard_fonts.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace metafile {

namespace {

// Advance widths of the printable ASCII characters (32 to 126) of the
// standard fonts, from the metric-compatible URW fonts' AFM files. The
// oblique Helvetica faces share the upright widths; Courier is 600 wide.
struct WidthTable {
  const char* font;
  short widths[95];
};
const WidthTable kWidths[] = {
    {"Helvetica", {278,  278, 355, 556, 556, 889, 667, 222, 333, 333, 389, 584, 278, 333, 278, 278,
                   556,  556, 556, 556, 556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556,
                   1015, 667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833, 722, 778,
                   667,  778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 278, 278, 278, 469, 556,
                   222,  556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833, 556, 556,
                   556,  556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584}},
    {"Helvetica-Bold",
     {278, 333, 474, 556, 556, 889, 722, 278, 333, 333, 389, 584, 278, 333, 278, 278,
      556, 556, 556, 556, 556, 556, 556, 556, 556, 556, 333, 333, 584, 584, 584, 611,
      975, 722, 722, 722, 722, 667, 611, 778, 722, 278, 556, 722, 611, 833, 722, 778,
      667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 333, 278, 333, 584, 556,
      278, 556, 611, 556, 611, 556, 333, 611, 611, 278, 278, 556, 278, 889, 611, 611,
      611, 611, 389, 556, 333, 611, 556, 778, 556, 556, 500, 389, 280, 389, 584}},
    {"Times-Roman", {250, 333, 408, 500, 500, 833, 778, 333, 333, 333, 500, 564, 250, 333, 250, 278,
                     500, 500, 500, 500, 500, 500, 500, 500, 500, 500, 278, 278, 564, 564, 564, 444,
                     921, 722, 667, 667, 722, 611, 556, 722, 722, 333, 389, 722, 611, 889, 722, 722,
                     556, 722, 667, 556, 611, 722, 722, 944, 722, 722, 611, 333, 278, 333, 469, 500,
                     333, 444, 500, 444, 500, 444, 333, 500, 500, 278, 278, 500, 278, 778, 500, 500,
                     500, 500, 333, 389, 278, 500, 500, 722, 500, 500, 444, 480, 200, 480, 541}},
    {"Times-Bold",
     {250, 333, 555, 500, 500, 1000, 833, 333,  333, 333, 500, 570, 250, 333, 250, 278,
      500, 500, 500, 500, 500, 500,  500, 500,  500, 500, 333, 333, 570, 570, 570, 500,
      930, 722, 667, 722, 722, 667,  611, 778,  778, 389, 500, 778, 667, 944, 722, 778,
      611, 778, 722, 556, 667, 722,  722, 1000, 722, 722, 667, 333, 278, 333, 581, 500,
      333, 500, 556, 444, 556, 444,  333, 500,  556, 278, 333, 556, 278, 833, 556, 500,
      556, 556, 444, 389, 333, 556,  500, 722,  500, 500, 444, 394, 220, 394, 520}},
    {"Times-Italic",
     {250, 333, 420, 500, 500, 833, 778, 333, 333, 333, 500, 675, 250, 333, 250, 278,
      500, 500, 500, 500, 500, 500, 500, 500, 500, 500, 333, 333, 675, 675, 675, 500,
      920, 611, 611, 667, 722, 611, 611, 722, 722, 333, 444, 667, 556, 833, 667, 722,
      611, 722, 611, 500, 556, 722, 611, 833, 611, 556, 556, 389, 278, 389, 422, 500,
      333, 500, 500, 444, 500, 444, 278, 500, 500, 278, 278, 444, 278, 722, 500, 500,
      500, 500, 389, 389, 278, 500, 444, 667, 444, 444, 389, 400, 275, 400, 541}},
    {"Times-BoldItalic",
     {250, 389, 555, 500, 500, 833, 778, 333, 333, 333, 500, 570, 250, 333, 250, 278,
      500, 500, 500, 500, 500, 500, 500, 500, 500, 500, 333, 333, 570, 570, 570, 500,
      832, 667, 667, 667, 722, 667, 667, 722, 778, 389, 500, 667, 611, 889, 722, 722,
      611, 722, 667, 556, 611, 722, 667, 889, 667, 611, 611, 333, 278, 333, 570, 500,
      333, 500, 500, 444, 500, 444, 333, 500, 556, 278, 278, 500, 278, 778, 556, 500,
      500, 500, 389, 389, 278, 556, 444, 667, 500, 444, 389, 348, 220, 348, 570}},
};

// Windows-1252 codes 0x80 to 0x9F and the characters they stand for.
const char16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string Lower(std::string text) {
  for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return text;
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

bool IsFixedFace(const std::string& face, uint8_t pitchAndFamily) {
  static const char* const kFixed[] = {"courier",  "mono",     "consol",     "lucida console",
                                       "fixedsys", "terminal", "typewriter", "ocr"};
  for (const char* name : kFixed) {
    if (Contains(face, name)) return true;
  }
  // FIXED_PITCH, or FF_MODERN with no face name to go by.
  return (pitchAndFamily & 3) == 1 || (face.empty() && (pitchAndFamily & 0xF0) == 0x30);
}

bool IsSerifFace(const std::string& face, uint8_t pitchAndFamily) {
  if (Contains(face, "sans")) return false;
  static const char* const kSerif[] = {
      "times",      "roman",      "serif",   "georgia",     "garamond", "cambria",
      "book",       "palatino",   "century", "baskerville", "bodoni",   "minion",
      "constantia", "cheltenham", "batang",  "mincho",      "song",     "ming"};
  for (const char* name : kSerif) {
    if (Contains(face, name)) return true;
  }
  return face.empty() && (pitchAndFamily & 0xF0) == 0x10;  // FF_ROMAN
}

}  // namespace

std::string ChooseStandardFont(const FontRequest& request) {
  std::string face = Lower(request.face);
  bool bold = request.weight >= 600;
  bool italic = request.italic;
  if (IsFixedFace(face, request.pitchAndFamily)) {
    const char* const names[] = {"Courier", "Courier-Bold", "Courier-Oblique",
                                 "Courier-BoldOblique"};
    return names[(bold ? 1 : 0) + (italic ? 2 : 0)];
  }
  if (IsSerifFace(face, request.pitchAndFamily)) {
    const char* const names[] = {"Times-Roman", "Times-Bold", "Times-Italic", "Times-BoldItalic"};
    return names[(bold ? 1 : 0) + (italic ? 2 : 0)];
  }
  const char* const names[] = {"Helvetica", "Helvetica-Bold", "Helvetica-Oblique",
                               "Helvetica-BoldOblique"};
  return names[(bold ? 1 : 0) + (italic ? 2 : 0)];
}

std::string Utf16ToWinAnsi(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t ch : text) {
    if (ch < 0x20 || ch == 0x7F || (ch >= 0xD800 && ch <= 0xDFFF)) continue;
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) {
      out += static_cast<char>(ch);
      continue;
    }
    const char16_t* found = std::find(kCp1252High, kCp1252High + 32, ch);
    out += found != kCp1252High + 32 && ch != 0 ? static_cast<char>(0x80 + (found - kCp1252High))
                                                : '?';
  }
  return out;
}

double StandardTextWidth(const std::string& baseFont, const std::string& bytes) {
  if (baseFont.compare(0, 7, "Courier") == 0) return 600.0 * bytes.size();
  std::string table = baseFont;
  if (table == "Helvetica-Oblique") table = "Helvetica";
  if (table == "Helvetica-BoldOblique") table = "Helvetica-Bold";
  const WidthTable* widths = &kWidths[0];
  for (const WidthTable& candidate : kWidths) {
    if (table == candidate.font) widths = &candidate;
  }
  // Letters outside ASCII are mostly accented forms of a letter: about as
  // wide as a lower-case letter.
  double wide = widths->widths['n' - 32];
  double total = 0;
  for (unsigned char ch : bytes) {
    total += ch >= 32 && ch <= 126 ? widths->widths[ch - 32] : wide;
  }
  return total;
}

}  // namespace metafile
