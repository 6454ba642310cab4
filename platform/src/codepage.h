// The simulated machine's ANSI code page: Windows-1252, one byte per
// character. Shared by every area that converts or compares text the way
// Windows does (registry names, file names, environment names, _mbs*).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace win32sim::detail {

// 0x80-0x9F follow the 1252 table; its five unassigned bytes map to the C1
// controls U+0081 etc., as Windows does, so every byte round-trips.
char16_t AnsiCharToUtf16(unsigned char c);
std::u16string AnsiToUtf16(std::string_view text);

// One UTF-16 unit to its 1252 byte; false when 1252 has no such character.
bool Utf16ToAnsiChar(char16_t u, unsigned char* out);

// Characters outside 1252 become '?', as WideCharToMultiByte's default.
std::string Utf16ToAnsi(std::u16string_view text);

// UTF-8 as Windows (Vista on) decodes it: every maximal invalid subsequence
// becomes one U+FFFD; overlong forms and encoded surrogates are invalid.
// False if anything was replaced.
bool DecodeUtf8(std::string_view text, std::u16string* out);
// UTF-16 as UTF-8; an unpaired surrogate becomes U+FFFD, as on Windows
// since Vista.
std::string EncodeUtf8(std::u16string_view text);
// The number of bytes EncodeUtf8 makes of `text`.
size_t Utf8Size(std::u16string_view text);

// Upper/lower case within 1252 (é <-> É, š <-> Š, ÿ <-> Ÿ).
unsigned char UpperAnsi(unsigned char c);
unsigned char LowerAnsi(unsigned char c);
std::string UpperAnsi(std::string_view text);

// Case-insensitive comparison by upper-cased bytes, the order Windows uses
// for registry subkeys ('_' sorts after 'Z').
int CompareAnsiNoCase(std::string_view a, std::string_view b);
inline bool EqualAnsiNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareAnsiNoCase(a, b) == 0;
}

} // namespace win32sim::detail
