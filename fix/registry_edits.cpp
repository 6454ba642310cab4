#include "fix/registry_edits.h"

#include "base/text.h"
#include "registry/key_walk.h"

#include <mbstring.h>

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

// The name as the registry stores it. Problems name keys as the scanner
// spelled them (InProcServer32 for an InprocServer32 key); the undo file must
// bring a key back under its own spelling, so it is looked up here.
std::string StoredSubkeyName(const RegKey& parent, const std::string& name) {
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
