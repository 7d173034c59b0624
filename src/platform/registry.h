// The registry calls the program makes, with the names, argument order and
// results of Win32. On POSIX each hive is one REGEDIT4 text file:
// TARVELIN_REGISTRY_DIR/HKEY_LOCAL_MACHINE.reg and .../HKEY_CURRENT_USER.reg
// when that variable is set, else /var/lib/tarvelin/registry/ for the local
// machine and $XDG_CONFIG_HOME/tarvelin/ (else ~/.config/tarvelin/) for the
// user. Under sudo (the super-user, with SUDO_USER naming another account)
// the user is the one who called sudo: the hive is in that account's
// ~/.config/tarvelin/ and the files the store writes for it are given to it.
// The variables are read each time a key is opened.
#pragma once

#include <cstdint>

/// An open key: the hive it lies in and its path. Defined by the implementation.
struct RegKey;
using HKEY = RegKey*;

/// The predefined roots. They are always open; closing them does nothing.
extern const HKEY HKEY_LOCAL_MACHINE;
extern const HKEY HKEY_CURRENT_USER;

/// Value types.
constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;
constexpr uint32_t REG_MULTI_SZ = 7;
constexpr uint32_t REG_QWORD = 11;

/// Access masks.
constexpr uint32_t KEY_QUERY_VALUE = 0x0001;
constexpr uint32_t KEY_SET_VALUE = 0x0002;
constexpr uint32_t KEY_CREATE_SUB_KEY = 0x0004;
constexpr uint32_t KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr uint32_t KEY_NOTIFY = 0x0010;
constexpr uint32_t KEY_CREATE_LINK = 0x0020;
constexpr uint32_t KEY_WOW64_64KEY = 0x0100;
constexpr uint32_t KEY_WOW64_32KEY = 0x0200;
constexpr uint32_t KEY_READ = 0x20019;
constexpr uint32_t KEY_WRITE = 0x20006;
constexpr uint32_t KEY_EXECUTE = 0x20019;
constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

/// Options of RegCreateKeyExA. Every key is kept in the hive file.
constexpr uint32_t REG_OPTION_NON_VOLATILE = 0;
/// Dispositions reported by RegCreateKeyExA.
constexpr uint32_t REG_CREATED_NEW_KEY = 1;
constexpr uint32_t REG_OPENED_EXISTING_KEY = 2;

/// Results.
constexpr long ERROR_SUCCESS = 0;
constexpr long ERROR_FILE_NOT_FOUND = 2;
constexpr long ERROR_ACCESS_DENIED = 5;
constexpr long ERROR_INVALID_HANDLE = 6;
constexpr long ERROR_INVALID_PARAMETER = 87;
constexpr long ERROR_BAD_PATHNAME = 161;
constexpr long ERROR_MORE_DATA = 234;
constexpr long ERROR_NO_MORE_ITEMS = 259;
constexpr long ERROR_KEY_DELETED = 1018;

/// The last-write time of RegQueryInfoKeyA (100 ns units since 1601).
struct FILETIME {
  uint32_t dwLowDateTime;
  uint32_t dwHighDateTime;
};

/// Opens subKey under key, creating it and any missing parents. subKey "" opens
/// key itself again. *disposition (if given) tells whether the key was new.
/// ERROR_ACCESS_DENIED when the key must be created, or write access is asked
/// for, and the store cannot be written.
long RegCreateKeyExA(HKEY key, const char* subKey, uint32_t reserved, char* keyClass,
                     uint32_t options, uint32_t desired, const void* securityAttributes,
                     HKEY* result, uint32_t* disposition);

/// Opens an existing key: ERROR_FILE_NOT_FOUND when it is missing,
/// ERROR_ACCESS_DENIED when write access is asked for and the store cannot
/// be written. subKey nullptr or "" opens key itself again.
long RegOpenKeyExA(HKEY key, const char* subKey, uint32_t options, uint32_t desired, HKEY* result);

/// Facts about a key; every pointer may be nullptr. Name lengths are in
/// characters without the terminator, data lengths in bytes. The key has no
/// class (empty) and no security descriptor (0).
long RegQueryInfoKeyA(HKEY key, char* keyClass, uint32_t* classLength, uint32_t* reserved,
                      uint32_t* subKeys, uint32_t* maxSubKeyLength, uint32_t* maxClassLength,
                      uint32_t* values, uint32_t* maxValueNameLength, uint32_t* maxValueLength,
                      uint32_t* securityDescriptorSize, FILETIME* lastWriteTime);

/// The value at index in stored order. *nameLength holds the name buffer's
/// size in characters (terminator included) and receives the name's length;
/// *dataSize holds the data buffer's size and receives the data's size.
/// ERROR_MORE_DATA when the name or data does not fit (with data == nullptr
/// only the size is returned), ERROR_NO_MORE_ITEMS past the last value.
long RegEnumValueA(HKEY key, uint32_t index, char* name, uint32_t* nameLength, uint32_t* reserved,
                   uint32_t* type, unsigned char* data, uint32_t* dataSize);

/// The name of the sub key at index, sub keys ordered by name with letter
/// case ignored. *nameLength holds the name buffer's size in characters
/// (terminator included) and receives the name's length; the key has no
/// class (keyClass receives "" and *classLength 0 when given) and
/// lastWriteTime, when given, is the hive file's. ERROR_MORE_DATA when the
/// name does not fit, ERROR_NO_MORE_ITEMS past the last sub key.
long RegEnumKeyExA(HKEY key, uint32_t index, char* name, uint32_t* nameLength, uint32_t* reserved,
                   char* keyClass, uint32_t* classLength, FILETIME* lastWriteTime);

/// Reads the value of that name (nullptr or "" for the default value), like
/// RegEnumValueA for one value; ERROR_FILE_NOT_FOUND when it is missing.
long RegQueryValueExA(HKEY key, const char* name, uint32_t* reserved, uint32_t* type,
                      unsigned char* data, uint32_t* dataSize);

/// Stores size bytes of data as the value of that name (nullptr or "" for the
/// default value), replacing its type and data. Needs KEY_SET_VALUE.
long RegSetValueExA(HKEY key, const char* name, uint32_t reserved, uint32_t type,
                    const unsigned char* data, uint32_t size);

/// Removes the value of that name; ERROR_FILE_NOT_FOUND when it is missing.
long RegDeleteValueA(HKEY key, const char* name);

/// Releases a key from RegCreateKeyExA or RegOpenKeyExA.
long RegCloseKey(HKEY key);
