// The Win32 registry calls with plain types, for registry.cpp: the platform
// layer's registry header and <windows.h> name the same things and cannot
// meet in one file. Keys are the system's HKEY values; results are Win32
// error codes. Every pointer may be null where the Win32 call allows it.
#pragma once

#include <cstdint>

namespace platform {
namespace win32 {
namespace native_registry {

long CreateKey(void* key, const char* subKey, uint32_t options, uint32_t desired, void** result,
               uint32_t* disposition);
long OpenKey(void* key, const char* subKey, uint32_t options, uint32_t desired, void** result);
/// lastWriteTime: the FILETIME as one 64-bit count.
long QueryInfoKey(void* key, char* keyClass, uint32_t* classLength, uint32_t* subKeys,
                  uint32_t* maxSubKeyLength, uint32_t* maxClassLength, uint32_t* values,
                  uint32_t* maxValueNameLength, uint32_t* maxValueLength,
                  uint32_t* securityDescriptorSize, uint64_t* lastWriteTime);
long EnumValue(void* key, uint32_t index, char* name, uint32_t* nameLength, uint32_t* type,
               unsigned char* data, uint32_t* dataSize);
long EnumKey(void* key, uint32_t index, char* name, uint32_t* nameLength, char* keyClass,
             uint32_t* classLength, uint64_t* lastWriteTime);
long QueryValue(void* key, const char* name, uint32_t* type, unsigned char* data,
                uint32_t* dataSize);
long SetValue(void* key, const char* name, uint32_t type, const unsigned char* data, uint32_t size);
long DeleteValue(void* key, const char* name);
long CloseKey(void* key);

}  // namespace native_registry
}  // namespace win32
}  // namespace platform
