// Names compared without regard to letter case, the way the Windows narrow
// ("A") functions compare the names of registry keys and values and of
// profile sections and keys; the one reader of hexadecimal digits; and the
// numbers of the maker's port names; the name a distrusted record is set
// aside under.
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

/// The number of a maker's port name: "Quorvel3:" gives 3. The text behind
/// the first wordLength bytes is read as atoi reads it (leading blanks, an
/// optional sign, then decimal digits; none gives 0), held to the range of
/// int instead of overflowing.
int NumberAfterWord(const std::string& name, size_t wordLength);

/// Renames path to the first free name of path + suffix, then path + suffix
/// + ".1", ".2", ... (100 at most): a record that must not be believed is
/// kept for a look but never read again. *aside receives the new name;
/// false with *error when it cannot be renamed.
bool SetFileAside(const std::string& path, const std::string& suffix, std::string* aside,
                  std::string* error);

/// The maker's word that begins the names of its monitor's ports.
constexpr char kMakerPortWord[] = "Quorvel";

}  // namespace platform
