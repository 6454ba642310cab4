// The stand-in's <mbctype.h>: the runtime's multibyte code page.
#pragma once

#define _MB_CP_ANSI -3

#ifdef __cplusplus
extern "C" {
#endif

// Switches the _mbs* functions to `codePage` (1252, 932, 936, 949, 950 or
// _MB_CP_ANSI): 0, or -1 for a code page the stand-in does not know.
int _setmbcp(int codePage);
int _getmbcp(void);
int _ismbblead(unsigned int c);

#ifdef __cplusplus
}
#endif
