// Version texts such as "1.7", as a PDF header or the settings carry them.
// Free of qpdf, so that the merger can read them too.
#pragma once

#include <string>

/// Reads "MAJOR.MINOR": one or more digits, a dot, one or more digits;
/// anything after the minor digits is ignored ("1.7 x" is 1.7). Returns
/// false, leaving *major and *minor alone, for any other text and for a
/// number above 1009 (so that nothing overflows).
bool ParseVersionText(const std::string& text, int* major, int* minor);
