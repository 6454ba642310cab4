#include "regfile/regfile_text.h"

namespace regfile::detail {
namespace {

// Windows-1252 0x80-0x9F; its five unassigned bytes keep their C1 value, as
// Windows maps them, so every byte survives a round trip.
constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char UnitToAnsi(char16_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return static_cast<char>(unit);
    for (int i = 0; i < 32; ++i) {
        if (kHigh[i] == unit)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

} // namespace

char16_t AnsiToUnit(unsigned char c) {
    return (c >= 0x80 && c <= 0x9F) ? kHigh[c - 0x80] : static_cast<char16_t>(c);
}

std::string UnitsToAnsi(std::u16string_view units) {
    std::string text;
    text.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() &&
                          units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
        if (pair)
            ++i;
        text.push_back(pair ? '?' : UnitToAnsi(unit));
    }
    return text;
}

std::vector<BYTE> AnsiToUtf16Bytes(const std::vector<BYTE>& ansi) {
    std::vector<BYTE> bytes;
    bytes.reserve(ansi.size() * 2);
    for (BYTE c : ansi) {
        const char16_t unit = AnsiToUnit(c);
        bytes.push_back(static_cast<BYTE>(unit & 0xFF));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    return bytes;
}

std::vector<BYTE> Utf16BytesToAnsi(const std::vector<BYTE>& utf16) {
    std::u16string units;
    for (size_t i = 0; i + 1 < utf16.size(); i += 2)
        units.push_back(static_cast<char16_t>(utf16[i] | (utf16[i + 1] << 8)));
    const std::string text = UnitsToAnsi(units);
    return std::vector<BYTE>(text.begin(), text.end());
}

std::string Utf8Of(const WCHAR* units, size_t count) {
    std::string text;
    text.reserve(count);
    AppendUtf8(units, count, &text);
    return text;
}

void AppendUtf8(const WCHAR* units, size_t count, std::string* out) {
    std::string& text = *out;
    for (size_t i = 0; i < count; ++i) {
        uint32_t code = static_cast<uint16_t>(units[i]);
        const bool pair = code >= 0xD800 && code <= 0xDBFF && i + 1 < count &&
                          static_cast<uint16_t>(units[i + 1]) >= 0xDC00 &&
                          static_cast<uint16_t>(units[i + 1]) <= 0xDFFF;
        if (pair)
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint16_t>(units[++i]) - 0xDC00);
        if (code < 0x80) {
            text.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            text.push_back(static_cast<char>(0xC0 | code >> 6));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            text.push_back(static_cast<char>(0xE0 | code >> 12));
            text.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            text.push_back(static_cast<char>(0xF0 | code >> 18));
            text.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
}

bool AppendAnsiOfUnits(const WCHAR* units, size_t count, std::string* ansi) {
    bool exact = true;
    for (size_t i = 0; i < count; ++i) {
        const char c = UnitToAnsi(static_cast<char16_t>(units[i]));
        exact = exact && c != '?';
        ansi->push_back(c);
    }
    return exact;
}

// A byte that is no UTF-8 lead or a cut sequence becomes U+FFFD.
WideText Utf16Of(std::string_view utf8) {
    WideText units;
    units.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
        bool whole = extra >= 0 && i + extra < utf8.size();
        for (int k = 1; whole && k <= extra; ++k)
            whole = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
        if (!whole) {
            units.push_back(static_cast<WCHAR>(0xFFFD));
            ++i;
            continue;
        }
        uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += extra + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            units.push_back(static_cast<WCHAR>(0xD800 + (code >> 10)));
            units.push_back(static_cast<WCHAR>(0xDC00 + (code & 0x3FF)));
        } else {
            units.push_back(static_cast<WCHAR>(code));
        }
    }
    return units;
}

std::vector<BYTE> Utf16BytesOf(std::string_view utf8) {
    const WideText units = Utf16Of(utf8);
    std::vector<BYTE> bytes;
    bytes.reserve(units.size() * 2);
    for (WCHAR unit : units) {
        bytes.push_back(static_cast<BYTE>(unit & 0xFF));
        bytes.push_back(static_cast<BYTE>((unit >> 8) & 0xFF));
    }
    return bytes;
}

// A whole machine's text goes through here on every save: runs of ASCII are
// copied as they are, and only what lies between them is decoded.
bool Utf8ToAnsi(std::string_view utf8, std::string* ansi) {
    ansi->clear();
    ansi->reserve(utf8.size());
    return AppendAnsi(utf8, ansi);
}

bool AppendAnsi(std::string_view utf8, std::string* ansi) {
    bool exact = true;
    for (size_t i = 0; i < utf8.size();) {
        size_t plain = i;
        while (plain < utf8.size() && static_cast<unsigned char>(utf8[plain]) < 0x80)
            ++plain;
        ansi->append(utf8.substr(i, plain - i));
        if (plain == utf8.size())
            break;
        size_t end = plain + 1;
        while (end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
            ++end;
        for (WCHAR unit : Utf16Of(utf8.substr(plain, end - plain))) {
            const char c = UnitToAnsi(static_cast<char16_t>(unit));
            exact = exact && c != '?';
            ansi->push_back(c);
        }
        i = end;
    }
    return exact;
}

// A key path as a message shows it: whole when short, else its two ends,
// with a NUL made visible.
std::string Abbreviated(std::string_view path) {
    constexpr size_t kHead = 60, kTail = 40;
    std::string shown = path.size() <= kHead + kTail + 3
                            ? std::string(path)
                            : std::string(path.substr(0, kHead)) + "..." +
                                  std::string(path.substr(path.size() - kTail));
    for (size_t at = shown.find('\0'); at != std::string::npos; at = shown.find('\0', at))
        shown.replace(at, 1, "\\0");
    return "[" + shown + "]";
}

} // namespace regfile::detail
