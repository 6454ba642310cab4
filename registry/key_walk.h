// Reading a key's subkeys and values, and walking a key with everything
// below it, depth first.
//
// One walk serves every purpose that visits a subtree (saving it into an
// undo file, exporting it as .reg text, deleting it, copying it): each
// purpose is a visitor. Subkeys come in the registry's index order. A key's
// subkey names are all read before the first of them is visited, so a
// visitor may delete what it has been through. The walk stops at the first
// failure, whether a visitor's or the registry's, and returns it; only a
// subkey that is gone by the time it is opened (2) is passed over, never
// one still listed that cannot be opened (ERROR_CANTOPEN).
#pragma once

#include "registry/reg_key.h"

#include <windows.h>

#include <string>
#include <vector>

struct RegValue {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// The names of the key's subkeys, or of its values, in index order. 0 when
// the reading reached the end; otherwise the error that stopped it, with the
// names read until then in `names`.
[[nodiscard]] LONG ReadSubkeyNames(HKEY key, std::vector<std::string>& names);
[[nodiscard]] LONG ReadValueNames(HKEY key, std::vector<std::string>& names);
// Every value with its type and its data exactly as stored. Same results.
[[nodiscard]] LONG ReadValues(HKEY key, std::vector<RegValue>& values);

// A subkey or value the A functions list but cannot find by the name they
// list it under: on Windows, a name the ANSI code page cannot spell comes
// out with '?' for what it lacks, and no key or value has that name. Such a
// failure (2 from opening the name) is not "already gone": these turn it
// into ERROR_CANTOPEN when `name` is still listed, and pass any other
// status through.
[[nodiscard]] LONG OpenFailure(HKEY parent, const std::string& name, LONG status);
[[nodiscard]] LONG ValueFailure(HKEY key, const std::string& name, LONG status);

class KeyVisitor {
public:
    virtual ~KeyVisitor() = default;
    // On the way down, before the key's subkeys. `relativePath` is "" for
    // the key the walk starts at, else the path below it ("a\b").
    virtual LONG EnterKey(RegKey& key, const std::string& relativePath) = 0;
    // On the way up: the subtree of `parent`'s subkey `name` is done and
    // that subkey is closed again.
    virtual LONG LeaveSubkey(RegKey& parent, const std::string& name) {
        (void)parent, (void)name;
        return ERROR_SUCCESS;
    }
};

// Walks `key` and its subtree; each subkey is opened with the access of its
// parent (RegKey::OpenChild). 0 when the whole subtree was visited.
[[nodiscard]] LONG WalkKeyTree(RegKey& key, KeyVisitor& visitor);

// Deletes the subkey `name` of `parent` with everything below it, deepest
// keys first, in the registry view `view` (KEY_WOW64_64KEY, KEY_WOW64_32KEY
// or 0). Each key is opened for writing first, so a key the user may not
// change stops the delete before anything below it goes. Returns the first
// failure; what was deleted until then stays deleted.
[[nodiscard]] LONG DeleteKeyTree(HKEY parent, const std::string& name, REGSAM view);
