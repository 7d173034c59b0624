// Names compared without regard to letter case, the way the Windows narrow
// ("A") functions compare the names of registry keys and values and of
// profile sections and keys; and the one reader of hexadecimal digits.
#pragma once

#include <string>

namespace platform {

/// True when the names are equal once ASCII letters are folded: 'A' to 'Z'
/// match 'a' to 'z'. Every other byte, those of 0x80 and above included
/// (parts of UTF-8 or code-page characters), must match exactly, so "Ä" and
/// "ä" are different names whatever the locale.
bool SameNameIgnoringCase(const std::string& a, const std::string& b);

/// The name with 'A' to 'Z' turned into 'a' to 'z' and every other byte
/// kept: two names are SameNameIgnoringCase exactly when their folded forms
/// are equal, so the folded form can key an index of names.
std::string FoldNameCase(const std::string& name);

/// The value of a hexadecimal digit in either letter case, -1 for any other
/// character (escapes in registry files, URIs and the job journal).
int HexDigitValue(char c);

}  // namespace platform
