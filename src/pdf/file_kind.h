// What a file's name says about its kind: its extension, compared without
// regard to case, as the merger and the page geometry read it.
#pragma once

#include <string>

/// The extension of the last component of path (after the last '/' or
/// '\'): from its last dot to the end, as written; "" when it has no dot.
std::string FileExtension(const std::string& path);

/// True when ext (with its dot, any case) is `known` (with its dot, lower
/// case), ASCII letters compared without regard to case. Null ext is false.
bool ExtensionIs(const char* ext, const char* known);
