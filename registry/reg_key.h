// The key object through which the engine reads the registry.
//
// A RegKey remembers how it was opened (root, subkey path, access and the
// WOW64 view bits) so that children inherit the view and the access, and so
// that a key can be named by its key path text ("HKEY_USERS\S-1-5-18\...")
// in problems, reports and undo files. It owns its handle: moving hands the
// handle over, destroying closes it. Enumeration state lives in the object,
// which therefore belongs to one thread.
//
// Every LONG result is a Win32 error code, 0 on success; callers read any
// other code as "absent" or "end of enumeration". A failed operation leaves
// the key and the caller's outputs as they were.
#pragma once

#include "base/owned_handle.h"

#include <windows.h>

#include <string>

// Access masks of the engine's opens.
constexpr REGSAM kReadWrite64 = 0x2011F; // KEY_READ | KEY_WRITE | KEY_WOW64_64KEY
constexpr REGSAM kRead64 = 0x20119;      // KEY_READ | KEY_WOW64_64KEY
constexpr REGSAM kWrite64 = 0x20106;     // KEY_WRITE | KEY_WOW64_64KEY
constexpr REGSAM kViewBits = KEY_WOW64_64KEY | KEY_WOW64_32KEY;

// String reads and their environment expansion are capped at this many bytes.
constexpr DWORD kMaxStringValueBytes = 0x2000;

class RegKey {
public:
    RegKey() = default;
    RegKey(RegKey&&) noexcept = default;
    RegKey& operator=(RegKey&&) noexcept = default;

    // `subkey` below `parent` with `access` as given. The key takes `parent`
    // as its root and `subkey` as its path, so its key path text is whole
    // when `parent` is a predefined root and the path alone otherwise.
    [[nodiscard]] LONG Open(HKEY parent, const std::string& subkey, REGSAM access);
    // `path` below the predefined `root`, always in the 64-bit view.
    [[nodiscard]] LONG OpenPath(HKEY root, const std::string& path, REGSAM access);
    // A key path text: root name (any letter case; leading backslashes
    // skipped), then optionally a backslash and the subkey path.
    [[nodiscard]] LONG OpenByText(const std::string& keyPathText, REGSAM access);
    // `name` below this key into `child`, with this key's access and root.
    [[nodiscard]] LONG OpenChild(const std::string& name, RegKey& child) const;

    // Subkeys in the registry's index order, each opened into `child`.
    // Children that cannot be opened are skipped.
    [[nodiscard]] LONG BeginSubkeys(RegKey& child);
    [[nodiscard]] LONG NextSubkey(RegKey& child);

    // REG_SZ and REG_EXPAND_SZ values, data as stored (not expanded).
    [[nodiscard]] LONG BeginValues(std::string& name, std::string& data);
    [[nodiscard]] LONG NextStringValue(std::string& name, std::string& data);
    // Names of values of any type; shares the index with NextStringValue and
    // needs the counts that BeginValues (or CountValues) filled.
    [[nodiscard]] LONG NextValueName(std::string& name);
    // Fills the value count and sizes and rewinds the value index.
    [[nodiscard]] LONG CountValues();
    // How many subkeys and values the key holds, in one query; either
    // pointer may be null. Leaves the enumeration state alone.
    [[nodiscard]] LONG CountChildren(DWORD* subkeys, DWORD* values) const;

    // A string value with environment variables expanded. 13 for a value
    // that is missing or not a string, 234 for data over 8192 bytes.
    [[nodiscard]] LONG QueryStringValue(const std::string& valueName, std::string& out) const;
    // A REG_SZ or REG_EXPAND_SZ value's text as stored (not expanded) and
    // its type; the same codes and cap as QueryStringValue.
    [[nodiscard]] LONG QueryStoredString(const std::string& valueName, std::string& out,
                                         DWORD& type) const;
    // A REG_DWORD value of exactly four bytes. 13 for one of another type or
    // size; 2 for a missing one.
    [[nodiscard]] LONG QueryDwordValue(const std::string& valueName, DWORD& out) const;

    // The type of a value of any type and size; 2 for a missing one.
    [[nodiscard]] LONG QueryValueType(const std::string& valueName, DWORD& type) const;

    // "HKEY_LOCAL_MACHINE\SOFTWARE\..." (the path alone for another root).
    std::string KeyPathText() const;
    // The last component of the path, or the whole path.
    std::string LeafName() const;
    // Opened with every KEY_WRITE bit, or can be opened afresh for writing.
    bool IsKeyWritable() const;

    HKEY Handle() const { return m_hKey.Get(); }
    // What the key remembers of its open.
    HKEY Root() const { return m_hRoot; }
    const std::string& Path() const { return m_path; }
    REGSAM Access() const { return m_samAccess; }
    REGSAM View() const { return m_samView; }

private:
    // Every open ends here, once the handle is open and the path is built:
    // the key takes all of its new state at once and starts its enumerations
    // afresh. Nothing before it changes the key, nothing in it can fail.
    void Take(Orvel::TRegKeyHandle opened, HKEY root, std::string path, REGSAM access) noexcept;

    Orvel::TRegKeyHandle m_hKey;
    REGSAM m_samView = 0;
    HKEY m_hRoot = nullptr;
    std::string m_path;
    REGSAM m_samAccess = 0;
    DWORD m_dwSubkeyCount = 0;
    DWORD m_dwSubkeyNameSize = 0;
    DWORD m_dwValueCount = 0;
    DWORD m_dwValueNameSize = 0;
    DWORD m_dwValueDataSize = 0;
    DWORD m_dwSubkeyIndex = 0;
    DWORD m_dwValueIndex = 0;
};

// The key path text of `path` below `root` (as RegKey::KeyPathText).
std::string KeyPathText(HKEY root, const std::string& path);

// Whether the caller's token is a member of BUILTIN\Administrators.
bool IsAdministrator();
