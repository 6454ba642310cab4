#include "codepage.h"

namespace win32sim::detail {
namespace {

// Windows-1252 0x80-0x9F. Unassigned bytes keep their C1 value.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(char32_t cp, std::string* out) {
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

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

bool DecodeUtf8(std::string_view text, std::u16string* out) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    out->reserve(out->size() + n);
    bool clean = true;
    size_t i = 0;
    while (i < n) {
        const unsigned char lead = s[i];
        if (lead < 0x80) {
            out->push_back(lead);
            ++i;
            continue;
        }
        int trail = 0;
        char32_t cp = 0;
        unsigned char lo = 0x80, hi = 0xBF; // allowed range of the first trail byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            trail = 1;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            trail = 2;
            cp = lead & 0x0F;
            lo = lead == 0xE0 ? 0xA0 : 0x80;
            hi = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            trail = 3;
            cp = lead & 0x07;
            lo = lead == 0xF0 ? 0x90 : 0x80;
            hi = lead == 0xF4 ? 0x8F : 0xBF;
        }
        size_t j = i + 1;
        int got = 0;
        while (got < trail && j < n) {
            const unsigned char b = s[j];
            const unsigned char min = got == 0 ? lo : 0x80;
            const unsigned char max = got == 0 ? hi : 0xBF;
            if (b < min || b > max)
                break;
            cp = (cp << 6) | (b & 0x3F);
            ++j;
            ++got;
        }
        if (trail == 0 || got < trail) {
            out->push_back(0xFFFD);
            clean = false;
            i = trail == 0 ? i + 1 : j;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out->push_back(static_cast<char16_t>(cp));
        }
        i = j;
    }
    return clean;
}

size_t Utf8Size(std::u16string_view s) {
    size_t size = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const char16_t u = s[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            size += 4;
            ++i;
        } else {
            size += u < 0x80 ? 1 : u < 0x800 ? 2 : 3; // a lone surrogate becomes U+FFFD
        }
    }
    return size;
}

std::string EncodeUtf8(std::u16string_view s) {
    const size_t n = s.size();
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(cp, &out);
    }
    return out;
}

} // namespace win32sim::detail
