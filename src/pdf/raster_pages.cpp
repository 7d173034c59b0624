#include "pdf/raster_pages.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QUtil.hh>

#include "pdf/qpdf_document.h"

struct RasterPages::Document {
  QPDF pdf;
};

RasterPages::RasterPages() : document_(new Document) { document_->pdf.emptyPDF(); }

RasterPages::~RasterPages() = default;

void RasterPages::AddPage(const images::Pixels& pixels, double widthPt, double heightPt) {
  QPDF& pdf = document_->pdf;
  images::PdfImage image = images::ImageFromPixels(pixels);
  QPDFObjectHandle picture = QPDFObjectHandle::newStream(&pdf);
  picture.replaceDict(QPDFObjectHandle::parse(
      "<< /Type /XObject /Subtype /Image /Width " + std::to_string(image.width) + " /Height " +
      std::to_string(image.height) + " /BitsPerComponent 8 /ColorSpace " +
      (image.components == 1 ? "/DeviceGray" : "/DeviceRGB") + " >>"));
  picture.replaceStreamData(image.data, QPDFObjectHandle::newName(image.filter),
                            QPDFObjectHandle::newNull());
  std::string width = QUtil::double_to_string(widthPt, 2);
  std::string height = QUtil::double_to_string(heightPt, 2);
  QPDFObjectHandle content =
      QPDFObjectHandle::newStream(&pdf, "q " + width + " 0 0 " + height + " 0 0 cm /Im0 Do Q\n");
  QPDFObjectHandle page =
      QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 " + width + " " + height + "] >>");
  QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
  xobjects.replaceKey("/Im0", picture);
  QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
  resources.replaceKey("/XObject", xobjects);
  page.replaceKey("/Resources", resources);
  page.replaceKey("/Contents", content);
  QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
  ++pages_;
}

Status RasterPages::Write(const std::string& path) {
  if (pages_ == 0) return Status::Failure("the raster document has no pages");
  try {
    PdfWriteOptions options;
    options.version = PDFVersion(1, 4);
    WritePdfAtomically(document_->pdf, path, options);
    return Status();
  } catch (const std::exception& e) {
    return Status::Failure(std::string("the raster pages could not be written to \"") + path +
                           "\": " + e.what());
  }
}
