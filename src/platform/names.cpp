#include "platform/names.h"

#include <climits>

#include "platform/platform.h"

namespace platform {

namespace {

// Not tolower: that follows the C locale's table, which may fold bytes of
// 0x80 and above.
char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

std::string FoldNameCase(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) c = FoldAscii(c);
  return folded;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int NumberAfterWord(const std::string& name, size_t wordLength) {
  size_t i = wordLength;
  while (i < name.size() && (name[i] == ' ' || (name[i] >= '\t' && name[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < name.size() && (name[i] == '+' || name[i] == '-')) negative = name[i++] == '-';
  long long value = 0;
  for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
    value = value * 10 + (name[i] - '0');
    if (value > INT_MAX) return negative ? INT_MIN : INT_MAX;
  }
  return static_cast<int>(negative ? -value : value);
}

bool SetFileAside(const std::string& path, const std::string& suffix, std::string* aside,
                  std::string* error) {
  for (int n = 0; n < 100; ++n) {
    *aside = path + suffix + (n == 0 ? std::string() : "." + std::to_string(n));
    if (PathEntryExists(*aside)) continue;
    return ReplaceFile(path, *aside, error);
  }
  *error = "no free name beside it";
  return false;
}

}  // namespace platform
