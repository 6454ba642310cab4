#include "fix/registry_edits.h"

#include "base/text.h"
#include "registry/key_walk.h"

#include <mbstring.h>

#include <algorithm>
#include <vector>

namespace {

constexpr REGSAM kReadAccess = KEY_READ;
constexpr REGSAM kReadWriteAccess = KEY_READ | KEY_WRITE;

// Splits at the last backslash (multibyte-aware: a trail byte may equal it).
bool SplitParent(const std::string& keyPath, std::string& parent, std::string& name) {
    const unsigned char* text = base::Bytes(keyPath);
    const unsigned char* last = _mbsrchr(text, '\\');
    if (last == nullptr)
        return false;
    const size_t at = static_cast<size_t>(last - text);
    parent = keyPath.substr(0, at);
    name = keyPath.substr(at + 1);
    return true;
}

bool IsAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Compares as the registry orders names, for an ASCII `name`: by upper-cased
// characters, a shorter name before a longer one it begins. A byte beyond
// ASCII sorts after every ASCII one in both orders, so `listed` may hold any.
int CompareForOrder(const std::string& listed, const std::string& name) {
    const auto upper = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
    for (size_t i = 0; i < listed.size() && i < name.size(); ++i) {
        const int difference = upper(static_cast<unsigned char>(listed[i])) -
                               upper(static_cast<unsigned char>(name[i]));
        if (difference != 0)
            return difference;
    }
    return listed.size() < name.size() ? -1 : listed.size() > name.size() ? 1 : 0;
}

// Registries list a key's subkeys in the order of their upper-cased names
// (a hive's index, Wine's server, the stand-in), so an ASCII name is looked
// for by halving the list: a few listings, where reading every sibling's name
// made deleting many keys of one parent (the classes' CLSID key holds tens of
// thousands) quadratic. Empty when not found so (a list in another order, a
// name beyond ASCII); the caller then reads them all.
std::string FindSubkeyByHalving(HKEY parent, const std::string& name) {
    if (!IsAscii(name))
        return {};
    // A name of 255 characters, each of up to two bytes.
    char buffer[2 * 255 + 1];
    std::string listed;
    // 0 found, 1 past the end, -1 a failure.
    const auto read = [&](DWORD index) {
        DWORD length = sizeof(buffer);
        const LONG status =
            RegEnumKeyExA(parent, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS)
            listed.assign(buffer, length);
        return status == ERROR_SUCCESS ? 0 : status == ERROR_NO_MORE_ITEMS ? 1 : -1;
    };
    // The first index past the end lies below `high`, found by doubling.
    DWORD high = 1;
    for (int got; (got = read(high - 1)) != 1; high *= 2) {
        if (got < 0 || high > 0x40000000)
            return {};
    }
    DWORD low = 0;
    while (low < high) {
        const DWORD middle = low + (high - low) / 2;
        const int got = read(middle);
        if (got < 0)
            return {};
        const int order = got == 1 ? 1 : CompareForOrder(listed, name);
        if (order == 0)
            return _mbsicmp(reinterpret_cast<const unsigned char*>(listed.c_str()),
                            reinterpret_cast<const unsigned char*>(name.c_str())) == 0
                       ? listed
                       : std::string();
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return {};
}

// The name as the registry stores it. Problems name keys as the scanner
// spelled them (InProcServer32 for an InprocServer32 key); the undo file must
// bring a key back under its own spelling, so it is looked up here.
std::string StoredSubkeyName(const RegKey& parent, const std::string& name) {
    if (std::string found = FindSubkeyByHalving(parent.Handle(), name); !found.empty())
        return found;
    std::vector<std::string> stored;
    // Names that cannot be read leave the scanner's spelling to try.
    (void)ReadSubkeyNames(parent.Handle(), stored);
    for (const std::string& candidate : stored) {
        if (base::EqualNoCase(candidate, name))
            return candidate;
    }
    return name;
}

// Opens the value's key and saves the value. 0 when the change may go ahead.
LONG OpenAndSaveValue(CUndoFile& undo, const std::string& keyPath, const std::string& valueName,
                      RegKey& key) {
    LONG status = key.OpenByText(keyPath, kReadWriteAccess);
    if (status != ERROR_SUCCESS)
        return status;
    // A value listed under a name that finds nothing is still there.
    return ValueFailure(key.Handle(), valueName, ExportValueToUndo(key, valueName, undo));
}

} // namespace

LONG DeleteKeyWithUndo(const std::string& keyPath, CUndoFile& undo) {
    std::string parentPath, name;
    // A path ending in a backslash names its parent with an empty subkey:
    // deleting "" would empty the parent itself.
    if (!SplitParent(keyPath, parentPath, name) || name.empty())
        return ERROR_INVALID_PARAMETER;
    RegKey parent;
    LONG status = parent.OpenByText(parentPath, kReadAccess);
    if (status != ERROR_SUCCESS)
        return status;
    const std::string storedName = StoredSubkeyName(parent, name);
    RegKey key;
    // A key listed under a name that finds nothing is still there.
    status = OpenFailure(parent.Handle(), storedName,
                         key.OpenByText(parentPath + "\\" + storedName, kReadAccess));
    if (status == ERROR_SUCCESS)
        status = ExportKeyToUndo(key, undo);
    if (status != ERROR_SUCCESS)
        return status;
    return DeleteKeyTree(parent.Handle(), storedName, parent.View());
}

LONG DeleteValueWithUndo(CUndoFile& undo, const std::string& keyPath,
                         const std::string& valueName) {
    RegKey key;
    LONG status = OpenAndSaveValue(undo, keyPath, valueName, key);
    if (status != ERROR_SUCCESS)
        return status;
    return RegDeleteValueA(key.Handle(), valueName.c_str());
}

LONG SetValueWithUndo(CUndoFile& undo, const std::string& keyPath, const std::string& valueName,
                      const std::string& newValue, DWORD type) {
    RegKey key;
    // A value that is gone is not created again: nothing could undo that.
    LONG status = OpenAndSaveValue(undo, keyPath, valueName, key);
    if (status != ERROR_SUCCESS)
        return status;
    return RegSetValueExA(key.Handle(), valueName.c_str(), 0, type,
                          reinterpret_cast<const BYTE*>(newValue.c_str()),
                          static_cast<DWORD>(newValue.size() + 1));
}
