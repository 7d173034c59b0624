#include "pdf/pdf_library.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFSystemError.hh>
#include <string>
#include <vector>

#include "config/log.h"
#include "pdf/image/image_reader.h"
#include "pdf/incremental_update.h"
#include "pdf/pdf_instance.h"
#include "pdf/pdf_tail.h"
#include "pdf/qpdf_document.h"
#include "platform/platform.h"

namespace {

std::string FormatNumber(double value) {
  char buffer[64];
  if (value == std::floor(value) && std::fabs(value) < 1e15) {
    std::snprintf(buffer, sizeof(buffer), "%.0f", value);
  } else {
    std::snprintf(buffer, sizeof(buffer), "%.4f", value);
    char* end = buffer + std::strlen(buffer);
    while (end[-1] == '0') *--end = '\0';
    if (end[-1] == '.') end[-1] = '\0';
  }
  return std::string(buffer);
}

QPDFObjectHandle NumberObject(double value) {
  if (value == std::floor(value) && std::fabs(value) < 1e15) {
    return QPDFObjectHandle::newInteger(static_cast<long long>(value));
  }
  return QPDFObjectHandle::newReal(FormatNumber(value));
}

QPDFObjectHandle ImageStream(QPDF& doc, const std::string& data, const std::string& filter,
                             int width, int height, const char* colorSpace) {
  QPDFObjectHandle stream = QPDFObjectHandle::newStream(&doc);
  stream.replaceStreamData(data, QPDFObjectHandle::newName(filter), QPDFObjectHandle::newNull());
  QPDFObjectHandle dict = stream.getDict();
  dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
  dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
  dict.replaceKey("/Width", QPDFObjectHandle::newInteger(width));
  dict.replaceKey("/Height", QPDFObjectHandle::newInteger(height));
  if (colorSpace) {
    dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(colorSpace));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
  }
  return stream;
}

const char* ColorSpaceName(int components) {
  switch (components) {
    case 1:
      return "/DeviceGray";
    case 3:
      return "/DeviceRGB";
    case 4:
      return "/DeviceCMYK";
    default:
      return nullptr;
  }
}

// Groups the pages under nodes of at most this many kids before a whole
// write, so that later updates rewrite a few short nodes, not one Kids array
// of every page.
const size_t kPagesPerNode = 64;

void BalancePagesTree(QPDF& doc) {
  std::vector<QPDFObjectHandle> level;
  for (auto& page : QPDFPageDocumentHelper(doc).getAllPages()) {
    level.push_back(page.getObjectHandle());
  }
  if (level.size() <= kPagesPerNode) return;
  std::vector<long long> counts(level.size(), 1);
  while (level.size() > kPagesPerNode) {
    std::vector<QPDFObjectHandle> up;
    std::vector<long long> upCounts;
    for (size_t i = 0; i < level.size(); i += kPagesPerNode) {
      QPDFObjectHandle node =
          doc.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Pages /Kids [] /Count 0 >>"));
      long long count = 0;
      for (size_t k = i; k < std::min(level.size(), i + kPagesPerNode); ++k) {
        node.getKey("/Kids").appendItem(level[k]);
        level[k].replaceKey("/Parent", node);
        count += counts[k];
      }
      node.replaceKey("/Count", QPDFObjectHandle::newInteger(count));
      up.push_back(node);
      upCounts.push_back(count);
    }
    level = up;
    counts = upCounts;
  }
  QPDFObjectHandle root = doc.getRoot().getKey("/Pages");
  QPDFObjectHandle kids = QPDFObjectHandle::newArray();
  for (auto& node : level) {
    kids.appendItem(node);
    node.replaceKey("/Parent", root);
  }
  root.replaceKey("/Kids", kids);
}

const char* const kDocInfoKeys[] = {"/Author",   "/Creator", "/Keywords",
                                    "/Producer", "/Subject", "/Title"};
