// Text helpers shared by the .reg reader and writer.
//
// The 8-bit text of a .reg file, and the ANSI strings the A registry
// functions take, are Windows-1252 on every machine we handle. A fixed table
// keeps a file's meaning independent of the code page of the host that
// happens to read it, and works the same over the stand-in and on Windows.
#pragma once

#include "base/text.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace regfile::detail {

char16_t AnsiToUnit(unsigned char c);
// UTF-16 text as 1252 text; a character 1252 lacks becomes '?' (a surrogate
// pair becomes one '?'), as the A registry functions would hand it out.
std::string UnitsToAnsi(std::u16string_view units);

// The bytes of ANSI text as the UTF-16LE a .reg file's hex(1), hex(2) and
// hex(7) data holds, and back (an odd last byte is dropped).
std::vector<BYTE> AnsiToUtf16Bytes(const std::vector<BYTE>& ansi);
std::vector<BYTE> Utf16BytesToAnsi(const std::vector<BYTE>& utf16);

// UTF-16 text as UTF-8 and back, exactly: a lone surrogate is kept as its
// own three bytes, so any name Windows holds survives the trip.
using base::WideText;
std::string Utf8Of(const WCHAR* units, size_t count);
void AppendUtf8(const WCHAR* units, size_t count, std::string* out);
WideText Utf16Of(std::string_view utf8);
// UTF-16LE bytes of UTF-8 text.
std::vector<BYTE> Utf16BytesOf(std::string_view utf8);
// UTF-8 text in 1252; false when 1252 lacks one of its characters (each
// becomes '?').
bool Utf8ToAnsi(std::string_view utf8, std::string* ansi);
// The same appended to `ansi`, and UTF-16 units in 1252 (each unit of a
// surrogate pair a '?', as the units of its UTF-8 would give).
bool AppendAnsi(std::string_view utf8, std::string* ansi);
bool AppendAnsiOfUnits(const WCHAR* units, size_t count, std::string* ansi);

// A key path as a message shows it: "[path]", whole when short, else its
// two ends, with a NUL made visible.
std::string Abbreviated(std::string_view path);

} // namespace regfile::detail
