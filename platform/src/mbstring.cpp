// Stub implementations: replaced area by area.
#include <mbstring.h>
#include <cstring>
extern "C" {
int _mbsicmp(const unsigned char* a, const unsigned char* b) { return strcasecmp((const char*)a, (const char*)b); }
int _mbsnbicmp(const unsigned char* a, const unsigned char* b, size_t n) { return strncasecmp((const char*)a, (const char*)b, n); }
int _mbscmp(const unsigned char* a, const unsigned char* b) { return strcmp((const char*)a, (const char*)b); }
unsigned char* _mbsstr(const unsigned char* s, const unsigned char* t) { return (unsigned char*)strstr((const char*)s, (const char*)t); }
unsigned char* _mbschr(const unsigned char* s, unsigned int c) { return (unsigned char*)strchr((const char*)s, (int)c); }
unsigned char* _mbsrchr(const unsigned char* s, unsigned int c) { return (unsigned char*)strrchr((const char*)s, (int)c); }
errno_t _mbslwr_s(unsigned char*, size_t) { return 0; }
errno_t _mbsupr_s(unsigned char*, size_t) { return 0; }
int _ismbcspace(unsigned int c) { return c == ' ' || (c >= 9 && c <= 13); }
unsigned char* _mbsinc(const unsigned char* p) { return (unsigned char*)p + 1; }
size_t _mbslen(const unsigned char* s) { return strlen((const char*)s); }
}
