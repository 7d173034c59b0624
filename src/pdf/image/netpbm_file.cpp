#include "pdf/image/netpbm_file.h"

#include <cstdint>
#include <string>

namespace images {
namespace {

class NetpbmParser {
 public:
  explicit NetpbmParser(const std::string& data) : data_(data) {}

  /// Reads the header ("P" and a kind digit, width, height and, but for
  /// bitmaps, the largest sample value) and checks the size.
  bool ReadHeader(uint32_t* width, uint32_t* height, uint32_t* maxValue, std::string* error) {
    char kind = data_.size() >= 2 ? data_[1] : '\0';
    pos_ = 2;
    bool bitmap = kind == '1' || kind == '4';
    *maxValue = 1;
    if (!Number(width) || !Number(height) || (!bitmap && !Number(maxValue)) || *maxValue == 0 ||
        *maxValue > 65535) {
      *error = "bad netpbm header";
      return false;
    }
    return CheckPixelCount(*width, *height, error);
  }

  /// Reads the header, then (pixels not null) the samples the kind digit
  /// names: plain bitmap, plain gray or RGB, or binary bitmap.
  bool Read(ImageSize* size, Pixels* pixels, std::string* error) {
    uint32_t width = 0, height = 0, maxValue = 1;
    if (!ReadHeader(&width, &height, &maxValue, error)) return false;
    char kind = data_[1];
    bool bitmap = kind == '1' || kind == '4';
    int channels = kind == '3' ? 3 : 1;
    if (size) {
      size->width = static_cast<int>(width);
      size->height = static_cast<int>(height);
      size->bitsPerPixel = bitmap ? 1 : channels * (maxValue > 255 ? 16 : 8);
    }
    if (!pixels) return true;
    pixels->width = static_cast<int>(width);
    pixels->height = static_cast<int>(height);
    pixels->channels = channels;
    pixels->color.resize(static_cast<size_t>(width) * height * channels);
    switch (kind) {
      case '4':
        return ReadBinaryBitmap(width, height, &pixels->color, error);
      case '1':
        return ReadPlainBitmap(&pixels->color, error);
      default:
        return ReadPlainSamples(maxValue, &pixels->color, error);
    }
  }

 private:
  // Rows of one bit a pixel (1 black), each padded to a whole byte.
  bool ReadBinaryBitmap(uint32_t width, uint32_t height, std::string* out, std::string* error) {
    size_t rowBytes = (width + 7) / 8;
    ++pos_;  // the single blank after the height
    if (data_.size() < pos_ || data_.size() - pos_ < rowBytes * height) {
      *error = "the bitmap data is truncated";
      return false;
    }
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < width; ++x) {
        unsigned char byte = static_cast<unsigned char>(data_[pos_ + y * rowBytes + x / 8]);
        (*out)[static_cast<size_t>(y) * width + x] = (byte & (0x80 >> (x % 8))) ? 0 : '\xFF';
      }
    }
    return true;
  }

  // The digits 0 and 1 (1 black), blanks between them optional.
  bool ReadPlainBitmap(std::string* out, std::string* error) {
    for (char& sample : *out) {
      SkipBlanks();
      if (pos_ >= data_.size() || (data_[pos_] != '0' && data_[pos_] != '1')) {
        *error = "the bitmap data is truncated";
        return false;
      }
      sample = data_[pos_++] == '1' ? 0 : '\xFF';
    }
    return true;
  }

  // Decimal samples up to maxValue, scaled to 0..255.
  bool ReadPlainSamples(uint32_t maxValue, std::string* out, std::string* error) {
    for (char& sample : *out) {
      uint32_t value = 0;
      if (!Number(&value) || value > maxValue) {
        *error = "the image data is truncated or bad";
        return false;
      }
      sample = static_cast<char>((value * 255 + maxValue / 2) / maxValue);
    }
    return true;
  }

  void SkipBlanks() {
    while (pos_ < data_.size()) {
      char c = data_[pos_];
      if (c == '#') {
        while (pos_ < data_.size() && data_[pos_] != '\n' && data_[pos_] != '\r') ++pos_;
      } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
        ++pos_;
      } else {
        return;
      }
    }
  }

  bool Number(uint32_t* value) {
    SkipBlanks();
    size_t start = pos_;
    uint64_t n = 0;
    while (pos_ < data_.size() && data_[pos_] >= '0' && data_[pos_] <= '9') {
      n = n * 10 + static_cast<uint64_t>(data_[pos_++] - '0');
      if (n > 0xFFFFFFFFu) return false;
    }
    *value = static_cast<uint32_t>(n);
    return pos_ > start;
  }

  const std::string& data_;
  size_t pos_ = 0;
};

}  // namespace

bool NetpbmHeaderIsSane(const std::string& data, std::string* error) {
  uint32_t width = 0, height = 0, maxValue = 0;
  return NetpbmParser(data).ReadHeader(&width, &height, &maxValue, error);
}

bool LoadPlainNetpbm(const std::string& path, ImageSize* size, Pixels* pixels, std::string* error) {
  std::string data;
  if (!ReadImageFile(path, &data, error)) return false;
  return NetpbmParser(data).Read(size, pixels, error);
}

}  // namespace images
