// Bounds-checked reads of little-endian fields inside one metafile record.
// Every read names an offset and a length; nothing outside the record is
// ever touched, whatever its counts and offsets claim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace metafile {

class RecordReader {
 public:
  RecordReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

  /// True when [offset, offset + length) lies inside the record.
  bool Has(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  /// Copies a plain value (an integer, a float, or a struct of them) from
  /// offset; false (and *out untouched) when it does not fit.
  template <typename T>
  bool Get(uint64_t offset, T* out) const {
    static_assert(std::is_trivially_copyable<T>::value, "plain values only");
    if (!Has(offset, sizeof(T))) return false;
    std::memcpy(out, data_ + offset, sizeof(T));
    return true;
  }
  /// The value at offset, or fallback when it does not fit.
  template <typename T>
  T Value(uint64_t offset, T fallback = T()) const {
    T value = fallback;
    Get(offset, &value);
    return value;
  }
  /// count UTF-16 units from offset; false when they do not fit.
  bool Utf16(uint64_t offset, uint64_t count, std::u16string* out) const {
    if (count > size_ / 2 || !Has(offset, count * 2)) return false;
    out->resize(static_cast<size_t>(count));
    for (size_t i = 0; i < out->size(); ++i) {
      (*out)[i] = static_cast<char16_t>(data_[offset + 2 * i] | data_[offset + 2 * i + 1] << 8);
    }
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace metafile
