// The PDF library layer's metafile calls: sizing a metafile and drawing it
// on the open page through the translator in pdf/metafile/.
#include <cstdio>
#include <exception>
#include <initializer_list>
#include <map>
#include <qpdf/QPDFObjectHandle.hh>
#include <set>
#include <string>
#include <utility>

#include "config/log.h"
#include "pdf/image/image_reader.h"
#include "pdf/metafile/metafile.h"
#include "pdf/metafile/truetype_font.h"
#include "pdf/pdf_instance.h"
#include "pdf/pdf_library.h"
#include "platform/platform.h"

namespace {

// Reads the whole file, refusing one larger than a metafile may be.
bool ReadMetafile(PDF* pdf, const std::string& path, std::string* bytes) {
  int64_t size = platform::FileSize(path);
  std::string error;
  if (size < 0 || !platform::IsRegularFile(path)) {
    error = "no such file";
  } else if (static_cast<uint64_t>(size) > metafile::kMaxMetafileBytes) {
    error = "larger than " + std::to_string(metafile::kMaxMetafileBytes >> 20) + " MiB";
  } else if (platform::ReadWholeFile(path, bytes, &error)) {
    return true;
  }
  pdf->Report(kPdfFileError, 0, "cannot read metafile \"" + path + "\": " + error);
  return false;
}

// Names the drawing's fonts and images as resources of the open page.
class PageCanvas : public metafile::MetafileCanvas {
 public:
  explicit PageCanvas(PDF* pdf) : pdf_(pdf) {}

  std::string FontResource(const std::string& baseFont) override {
    QPDFObjectHandle& font = pdf_->standardFonts[baseFont];
    if (!font.isInitialized() || font.isNull()) {
      QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
      dict.replaceKey("/Type", QPDFObjectHandle::newName("/Font"));
      dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Type1"));
      dict.replaceKey("/BaseFont", QPDFObjectHandle::newName("/" + baseFont));
      dict.replaceKey("/Encoding", QPDFObjectHandle::newName("/WinAnsiEncoding"));
      font = pdf_->doc->makeIndirectObject(dict);
    }
    for (const std::string& key : pdf_->fonts.getKeys()) {
      if (pdf_->fonts.getKey(key).getObjGen() == font.getObjGen()) return key;
    }
    std::string name = "/MF" + std::to_string(pdf_->fonts.getKeys().size() + 1);
    pdf_->fonts.replaceKey(name, font);
    return name;
  }

