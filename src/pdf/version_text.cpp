#include "pdf/version_text.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The check comes before each digit is added, so the largest value read is
// 1009.
bool ReadNumber(const std::string& text, size_t begin, size_t end, int* value) {
  int number = 0;
  for (size_t i = begin; i < end; ++i) {
    if (!IsDigit(text[i]) || number > 100) return false;
    number = number * 10 + (text[i] - '0');
  }
  *value = number;
  return true;
}

}  // namespace

bool ParseVersionText(const std::string& text, int* major, int* minor) {
  size_t dot = text.find('.');
  if (dot == 0 || dot == std::string::npos) return false;
  size_t end = dot + 1;
  while (end < text.size() && IsDigit(text[end])) ++end;
  int majorValue = 0, minorValue = 0;
  if (end == dot + 1 || !ReadNumber(text, 0, dot, &majorValue) ||
      !ReadNumber(text, dot + 1, end, &minorValue)) {
    return false;
  }
  *major = majorValue;
  *minor = minorValue;
  return true;
}
