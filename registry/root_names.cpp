#include "registry/root_names.h"

namespace {

struct RootName {
    HKEY root;
    const char* longName;
    const char* shortName;
    // One of the four roots the engine's key path texts name.
    bool engineRoot;
};

const RootName kRoots[] = {
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM", true},
    {HKEY_USERS, "HKEY_USERS", "HKU", true},
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR", true},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU", true},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG", "HKCC", false},
};

// Root names are ASCII: no byte of another code page folds onto them.
bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 'a' + 'A') : a[i];
        const char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 'a' + 'A') : b[i];
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

HKEY RootFromName(std::string_view name, RootNames accepted) {
    const bool regFile = accepted == RootNames::RegFileNames;
    for (const RootName& entry : kRoots) {
        if (!regFile && !entry.engineRoot)
            continue;
        if (EqualNoCase(name, entry.longName) || (regFile && EqualNoCase(name, entry.shortName)))
            return entry.root;
    }
    return nullptr;
}

const char* LongRootName(HKEY root) {
    for (const RootName& entry : kRoots) {
        if (entry.root == root && entry.engineRoot)
            return entry.longName;
    }
    return "";
}

bool SplitKeyPath(std::string_view keyPath, RootNames accepted, HKEY* root, std::string* subkey) {
    const size_t slash = keyPath.find('\\');
    const HKEY found = RootFromName(keyPath.substr(0, slash), accepted);
    if (found == nullptr)
        return false;
    *root = found;
    *subkey =
        slash == std::string_view::npos ? std::string() : std::string(keyPath.substr(slash + 1));
    return true;
}