  // A Type0 font of glyph ids (Identity-H, CIDs are glyph ids) over the
  // TrueType font; its subset, widths and ToUnicode map are written by
  // WriteEmbeddedFonts once the drawing is done.
  std::string EmbeddedFontResource(const metafile::TrueTypeFont& font,
                                   const std::vector<uint16_t>& glyphs,
                                   const std::u32string& chars) override {
    PDF::EmbeddedFont& entry = pdf_->embeddedFonts[font.Path()];
    if (!entry.font) {
      entry.font = &font;
      auto name = [](const char* value) { return QPDFObjectHandle::newName(value); };
      entry.file = QPDFObjectHandle::newStream(pdf_->doc.get());
      entry.toUnicode = QPDFObjectHandle::newStream(pdf_->doc.get());
      QPDFObjectHandle descriptor = QPDFObjectHandle::newDictionary();
      descriptor.replaceKey("/Type", name("/FontDescriptor"));
      descriptor.replaceKey("/Flags", QPDFObjectHandle::newInteger(4));  // symbolic
      descriptor.replaceKey("/FontBBox",
                            Array({font.bbox[0], font.bbox[1], font.bbox[2], font.bbox[3]}));
      descriptor.replaceKey("/ItalicAngle", QPDFObjectHandle::newInteger(0));
      descriptor.replaceKey("/Ascent", QPDFObjectHandle::newReal(metafile::Num(font.ascent)));
      descriptor.replaceKey("/Descent", QPDFObjectHandle::newReal(metafile::Num(font.descent)));
      descriptor.replaceKey("/CapHeight", QPDFObjectHandle::newReal(metafile::Num(font.ascent)));
      descriptor.replaceKey("/StemV", QPDFObjectHandle::newInteger(80));
      descriptor.replaceKey("/FontFile2", entry.file);
      QPDFObjectHandle system = QPDFObjectHandle::newDictionary();
      system.replaceKey("/Registry", QPDFObjectHandle::newString("Adobe"));
      system.replaceKey("/Ordering", QPDFObjectHandle::newString("Identity"));
      system.replaceKey("/Supplement", QPDFObjectHandle::newInteger(0));
      QPDFObjectHandle descendant = QPDFObjectHandle::newDictionary();
      descendant.replaceKey("/Type", name("/Font"));
      descendant.replaceKey("/Subtype", name("/CIDFontType2"));
      descendant.replaceKey("/CIDSystemInfo", system);
      descendant.replaceKey("/FontDescriptor", pdf_->doc->makeIndirectObject(descriptor));
      descendant.replaceKey("/CIDToGIDMap", name("/Identity"));
      entry.descendant = pdf_->doc->makeIndirectObject(descendant);
      QPDFObjectHandle type0 = QPDFObjectHandle::newDictionary();
      type0.replaceKey("/Type", name("/Font"));
      type0.replaceKey("/Subtype", name("/Type0"));
      type0.replaceKey("/Encoding", name("/Identity-H"));
      type0.replaceKey("/DescendantFonts", QPDFObjectHandle::newArray({entry.descendant}));
      type0.replaceKey("/ToUnicode", entry.toUnicode);
      entry.type0 = pdf_->doc->makeIndirectObject(type0);
    }
    for (size_t i = 0; i < glyphs.size() && i < chars.size(); ++i) {
      entry.glyphs.emplace(glyphs[i], chars[i]);
    }
    for (const std::string& key : pdf_->fonts.getKeys()) {
      if (pdf_->fonts.getKey(key).getObjGen() == entry.type0.getObjGen()) return key;
    }
    std::string name = "/MF" + std::to_string(pdf_->fonts.getKeys().size() + 1);
    pdf_->fonts.replaceKey(name, entry.type0);
    return name;
  }

  std::string ImageResource(const metafile::RasterImage& image) override {
    QPDFObjectHandle stream = Stream(image.rgb, image.width, image.height, "/DeviceRGB");
    if (!image.alpha.empty()) {
      stream.getDict().replaceKey("/SMask",
                                  Stream(image.alpha, image.width, image.height, "/DeviceGray"));
      pdf_->neededVersion.updateIfGreater(PDFVersion(1, 4));
    }
    std::string name = "/Im" + std::to_string(pdf_->imageCount++);
    pdf_->xobjects.replaceKey(name, stream);
    return name;
  }

  // The image readers take files: the picture goes through a temporary one.
  std::string PictureResource(const std::string& file, int* width, int* height,
                              std::string* error) override {
    std::string path;
    if (!platform::CreateUniqueTempFile(platform::SystemTempPath(), "emf", &path, error)) return "";
    images::PdfImage picture;
    bool read = platform::WriteFileAtomically(path, file, error) &&
                images::ReadImage(path, 1, nullptr, &picture, error);
    platform::DeleteFile(path);
    if (!read) return "";
    QPDFObjectHandle stream = QPDFObjectHandle::newStream(pdf_->doc.get());
    stream.replaceStreamData(picture.data, QPDFObjectHandle::newName(picture.filter),
                             QPDFObjectHandle::newNull());
    QPDFObjectHandle dict = stream.getDict();
    Describe(dict, picture.width, picture.height, nullptr);
    if (picture.filter == "/JPXDecode") {
      if (picture.alphaInData) dict.replaceKey("/SMaskInData", QPDFObjectHandle::newInteger(1));
      pdf_->neededVersion.updateIfGreater(PDFVersion(1, 5));
    } else {
      const char* spaces[] = {nullptr, "/DeviceGray", nullptr, "/DeviceRGB", "/DeviceCMYK"};
      const char* space =
          picture.components >= 1 && picture.components <= 4 ? spaces[picture.components] : nullptr;
      if (!space) {
        *error = "unsupported number of colour components";
        return "";
      }
      dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(space));
      dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    }
    if (picture.invertedCmyk) {
      QPDFObjectHandle decode = QPDFObjectHandle::newArray();
      for (int i = 0; i < 8; ++i) decode.appendItem(QPDFObjectHandle::newInteger(1 - i % 2));
      dict.replaceKey("/Decode", decode);
    }
    if (!picture.alpha.empty()) {
      QPDFObjectHandle mask = QPDFObjectHandle::newStream(pdf_->doc.get());
      mask.replaceStreamData(picture.alpha, QPDFObjectHandle::newName("/FlateDecode"),
                             QPDFObjectHandle::newNull());
      Describe(mask.getDict(), picture.width, picture.height, "/DeviceGray");
      dict.replaceKey("/SMask", mask);
      pdf_->neededVersion.updateIfGreater(PDFVersion(1, 4));
    }
    *width = picture.width;
    *height = picture.height;
    std::string name = "/Im" + std::to_string(pdf_->imageCount++);
    pdf_->xobjects.replaceKey(name, stream);
    return name;
  }

