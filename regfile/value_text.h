// The .reg text of a value: its name and its data, as regedit writes them
// after "Windows Registry Editor Version 5.00". The one writer of that text:
// the .reg export and the undo files both format values here.
//
// REG_SZ data is written as "text" only when it is one zero-terminated
// string without line breaks; anything else (no terminator, an inner zero,
// CR or LF, no bytes at all) goes out as hex(1): with its exact bytes, which
// import back unchanged. Names escape backslashes, double quotes and line
// breaks (\n, \r), which regedit reads back.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace regfile {

// Where the ANSI text of the string types gets its UTF-16 from.
enum class TextWidening {
    // Windows-1252 on every host: our own importer reads it back.
    Windows1252,
    // The machine's ANSI code page: regedit on that machine reads it back.
    AnsiCodePage,
    // The data is written byte for byte: UTF-16 already, or REGEDIT4's
    // ANSI. Never written as "text".
    KeepBytes,
};

// The choices in which the writers of .reg text differ.
struct RegTextStyle {
    // Long hex lists wrap before column 80 as regedit writes them; an undo
    // file's values are profile entries, each of which must stay one line.
    bool wrapHexLists;
    TextWidening widening;
};

// Text between double quotes with backslashes, double quotes, CR and LF escaped.
std::string FormatRegString(std::string_view text);
// "@" for the default value, else the quoted name.
std::string FormatRegValueName(std::string_view name);
// "dword:%08x" of the first four bytes, little-endian.
std::string FormatRegDword(const BYTE* data);
// The data text that follows "name=". `column` is where it starts on its
// line, for the wrapping of hex lists.
std::string FormatRegValueData(DWORD type, const BYTE* data, DWORD size, const RegTextStyle& style,
                               size_t column = 0);

// The same texts appended to `out`: a whole machine's export writes them
// into one buffer instead of a new string for each value.
void AppendRegString(std::string* out, std::string_view text);
void AppendRegValueData(std::string* out, DWORD type, const BYTE* data, DWORD size,
                        const RegTextStyle& style, size_t column = 0);

} // namespace regfile