const char* const kBoxKeys[] = {"/ArtBox", "/BleedBox", "/CropBox", "/TrimBox", "/MediaBox"};

}  // namespace

// ---------------------------------------------------------------------------
// The document
// ---------------------------------------------------------------------------

void PDF::ReportException(const std::exception& e, const std::string& context) {
  int type = kPdfFatalError;
  int code = 0;
  if (const auto* qpdfError = dynamic_cast<const QPDFExc*>(&e)) {
    code = qpdfError->getErrorCode();
    switch (qpdfError->getErrorCode()) {
      case qpdf_e_damaged_pdf:
      case qpdf_e_pages:
        type = kPdfSyntaxError;
        break;
      case qpdf_e_system:
      case qpdf_e_password:
        type = kPdfFileError;
        break;
      case qpdf_e_object:
      case qpdf_e_json:
        type = kPdfValueError;
        break;
      default:
        break;
    }
  } else if (const auto* systemError = dynamic_cast<const QPDFSystemError*>(&e)) {
    code = systemError->getErrno();
    type = kPdfFileError;
  } else if (dynamic_cast<const PdfFileError*>(&e)) {
    type = kPdfFileError;
  }
  Report(type, code, context + e.what());
}

void PDF::EndPage() {
  if (!pageOpen) return;
  pageOpen = false;
  // A page whose only image could not be read would be an empty page
  // that the source never had.
  if (pageImageFailed && content.empty()) {
    QPDFPageDocumentHelper(*doc).removePage(QPDFPageObjectHelper(page));
    return;
  }
  QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
  resources.replaceKey("/XObject", xobjects);
  if (fonts.isDictionary() && !fonts.getKeys().empty()) resources.replaceKey("/Font", fonts);
  if (graphicStates.isDictionary() && !graphicStates.getKeys().empty()) {
    resources.replaceKey("/ExtGState", graphicStates);
  }
  page.replaceKey("/Resources", resources);
  page.replaceKey("/Contents", QPDFObjectHandle::newStream(doc.get(), content));
}

void PDF::WriteDocInfo() {
  if (docInfo.empty()) return;
  QPDFObjectHandle trailer = doc->getTrailer();
  QPDFObjectHandle info = trailer.getKey("/Info");
  if (!info.isDictionary()) {
    info = doc->makeIndirectObject(QPDFObjectHandle::newDictionary());
    trailer.replaceKey("/Info", info);
  }
  for (const auto& entry : docInfo) {
    info.replaceKey(kDocInfoKeys[entry.first], QPDFObjectHandle::newUnicodeString(entry.second));
  }
}

// A file read into memory, so that writing over it later is safe while the
// document still reads from it.
std::shared_ptr<QPDF> PDF::OpenInMemory(const std::string& path, const char* password) {
  auto content = std::make_shared<std::string>();
  std::string error;
  if (!platform::ReadWholeFile(path, content.get(), &error)) {
    throw PdfFileError("cannot read \"" + path + "\": " + error);
  }
  auto source = QPDF::create();
  source->setSuppressWarnings(true);
  source->processMemoryFile(path.c_str(), content->data(), content->size(), password);
  buffers.push_back(content);
  return source;
}

void PDF::MaterializeBase() {
  if (baseImported) {
    std::shared_ptr<QPDF> source = OpenInMemory(base->path(), nullptr);
    CopyAllPages(*source, *doc, 0, nullptr);
    ReportWarnings(*source);
    neededVersion.updateIfGreater(
        ParsePdfVersion(source->getPDFVersion(), source->getExtensionLevel()));
    sources.push_back(source);
  }
  base.reset();
  baseImported = false;
  basePages = 0;
}

PdfWriteOptions PDF::WriteOptions() const {
  PdfWriteOptions options;
  options.version = neededVersion;
  if (versionCode > 0) {
    options.version = PDFVersion(1, versionCode);
    options.version.updateIfGreater(neededVersion);
    options.forceVersion = true;
  }
  options.staticId = staticId || StaticPdfIdRequested();
  return options;
}

