/* Conversions between UTF-8, UTF-16LE, UTF-32LE and LATIN1 for libuemf's
   text functions (see iconv.h): each character is decoded to its code
   point and encoded again. Invalid input stops the conversion with EILSEQ,
   a cut-off character at the end of the input with EINVAL, a full output
   with E2BIG, as iconv does. */
#include "iconv.h"

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

enum Encoding { kUnknown, kUtf8, kUtf16le, kUtf32le, kLatin1 };

struct Converter {
  enum Encoding from, to;
  int translit;
};

static enum Encoding EncodingOf(const char* name, int* translit) {
  size_t length = strcspn(name, "/");
  if (translit) *translit = strcmp(name + length, "//TRANSLIT") == 0;
  if (length == 5 && strncmp(name, "UTF-8", 5) == 0) return kUtf8;
  if (length == 8 && strncmp(name, "UTF-16LE", 8) == 0) return kUtf16le;
  if (length == 8 && strncmp(name, "UTF-32LE", 8) == 0) return kUtf32le;
  if (length == 6 && strncmp(name, "LATIN1", 6) == 0) return kLatin1;
  return kUnknown;
}

iconv_t iconv_open(const char* to, const char* from) {
  struct Converter* c = malloc(sizeof(*c));
  if (!c) return (iconv_t)-1;
  c->to = EncodingOf(to, &c->translit);
  c->from = EncodingOf(from, NULL);
  if (c->to == kUnknown || c->from == kUnknown) {
    free(c);
    errno = EINVAL;
    return (iconv_t)-1;
  }
  return c;
}

int iconv_close(iconv_t cd) {
  free(cd);
  return 0;
}

/* Reads one character: its byte count, 0 for a cut-off one, -1 for an
   invalid one. */
static int Decode(enum Encoding e, const unsigned char* p, size_t left, uint32_t* cp) {
  if (e == kLatin1) {
    if (left < 1) return 0;
    *cp = p[0];
    return 1;
  }
  if (e == kUtf32le) {
    if (left < 4) return 0;
    *cp = p[0] | p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
    return *cp > 0x10FFFF || (*cp >= 0xD800 && *cp < 0xE000) ? -1 : 4;
  }
  if (e == kUtf16le) {
    if (left < 2) return 0;
    uint32_t u = p[0] | p[1] << 8;
    if (u >= 0xDC00 && u < 0xE000) return -1;
    if (u < 0xD800 || u >= 0xE000) {
      *cp = u;
      return 2;
    }
    if (left < 4) return 0;
    uint32_t low = p[2] | p[3] << 8;
    if (low < 0xDC00 || low >= 0xE000) return -1;
    *cp = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
    return 4;
  }
  /* UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF. */
  if (left < 1) return 0;
  int n = p[0] < 0x80                   ? 1
          : p[0] >= 0xC2 && p[0] < 0xE0 ? 2
          : p[0] >= 0xE0 && p[0] < 0xF0 ? 3
          : p[0] >= 0xF0 && p[0] < 0xF5 ? 4
                                        : -1;
  if (n < 0) return -1;
  uint32_t value = n == 1 ? p[0] : p[0] & (0x7F >> n);
  for (int i = 1; i < n; ++i) {
    if ((size_t)i >= left) return 0;
    if ((p[i] & 0xC0) != 0x80) return -1;
    value = value << 6 | (p[i] & 0x3F);
  }
  static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kLeast[n] || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000)) return -1;
  *cp = value;
  return n;
}

/* Writes one character: its byte count, 0 when it does not fit, -1 when
   the encoding cannot hold it. */
static int Encode(enum Encoding e, int translit, uint32_t cp, unsigned char* p, size_t left) {
  if (e == kLatin1) {
    if (cp > 0xFF && !translit) return -1;
    if (left < 1) return 0;
    p[0] = cp > 0xFF ? '?' : (unsigned char)cp;
    return 1;
  }
  if (e == kUtf32le) {
    if (left < 4) return 0;
    for (int i = 0; i < 4; ++i) p[i] = (unsigned char)(cp >> (8 * i));
    return 4;
  }
  if (e == kUtf16le) {
    if (cp < 0x10000) {
      if (left < 2) return 0;
      p[0] = (unsigned char)cp;
      p[1] = (unsigned char)(cp >> 8);
      return 2;
    }
    if (left < 4) return 0;
    uint32_t high = 0xD800 + ((cp - 0x10000) >> 10), low = 0xDC00 + ((cp - 0x10000) & 0x3FF);
    p[0] = (unsigned char)high;
    p[1] = (unsigned char)(high >> 8);
    p[2] = (unsigned char)low;
    p[3] = (unsigned char)(low >> 8);
    return 4;
  }
  int n = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
  if (left < (size_t)n) return 0;
  if (n == 1) {
    p[0] = (unsigned char)cp;
    return 1;
  }
  static const unsigned char kLead[5] = {0, 0, 0xC0, 0xE0, 0xF0};
  for (int i = n - 1; i > 0; --i) {
    p[i] = (unsigned char)(0x80 | (cp & 0x3F));
    cp >>= 6;
  }
  p[0] = (unsigned char)(kLead[n] | cp);
  return n;
}

size_t iconv(iconv_t cd, char** in, size_t* inLeft, char** out, size_t* outLeft) {
  struct Converter* c = cd;
  if (!in || !*in) return 0; /* no shift states to reset */
  size_t replaced = 0;
  while (*inLeft > 0) {
    uint32_t cp = 0;
    int read = Decode(c->from, (const unsigned char*)*in, *inLeft, &cp);
    if (read <= 0) {
      errno = read == 0 ? EINVAL : EILSEQ;
      return (size_t)-1;
    }
    int written = Encode(c->to, c->translit, cp, (unsigned char*)*out, *outLeft);
    if (written <= 0) {
      errno = written == 0 ? E2BIG : EILSEQ;
      return (size_t)-1;
    }
    if (c->to == kLatin1 && cp > 0xFF) ++replaced;
    *in += read;
    *inLeft -= (size_t)read;
    *out += written;
    *outLeft -= (size_t)written;
  }
  return replaced;
}
