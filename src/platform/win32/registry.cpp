// The registry calls on the system's registry: each handle of the platform
// layer wraps the system's key.
#include "platform/registry.h"

#include <cstdint>

#include "platform/win32/native_registry.h"

namespace native = platform::win32::native_registry;

struct RegKey {
  uintptr_t value;  ///< the system's HKEY
  bool predefined;
  void* native() const { return reinterpret_cast<void*>(value); }
};

namespace {

// The system's values of its predefined keys (32-bit values widened with
// their sign, as <winreg.h> casts them), as constants so that the roots are
// ready before any static initialiser uses them.
constexpr uintptr_t Predefined(int32_t value) {
  return static_cast<uintptr_t>(static_cast<intptr_t>(value));
}
RegKey g_localMachine{Predefined(INT32_MIN + 2), true};
RegKey g_currentUser{Predefined(INT32_MIN + 1), true};

// Takes the key the call opened into a handle of this layer.
long Wrap(long rc, void* const* opened, HKEY* result) {
  if (rc == ERROR_SUCCESS) *result = new RegKey{reinterpret_cast<uintptr_t>(*opened), false};
  return rc;
}

}  // namespace

const HKEY HKEY_LOCAL_MACHINE = &g_localMachine;
const HKEY HKEY_CURRENT_USER = &g_currentUser;

long RegCreateKeyExA(HKEY key, const char* subKey, uint32_t, char*, uint32_t options,
                     uint32_t desired, const void*, HKEY* result, uint32_t* disposition) {
  if (!key || !result) return ERROR_INVALID_PARAMETER;
  void* opened = nullptr;
  long rc = native::CreateKey(key->native(), subKey, options, desired, &opened, disposition);
  return Wrap(rc, &opened, result);
}

long RegOpenKeyExA(HKEY key, const char* subKey, uint32_t options, uint32_t desired, HKEY* result) {
  if (!key || !result) return ERROR_INVALID_PARAMETER;
  void* opened = nullptr;
  long rc = native::OpenKey(key->native(), subKey, options, desired, &opened);
  return Wrap(rc, &opened, result);
}

long RegQueryInfoKeyA(HKEY key, char* keyClass, uint32_t* classLength, uint32_t*, uint32_t* subKeys,
                      uint32_t* maxSubKeyLength, uint32_t* maxClassLength, uint32_t* values,
                      uint32_t* maxValueNameLength, uint32_t* maxValueLength,
                      uint32_t* securityDescriptorSize, FILETIME* lastWriteTime) {
  if (!key) return ERROR_INVALID_HANDLE;
  uint64_t time = 0;
  long rc = native::QueryInfoKey(key->native(), keyClass, classLength, subKeys, maxSubKeyLength,
                                 maxClassLength, values, maxValueNameLength, maxValueLength,
                                 securityDescriptorSize, &time);
  if (rc == ERROR_SUCCESS && lastWriteTime) {
    lastWriteTime->dwLowDateTime = static_cast<uint32_t>(time);
    lastWriteTime->dwHighDateTime = static_cast<uint32_t>(time >> 32);
  }
  return rc;
}

long RegEnumValueA(HKEY key, uint32_t index, char* name, uint32_t* nameLength, uint32_t*,
                   uint32_t* type, unsigned char* data, uint32_t* dataSize) {
  if (!key) return ERROR_INVALID_HANDLE;
  return native::EnumValue(key->native(), index, name, nameLength, type, data, dataSize);
}

long RegEnumKeyExA(HKEY key, uint32_t index, char* name, uint32_t* nameLength, uint32_t*,
                   char* keyClass, uint32_t* classLength, FILETIME* lastWriteTime) {
  if (!key) return ERROR_INVALID_HANDLE;
  uint64_t time = 0;
  long rc = native::EnumKey(key->native(), index, name, nameLength, keyClass, classLength, &time);
  if (rc == ERROR_SUCCESS && lastWriteTime) {
    lastWriteTime->dwLowDateTime = static_cast<uint32_t>(time);
    lastWriteTime->dwHighDateTime = static_cast<uint32_t>(time >> 32);
  }
  return rc;
}

long RegQueryValueExA(HKEY key, const char* name, uint32_t*, uint32_t* type, unsigned char* data,
                      uint32_t* dataSize) {
  if (!key) return ERROR_INVALID_HANDLE;
  return native::QueryValue(key->native(), name, type, data, dataSize);
}

long RegSetValueExA(HKEY key, const char* name, uint32_t, uint32_t type, const unsigned char* data,
                    uint32_t size) {
  if (!key) return ERROR_INVALID_HANDLE;
  return native::SetValue(key->native(), name, type, data, size);
}

long RegDeleteValueA(HKEY key, const char* name) {
  if (!key) return ERROR_INVALID_HANDLE;
  return native::DeleteValue(key->native(), name);
}

long RegCloseKey(HKEY key) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (key->predefined) return ERROR_SUCCESS;
  long rc = native::CloseKey(key->native());
  delete key;
  return rc;
}