  // The page's resources hold no patterns, so the fill is a form that
  // carries its own; the form and the pattern live in page space.
  std::string PatternFillResource(const std::string& area, bool evenOdd,
                                  const metafile::PatternCell& cell) override {
    using metafile::Num;
    QPDFObjectHandle images = QPDFObjectHandle::newDictionary();
    for (const std::string& key : pdf_->xobjects.getKeys()) {
      images.replaceKey(key, pdf_->xobjects.getKey(key));
    }
    QPDFObjectHandle cellResources = QPDFObjectHandle::newDictionary();
    cellResources.replaceKey("/XObject", images);
    QPDFObjectHandle pattern = QPDFObjectHandle::newStream(pdf_->doc.get(), cell.ops);
    QPDFObjectHandle p = pattern.getDict();
    p.replaceKey("/Type", QPDFObjectHandle::newName("/Pattern"));
    p.replaceKey("/PatternType", QPDFObjectHandle::newInteger(1));
    p.replaceKey("/PaintType", QPDFObjectHandle::newInteger(1));
    p.replaceKey("/TilingType", QPDFObjectHandle::newInteger(1));
    p.replaceKey("/BBox", Array({0, 0, cell.width, cell.height}));
    p.replaceKey("/XStep", QPDFObjectHandle::newReal(Num(cell.width)));
    p.replaceKey("/YStep", QPDFObjectHandle::newReal(Num(cell.height)));
    const metafile::Matrix& m = cell.placement;
    p.replaceKey("/Matrix", Array({m.a, m.b, m.c, m.d, m.e, m.f}));
    p.replaceKey("/Resources", cellResources);

    QPDFObjectHandle patterns = QPDFObjectHandle::newDictionary();
    patterns.replaceKey("/P1", pattern);
    QPDFObjectHandle formResources = QPDFObjectHandle::newDictionary();
    formResources.replaceKey("/Pattern", patterns);
    std::string ops = "/Pattern cs /P1 scn\n" + area + (evenOdd ? "f*\n" : "f\n");
    QPDFObjectHandle form = QPDFObjectHandle::newStream(pdf_->doc.get(), ops);
    QPDFObjectHandle f = form.getDict();
    f.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    f.replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
    const double kFar = 1e7;
    f.replaceKey("/BBox", Array({-kFar, -kFar, kFar, kFar}));
    f.replaceKey("/Resources", formResources);
    std::string name = "/Fm" + std::to_string(pdf_->imageCount++);
    pdf_->xobjects.replaceKey(name, form);
    return name;
  }

