// Reading a key with everything below it through the W functions, which
// give every name and string exactly as the registry holds it (the names
// here in UTF-8). What .reg export and the write-back into hive files both
// read.
//
// Depth first: a key's values come before its subkeys, subkeys in index
// order, and all of a key's subkey names are read before the first of them
// is entered. The walk stops at the first failure, the registry's or a
// visitor's, and returns it; a subkey gone by the time it is opened is
// passed over.
#pragma once

#include <windows.h>

#include <string>

namespace regfile {

class WideKeyVisitor {
public:
    virtual ~WideKeyVisitor() = default;
    // On the way down. `path` is the path the walk started with, and
    // "\<name>" for each step below it; `name` is "" for the first key.
    virtual LONG EnterKey(const std::string& path, const std::string& name) = 0;
    virtual LONG Value(const std::string& name, DWORD type, const BYTE* data, DWORD size) = 0;
    // After the key's values, before its subkeys.
    virtual LONG ValuesDone() { return ERROR_SUCCESS; }
    // Whether the subkey at `path`, and all below it, is left out.
    virtual bool Skips(const std::string& path) {
        (void)path;
        return false;
    }
    // On the way up, after the key's subtree.
    virtual LONG LeaveKey() { return ERROR_SUCCESS; }
};

// Walks `key`, whose path is `path`. 0 when the whole subtree was read.
LONG WalkWide(HKEY key, const std::string& path, WideKeyVisitor& visitor);

} // namespace regfile