bool PDF::AppendUpdate() {
  IncrementalUpdate update;
  for (const auto& entry : docInfo) update.info[kDocInfoKeys[entry.first]] = entry.second;
  PdfWriteOptions options = WriteOptions();
  update.version = options.version;
  update.staticId = options.staticId;
  std::string why;
  IncrementalResult result = AppendIncrementally(*base, *doc, update, &why);
  if (result == IncrementalResult::kNotPossible) {
    appendEnd->RefuseUpdate(why);
  } else if (result == IncrementalResult::kFailed) {
    Report(kPdfFileError, 0, "cannot append to \"" + outputPath + "\": " + why);
  }
  return result == IncrementalResult::kAppended;
}

int OnPDFError(const void*, int, const char* errMessage, int errType) {
  const char* message = errMessage ? errMessage : "";
  if (errType & kPdfWarning) {
    OutLog("Warning: %s\n", message);
  } else if (errType & kPdfSyntaxError) {
    OutLog("Syntax error!: %s\n", message);
  } else if (errType & kPdfValueError) {
    OutLog("Value error: %s\n", message);
  } else if (errType & kPdfFontError) {
    OutLog("TrueType font error!: %s\n", message);
  } else if (errType & kPdfFileError) {
    OutLog("File error: %s\n", message);
  } else if (errType & kPdfFatalError) {
    OutLog("Fatal error: %s\n", message);
  } else {
    OutLog("%s\n", message);
  }
  return 0;
}

PDF* pdfNewPDF() {
  try {
    auto pdf = std::make_unique<PDF>();
    pdf->NewDocument();
    return pdf.release();
  } catch (const std::exception&) {
    return nullptr;
  }
}

void pdfDeletePDF(PDF* pdf) { delete pdf; }

int pdfSetOnErrorProc(PDF* pdf, const void* data, TErrorProc proc) {
  if (!pdf) return 0;
  pdf->errorData = data;
  pdf->errorProc = proc;
  return 1;
}

int pdfCreateNewPDFA(PDF* pdf, const char* outPDF) {
  if (!pdf) return 0;
  if (!outPDF || !*outPDF) {
    pdf->Report(kPdfValueError, 0, "no output file name");
    return 0;
  }
  std::string path = outPDF;
  if (platform::IsDirectory(path)) {
    pdf->Report(kPdfFileError, 0, "\"" + path + "\" is a folder");
    return 0;
  }
  // The document is written beside the output and renamed over it, so that
  // is where a file must be creatable.
  platform::NewFile probe;
  std::string error;
  if (!probe.CreateBeside(path, 0600, &error)) {
    pdf->Report(kPdfFileError, 0,
                "cannot create a file in the folder of \"" + path + "\": " + error);
    return 0;
  }
  probe.Discard();
  pdf->outputPath = path;
  return 1;
}

int pdfCloseFile(PDF* pdf) {
  if (!pdf) return 0;
  if (pdf->outputPath.empty()) {
    pdf->Report(kPdfValueError, 0, "no output file was created");
    return 0;
  }
  try {
    pdf->EndPage();
    if (pdf->PageCount() == 0) {
      pdf->Report(kPdfValueError, 0,
                  "the document has no page; \"" + pdf->outputPath + "\" is not written");
      return 0;
    }
    if (pdf->baseImported) {
      if (!pdf->AppendUpdate()) return 0;
    } else {
      pdf->MaterializeBase();
      pdf->WriteDocInfo();
      BalancePagesTree(*pdf->doc);
      WritePdfAtomically(*pdf->doc, pdf->outputPath, pdf->WriteOptions());
    }
  } catch (const std::exception& e) {
    pdf->ReportAllWarnings();
    pdf->ReportException(e, "cannot write \"" + pdf->outputPath + "\": ");
    return 0;
  }
  pdf->ReportAllWarnings();
  pdf->outputPath.clear();
  pdf->NewDocument();
  return 1;
}

