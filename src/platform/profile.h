// The INI profile functions with the Windows contract. On Windows these are
// the system's own; elsewhere the program carries an implementation.
#pragma once

#include <string>

namespace platform {

/// Copies the value of key in section of file (or the default, trailing
/// blanks removed, when the file, section or key is missing) into buffer,
/// cut to size-1 bytes and terminated. Section and key names match without
/// regard to case; blanks around the value and one pair of matching quotes
/// are removed. Returns the number of bytes copied.
int GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                             char* buffer, int size, const char* file);

/// The leading decimal number of the value (blanks, sign, digits), or the
/// default when the key is missing or its value is empty.
int GetPrivateProfileIntA(const char* section, const char* key, int defaultValue, const char* file);

/// Creates the file, section and key as needed and writes "key=value";
/// other lines stay as they are. A null value removes the key, a null key
/// the section. Writes are locked and replace the file atomically; a write
/// that changes nothing is skipped. Returns non-zero on success.
int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                               const char* file);

/// The lock file that serialises writers of an INI file. Hold a FileLock on
/// it to make a read followed by a write atomic against other processes.
std::string ProfileLockPath(const std::string& file);

}  // namespace platform