  // An embedded picture: a form whose resources are those of the page's
  // that its content names.
  std::string FormResource(const std::string& content, double width, double height) override {
    std::set<std::string> names;
    for (size_t at = content.find('/'); at != std::string::npos; at = content.find('/', at + 1)) {
      names.insert(content.substr(at, content.find_first_of(" \n", at) - at));
    }
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    const std::pair<const char*, QPDFObjectHandle*> kinds[] = {
        {"/Font", &pdf_->fonts},
        {"/XObject", &pdf_->xobjects},
        {"/ExtGState", &pdf_->graphicStates}};
    for (const auto& kind : kinds) {
      QPDFObjectHandle used = QPDFObjectHandle::newDictionary();
      for (const std::string& name : names) {
        if (kind.second->hasKey(name)) used.replaceKey(name, kind.second->getKey(name));
      }
      resources.replaceKey(kind.first, used);
    }
    QPDFObjectHandle form = QPDFObjectHandle::newStream(pdf_->doc.get(), content);
    QPDFObjectHandle f = form.getDict();
    f.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    f.replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
    f.replaceKey("/BBox", Array({0, 0, width, height}));
    // The scales are small numbers: written with more places than Num keeps.
    QPDFObjectHandle matrix = QPDFObjectHandle::newArray();
    for (double v : {1 / width, 0.0, 0.0, 1 / height, 0.0, 0.0}) {
      matrix.appendItem(QPDFObjectHandle::newReal(v, 10));
    }
    f.replaceKey("/Matrix", matrix);
    f.replaceKey("/Resources", resources);
    std::string name = "/Fm" + std::to_string(pdf_->imageCount++);
    pdf_->xobjects.replaceKey(name, form);
    return name;
  }

  // One state per opacity and blend mode a page uses, found by its values.
  std::string GraphicStateResource(double fillAlpha, double strokeAlpha,
                                   const std::string& blendMode) override {
    using metafile::Num;
    std::string key = Num(fillAlpha) + " " + Num(strokeAlpha) + " " + blendMode;
    std::string& name = graphicStateNames_[key];
    if (!name.empty()) return name;
    QPDFObjectHandle state = QPDFObjectHandle::newDictionary();
    state.replaceKey("/Type", QPDFObjectHandle::newName("/ExtGState"));
    state.replaceKey("/ca", QPDFObjectHandle::newReal(Num(fillAlpha)));
    state.replaceKey("/CA", QPDFObjectHandle::newReal(Num(strokeAlpha)));
    state.replaceKey("/BM", QPDFObjectHandle::newName("/" + blendMode));
    name = "/MGS" + std::to_string(pdf_->graphicStates.getKeys().size() + 1);
    pdf_->graphicStates.replaceKey(name, state);
    pdf_->neededVersion.updateIfGreater(PDFVersion(1, 4));
    return name;
  }

 private:
  static QPDFObjectHandle Array(std::initializer_list<double> values) {
    QPDFObjectHandle array = QPDFObjectHandle::newArray();
    for (double v : values) array.appendItem(QPDFObjectHandle::newReal(metafile::Num(v)));
    return array;
  }

  static void Describe(QPDFObjectHandle dict, int width, int height, const char* space) {
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(width));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(height));
    if (space) {
      dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(space));
      dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    }
  }

  QPDFObjectHandle Stream(const std::string& data, int width, int height, const char* space) {
    QPDFObjectHandle stream = QPDFObjectHandle::newStream(pdf_->doc.get(), data);
    QPDFObjectHandle dict = stream.getDict();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(width));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(height));
    dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(space));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    return stream;
  }

  PDF* pdf_;
  std::map<std::string, std::string> graphicStateNames_;
};

