// Well-formed UTF-8, the one check shared by both code-page conversions.
#include "platform/platform.h"

namespace platform {

namespace {

// The number of continuation bytes a UTF-8 lead byte announces and the
// range of the first of them (which excludes overlong forms, surrogates and
// code points past U+10FFFF); -1 for a byte that cannot lead.
int SequenceAfter(unsigned char lead, unsigned char* low, unsigned char* high) {
  *low = 0x80;
  *high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) return 1;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (lead == 0xE0) *low = 0xA0;
    if (lead == 0xED) *high = 0x9F;
    return 2;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (lead == 0xF0) *low = 0x90;
    if (lead == 0xF4) *high = 0x8F;
    return 3;
  }
  return -1;
}

}  // namespace

bool IsValidUtf8(const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  while (p < end) {
    unsigned char c = *p++;
    if (c < 0x80) continue;
    unsigned char low, high;
    int more = SequenceAfter(c, &low, &high);
    if (more < 0 || end - p < more || *p < low || *p > high) return false;
    for (int i = 1; i < more; ++i) {
      if (p[i] < 0x80 || p[i] > 0xBF) return false;
    }
    p += more;
  }
  return true;
}

}  // namespace platform
