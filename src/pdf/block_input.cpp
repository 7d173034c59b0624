#include "pdf/block_input.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

BlockFileInput::BlockFileInput(const std::string& path)
    : name_(path), file_(path, std::ios::binary) {
  if (!file_ || !file_.seekg(0, std::ios::end)) {
    throw std::runtime_error("cannot open " + path + " for reading: " + std::strerror(errno));
  }
  size_ = static_cast<qpdf_offset_t>(file_.tellg());
}

qpdf_offset_t BlockFileInput::findAndSkipNextEOL() {
  char c = 0;
  while (read(&c, 1) == 1) {
    if (c != '\r' && c != '\n') continue;
    qpdf_offset_t eol = position_ - 1;
    while (read(&c, 1) == 1) {
      if (c != '\r' && c != '\n') {
        unreadCh(c);
        break;
      }
    }
    return eol;
  }
  return position_;
}

void BlockFileInput::seek(qpdf_offset_t offset, int whence) {
  qpdf_offset_t from = whence == SEEK_END ? size_ : whence == SEEK_CUR ? position_ : 0;
  if (from + offset < 0) throw std::runtime_error(name_ + ": seek before the start");
  position_ = from + offset;
}

size_t BlockFileInput::read(char* buffer, size_t length) {
  last_offset = position_;
  size_t done = 0;
  while (done < length && position_ < size_) {
    const std::string& block = Block(position_ / kBlock);
    size_t at = static_cast<size_t>(position_ % kBlock);
    if (at >= block.size()) break;
    size_t n = std::min(length - done, block.size() - at);
    std::copy_n(block.data() + at, n, buffer + done);
    done += n;
    position_ += static_cast<qpdf_offset_t>(n);
  }
  return done;
}

const std::string& BlockFileInput::Block(qpdf_offset_t index) {
  auto found = blocks_.find(index);
  if (found != blocks_.end()) return found->second;
  if (blocks_.size() >= kMaxBlocks) blocks_.clear();
  std::string block(static_cast<size_t>(kBlock), '\0');
  file_.clear();
  if (!file_.seekg(index * kBlock)) throw std::runtime_error(name_ + ": cannot seek");
  file_.read(&block[0], kBlock);
  block.resize(static_cast<size_t>(file_.gcount()));
  return blocks_.emplace(index, std::move(block)).first->second;
}
