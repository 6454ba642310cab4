#include "codepage.h"

namespace win32sim::detail {
namespace {

// Windows-1252 0x80-0x9F. Unassigned bytes keep their C1 value.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

bool Utf16ToAnsiChar(char16_t u, unsigned char* out) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
        *out = static_cast<unsigned char>(u);
        return true;
    }
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == u) {
            *out = static_cast<unsigned char>(0x80 + i);
            return true;
        }
    }
    return false;
}

char16_t AnsiCharToUtf16(unsigned char c) {
    return (c >= 0x80 && c <= 0x9F) ? kHighControls[c - 0x80] : static_cast<char16_t>(c);
}

std::u16string AnsiToUtf16(std::string_view text) {
    std::u16string wide;
    wide.reserve(text.size());
    for (unsigned char c : text)
        wide.push_back(AnsiCharToUtf16(c));
    return wide;
}

std::string Utf16ToAnsi(std::u16string_view text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (char16_t u : text) {
        unsigned char c;
        narrow.push_back(Utf16ToAnsiChar(u, &c) ? static_cast<char>(c) : '?');
    }
    return narrow;
}

unsigned char UpperAnsi(unsigned char c) {
    if (c >= 'a' && c <= 'z')
        return c - 0x20;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return c - 0x20;
    switch (c) {
    case 0x9A:
        return 0x8A; // š
    case 0x9C:
        return 0x8C; // œ
    case 0x9E:
        return 0x8E; // ž
    case 0xFF:
        return 0x9F; // ÿ
    default:
        return c;
    }
}

unsigned char LowerAnsi(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return c + 0x20;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return c + 0x20;
    switch (c) {
    case 0x8A:
        return 0x9A;
    case 0x8C:
        return 0x9C;
    case 0x8E:
        return 0x9E;
    case 0x9F:
        return 0xFF;
    default:
        return c;
    }
}

std::string UpperAnsi(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        c = static_cast<char>(UpperAnsi(static_cast<unsigned char>(c)));
    return upper;
}

int CompareAnsiNoCase(std::string_view a, std::string_view b) {
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i) {
        const int ca = UpperAnsi(static_cast<unsigned char>(a[i]));
        const int cb = UpperAnsi(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace win32sim::detail