int pdfSetImportFlags(PDF* pdf, uint32_t flags) {
  if (!pdf) return 0;
  pdf->importFlags = flags;
  return 1;
}

int pdfSetPageCoords(PDF* pdf, int coords) {
  if (!pdf || (coords != 0 && coords != 1)) return 0;
  pdf->topDown = coords == 1;
  return 1;
}

int pdfSetDocInfoA(PDF* pdf, int kind, const char* value) {
  if (!pdf) return 0;
  if (kind < 0 || kind > 5) {
    pdf->Report(kPdfValueError, 0, "unknown document information kind " + std::to_string(kind));
    return 0;
  }
  pdf->docInfo[kind] = platform::AnsiToUtf8(value ? value : "");
  return 1;
}

int pdfSetMetaConvFlags(PDF* pdf, uint32_t flags) {
  if (!pdf) return 0;
  pdf->metaConvFlags = flags;
  return 1;
}

int pdfSetPDFVersion(PDF* pdf, int version) {
  if (!pdf) return 0;
  if (version < 1 || version > 7) {
    pdf->Report(kPdfValueError, 0, "unknown PDF version code " + std::to_string(version));
    return 0;
  }
  pdf->versionCode = version;
  return 1;
}

int pdfSetCompressionFilter(PDF* pdf, int filter) {
  if (!pdf) return 0;
  pdf->compressionFilter = filter;
  return 1;
}

int pdfAppendBehind(PDF* pdf, OutputEnd* end) {
  if (!pdf) return 0;
  if (!end || !end->tail() || pdf->outputPath.empty() ||
      !platform::IsSameFile(end->path(), pdf->outputPath) || pdf->PageCount() != 0 ||
      pdf->pageOpen) {
    pdf->Report(kPdfValueError, 0, "no update can be written behind that end");
    return 0;
  }
  pdf->base = end->tail();
  pdf->appendEnd = end;
  pdf->baseImported = true;
  pdf->basePages = end->pages();
  return 1;
}

int pdfOpenImportFileA(PDF* pdf, const char* path, int, const char* password) {
  if (!pdf) return -1;
  if (!path || !*path) {
    pdf->Report(kPdfValueError, 0, "no import file name");
    return -1;
  }
  pdf->importFile.reset();
  pdf->importPath.clear();
  // The output itself is read into memory: the whole write replaces it.
  bool isOutput = !pdf->outputPath.empty() && platform::IsSameFile(path, pdf->outputPath);
  std::shared_ptr<QPDF> source;
  try {
    const char* given = password && *password ? password : nullptr;
    if (isOutput) {
      source = pdf->OpenInMemory(path, given);
    } else {
      source = QPDF::create();
      source->setSuppressWarnings(true);
      source->processFile(path, given);
    }
  } catch (const std::exception& e) {
    if (source) pdf->ReportWarnings(*source);
    pdf->ReportException(e, "cannot open \"" + std::string(path) + "\": ");
    return -2;
  }
  pdf->ReportWarnings(*source);
  pdf->importFile = source;
  pdf->importPath = path;
  return 0;
}

int pdfGetPageCount(PDF* pdf) {
  if (!pdf) return -1;
  try {
    return pdf->PageCount();
  } catch (const std::exception& e) {
    pdf->ReportException(e, "cannot count pages: ");
    return -2;
  }
}

