/* The iconv interface for building libuemf with mingw-w64, which has none.
   iconv.c converts between the four encodings libuemf names: UTF-8,
   UTF-16LE, UTF-32LE and LATIN1 (with "//TRANSLIT", a character Latin-1
   lacks becomes '?'). */
#ifndef TARVELIN_UEMF_ICONV_H
#define TARVELIN_UEMF_ICONV_H

#include <stddef.h>

typedef void* iconv_t;

iconv_t iconv_open(const char* to, const char* from);
size_t iconv(iconv_t cd, char** in, size_t* inLeft, char** out, size_t* outLeft);
int iconv_close(iconv_t cd);

#endif
