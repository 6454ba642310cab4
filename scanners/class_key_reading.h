// The few reads every checker of the classes root repeats: an excluded key
// is skipped with everything below it, a named subkey is looked at only when
// it exists and is not excluded, and a reference is good only when it is a
// non-empty text naming a registered key.
#pragma once

#include "fileref/file_probe.h"
#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/subkey_loop.h"

#include <string>

// Opens `name` below `parent` into `child`; false when it does not open or
// the user excluded it.
inline bool OpenIncludedChild(CEngineState& engine, const RegKey& parent, const char* name,
                              RegKey& child) {
    return parent.OpenChild(name, child) == ERROR_SUCCESS && !IsKeyExcluded(engine, child);
}

// The default value as a non-empty, expanded string.
inline bool ReadDefaultText(const RegKey& key, std::string& text) {
    return key.QueryStringValue("", text) == ERROR_SUCCESS && !text.empty();
}

// Windows Installer advertises a verb's command or a class's server with a
// descriptor (a REG_MULTI_SZ value named after the key: "command",
// "InprocServer32", "LocalServer32") that installs the product on first use;
// the default value may then be absent or name a file not yet installed.
inline bool HasInstallerDescriptor(const RegKey& key, const std::string& valueName) {
    DWORD type = REG_NONE;
    return key.QueryValueType(valueName, type) == ERROR_SUCCESS && type == REG_MULTI_SZ;
}

// The key's default value names a key below the classes-root area `area`
// ("CLSID", "TypeLib", ...) in either registry view.
inline bool DefaultNamesRegisteredKey(const RegKey& key, const char* area) {
    std::string name;
    return ReadDefaultText(key, name) && ClassesKeyExists(name, area);
}
