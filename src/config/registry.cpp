#include "config/registry.h"

#include <algorithm>
#include <cstring>

#include "platform/names.h"

namespace {

const size_t kNameBufferSize = 260;
const size_t kDataBufferSize = 2048;

}  // namespace

CRegEntry::CRegEntry(CRegistry* owner, const char* name)
    : name_(name ? std::string(name, strnlen(name, kMaxLength)) : std::string()),
      named_(name != nullptr),
      owner_(owner) {}

CRegEntry::~CRegEntry() {}

CRegEntry& CRegEntry::operator=(const char* text) {
  if (!text) text = "";
  size_t length = strlen(text);
  text_.assign(text, length < kMaxLength ? length : kMaxLength);
  type_ = REG_SZ;
  Write(text, static_cast<uint32_t>(length + 1));
  return *this;
}

CRegEntry& CRegEntry::operator=(uint32_t number) {
  number_ = number;
  type_ = REG_DWORD;
  unsigned char bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(number >> (8 * i));
  Write(bytes, sizeof(bytes));
  return *this;
}

void CRegEntry::SetBinary(const unsigned char* data, uint32_t size) {
  if (size == 0 || !data) return;
  bytes_.assign(data, data + size);
  type_ = REG_BINARY;
  Write(data, size);
}

void CRegEntry::SetMulti(const char* data, uint32_t size) {
  if (!data) size = 0;
  texts_.clear();
  type_ = REG_MULTI_SZ;
  if (size > 2) {
    // The list's closing zero is not a string of its own.
    size_t counted = data[size - 1] == '\0' ? size - 1 : size;
    size_t pos = 0;
    while (pos < counted) {
      const void* zero = memchr(data + pos, '\0', counted - pos);
      if (!zero) break;
      size_t end = static_cast<size_t>(static_cast<const char*>(zero) - data);
      texts_.emplace_back(data + pos, end - pos);
      pos = end + 1;
    }
  }
  Write(data, size);
}

void CRegEntry::Write(const void* data, uint32_t size) {
  if (!owner_ || (owner_->flags_ & CRegistry::kLoading) != 0 || !named_ || !owner_->key_) return;
  RegSetValueExA(owner_->key_, name_.c_str(), 0, type_, static_cast<const unsigned char*>(data),
                 size);
}

CRegistry::CRegistry(uint32_t flags) : flags_(flags) {}

CRegistry::~CRegistry() {
  Close();
  entries_.clear();
  path_.clear();
}

bool CRegistry::Open(const char* path, HKEY root, uint32_t access) {
  path_ = path ? path : "";
  root_ = root;
  Close();
  long result;
  if ((flags_ & kCreateKey) != 0) {
    result = RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             access | KEY_CREATE_SUB_KEY, nullptr, &key_, nullptr);
  } else {
    result = RegOpenKeyExA(root, path, 0, access, &key_);
  }
  if (result != ERROR_SUCCESS) {
    key_ = nullptr;
    return false;
  }
  return Refresh();
}

void CRegistry::Close() {
  if (!key_) return;
  RegCloseKey(key_);
  key_ = nullptr;
}

bool CRegistry::Refresh() {
  if (!key_) return false;
  uint32_t count = 0;
  if (RegQueryInfoKeyA(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                       nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  std::vector<unsigned char> data(kDataBufferSize);
  uint32_t saved = flags_;
  flags_ |= kLoading;
  for (uint32_t index = 0; index < count; ++index) {
    char name[kNameBufferSize];
    uint32_t nameLength = sizeof(name);
    uint32_t type = REG_NONE;
    uint32_t size = static_cast<uint32_t>(data.size());
    std::fill(data.begin(), data.end(), 0);
    if (RegEnumValueA(key_, index, name, &nameLength, nullptr, &type, data.data(), &size) !=
        ERROR_SUCCESS) {
      continue;
    }
    const char* bytes = reinterpret_cast<const char*>(data.data());
    switch (type) {
      case REG_SZ:
        // The stored text need not end in a zero; never read past its size.
        (*this)[name] = std::string(bytes, strnlen(bytes, size)).c_str();
        break;
      case REG_BINARY:
        (*this)[name].SetBinary(data.data(), size);
        break;
      case REG_DWORD:
        (*this)[name] = static_cast<uint32_t>(data[0] | data[1] << 8 | data[2] << 16 |
                                              static_cast<uint32_t>(data[3]) << 24);
        break;
      case REG_MULTI_SZ:
        (*this)[name].SetMulti(bytes, size);
        break;
      default:
        break;
    }
  }
  flags_ = saved;
  return true;
}

CRegEntry& CRegistry::operator[](const char* name) {
  std::string wanted = name ? std::string(name, strnlen(name, CRegEntry::kMaxLength)) : "";
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    CRegEntry& entry = **it;
    if (entry.named_ == (name != nullptr) && platform::SameNameIgnoringCase(entry.name_, wanted))
      return entry;
  }
  entries_.emplace_back(new CRegEntry(this, name));
  return *entries_.back();
}
