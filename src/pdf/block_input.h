// The output read through blocks kept in memory: the tail reader jumps
// between the sections and objects at the file's end, and a plain file
// input would seek and refill its buffer for each of them. Only code of the
// PDF layer includes this header.
#pragma once

#include <fstream>
#include <map>
#include <qpdf/InputSource.hh>
#include <string>

class BlockFileInput : public InputSource {
 public:
  /// Opens the file; throws std::runtime_error, with the system's words,
  /// when it cannot be read. The file's length is taken here.
  explicit BlockFileInput(const std::string& path);

  qpdf_offset_t findAndSkipNextEOL() override;
  const std::string& getName() const override { return name_; }
  qpdf_offset_t tell() override { return position_; }
  void seek(qpdf_offset_t offset, int whence) override;
  void rewind() override { position_ = 0; }
  size_t read(char* buffer, size_t length) override;
  void unreadCh(char) override {
    if (position_ > 0) --position_;
  }

 private:
  static constexpr qpdf_offset_t kBlock = 65536;
  static constexpr size_t kMaxBlocks = 256;

  const std::string& Block(qpdf_offset_t index);

  std::string name_;
  std::ifstream file_;
  qpdf_offset_t size_ = 0;
  qpdf_offset_t position_ = 0;
  std::map<qpdf_offset_t, std::string> blocks_;
};
