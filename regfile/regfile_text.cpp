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
