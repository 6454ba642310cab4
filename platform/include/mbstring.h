// The stand-in's <mbstring.h>: multibyte-aware string functions.
//
// They work in the runtime's multibyte code page: at first the simulated
// machine's ANSI code page, Windows-1252, a single-byte code page where every
// byte is one character and case mapping follows 1252 (é ↔ É, š ↔ Š, ÿ ↔ Ÿ),
// not the C locale. _setmbcp switches them to a double-byte code page (932,
// 936, 949, 950), where a lead byte and its trail byte form one character.
#pragma once

#include <cstddef>

typedef int errno_t;

#ifdef __cplusplus
extern "C" {
#endif

int _ismbblead(unsigned int c);
int _mbsicmp(const unsigned char* a, const unsigned char* b);
int _mbsnbicmp(const unsigned char* a, const unsigned char* b, size_t count);
int _mbscmp(const unsigned char* a, const unsigned char* b);
unsigned char* _mbsstr(const unsigned char* str, const unsigned char* sub);
unsigned char* _mbschr(const unsigned char* str, unsigned int c);
unsigned char* _mbsrchr(const unsigned char* str, unsigned int c);
errno_t _mbslwr_s(unsigned char* str, size_t sizeInBytes);
errno_t _mbsupr_s(unsigned char* str, size_t sizeInBytes);
int _ismbcspace(unsigned int c);
unsigned char* _mbsinc(const unsigned char* current);
size_t _mbslen(const unsigned char* str);

#ifdef __cplusplus
}
#endif
