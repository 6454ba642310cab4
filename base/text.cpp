#include "base/text.h"

#include <mbstring.h>

#include <algorithm>
#include <cstring>

namespace base {

std::string ToUpperMb(std::string text) {
    // The size given includes the terminator std::string keeps behind the text.
    _mbsupr_s(MutableBytes(text), text.size() + 1);
    return text;
}

std::string ToLowerMb(std::string text) {
    _mbslwr_s(MutableBytes(text), text.size() + 1);
    return text;
}

bool EqualNoCase(const std::string& a, const char* b) {
    return _mbsicmp(Bytes(a), Bytes(b)) == 0;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    return EqualNoCase(a, b.c_str());
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    return _mbsnbicmp(Bytes(text), Bytes(prefix), std::strlen(prefix)) == 0;
}

bool EndsWithBackslash(const std::string& text) {
    const unsigned char* last = _mbsrchr(Bytes(text), '\\');
    return last != nullptr && last[1] == '\0';
}

// What is left stays a view into `text`, even when empty: callers measure
// positions by it.
std::string_view TrimLeft(std::string_view text, std::string_view strip) {
    return text.substr(std::min(text.find_first_not_of(strip), text.size()));
}

std::string_view TrimRight(std::string_view text, std::string_view strip) {
    const size_t last = text.find_last_not_of(strip);
    return text.substr(0, last == std::string_view::npos ? 0 : last + 1);
}

std::string_view Trim(std::string_view text, std::string_view strip) {
    return TrimRight(TrimLeft(text, strip), strip);
}

bool ToWide(UINT codePage, std::string_view text, WideText* wide, DWORD flags) {
    wide->clear();
    if (text.empty())
        return true;
    const int count = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(codePage, flags, text.data(), count, nullptr, 0);
    if (size <= 0)
        return false;
    wide->resize(static_cast<size_t>(size));
    if (MultiByteToWideChar(codePage, flags, text.data(), count, wide->data(), size) == size)
        return true;
    wide->clear();
    return false;
}

WideText ToWide(UINT codePage, std::string_view text) {
    WideText wide;
    ToWide(codePage, text, &wide);
    return wide;
}

std::string FromWide(UINT codePage, WideView wide, DWORD flags, bool* usedDefault) {
    BOOL defaulted = FALSE;
    BOOL* asked = usedDefault ? &defaulted : nullptr;
    if (usedDefault)
        *usedDefault = false;
    if (wide.empty())
        return {};
    const int count = static_cast<int>(wide.size());
    const int size =
        WideCharToMultiByte(codePage, flags, wide.data(), count, nullptr, 0, nullptr, asked);
    if (size <= 0)
        return {};
    std::string text(static_cast<size_t>(size), '\0');
    const int written =
        WideCharToMultiByte(codePage, flags, wide.data(), count, text.data(), size, nullptr, asked);
    text.resize(static_cast<size_t>(written > 0 ? written : 0));
    if (usedDefault)
        *usedDefault = defaulted != FALSE;
    return text;
}

} // namespace base
