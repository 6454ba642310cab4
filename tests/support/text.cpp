#include "support/text.h"

#include <gtest/gtest.h>
#include <mbctype.h>

#include <cctype>

namespace hmtest {

std::basic_string<WCHAR> Wide(const std::string& text) {
    std::basic_string<WCHAR> wide;
    for (char c : text)
        wide.push_back(static_cast<WCHAR>(static_cast<unsigned char>(c)));
    return wide;
}

std::string Utf16WithBom(const std::string& latin1, const std::u16string& more, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    std::u16string units;
    for (unsigned char c : latin1)
        units.push_back(c);
    for (char16_t unit : units + more) {
        const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && EqualNoCase(text.substr(text.size() - tail.size()), tail);
}

MultibyteCodePage::MultibyteCodePage(int codePage) : m_saved(_getmbcp()) {
    EXPECT_EQ(0, _setmbcp(codePage)) << "code page " << codePage;
}

MultibyteCodePage::~MultibyteCodePage() {
    _setmbcp(m_saved);
}

} // namespace hmtest
