#include "pdf/picture_pages.h"

#include <memory>

#include "pdf/file_kind.h"
#include "pdf/page_geometry.h"
#include "pdf/pdf_merger.h"
#include "platform/platform.h"

bool IsPictureFile(const std::string& path) {
  std::string ext = FileExtension(path);
  return IsImageFileExt(ext.c_str()) || ExtensionIs(ext.c_str(), ".emf") ||
         ExtensionIs(ext.c_str(), ".wmf");
}

bool WritePicturePages(const std::string& input, const std::string& output,
                       std::vector<std::string>* messages) {
  // The merger's defaults: no document information of the settings file.
  std::vector<std::string> list{input};
  if (PDFMerger(list, output.c_str(), DocumentInfo())) return true;
  messages->push_back("no page could be made of \"" + input + "\" (see the log)");
  return false;
}

PictureAsPdf::PictureAsPdf(const std::string& input, std::vector<std::string>* messages)
    : path_(input) {
  if (!IsPictureFile(input)) return;
  std::string error;
  if (!platform::CreateUniqueTempFile(platform::SystemTempPath(), "pic", &temporary_, &error)) {
    messages->push_back("cannot create a temporary file: " + error);
    ok_ = false;
    return;
  }
  path_ = temporary_;
  ok_ = WritePicturePages(input, temporary_, messages);
}

PictureAsPdf::~PictureAsPdf() {
  if (!temporary_.empty()) platform::DeleteFile(temporary_);
}
