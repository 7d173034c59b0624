#include "pdf/output_end.h"

#include <vector>

#include "pdf/incremental_update.h"
#include "pdf/pdf_file_info.h"
#include "pdf/pdf_tail.h"
#include "platform/platform.h"

OutputEnd::OutputEnd() = default;
OutputEnd::~OutputEnd() = default;

Status OutputEnd::Read(const std::string& path) {
  path_ = path;
  tail_.reset();
  refused_.clear();
  auto tail = std::make_shared<PdfTail>();
  std::vector<int> branch;
  // The /Count of the pages tree's root is taken only when every node on
  // the last branch, where appended pages go, holds what its /Count says.
  if (tail->Open(path, &refused_) && tail->LastBranch(&branch, &refused_) &&
      (pages_ = tail->PageCount(&refused_)) >= 0) {
    length_ = tail->fileLength();
    refused_ = UpdateRefusal(*tail);
    if (refused_.empty()) tail_ = tail;
    return Status();
  }
  if (refused_.empty()) refused_ = "its end cannot be read";
  length_ = platform::FileSize(path);
  std::string error;
  pages_ = GetPDFFilePageCount(path.c_str(), &error);
  return pages_ >= 0 ? Status() : Status::Failure(error);
}

Status OutputEnd::CheckUpdate(int pages) const {
  if (!tail_) return Status::Failure("no update was built on its end");
  PdfTail now;
  now.ShareReadsWith(*tail_);
  std::string why;
  std::vector<int> branch;
  int found = -1;
  QPDFObjectHandle prev;
  if (!now.Open(path_, &why)) {
    why = "its new end cannot be read: " + why;
  } else if (now.fileLength() <= length_ || !(prev = now.trailer().getKey("/Prev")).isInteger() ||
             prev.getIntValue() != tail_->lastXrefOffset()) {
    why = "its new end does not follow the old one";
  } else if (!now.LastBranch(&branch, &why) || (found = now.PageCount(&why)) < 0) {
    why = "its new pages tree cannot be read: " + why;
  } else if (found != pages) {
    why = "it holds " + std::to_string(found) + " pages, not " + std::to_string(pages);
  } else {
    return Status();
  }
  std::string error;
  if (platform::FileSize(path_) > length_ && !platform::TruncateFile(path_, length_, &error)) {
    return Status::Failure(why + "; it cannot be cut back to its old end: " + error);
  }
  return Status::Failure(why + "; the update was cut off");
}
