// The small text rules every layer shares: the byte view the runtime's
// multibyte functions take, letter case and comparison by those functions,
// trimming, and conversion between a code page and UTF-16 through Win32.
//
// Engine text is narrow, in the thread's ANSI code page, which may be a
// double-byte one: case and comparison go through the _mbs functions so a
// trail byte is never taken for a letter or a backslash.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace base {

// The same bytes as the _mbs functions take them, and back.
inline const unsigned char* Bytes(const char* text) {
    return reinterpret_cast<const unsigned char*>(text);
}
inline const unsigned char* Bytes(const std::string& text) {
    return Bytes(text.c_str());
}
inline unsigned char* MutableBytes(std::string& text) {
    return reinterpret_cast<unsigned char*>(text.data());
}
inline const char* Chars(const unsigned char* bytes) {
    return reinterpret_cast<const char*>(bytes);
}

// Letter case by the runtime's multibyte rules in the thread's code page
// (é and É fold together under 1252, as the registry's own name matching
// does). Bytes after an embedded NUL are kept as they are.
std::string ToUpperMb(std::string text);
std::string ToLowerMb(std::string text);

// Equal but for letter case, by the same rules; both end at their first NUL.
bool EqualNoCase(const std::string& a, const char* b);
bool EqualNoCase(const std::string& a, const std::string& b);
// Whether `text` begins with `prefix`, letter case aside.
bool StartsWithNoCase(const std::string& text, const char* prefix);

// Whether the text's last character is a backslash (multibyte-aware: in a
// double-byte code page a trail byte can equal '\\').
bool EndsWithBackslash(const std::string& text);

// `text` without the characters of `strip` at its start, its end or both.
std::string_view TrimLeft(std::string_view text, std::string_view strip);
std::string_view TrimRight(std::string_view text, std::string_view strip);
std::string_view Trim(std::string_view text, std::string_view strip);
// What the C runtime's isspace takes for blank in the "C" locale.
constexpr std::string_view kSpaces = " \t\n\v\f\r";

using WideText = std::basic_string<WCHAR>;
using WideView = std::basic_string_view<WCHAR>;

// `text` in UTF-16 as MultiByteToWideChar reads it in `codePage` with
// `flags`; false, with `wide` empty, when it refuses (MB_ERR_INVALID_CHARS
// and a byte the code page lacks).
bool ToWide(UINT codePage, std::string_view text, WideText* wide, DWORD flags = 0);
// The same, empty when the conversion fails.
WideText ToWide(UINT codePage, std::string_view text);
// UTF-16 text in `codePage` as WideCharToMultiByte writes it with `flags`;
// `usedDefault`, when given, says whether a character had no form there
// and became the default one (never asked of CP_UTF8, which has none).
std::string FromWide(UINT codePage, WideView wide, DWORD flags = 0, bool* usedDefault = nullptr);

} // namespace base
