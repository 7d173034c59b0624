#include "pdf/file_kind.h"

namespace {

// ASCII only, so that the locale cannot make a non-ASCII byte match.
char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string FileExtension(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return path.substr(dot);
}

bool ExtensionIs(const char* ext, const char* known) {
  if (!ext) return false;
  size_t i = 0;
  while (known[i] && LowerAscii(ext[i]) == known[i]) ++i;
  return !known[i] && !ext[i];
}
