// Which registry value types hold text. Two questions with two answers:
// REG_MULTI_SZ is text the A functions convert, but not one string a reader
// can take as a path or a command line.
#pragma once

#include <windows.h>

// REG_SZ and REG_EXPAND_SZ: data that is one string, read as such.
inline bool IsSingleStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ: the A functions hand these out as
// ANSI text, stored as UTF-16 underneath (and in a .reg file's hex lists).
inline bool IsAnsiTextType(DWORD type) {
    return IsSingleStringType(type) || type == REG_MULTI_SZ;
}