int pdfImportPDFFile(PDF* pdf, int destPage, double, double) {
  if (!pdf) return -1;
  if (!pdf->importFile) {
    pdf->Report(kPdfValueError, 0, "no import file is open");
    return -1;
  }
  std::vector<QPDFObjectHandle> added;
  try {
    pdf->EndPage();
    int count = pdf->PageCount();
    int before = destPage >= 1 && destPage <= count ? destPage - 1 : -1;
    // Pages put in front of the output's own ones need the whole document.
    if (before >= 0 && pdf->baseImported) pdf->MaterializeBase();
    int copied = CopyAllPages(*pdf->importFile, *pdf->doc, before, &added);
    pdf->ReportWarnings(*pdf->importFile);
    pdf->neededVersion.updateIfGreater(
        ParsePdfVersion(pdf->importFile->getPDFVersion(), pdf->importFile->getExtensionLevel()));
    pdf->sources.push_back(pdf->importFile);
    return (before >= 0 ? destPage : count + 1) + copied;
  } catch (const std::exception& e) {
    pdf->ReportWarnings(*pdf->importFile);
    pdf->ReportException(e, "cannot import \"" + pdf->importPath + "\": ");
  }
  try {
    QPDFPageDocumentHelper pages(*pdf->doc);
    for (auto& page : added) pages.removePage(QPDFPageObjectHelper(page));
  } catch (const std::exception& e) {
    pdf->ReportException(e, "cannot remove the pages of a failed import: ");
  }
  return -2;
}

int pdfAppend(PDF* pdf) {
  if (!pdf) return 0;
  try {
    pdf->EndPage();
    QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    page.replaceKey("/MediaBox",
                    QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(0, 0, 595, 842)));
    page = pdf->doc->makeIndirectObject(page);
    QPDFPageDocumentHelper(*pdf->doc).addPage(QPDFPageObjectHelper(page), false);
    pdf->page = page;
    pdf->xobjects = QPDFObjectHandle::newDictionary();
    pdf->fonts = QPDFObjectHandle::newDictionary();
    pdf->embeddedFonts.clear();
    pdf->graphicStates = QPDFObjectHandle::newDictionary();
    pdf->content.clear();
    pdf->imageCount = 0;
    pdf->mediaTop = 842;
    pdf->frameTop = 0;
    pdf->pageOpen = true;
    pdf->pageImageFailed = false;
    return 1;
  } catch (const std::exception& e) {
    pdf->ReportException(e, "cannot add a page: ");
    return 0;
  }
}

int pdfSetBBox(PDF* pdf, int box, double left, double top, double right, double bottom) {
  if (!pdf) return 0;
  if (!pdf->pageOpen) {
    pdf->Report(kPdfValueError, 0, "no page is open");
    return 0;
  }
  if (box < 0 || box > 4) {
    pdf->Report(kPdfValueError, 0, "unknown page box " + std::to_string(box));
    return 0;
  }
  double llx = std::min(left, right), urx = std::max(left, right);
  double high = std::max(top, bottom), low = std::min(top, bottom);
  double lly = low, ury = high;
  if (pdf->topDown && box == 4) {
    lly = 0;
    ury = high - low;
    pdf->frameTop = low;
  } else if (pdf->topDown) {
    lly = pdf->mediaTop - (high - pdf->frameTop);
    ury = pdf->mediaTop - (low - pdf->frameTop);
  }
  if (box == 4) pdf->mediaTop = ury;
  try {
    QPDFObjectHandle rect = QPDFObjectHandle::newArray();
    for (double v : {llx, lly, urx, ury}) rect.appendItem(NumberObject(v));
    pdf->page.replaceKey(kBoxKeys[box], rect);
    return 1;
  } catch (const std::exception& e) {
    pdf->ReportException(e, "cannot set a page box: ");
    return 0;
  }
}

