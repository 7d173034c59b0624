// Symbol fonts (Symbol, Zapf Dingbats, Wingdings, Webdings): their codes
// stand for signs and pictures, not letters, and are drawn as the Unicode
// characters they stand for.
#pragma once

#include <cstddef>
#include <string>

namespace metafile {

/// Whether a face codes pictures or signs instead of letters (Wingdings'
/// "J" is a smiling face).
bool IsSymbolFace(const std::string& face);

/// Text in a symbol face as the Unicode characters its codes stand for: the
/// codes 0x20-0xFF, or 0xF020-0xF0FF as wide text carries them; other
/// characters are kept. Codes without a character are left out and
/// counted in *unmapped. False when the face has no table (Marlett).
bool SymbolText(const std::string& face, const std::u16string& text, std::u16string* out,
                size_t* unmapped);

}  // namespace metafile
