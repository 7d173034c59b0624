// INI text as the profile functions read and write it, on a string in memory:
// the POSIX profile functions and the settings file share it.
#pragma once

#include <string>

namespace platform {

/// Looks up key in section of the INI text; blanks around the value and one
/// pair of matching quotes are removed. False when the section or key is
/// missing.
bool FindProfileValue(const std::string& content, const char* section, const char* key,
                      std::string* value);

/// The INI text with "key=value" set (in place, after the section's last
/// key, or in a new section at the end); a null value removes the key, a
/// null key the section. Every other line stays exactly as it was.
std::string ApplyProfileWrite(const std::string& content, const char* section, const char* key,
                              const char* value);

/// The leading decimal number of a value (blanks, sign, digits), wrapped to
/// 32 bits as GetPrivateProfileIntA does.
int ProfileNumber(const std::string& value);

/// A default value as the profile functions return it: trailing blanks removed.
std::string ProfileDefault(const char* defaultValue);

}  // namespace platform