int pdfInsertImageExA(PDF* pdf, double x, double y, double width, double height, const char* path,
                      int image) {
  if (!pdf) return 0;
  if (!pdf->pageOpen) {
    pdf->Report(kPdfValueError, 0, "no page is open");
    return 0;
  }
  std::string file = path ? path : "";
  images::PdfImage picture;
  std::string error;
  bool read = false;
  try {
    read = images::ReadImage(file, image, nullptr, &picture, &error);
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (!read) {
    pdf->pageImageFailed = true;
    OutLog("[ERROR] Cannot read image %d of \"%s\": %s\n", image, file.c_str(), error.c_str());
    return 0;
  }
  if (width <= 0 && height <= 0) {
    width = picture.width;
    height = picture.height;
  } else if (width <= 0) {
    width = height * picture.width / picture.height;
  } else if (height <= 0) {
    height = width * picture.height / picture.width;
  }
  try {
    QPDF& doc = *pdf->doc;
    const char* colorSpace =
        picture.filter == "/JPXDecode" ? nullptr : ColorSpaceName(picture.components);
    QPDFObjectHandle stream =
        ImageStream(doc, picture.data, picture.filter, picture.width, picture.height, colorSpace);
    QPDFObjectHandle dict = stream.getDict();
    if (picture.invertedCmyk) {
      QPDFObjectHandle decode = QPDFObjectHandle::newArray();
      for (int i = 0; i < 4; ++i) {
        decode.appendItem(QPDFObjectHandle::newInteger(1));
        decode.appendItem(QPDFObjectHandle::newInteger(0));
      }
      dict.replaceKey("/Decode", decode);
    }
    if (!picture.alpha.empty()) {
      dict.replaceKey("/SMask", ImageStream(doc, picture.alpha, "/FlateDecode", picture.width,
                                            picture.height, "/DeviceGray"));
      pdf->neededVersion.updateIfGreater(PDFVersion(1, 4));
    }
    if (picture.filter == "/JPXDecode") {
      if (picture.alphaInData) dict.replaceKey("/SMaskInData", QPDFObjectHandle::newInteger(1));
      pdf->neededVersion.updateIfGreater(PDFVersion(1, 5));
    }
    std::string name = "/Im" + std::to_string(pdf->imageCount++);
    pdf->xobjects.replaceKey(name, stream);
    double pdfY = pdf->topDown ? pdf->mediaTop - (y - pdf->frameTop) - height : y;
    pdf->content += "q " + FormatNumber(width) + " 0 0 " + FormatNumber(height) + " " +
                    FormatNumber(x) + " " + FormatNumber(pdfY) + " cm " + name + " Do Q\n";
    return 1;
  } catch (const std::exception& e) {
    pdf->pageImageFailed = true;
    pdf->ReportException(e,
                         "cannot place image " + std::to_string(image) + " of \"" + file + "\": ");
    return 0;
  }
}

int pdfEndPage(PDF* pdf) {
  if (!pdf) return 0;
  if (!pdf->pageOpen) {
    pdf->Report(kPdfValueError, 0, "no page is open");
    return 0;
  }
  try {
    pdf->EndPage();
    return 1;
  } catch (const std::exception& e) {
    pdf->ReportException(e, "cannot finish the page: ");
    return 0;
  }
}

int pdfGetImageCountA(PDF*, const char* path) {
  std::string file = path ? path : "";
  std::string error;
  int count = 0;
  bool ok = false;
  try {
    ok = images::CountImages(file, &count, &error);
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (!ok) {
    OutLog("[ERROR] Cannot read image file \"%s\": %s\n", file.c_str(), error.c_str());
    return 0;
  }
  return count;
}

int pdfReadImageFormat2A(PDF*, const char* path, int image, int* width, int* height,
                         int* bitsPerPixel, int* compressionHint) {
  std::string file = path ? path : "";
  images::ImageSize size;
  std::string error;
  bool ok = false;
  try {
    ok = images::ReadImage(file, image, &size, nullptr, &error);
  } catch (const std::exception& e) {
    error = e.what();
  }
  if (!ok) {
    OutLog("[ERROR] Cannot read image %d of \"%s\": %s\n", image, file.c_str(), error.c_str());
    return 0;
  }
  if (width) *width = size.width;
  if (height) *height = size.height;
  if (bitsPerPixel) *bitsPerPixel = size.bitsPerPixel;
  if (compressionHint) *compressionHint = size.passThrough ? 0 : 1;
  return 1;
}

void pdfSetStaticIdForTesting(PDF* pdf, bool staticId) {
  if (pdf) pdf->staticId = staticId;
}
