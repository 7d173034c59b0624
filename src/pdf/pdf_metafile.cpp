// The PDF library layer's metafile calls: sizing a metafile and drawing it
// on the open page through the translator in pdf/metafile/.
#include <cstdio>
#include <exception>
#include <qpdf/QPDFObjectHandle.hh>
#include <string>

#include "config/log.h"
#include "pdf/metafile/metafile.h"
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

 private:
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
};

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
    pdf->Report(kPdfValueError, 0, "cannot size metafile \"" + file + "\": " + error);
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
    if (!metafile::DrawMetafile(bytes, x, bottom, width, height, &canvas, &drawing, &error)) {
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
