// The names of the predefined root keys, read and written in one table.
//
// Key path texts ("HKEY_USERS\S-1-5-18\Software\...") name a root by its long
// name. The engine's own texts name four roots and only by the long name;
// .reg files may also use the short names regedit accepts (HKLM, HKCU, ...)
// and HKEY_CURRENT_CONFIG. Names match in any letter case.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

enum class RootNames {
    // HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CLASSES_ROOT, HKEY_CURRENT_USER.
    EngineLongNames,
    // Every root regedit knows, by its long or its short name.
    RegFileNames,
};

// The predefined key `name` stands for, or nullptr when `accepted` lacks it.
HKEY RootFromName(std::string_view name, RootNames accepted);

// "HKEY_LOCAL_MACHINE" for HKEY_LOCAL_MACHINE and so on; "" for a handle
// that is not one of the engine's four roots.
const char* LongRootName(HKEY root);

// Splits "ROOT\sub\path" at the first backslash (the subkey may be empty).
// False when the root name is not one `accepted` holds.
bool SplitKeyPath(std::string_view keyPath, RootNames accepted, HKEY* root, std::string* subkey);
