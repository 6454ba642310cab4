// The .reg text format, read and written through the registry API.
//
// Reads what regedit writes: "Windows Registry Editor Version 5.00" as
// UTF-16LE with BOM or as 8-bit text in the ANSI code page (our undo files),
// and REGEDIT4. Parsing is complete before anything is applied, so a bad
// file changes nothing.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace regfile {

struct ValueOp {
    std::string name; // empty with isDefault for "@"
    bool isDefault = false;
    bool remove = false; // "name"=-
    DWORD type = REG_NONE;
    std::vector<BYTE> data; // as RegSetValueExA takes it, or RegSetValueExW in a wide script
};

struct KeyOp {
    std::string keyPath; // full key path text, e.g. HKEY_LOCAL_MACHINE\SOFTWARE\Vendor
    bool remove = false; // [-key]
    int line = 0;        // of its [key] line, for messages
    std::vector<ValueOp> values;
};

struct Script {
    std::vector<KeyOp> keys;
    // A wide script holds names and key paths as UTF-8 and string data as
    // UTF-16LE, exactly as Windows holds them, and is applied with the W
    // functions (a UTF-16 or UTF-8 file, a hive); otherwise they are ANSI
    // text as the A functions take it (an 8-bit file, an undo file).
    bool wide = false;
};

// Parses a whole file's bytes. On failure returns false and sets `error` to
// "<sourceName>:<line>: <what is wrong>"; `out` is then unspecified.
// 8-bit text is read as Windows-1252; UTF-16LE and UTF-8 files (which need
// their BOM) give a wide script that keeps every name and string exactly.
// Values listed under a [-key] section are ignored, as regedit does.
bool Parse(const std::vector<uint8_t>& bytes, const std::string& sourceName, Script* out,
           std::string* error);

// Takes a file's keys one at a time from ParseEach.
class KeyReceiver {
public:
    virtual ~KeyReceiver() = default;
    // One key with all its values, in the form a script of that file holds
    // (`wide` as Script::wide). False stops the parse, `error` set to what
    // the parse then reports.
    virtual bool Take(KeyOp& key, bool wide, std::string* error) = 0;
    // The file's first `count` bytes will not be read again (8-bit files
    // only, which are read where they lie).
    virtual void Behind(size_t /*count*/) {}
};

// Parse without holding the script: each key goes to `receiver` as soon as
// its last value is read, so a machine's file is applied as it is read and
// no script as large as the registry is ever held. Unlike Parse, the keys
// before a fault in the file have been handed over when it is found.
bool ParseEach(const uint8_t* bytes, size_t size, const std::string& sourceName,
               KeyReceiver& receiver, std::string* error);

class KeyTrail;

// Apply's steps one key at a time, for keys that arrive one at a time.
class KeyApplier {
public:
    KeyApplier();
    ~KeyApplier();
    KeyApplier(const KeyApplier&) = delete;
    KeyApplier& operator=(const KeyApplier&) = delete;
    LONG Apply(const KeyOp& key, bool wide, std::string* error);

private:
    std::unique_ptr<KeyTrail> m_trail;
};

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

// The first line of a .reg file, which says how it holds string data.
enum class Header { Version5, Regedit4 };

// Exports the keys named by full key path texts (each with its whole
// subtree, depth first, subkeys in enumeration order) as .reg text, read
// with the W functions. Ansi gives 8-bit Windows-1252 text with CR LF;
// Utf16le gives regedit's form with a BOM. Keys that do not exist are left
// out. Parse + Apply of the result restores every value's type, size and
// bytes (value_text.h says how), and in UTF-16 every name; 8-bit text cannot
// spell a name outside 1252 and writes '?' for what it lacks, setting
// `lossy`. REGEDIT4 holds string data as 1252 bytes, so data 1252 cannot
// spell sets `lossy` there too. The export stops at the first key it cannot
// read whole; `status` then receives that failure, otherwise 0.
std::vector<uint8_t> Export(const std::vector<std::string>& keyPaths, Encoding encoding,
                            LONG* status = nullptr, bool* lossy = nullptr,
                            Header header = Header::Version5);
// The same bytes in a string, for a caller that only writes them out: a
// whole machine's export is not copied once more.
std::string ExportBytes(const std::vector<std::string>& keyPaths, Encoding encoding,
                        LONG* status = nullptr, bool* lossy = nullptr,
                        Header header = Header::Version5);

} // namespace regfile
