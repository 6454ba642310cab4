// The .reg text format, read and written through the registry API.
//
// Reads what regedit writes: "Windows Registry Editor Version 5.00" as
// UTF-16LE with BOM or as 8-bit text in the ANSI code page (our undo files),
// and REGEDIT4. Parsing is complete before anything is applied, so a bad
// file changes nothing.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace regfile {

struct ValueOp {
    std::string name; // empty with isDefault for "@"
    bool isDefault = false;
    bool remove = false; // "name"=-
    DWORD type = REG_NONE;
    std::vector<BYTE> data; // as RegSetValueExA takes it (ANSI text for REG_SZ/EXPAND/MULTI)
};

struct KeyOp {
    std::string keyPath; // full key path text, e.g. HKEY_LOCAL_MACHINE\SOFTWARE\Vendor
    bool remove = false; // [-key]
    int line = 0;        // of its [key] line, for messages
    std::vector<ValueOp> values;
};

struct Script {
    std::vector<KeyOp> keys;
};

// Parses a whole file's bytes. On failure returns false and sets `error` to
// "<sourceName>:<line>: <what is wrong>"; `out` is then unspecified.
// Text is read as Windows-1252 (UTF-16LE and UTF-8 files need their BOM);
// a character 1252 lacks becomes '?', as the A registry functions show it.
// Values listed under a [-key] section are ignored, as regedit does.
bool Parse(const std::vector<uint8_t>& bytes, const std::string& sourceName, Script* out,
           std::string* error);

// Applies a parsed script with RegCreateKeyExA / RegSetValueExA /
// RegDeleteValueA and a recursive key delete. Stops at the first failure and
// returns its Win32 code with `error` naming the key.
LONG Apply(const Script& script, std::string* error);

// Apply, giving each key's memory back as soon as it is in the registry: a
// whole machine's script is as large as the registry it builds, and the two
// need not be held at once. The script is left empty, or partly released on
// failure.
LONG ApplyReleasing(Script& script, std::string* error);

enum class Encoding { Utf16le, Ansi };

// Exports the keys named by full key path texts (each with its whole
// subtree, depth first, subkeys in enumeration order) as .reg text headed
// "Windows Registry Editor Version 5.00". Ansi gives 8-bit text with CR LF;
// Utf16le gives regedit's form with a BOM. Keys that do not exist are left
// out. Parse + Apply of the result restores every value's type, size and
// bytes (value_text.h says how). The export stops at the first key it cannot
// read whole; `status` then receives that failure, otherwise 0.
std::vector<uint8_t> Export(const std::vector<std::string>& keyPaths, Encoding encoding,
                            LONG* status = nullptr);

} // namespace regfile
