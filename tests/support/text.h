// Small text helpers the tests share: ASCII-level comparisons for checking
// paths Windows may answer in another letter case, and widening test
// requests to the UTF-16 the plug-in boundary takes.
#pragma once

#include <windows.h>

#include <string>

namespace hmtest {

// Each byte becomes one UTF-16 unit (test texts are ASCII or Latin-1).
std::basic_string<WCHAR> Wide(const std::string& text);

// Latin-1 text, then `more`, as UTF-16 after a byte-order mark: what Notepad
// saves as "Unicode" (little-endian unless asked).
std::string Utf16WithBom(const std::string& latin1, const std::u16string& more = u"",
                         bool bigEndian = false);

// Letter case ignored for ASCII letters only.
bool EqualNoCase(const std::string& a, const std::string& b);
bool EndsWithNoCase(const std::string& text, const std::string& tail);

// Switches the runtime's multibyte code page (_setmbcp) for one scope, as on
// a Japanese (932), Chinese (936, 950) or Korean (949) system.
class MultibyteCodePage {
public:
    explicit MultibyteCodePage(int codePage);
    ~MultibyteCodePage();
    MultibyteCodePage(const MultibyteCodePage&) = delete;
    MultibyteCodePage& operator=(const MultibyteCodePage&) = delete;

private:
    int m_saved;
};

} // namespace hmtest