// Rewrites each embedded font of the page for the glyphs it shows so far:
// the subset, its name (a tag drawn from the glyphs), widths and ToUnicode.
void WriteEmbeddedFonts(PDF* pdf) {
  for (auto& item : pdf->embeddedFonts) {
    PDF::EmbeddedFont& entry = item.second;
    std::set<uint16_t> keep;
    QPDFObjectHandle widths = QPDFObjectHandle::newArray();
    uint32_t hash = 2166136261u;
    for (const auto& glyph : entry.glyphs) {
      keep.insert(glyph.first);
      hash = (hash ^ glyph.first) * 16777619u;
      widths.appendItem(QPDFObjectHandle::newInteger(glyph.first));
      widths.appendItem(QPDFObjectHandle::newArray(
          {QPDFObjectHandle::newReal(metafile::Num(entry.font->Advance(glyph.first)))}));
    }
    std::string tag;
    for (int i = 0; i < 6; ++i, hash /= 26) tag += static_cast<char>('A' + hash % 26);
    QPDFObjectHandle baseFont = QPDFObjectHandle::newName("/" + tag + "+" + entry.font->Name());
    std::string subset = entry.font->Subset(keep);
    entry.file.replaceStreamData(subset, QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
    entry.file.getDict().replaceKey(
        "/Length1", QPDFObjectHandle::newInteger(static_cast<int64_t>(subset.size())));
    entry.toUnicode.replaceStreamData(metafile::ToUnicodeCMap(entry.glyphs),
                                      QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
    entry.descendant.replaceKey("/W", widths);
    entry.descendant.replaceKey("/BaseFont", baseFont);
    entry.descendant.getKey("/FontDescriptor").replaceKey("/FontName", baseFont);
    entry.type0.replaceKey("/BaseFont", baseFont);
  }
}

// One line for everything the drawing left out, so a file of a thousand
// unsupported records logs one line, not a thousand.
void LogReport(const std::string& path, const metafile::DrawReport& report) {
  for (const std::string& problem : report.problems) {
    OutLog("[ERROR] Metafile \"%s\": %s\n", path.c_str(), problem.c_str());
  }
  if (report.notDrawn.empty()) return;
  std::string list;
  for (const auto& entry : report.notDrawn) {
    if (!list.empty()) list += ", ";
    list += entry.first + " x" + std::to_string(entry.second);
  }
  OutLog("[INFO] Metafile \"%s\": not drawn: %s\n", path.c_str(), list.c_str());
}

}  // namespace

int pdfGetLogMetafileSizeA(PDF* pdf, const char* path, PdfRectL* rect) {
  if (!pdf || !rect) return 0;
  std::string file = path ? path : "";
  std::string bytes, error;
  if (!ReadMetafile(pdf, file, &bytes)) return 0;
  double width = 0, height = 0;
  if (!metafile::MeasureMetafile(bytes, &width, &height, &error)) {
    OutLog("[ERROR] Cannot size metafile \"%s\": %s\n", file.c_str(), error.c_str());
    return 0;
  }
  // Beyond this a page size is no longer a 32-bit number of points.
  const double kLargest = 2e9;
  rect->left = 0;
  rect->top = 0;
  rect->right = static_cast<int32_t>(std::min(width + 0.5, kLargest));
  rect->bottom = static_cast<int32_t>(std::min(height + 0.5, kLargest));
  return 1;
}

int pdfInsertMetafileA(PDF* pdf, const char* path, double x, double y, double width,
                       double height) {
  if (!pdf) return 0;
  if (!pdf->pageOpen) {
    pdf->Report(kPdfValueError, 0, "no page is open");
    return 0;
  }
  std::string file = path ? path : "";
  std::string bytes, error;
  if (!ReadMetafile(pdf, file, &bytes)) {
    pdf->pageImageFailed = true;
    OutLog("[ERROR] Cannot read metafile \"%s\".\n", file.c_str());
    return 0;
  }
  try {
    double bottom = pdf->topDown ? pdf->mediaTop - (y - pdf->frameTop) - height : y;
    PageCanvas canvas(pdf);
    metafile::MetafileDrawing drawing;
    bool drawn = metafile::DrawMetafile(bytes, x, bottom, width, height, &canvas, &drawing, &error);
    WriteEmbeddedFonts(pdf);
    if (!drawn) {
      pdf->pageImageFailed = true;
      OutLog("[ERROR] Cannot draw metafile \"%s\": %s\n", file.c_str(), error.c_str());
      return 0;
    }
    LogReport(file, drawing.report);
    pdf->content += "q\n" + drawing.content + "Q\n";
    return 1;
  } catch (const std::exception& e) {
    pdf->pageImageFailed = true;
    pdf->ReportException(e, "cannot draw metafile \"" + file + "\": ");
    return 0;
  }
}
