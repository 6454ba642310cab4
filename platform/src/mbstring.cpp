// The runtime library's multibyte string functions.
//
// They work in the runtime's multibyte code page, which starts as the ANSI
// code page (1252) and which _setmbcp switches, as msvcrt does, to one of the
// double-byte code pages 932, 936, 949 or 950. In 1252 every byte is one
// character. In a double-byte code page a lead byte and the byte after it
// form one character, and that trail byte may equal '\\' or an ASCII letter:
// searches match only at character starts and case mapping leaves the two
// bytes alone.
//
// Case-insensitive comparisons fold to lower case, as the runtime's _stricmp
// does, which puts '_' (0x5F) before the letters. Under 1252 case mapping
// follows the code page (é <-> É), where the runtime under the C locale folds
// ASCII only; the engine relies on the ASCII part, and on Windows the
// multibyte tables are built from the ANSI code page. Single bytes of a
// double-byte code page fold in ASCII only.
#include <mbctype.h>
#include <mbstring.h>

#include "codepage.h"

#include <array>
#include <atomic>
#include <iterator>
#include <cerrno>
#include <cstring>

namespace {

using win32sim::detail::LowerAnsi;
using win32sim::detail::UpperAnsi;

constexpr int kAnsiCodePage = 1252;

std::atomic<int> g_codePage{kAnsiCodePage};

struct LeadRange {
    unsigned char first, last;
};

struct DoubleByteCodePage {
    int codePage;
    LeadRange ranges[2];
};

constexpr DoubleByteCodePage kDoubleByteCodePages[] = {
    {932, {{0x81, 0x9F}, {0xE0, 0xFC}}}, // Shift-JIS
    {936, {{0x81, 0xFE}, {0x81, 0xFE}}}, // GBK
    {949, {{0x81, 0xFE}, {0x81, 0xFE}}}, // Unified Hangul
    {950, {{0x81, 0xFE}, {0x81, 0xFE}}}, // Big5
};

const DoubleByteCodePage* FindDoubleByte(int codePage) {
    for (const auto& page : kDoubleByteCodePages) {
        if (page.codePage == codePage)
            return &page;
    }
    return nullptr;
}

// Which bytes lead a two-byte character, per code page, looked up once per
// byte: the engine folds and compares every key path it tests.
struct LeadBytes {
    bool doubleByte = false;
    bool lead[256] = {};
};

const LeadBytes& LeadBytesOf(int codePage) {
    static const auto tables = [] {
        std::array<LeadBytes, std::size(kDoubleByteCodePages) + 1> made{};
        for (size_t i = 0; i < std::size(kDoubleByteCodePages); ++i) {
            made[i + 1].doubleByte = true;
            for (const LeadRange& range : kDoubleByteCodePages[i].ranges)
                for (int c = range.first; c <= range.last; ++c)
                    made[i + 1].lead[c] = true;
        }
        return made;
    }();
    const DoubleByteCodePage* page = FindDoubleByte(codePage);
    return tables[page ? static_cast<size_t>(page - kDoubleByteCodePages) + 1 : 0];
}

// Asked once per byte the engine folds or steps over: one load, no search
// for the code page's table and no guard of a function-local static.
std::atomic<const LeadBytes*> g_leadBytes{&LeadBytesOf(kAnsiCodePage)};

const LeadBytes& CurrentLeadBytes() {
    return *g_leadBytes.load(std::memory_order_relaxed);
}

bool IsLead(unsigned char c) {
    return CurrentLeadBytes().lead[c];
}

bool IsDoubleByteCodePage() {
    return CurrentLeadBytes().doubleByte;
}

// The length in bytes of the character at `p`: 2 for a lead byte with a trail
// byte behind it, else 1 (a lead byte before the terminator stands alone).
size_t CharLength(const unsigned char* p) {
    return IsLead(p[0]) && p[1] != 0 ? 2 : 1;
}

unsigned char FoldLower(unsigned char c) {
    if (!IsDoubleByteCodePage())
        return LowerAnsi(c);
    return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
}

unsigned char FoldUpper(unsigned char c) {
    if (!IsDoubleByteCodePage())
        return UpperAnsi(c);
    return c >= 'a' && c <= 'z' ? c - 0x20 : c;
}

// Trail bytes are compared as they are, never folded.
int CompareFolded(const unsigned char* a, const unsigned char* b, size_t count) {
    bool trail = false;
    for (size_t i = 0; i < count; ++i) {
        const int ca = trail ? a[i] : FoldLower(a[i]);
        const int cb = trail ? b[i] : FoldLower(b[i]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
        trail = !trail && IsLead(a[i]);
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
    for (unsigned char* p = str; *p != 0; p += CharLength(p)) {
        if (CharLength(p) == 1)
            *p = map(*p);
    }
    return 0;
}

// The character code at `p`: the byte, or lead * 256 + trail.
unsigned int CharCode(const unsigned char* p) {
    return CharLength(p) == 2 ? (p[0] << 8 | p[1]) : p[0];
}

} // namespace

extern "C" {

int _setmbcp(int codePage) {
    constexpr int kMbCpAnsi = -3;
    if (codePage == kMbCpAnsi || codePage == kAnsiCodePage || FindDoubleByte(codePage)) {
        g_codePage = codePage == kMbCpAnsi ? kAnsiCodePage : codePage;
        g_leadBytes = &LeadBytesOf(g_codePage);
        return 0;
    }
    errno = EINVAL;
    return -1;
}

int _getmbcp(void) {
    return g_codePage;
}

int _ismbblead(unsigned int c) {
    return c <= 0xFF && IsLead(static_cast<unsigned char>(c)) ? 1 : 0;
}

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
    for (const unsigned char* p = str;; p += CharLength(p)) {
        if (CharCode(p) == c)
            return const_cast<unsigned char*>(p);
        if (*p == 0)
            return nullptr;
    }
}

unsigned char* _mbsrchr(const unsigned char* str, unsigned int c) {
    const unsigned char* found = nullptr;
    for (const unsigned char* p = str;; p += CharLength(p)) {
        if (CharCode(p) == c)
            found = p;
        if (*p == 0)
            return const_cast<unsigned char*>(found);
    }
}

errno_t _mbslwr_s(unsigned char* str, size_t sizeInBytes) {
    return MapCaseInPlace(str, sizeInBytes, FoldLower);
}

errno_t _mbsupr_s(unsigned char* str, size_t sizeInBytes) {
    return MapCaseInPlace(str, sizeInBytes, FoldUpper);
}

// The C locale's white space: blank, tab, line feed, vertical tab, form feed,
// carriage return. The no-break space 0xA0 is not one.
int _ismbcspace(unsigned int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

unsigned char* _mbsinc(const unsigned char* current) {
    return const_cast<unsigned char*>(current + CharLength(current));
}

size_t _mbslen(const unsigned char* str) {
    size_t count = 0;
    for (const unsigned char* p = str; *p != 0; p += CharLength(p))
        ++count;
    return count;
}

} // extern "C"
