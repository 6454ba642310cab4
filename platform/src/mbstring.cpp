// The runtime library's multibyte string functions over code page 1252.
//
// 1252 is a single-byte code page, so there are no lead bytes: every byte is
// one character and the functions reduce to byte-wise work. Case-insensitive
// comparisons fold to lower case, as the runtime's _stricmp does, which puts
// '_' (0x5F) before the letters. Case mapping follows 1252 (é <-> É), where
// the runtime under the C locale folds ASCII only; the engine relies on the
// ASCII part, and on Windows the multibyte tables are built from the ANSI
// code page.
#include <mbstring.h>

#include "codepage.h"

#include <cerrno>
#include <cstring>

namespace {

using win32sim::detail::LowerAnsi;
using win32sim::detail::UpperAnsi;

int CompareFolded(const unsigned char* a, const unsigned char* b, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const int ca = LowerAnsi(a[i]);
        const int cb = LowerAnsi(b[i]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
    return 0;
}

// The secure case mappers: the whole text, terminator included, must fit in
// `size` bytes; otherwise the text is emptied and EINVAL reported.
template <class Map> errno_t MapCaseInPlace(unsigned char* str, size_t size, Map map) {
    if (!str && size == 0)
        return 0;
    if (!str || size == 0) {
        errno = EINVAL;
        return EINVAL;
    }
    const size_t length = strnlen(reinterpret_cast<const char*>(str), size);
    if (length == size) {
        str[0] = 0;
        errno = EINVAL;
        return EINVAL;
    }
    for (size_t i = 0; i < length; ++i)
        str[i] = map(str[i]);
    return 0;
}

} // namespace

extern "C" {

int _mbsicmp(const unsigned char* a, const unsigned char* b) {
    return CompareFolded(a, b, static_cast<size_t>(-1));
}

int _mbsnbicmp(const unsigned char* a, const unsigned char* b, size_t count) {
    return CompareFolded(a, b, count);
}

int _mbscmp(const unsigned char* a, const unsigned char* b) {
    const int result =
        std::strcmp(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b));
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

unsigned char* _mbsstr(const unsigned char* str, const unsigned char* sub) {
    return reinterpret_cast<unsigned char*>(const_cast<char*>(
        std::strstr(reinterpret_cast<const char*>(str), reinterpret_cast<const char*>(sub))));
}

// A character of 0 finds the terminator, as strchr does.
unsigned char* _mbschr(const unsigned char* str, unsigned int c) {
    if (c > 0xFF)
        return nullptr;
    return reinterpret_cast<unsigned char*>(
        const_cast<char*>(std::strchr(reinterpret_cast<const char*>(str), static_cast<int>(c))));
}

unsigned char* _mbsrchr(const unsigned char* str, unsigned int c) {
    if (c > 0xFF)
        return nullptr;
    return reinterpret_cast<unsigned char*>(
        const_cast<char*>(std::strrchr(reinterpret_cast<const char*>(str), static_cast<int>(c))));
}

errno_t _mbslwr_s(unsigned char* str, size_t sizeInBytes) {
    return MapCaseInPlace(str, sizeInBytes, [](unsigned char c) { return LowerAnsi(c); });
}

errno_t _mbsupr_s(unsigned char* str, size_t sizeInBytes) {
    return MapCaseInPlace(str, sizeInBytes, [](unsigned char c) { return UpperAnsi(c); });
}

// The C locale's white space: blank, tab, line feed, vertical tab, form feed,
// carriage return. The no-break space 0xA0 is not one.
int _ismbcspace(unsigned int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

unsigned char* _mbsinc(const unsigned char* current) {
    return const_cast<unsigned char*>(current + 1);
}

size_t _mbslen(const unsigned char* str) {
    return std::strlen(reinterpret_cast<const char*>(str));
}

} // extern "C"
