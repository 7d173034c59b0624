// The Win32 registry calls behind native_registry.h.
#include "platform/win32/native_registry.h"

#include "platform/win32/windows_api.h"

namespace platform {
namespace win32 {
namespace native_registry {

namespace {

// A DWORD in, out or both for a uint32_t the caller gave (or none).
class Dword {
 public:
  explicit Dword(uint32_t* target) : target_(target), value_(target ? *target : 0) {}
  ~Dword() {
    if (target_) *target_ = value_;
  }
  Dword(const Dword&) = delete;
  Dword& operator=(const Dword&) = delete;
  DWORD* get() { return target_ ? &value_ : nullptr; }

 private:
  uint32_t* target_;
  DWORD value_;
};

HKEY Key(void* key) { return static_cast<HKEY>(key); }

void StoreTime(const FILETIME& time, uint64_t* target) {
  if (target) *target = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

long CreateKey(void* key, const char* subKey, uint32_t options, uint32_t desired, void** result,
               uint32_t* disposition) {
  HKEY opened = nullptr;
  Dword how(disposition);
  long rc = RegCreateKeyExA(Key(key), subKey ? subKey : "", 0, nullptr, options, desired, nullptr,
                            &opened, how.get());
  if (rc == ERROR_SUCCESS) *result = opened;
  return rc;
}

long OpenKey(void* key, const char* subKey, uint32_t options, uint32_t desired, void** result) {
  HKEY opened = nullptr;
  long rc = RegOpenKeyExA(Key(key), subKey, options, desired, &opened);
  if (rc == ERROR_SUCCESS) *result = opened;
  return rc;
}

long QueryInfoKey(void* key, char* keyClass, uint32_t* classLength, uint32_t* subKeys,
                  uint32_t* maxSubKeyLength, uint32_t* maxClassLength, uint32_t* values,
                  uint32_t* maxValueNameLength, uint32_t* maxValueLength,
                  uint32_t* securityDescriptorSize, uint64_t* lastWriteTime) {
  Dword a(classLength), b(subKeys), c(maxSubKeyLength), d(maxClassLength), e(values),
      f(maxValueNameLength), g(maxValueLength), h(securityDescriptorSize);
  FILETIME time{};
  long rc = RegQueryInfoKeyA(Key(key), keyClass, a.get(), nullptr, b.get(), c.get(), d.get(),
                             e.get(), f.get(), g.get(), h.get(), &time);
  if (rc == ERROR_SUCCESS) StoreTime(time, lastWriteTime);
  return rc;
}

long EnumValue(void* key, uint32_t index, char* name, uint32_t* nameLength, uint32_t* type,
               unsigned char* data, uint32_t* dataSize) {
  Dword a(nameLength), b(type), c(dataSize);
  return RegEnumValueA(Key(key), index, name, a.get(), nullptr, b.get(), data, c.get());
}

long EnumKey(void* key, uint32_t index, char* name, uint32_t* nameLength, char* keyClass,
             uint32_t* classLength, uint64_t* lastWriteTime) {
  Dword a(nameLength), b(classLength);
  FILETIME time{};
  long rc = RegEnumKeyExA(Key(key), index, name, a.get(), nullptr, keyClass, b.get(), &time);
  if (rc == ERROR_SUCCESS) StoreTime(time, lastWriteTime);
  return rc;
}

long QueryValue(void* key, const char* name, uint32_t* type, unsigned char* data,
                uint32_t* dataSize) {
  Dword a(type), b(dataSize);
  return RegQueryValueExA(Key(key), name, nullptr, a.get(), data, b.get());
}

long SetValue(void* key, const char* name, uint32_t type, const unsigned char* data,
              uint32_t size) {
  return RegSetValueExA(Key(key), name, 0, type, data, size);
}

long DeleteValue(void* key, const char* name) { return RegDeleteValueA(Key(key), name); }

long CloseKey(void* key) { return RegCloseKey(Key(key)); }

}  // namespace native_registry
}  // namespace win32
}  // namespace platform
